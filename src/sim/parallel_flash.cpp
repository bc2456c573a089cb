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
      part.name = "ATMEL AT49BV512";
      part.byteProgramTime = microseconds(30);
      part.chipEraseTime = milliseconds(10000);
      break;
    case ParallelPartKind::Pmc:
      part.name = "PMC Pm39LV512";
      part.unlock1 = 0x0555;
      part.unlock2 = 0x02AA;
      part.byteProgramTime = microseconds(40);
      part.chipEraseTime = milliseconds(60);
      break;
    case ParallelPartKind::Sst:
      part.name = "SST SST39LF512";
      part.byteProgramTime = microseconds(20);
      part.chipEraseTime = milliseconds(100);
      break;
  }
  return part;
}

ParallelFlash::ParallelFlash(ParallelPartModel part)
    : part_(std::move(part)), cells_(part_.size, 0xFF) {}

void ParallelFlash::Load(std::span<const uint8_t> data) {
  std::fill(cells_.begin(), cells_.end(), 0xFF);
  std::copy_n(data.begin(), std::min<size_t>(data.size(), cells_.size()), cells_.begin());
  step_ = Step::Read;
  busyUntil_ = Duration{0};
}

bool ParallelFlash::Is(uint32_t address, uint16_t command) const {
  return (address & part_.commandAddressMask) == command;
}

void ParallelFlash::Busy(Duration at, Duration time, uint8_t pollBit7) {
  busyUntil_ = at + std::chrono::duration_cast<Duration>(time * timeScale_);
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
        if (!BeginOperation()) {
          // Cut off halfway: the first half of the cells erased.
          std::fill_n(cells_.begin(), cells_.size() / 2, 0xFF);
          return;
        }
        std::fill(cells_.begin(), cells_.end(), 0xFF);
        ++stats_.chipErases;
        Busy(at, part_.chipEraseTime, 0);
      }
      break;
    case Step::Program:
      // Programming only clears bits; cut off halfway, only the high ones.
      if (!BeginOperation()) {
        cells_[address] &= static_cast<uint8_t>(data | 0x0F);
        return;
      }
      cells_[address] &= data;
      ++stats_.programs;
      Busy(at, part_.byteProgramTime, static_cast<uint8_t>(~data & kPollBit));
      break;
  }
}

uint8_t ParallelFlash::Read(uint32_t address, Duration at) {
  if (!BusyAt(at)) return cells_[address % part_.size];
  toggle_ ^= kToggleBit;
  return static_cast<uint8_t>(statusBit7_ | toggle_);
}

void ParallelFlash::PowerOff() {
  step_ = Step::Read;
  busyUntil_ = Duration{0};
}

}  // namespace fwtool::sim
