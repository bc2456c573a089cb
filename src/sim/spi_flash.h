// A serial NOR flash part as its controller sees it over SPI: one
// transaction at a time (chip select low, bytes clocked out, bytes clocked
// in, chip select high). Programming can only clear bits; an erase sets its
// unit to 0xFF; the part is busy for the time an erase or program takes and
// ignores everything but status reads meanwhile; program and erase need the
// write-enable latch and are refused while block-protect bits are set.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "clock.h"
#include "flash_part.h"

namespace fwtool::sim {

class SpiFlash {
 public:
  explicit SpiFlash(FlashPartSpec part);

  const FlashPartSpec& Part() const { return part_; }
  uint32_t Size() const { return part_.size; }

  // The cells as they are now.
  const std::vector<uint8_t>& Contents() const { return cells_; }
  // Replaces the contents: `data` from address 0, every other cell erased.
  void Load(std::span<const uint8_t> data);

  // One transaction started at time `at`: `out` is clocked to the part
  // (opcode first), then `readCount` more bytes are clocked while the part
  // drives its output; returns those bytes (0xFF where the part says
  // nothing). Program, erase and status writes take effect when chip select
  // rises and keep the part busy for their duration.
  std::vector<uint8_t> Transaction(std::span<const uint8_t> out, size_t readCount, Duration at);

  // The status register at time `at` (busy, write-enable latch, protection).
  uint8_t ReadStatus(Duration at) const;
  bool BusyAt(Duration at) const;
  // When the current operation ends (Duration::max() while stuck busy).
  Duration ReadyAt() const;
  // The status bits that survive power (block protection, lock).
  uint8_t NonVolatileStatus() const { return status_; }
  void SetNonVolatileStatus(uint8_t status) { status_ = status & kNonVolatileMask; }
  bool Protected() const { return (status_ & kStatusProtectBits) != 0; }

  // Power: off ends any operation where it stands and clears the volatile
  // state (write-enable latch, AAI mode).
  void PowerOff();
  void PowerOn();
  bool Powered() const { return powered_; }

  // Every duration the part spends is multiplied by this scale.
  void SetTimeScale(double scale) { timeScale_ = scale; }

  // Faults.
  void SetStuckBusy(bool stuck) { stuckBusy_ = stuck; }
  bool StuckBusy() const { return stuckBusy_; }
  // Program operations that leave one bit unprogrammed: -1 every one, N the
  // next N, 0 none.
  void SetProgramBitErrors(int64_t count) { bitErrors_ = count; }
  // Power drops while the n-th erase or program operation (counted over the
  // part's life, from 1) is half done; 0 = never.
  void SetPowerLossAtOperation(uint64_t n) { powerLossAt_ = n; }
  // Erase operations that leave their first cell at 0xFE: -1 every one, N
  // the next N, 0 none.
  void SetEraseStuckCells(int64_t count) { stuckCells_ = count; }
  bool PowerLost() const { return powerLost_; }
  void ClearPowerLoss() { powerLost_ = false; }

  struct Stats {
    uint64_t operations = 0;  // erase and program operations started
    uint64_t programs = 0;
    uint64_t erases = 0;  // sector and block erases
    uint64_t chipErases = 0;
  };
  const Stats& Statistics() const { return stats_; }

  static constexpr uint8_t kNonVolatileMask = kStatusProtectBits | kStatusWriteProtectLock;

 private:
  using Write = std::pair<uint32_t, uint8_t>;

  uint32_t Address(std::span<const uint8_t> out) const;
  void WriteStatus(std::span<const uint8_t> out, Duration at);
  void PageProgram(std::span<const uint8_t> out, Duration at);
  void AaiProgram(std::span<const uint8_t> out, Duration at);
  void EraseRange(uint32_t start, uint32_t length, Duration time, bool chip, Duration at);
  // Counts the operation; false when the power drops in its middle.
  bool BeginOperation();
  void ApplyProgram(std::vector<Write>& writes, Duration time, Duration at);
  void SetBusy(Duration at, Duration time);
  uint64_t NextRandom();

  FlashPartSpec part_;
  std::vector<uint8_t> cells_;
  uint8_t status_ = 0;  // non-volatile bits only
  bool writeEnable_ = false;
  bool statusWriteEnable_ = false;  // SST 0x50
  bool aaiActive_ = false;
  uint32_t aaiAddress_ = 0;
  Duration busyUntil_{0};
  bool powered_ = true;
  double timeScale_ = 1.0;
  bool stuckBusy_ = false;
  int64_t bitErrors_ = 0;
  uint64_t powerLossAt_ = 0;
  int64_t stuckCells_ = 0;
  bool powerLost_ = false;
  uint64_t random_ = 0x9E3779B97F4A7C15ull;
  Stats stats_;
};

}  // namespace fwtool::sim
