// SPDX-License-Identifier: GPL-2.0-or-later
#include "parallel_flash.h"

#include <algorithm>
#include <chrono>

namespace fwtool::sim {

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr uint8_t kFirstUnlock = 0xAA;
constexpr uint8_t kSecondUnlock = 0x55;
constexpr uint8_t kEraseCommand = 0x80;
constexpr uint8_t kProgramCommand = 0xA0;
constexpr uint8_t kChipEraseCommand = 0x10;
constexpr uint8_t kToggleBit = 0x40;
constexpr uint8_t kPollBit = 0x80;

}  // namespace

ParallelPartModel ParallelPartFor(ParallelPartKind kind) {
  ParallelPartModel part;
  part.kind = kind;
  switch (kind) {
    case ParallelPartKind::Atmel:
      // AT49BV512 datasheet (Rev. 1026E-FLASH-06/02): byte program 30 us
      // typical. AT49F512 datasheet (Rev. 1027D-04/99): erase cycle 10 s.
      // The maximums (byte 50 us, chip erase 20 s) were not found in a
      // datasheet here: the family's usual figures.
      part.name = "ATMEL AT49BV512";
      part.byteProgramTime = microseconds(30);
      part.byteProgramMaxTime = microseconds(50);
      part.chipEraseTime = milliseconds(10000);
      part.chipEraseMaxTime = milliseconds(20000);
      break;
    case ParallelPartKind::Pmc:
      // Not found in a datasheet here; the family's usual figures: byte
      // program 40 us typical, 60 us maximum; chip erase 60 / 100 ms.
      part.name = "PMC Pm39LV512";
      part.unlock1 = 0x0555;
      part.unlock2 = 0x02AA;
      part.byteProgramTime = microseconds(40);
      part.byteProgramMaxTime = microseconds(60);
      part.chipEraseTime = milliseconds(60);
      part.chipEraseMaxTime = milliseconds(100);
      break;
    case ParallelPartKind::Sst:
      // SST39LF512 datasheet (S71150-13-000, 9/09): byte program 14 us
      // typical, completed within 20 us; chip erase 70 ms typical. The chip
      // erase maximum (100 ms) was not found in a datasheet here: the
      // family's usual figure. The model takes the maximum as its usual
      // figure: the controller's own timing allows for it.
      part.name = "SST SST39LF512";
      part.byteProgramTime = microseconds(20);
      part.byteProgramMaxTime = microseconds(20);
      part.chipEraseTime = milliseconds(100);
      part.chipEraseMaxTime = milliseconds(100);
      break;
  }
  return part;
}

ParallelFlash::ParallelFlash(ParallelPartModel part)
    : part_(std::move(part)), cells_(part_.size, 0xFF) {}

const std::vector<uint8_t>& ParallelFlash::Contents() const {
  return ContentsAt(GetClock().Now());
}

const std::vector<uint8_t>& ParallelFlash::ContentsAt(Duration at) const {
  Settle(at);
  return cells_;
}

void ParallelFlash::Settle(Duration at) const {
  if (!erasing_) return;
  size_t upTo = cells_.size();
  if (at < eraseEnd_ && eraseEnd_ > eraseStart_) {
    const double fraction = at <= eraseStart_
                                ? 0.0
                                : static_cast<double>((at - eraseStart_).count()) /
                                      static_cast<double>((eraseEnd_ - eraseStart_).count());
    upTo = std::min(cells_.size(), static_cast<size_t>(fraction * cells_.size()));
  }
  if (upTo > eraseDone_) std::fill(cells_.begin() + eraseDone_, cells_.begin() + upTo, 0xFF);
  eraseDone_ = std::max(eraseDone_, upTo);
  if (eraseDone_ >= cells_.size()) erasing_ = false;
}

void ParallelFlash::Load(std::span<const uint8_t> data) {
  erasing_ = false;
  std::fill(cells_.begin(), cells_.end(), 0xFF);
  std::copy_n(data.begin(), std::min<size_t>(data.size(), cells_.size()), cells_.begin());
  step_ = Step::Read;
  busyUntil_ = Duration{0};
}

bool ParallelFlash::Is(uint32_t address, uint16_t command) const {
  return (address & part_.commandAddressMask) == command;
}

void ParallelFlash::Busy(Duration at, Duration time, uint8_t pollBit7) {
  busyUntil_ = at + (timeScale_ <= 0 ? Duration{0}
                                     : std::chrono::duration_cast<Duration>(time * timeScale_));
  statusBit7_ = pollBit7;
}

bool ParallelFlash::BeginOperation() {
  ++stats_.operations;
  if (powerLossAt_ == 0 || stats_.operations != powerLossAt_) return true;
  powerLost_ = true;
  return false;
}

void ParallelFlash::Write(uint32_t address, uint8_t data, Duration at) {
  // Without power, or while the embedded operation runs, it takes no commands.
  if (powerLost_ || BusyAt(at)) return;
  address %= part_.size;
  const Step step = step_;
  step_ = Step::Read;  // a write that does not continue the sequence ends it
  switch (step) {
    case Step::Read:
      if (Is(address, part_.unlock1) && data == kFirstUnlock) step_ = Step::Unlocked1;
      break;
    case Step::Unlocked1:
      if (Is(address, part_.unlock2) && data == kSecondUnlock) step_ = Step::Unlocked2;
      break;
    case Step::Unlocked2:
      if (Is(address, part_.unlock1) && data == kEraseCommand) step_ = Step::EraseSetup;
      if (Is(address, part_.unlock1) && data == kProgramCommand) step_ = Step::Program;
      break;
    case Step::EraseSetup:
      if (Is(address, part_.unlock1) && data == kFirstUnlock) step_ = Step::EraseUnlocked1;
      break;
    case Step::EraseUnlocked1:
      if (Is(address, part_.unlock2) && data == kSecondUnlock) step_ = Step::EraseUnlocked2;
      break;
    case Step::EraseUnlocked2:
      if (Is(address, part_.unlock1) && data == kChipEraseCommand) {
        const bool survives = BeginOperation();
        ++stats_.chipErases;
        Settle(at);
        Busy(at, slow_ ? part_.chipEraseMaxTime : part_.chipEraseTime, 0);
        erasing_ = true;
        eraseDone_ = 0;
        eraseStart_ = at;
        eraseEnd_ = busyUntil_;
        // Cut off halfway: the first half of the cells erased.
        if (!survives) powerDropAt_ = at + (eraseEnd_ - at) / 2;
        Settle(at);
      }
      break;
    case Step::Program:
      // Programming only clears bits; cut off halfway, only the high ones.
      if (!BeginOperation()) {
        cells_[address] &= static_cast<uint8_t>(data | 0x0F);
        return;
      }
      Settle(at);
      cells_[address] &= data;
      ++stats_.programs;
      Busy(at, slow_ ? part_.byteProgramMaxTime : part_.byteProgramTime,
           static_cast<uint8_t>(~data & kPollBit));
      break;
  }
}

uint8_t ParallelFlash::Read(uint32_t address, Duration at) {
  if (!BusyAt(at)) return ContentsAt(at)[address % part_.size];
  toggle_ ^= kToggleBit;
  return static_cast<uint8_t>(statusBit7_ | toggle_);
}

void ParallelFlash::PowerOff(Duration at) {
  if (powerDropAt_) at = std::min(at, *powerDropAt_);
  Settle(at);
  erasing_ = false;
  powerDropAt_.reset();
  step_ = Step::Read;
  busyUntil_ = Duration{0};
}

}  // namespace fwtool::sim
