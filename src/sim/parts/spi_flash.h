// SPDX-License-Identifier: GPL-2.0-or-later
// A serial NOR flash part as its controller sees it over SPI: one
// transaction at a time (chip select low, bytes clocked out, bytes clocked
// in, chip select high). Programming can only clear bits; an erase sets its
// unit to 0xFF; the part is busy for the time an erase or program takes and
// ignores everything but status reads meanwhile; program and erase need the
// write-enable latch and are refused while block-protect bits are set.
//
// An erase or a program changes its cells one after the other over the time
// it takes, in address order: a part that loses power while busy keeps what
// was done by then (a sector partly erased, a page partly programmed) and
// nothing of the work queued after it.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
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

  // The cells as they are now (on the process clock), or at time `at`: the
  // work of every operation that began before then, as far as it got.
  const std::vector<uint8_t>& Contents() const;
  const std::vector<uint8_t>& ContentsAt(Duration at) const;
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

  // Power: off at time `at` ends the operation in progress where it stands,
  // drops the ones not begun, and clears the volatile state (write-enable
  // latch, AAI mode).
  void PowerOff(Duration at);
  void PowerOn();
  bool Powered() const { return powered_; }

  // Every duration the part spends is multiplied by this scale.
  void SetTimeScale(double scale) { timeScale_ = scale; }
  // A slow part takes the datasheet's maximum time for every operation
  // instead of the typical one.
  void SetSlow(bool slow) { slow_ = slow; }
  bool Slow() const { return slow_; }

  // Faults.
  void SetStuckBusy(bool stuck) { stuckBusy_ = stuck; }
  bool StuckBusy() const { return stuckBusy_; }
  // Program operations that leave one bit unprogrammed: -1 every one, N the
  // next N, 0 none.
  void SetProgramBitErrors(int64_t count) { bitErrors_ = count; }
  // Power drops while the n-th erase or program operation (counted over the
  // part's life, from 1) is half done; 0 = never.
  void SetPowerLossAtOperation(uint64_t n) { powerLossAt_ = n; }
  // When the power drops for that operation, once it has begun.
  std::optional<Duration> PowerDropAt() const { return powerDropAt_; }
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

  // An erase or program that began and is not finished yet: its cells
  // change in order between `start` and `end`.
  struct Work {
    Duration start{};
    Duration end{};
    bool erase = false;
    uint32_t eraseStart = 0;
    uint32_t eraseLength = 0;
    std::vector<Write> writes;
    size_t done = 0;  // cells changed so far
    bool weakChosen = false;
    size_t weakIndex = 0;
    uint8_t weakBit = 0;
    bool stuckCell = false;  // the erase leaves its first cell at 0xFE

    size_t Cells() const { return erase ? eraseLength : writes.size(); }
  };

  uint32_t Address(std::span<const uint8_t> out) const;
  void WriteStatus(std::span<const uint8_t> out, Duration at);
  void PageProgram(std::span<const uint8_t> out, Duration at);
  void AaiProgram(std::span<const uint8_t> out, Duration at);
  void EraseRange(uint32_t start, uint32_t length, bool chip, Duration at);
  void ApplyProgram(std::vector<Write>& writes, Duration at);
  // Counts the operation and queues its work from `at` for `time` (scaled).
  void Begin(Work work, Duration at, Duration time);
  // Carries the queued work forward to time `at`.
  void Settle(Duration at) const;
  void Advance(Work& work, size_t upTo) const;
  Duration ScaledTime(Duration time) const;
  // The part's figures: typical, or maximum for a slow part.
  const FlashPartSpec& Timed() const { return slow_ ? slowPart_ : part_; }
  uint64_t NextRandom() const;

  FlashPartSpec part_;
  FlashPartSpec slowPart_;
  mutable std::vector<uint8_t> cells_;
  mutable std::deque<Work> work_;
  mutable uint64_t random_ = 0x9E3779B97F4A7C15ull;
  uint8_t status_ = 0;  // non-volatile bits only
  bool writeEnable_ = false;
  bool statusWriteEnable_ = false;  // SST 0x50
  bool aaiActive_ = false;
  uint32_t aaiAddress_ = 0;
  Duration busyUntil_{0};
  bool powered_ = true;
  double timeScale_ = 1.0;
  bool slow_ = false;
  bool stuckBusy_ = false;
  mutable int64_t bitErrors_ = 0;
  uint64_t powerLossAt_ = 0;
  int64_t stuckCells_ = 0;
  bool powerLost_ = false;
  std::optional<Duration> powerDropAt_;
  Stats stats_;
};

}  // namespace fwtool::sim
