// SPDX-License-Identifier: GPL-2.0-or-later
// The 64 KB parallel flash parts of the oldest controllers, as the
// controller's bus sees them: byte reads and byte writes. A part erases or
// programs only after its own unlock sequence of writes (address, data) in
// its command address space; any other write puts it back into read mode
// and changes nothing. While an erase or a program runs, reads return the
// status byte instead of the data: bit 6 toggles on every read, bit 7 is the
// complement of the byte being programmed (0 while erasing); writes are
// ignored until the operation ends. A chip erase clears the cells one after
// the other over its time, so a power loss leaves it partly done. Times are
// the datasheet's typical and maximum figures.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "clock.h"

namespace fwtool::sim {

enum class ParallelPartKind : uint8_t { Atmel, Pmc, Sst };

struct ParallelPartModel {
  ParallelPartKind kind = ParallelPartKind::Sst;
  std::string name;
  uint32_t size = 65536;
  // The two command addresses of the unlock sequence, compared over the
  // address bits the part decodes for commands (A14..A0).
  uint16_t unlock1 = 0x5555;
  uint16_t unlock2 = 0x2AAA;
  uint16_t commandAddressMask = 0x7FFF;
  Duration byteProgramTime{};
  Duration byteProgramMaxTime{};
  Duration chipEraseTime{};
  Duration chipEraseMaxTime{};
};

ParallelPartModel ParallelPartFor(ParallelPartKind kind);

class ParallelFlash {
 public:
  explicit ParallelFlash(ParallelPartModel part);

  const ParallelPartModel& Part() const { return part_; }
  // The cells now (on the process clock), or at time `at`.
  const std::vector<uint8_t>& Contents() const;
  const std::vector<uint8_t>& ContentsAt(Duration at) const;
  // `data` from address 0, every other cell erased.
  void Load(std::span<const uint8_t> data);

  // One bus write cycle at time `at`.
  void Write(uint32_t address, uint8_t data, Duration at);
  // One bus read cycle at time `at`: the cell, or the status while busy.
  uint8_t Read(uint32_t address, Duration at);

  bool BusyAt(Duration at) const { return at < busyUntil_; }
  Duration ReadyAt() const { return busyUntil_; }
  // Power off at time `at` ends the command sequence and the erase in
  // progress where they stand.
  void PowerOff(Duration at);
  void SetTimeScale(double scale) { timeScale_ = scale; }
  // A slow part takes the datasheet's maximum times.
  void SetSlow(bool slow) { slow_ = slow; }
  // Power drops in the middle of the n-th erase or byte program (counted
  // over the part's life, from 1); 0 = never. The part then takes nothing
  // more until it is powered off.
  void SetPowerLossAtOperation(uint64_t n) { powerLossAt_ = n; }
  bool PowerLost() const { return powerLost_; }
  void ClearPowerLoss() { powerLost_ = false; }
  // When the power drops in the erase it cuts short, once that has begun.
  std::optional<Duration> PowerDropAt() const { return powerDropAt_; }

  struct Stats {
    uint64_t operations = 0;  // erases and byte programs started
    uint64_t programs = 0;
    uint64_t chipErases = 0;
  };
  const Stats& Statistics() const { return stats_; }

 private:
  // Where the part stands in a command sequence.
  enum class Step : uint8_t {
    Read,
    Unlocked1,
    Unlocked2,
    EraseSetup,
    EraseUnlocked1,
    EraseUnlocked2,
    Program
  };

  bool Is(uint32_t address, uint16_t command) const;
  void Busy(Duration at, Duration time, uint8_t pollBit7);
  // Counts the operation; false when the power drops in its middle.
  bool BeginOperation();
  // Carries a running chip erase forward to time `at`.
  void Settle(Duration at) const;

  ParallelPartModel part_;
  mutable std::vector<uint8_t> cells_;
  // The chip erase in progress: cells below `eraseDone_` are erased.
  mutable bool erasing_ = false;
  mutable size_t eraseDone_ = 0;
  Duration eraseStart_{};
  Duration eraseEnd_{};
  std::optional<Duration> powerDropAt_;
  bool slow_ = false;
  Step step_ = Step::Read;
  Duration busyUntil_{0};
  uint8_t statusBit7_ = 0;
  uint8_t toggle_ = 0;
  double timeScale_ = 1.0;
  uint64_t powerLossAt_ = 0;
  bool powerLost_ = false;
  Stats stats_;
};

}  // namespace fwtool::sim
