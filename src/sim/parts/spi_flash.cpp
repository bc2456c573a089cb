// SPDX-License-Identifier: GPL-2.0-or-later
#include "spi_flash.h"

#include <algorithm>

namespace fwtool::sim {

namespace {
constexpr uint8_t kOpWriteStatus = 0x01;
constexpr uint8_t kOpPageProgram = 0x02;
constexpr uint8_t kOpRead = 0x03;
constexpr uint8_t kOpWriteDisable = 0x04;
constexpr uint8_t kOpReadStatus = 0x05;
constexpr uint8_t kOpWriteEnable = 0x06;
constexpr uint8_t kOpFastRead = 0x0B;
constexpr uint8_t kOpMakerId15 = 0x15;
constexpr uint8_t kOpEnableWriteStatus = 0x50;
constexpr uint8_t kOpManufacturerDeviceId = 0x90;
constexpr uint8_t kOpJedecId = 0x9F;
constexpr uint8_t kOpElectronicSignature = 0xAB;
constexpr uint8_t kOpAaiWord = 0xAD;
constexpr uint8_t kOpAaiByte = 0xAF;
}  // namespace

SpiFlash::SpiFlash(FlashPartSpec part)
    : part_(std::move(part)), slowPart_(part_.AtMaximum()), cells_(part_.size, 0xFF) {}

const std::vector<uint8_t>& SpiFlash::Contents() const {
  return ContentsAt(GetClock().Now());
}

const std::vector<uint8_t>& SpiFlash::ContentsAt(Duration at) const {
  Settle(at);
  return cells_;
}

void SpiFlash::Load(std::span<const uint8_t> data) {
  work_.clear();
  std::fill(cells_.begin(), cells_.end(), 0xFF);
  std::copy_n(data.begin(), std::min<size_t>(data.size(), cells_.size()), cells_.begin());
}

bool SpiFlash::BusyAt(Duration at) const {
  return stuckBusy_ || at < busyUntil_;
}

Duration SpiFlash::ReadyAt() const {
  return stuckBusy_ ? Duration::max() : busyUntil_;
}

uint8_t SpiFlash::ReadStatus(Duration at) const {
  uint8_t status = status_;
  if (writeEnable_) status |= kStatusWriteEnable;
  if (aaiActive_) status |= kStatusAai;
  if (BusyAt(at)) status |= kStatusBusy;
  return status;
}

void SpiFlash::PowerOff(Duration at) {
  // What the work had done by the moment the power went stays; the rest of
  // it, and the work not begun, never happens.
  if (powerDropAt_) at = std::min(at, *powerDropAt_);
  Settle(at);
  work_.clear();
  powerDropAt_.reset();
  powered_ = false;
  writeEnable_ = false;
  statusWriteEnable_ = false;
  aaiActive_ = false;
  busyUntil_ = Duration{0};
}

void SpiFlash::PowerOn() {
  powered_ = true;
}

uint32_t SpiFlash::Address(std::span<const uint8_t> out) const {
  // Address bytes the controller did not send are clocked as zeros while it reads.
  auto byteAt = [&](size_t i) -> uint32_t { return i < out.size() ? out[i] : 0; };
  return ((byteAt(1) << 16) | (byteAt(2) << 8) | byteAt(3)) % part_.size;
}

std::vector<uint8_t> SpiFlash::Transaction(std::span<const uint8_t> out, size_t readCount,
                                           Duration at) {
  std::vector<uint8_t> in(readCount, 0xFF);
  if (!powered_ || out.empty()) return in;
  // After the power dropped the part takes nothing more.
  if (powerDropAt_ && at >= *powerDropAt_) return in;
  const uint8_t opcode = out[0];
  const size_t first = out.size();  // bus position of the first byte read
  auto answer = [&](size_t skip, const std::vector<uint8_t>& bytes, size_t phase = 0) {
    if (bytes.empty()) return;
    for (size_t i = 0; i < readCount; ++i) {
      const size_t position = first + i;
      if (position >= skip) in[i] = bytes[(phase + position - skip) % bytes.size()];
    }
  };

  if (opcode == kOpReadStatus) {
    std::fill(in.begin(), in.end(), ReadStatus(at));
    return in;
  }
  // A busy part ignores every other instruction.
  if (BusyAt(at)) return in;
  // In AAI mode only the AAI instruction itself and write-disable count.
  const uint8_t aaiOpcode = part_.aai == AaiMode::Word ? kOpAaiWord : kOpAaiByte;
  if (aaiActive_ && opcode != aaiOpcode && opcode != kOpWriteDisable) return in;

  switch (opcode) {
    case kOpWriteEnable:
      writeEnable_ = true;
      break;
    case kOpWriteDisable:
      writeEnable_ = false;
      aaiActive_ = false;
      break;
    case kOpEnableWriteStatus:
      if (part_.hasEnableWriteStatus) statusWriteEnable_ = true;
      break;
    case kOpWriteStatus:
      WriteStatus(out, at);
      break;
    case kOpRead:
    case kOpFastRead: {
      Settle(at);
      const size_t skip = opcode == kOpRead ? 4 : 5;
      const uint32_t address = Address(out);
      for (size_t i = 0; i < readCount; ++i) {
        const size_t position = first + i;
        if (position >= skip) in[i] = cells_[(address + position - skip) % part_.size];
      }
      break;
    }
    case kOpJedecId:
      answer(1, part_.jedecId);
      break;
    case kOpManufacturerDeviceId:
      answer(4, part_.manufacturerDeviceId, out.size() > 3 ? (out[3] & 1) : 0);
      break;
    case kOpElectronicSignature:
      answer(4, part_.electronicSignature);
      break;
    case kOpMakerId15:
      answer(1, part_.id15);
      break;
    case kOpPageProgram:
      PageProgram(out, at);
      break;
    case kOpAaiByte:
    case kOpAaiWord:
      if (opcode == aaiOpcode && part_.aai != AaiMode::None) AaiProgram(out, at);
      break;
    default: {
      const bool chip = part_.IsChipErase(opcode);
      const auto range = part_.EraseRangeFor(opcode, Address(out));
      if (range.length == 0) break;        // not an instruction this part knows
      if (!chip && out.size() < 4) break;  // chip select rose before the address
      if (!writeEnable_) break;
      writeEnable_ = false;
      if (Protected()) break;
      EraseRange(range.start, range.length, chip, at);
      break;
    }
  }
  return in;
}

void SpiFlash::WriteStatus(std::span<const uint8_t> out, Duration at) {
  if (!writeEnable_ && !statusWriteEnable_) return;
  if (out.size() < 2) return;  // chip select rose before the new value
  writeEnable_ = false;
  statusWriteEnable_ = false;
  status_ = out[1] & kNonVolatileMask;
  busyUntil_ = std::max(busyUntil_, at + ScaledTime(Timed().statusWriteTime));
}

void SpiFlash::PageProgram(std::span<const uint8_t> out, Duration at) {
  if (!writeEnable_) return;
  writeEnable_ = false;
  if (Protected() || out.size() < 5) return;
  const uint32_t address = Address(out);
  auto data = out.subspan(4);
  std::vector<Write> writes;
  if (part_.pageSize <= 1) {
    // Parts without page programming take the first byte only.
    writes.emplace_back(address, data[0]);
  } else {
    // Bytes past the end of the page wrap to its start; the last ones sent win.
    const uint32_t pageStart = address / part_.pageSize * part_.pageSize;
    const uint32_t offset = address - pageStart;
    const size_t keep = std::min<size_t>(data.size(), part_.pageSize);
    const size_t skip = data.size() - keep;
    for (size_t i = skip; i < data.size(); ++i) {
      const uint32_t target = pageStart + static_cast<uint32_t>((offset + i) % part_.pageSize);
      writes.emplace_back(target % part_.size, data[i]);
    }
  }
  ApplyProgram(writes, at);
}

void SpiFlash::AaiProgram(std::span<const uint8_t> out, Duration at) {
  const size_t unit = part_.aai == AaiMode::Word ? 2 : 1;
  size_t dataAt = 1;
  if (!aaiActive_) {
    if (!writeEnable_) return;
    if (Protected()) {
      writeEnable_ = false;
      return;
    }
    dataAt = 4;
  } else if (out.size() >= 4 + unit) {
    // In AAI mode an instruction clocked with a full address before its data
    // starts again at that address.
    dataAt = 4;
  }
  if (dataAt == 4) {
    aaiAddress_ = Address(out);
    if (unit == 2) aaiAddress_ &= ~1u;
  }
  if (out.size() < dataAt + unit) return;  // no data: nothing programmed
  aaiActive_ = true;
  std::vector<Write> writes;
  for (size_t i = 0; i < unit; ++i)
    writes.emplace_back((aaiAddress_ + i) % part_.size, out[dataAt + i]);
  aaiAddress_ = static_cast<uint32_t>((aaiAddress_ + unit) % part_.size);
  ApplyProgram(writes, at);
}

Duration SpiFlash::ScaledTime(Duration time) const {
  if (timeScale_ == 1.0) return time;
  if (timeScale_ <= 0) return Duration{0};
  return std::chrono::duration_cast<Duration>(time * timeScale_);
}

void SpiFlash::Begin(Work work, Duration at, Duration time) {
  ++stats_.operations;
  work.start = at;
  work.end = at + ScaledTime(time);
  busyUntil_ = std::max(busyUntil_, work.end);
  if (powerLossAt_ != 0 && stats_.operations == powerLossAt_) {
    // The power drops when this operation is half done.
    powerDropAt_ = work.start + (work.end - work.start) / 2;
    powerLost_ = true;
  }
  work_.push_back(std::move(work));
}

void SpiFlash::ApplyProgram(std::vector<Write>& writes, Duration at) {
  ++stats_.programs;
  Work work;
  work.writes = std::move(writes);
  const Duration time = part_.pageSize <= 1 || part_.aai != AaiMode::None
                            ? Timed().byteProgramTime
                            : Timed().ProgramTime(static_cast<uint32_t>(work.writes.size()));
  Begin(std::move(work), at, time);
}

void SpiFlash::EraseRange(uint32_t start, uint32_t length, bool chip, Duration at) {
  if (chip)
    ++stats_.chipErases;
  else
    ++stats_.erases;
  Work work;
  work.erase = true;
  work.eraseStart = start;
  work.eraseLength = length;
  if (stuckCells_ != 0) {
    work.stuckCell = true;
    if (stuckCells_ > 0) --stuckCells_;
  }
  Begin(std::move(work), at, chip ? Timed().chipEraseTime : Timed().EraseTime(length));
}

void SpiFlash::Settle(Duration at) const {
  while (!work_.empty()) {
    Work& work = work_.front();
    if (at <= work.start && work.end > work.start) return;
    const size_t cells = work.Cells();
    size_t upTo = cells;
    if (at < work.end) {
      const double fraction = static_cast<double>((at - work.start).count()) /
                              static_cast<double>((work.end - work.start).count());
      upTo = std::min(cells, static_cast<size_t>(fraction * static_cast<double>(cells)));
    }
    Advance(work, upTo);
    if (upTo < cells) return;
    work_.pop_front();
  }
}

void SpiFlash::Advance(Work& work, size_t upTo) const {
  if (work.erase) {
    if (upTo > work.done)
      std::fill(cells_.begin() + work.eraseStart + work.done,
                cells_.begin() + work.eraseStart + upTo, 0xFF);
    if (work.stuckCell && upTo > 0) cells_[work.eraseStart] = 0xFE;
    work.done = upTo;
    return;
  }
  if (!work.weakChosen && upTo > 0) {
    // A weak cell: one bit that should have gone to 0 stays 1. Chosen when
    // the operation starts to change cells, so the work before it is done.
    work.weakChosen = true;
    work.weakIndex = work.writes.size();
    if (bitErrors_ != 0) {
      std::vector<size_t> candidates;
      for (size_t i = 0; i < work.writes.size(); ++i) {
        const auto [address, value] = work.writes[i];
        if ((cells_[address] & ~value) != 0) candidates.push_back(i);
      }
      if (!candidates.empty()) {
        work.weakIndex = candidates[NextRandom() % candidates.size()];
        const auto [address, value] = work.writes[work.weakIndex];
        const uint8_t clearing = cells_[address] & static_cast<uint8_t>(~value);
        const int first = static_cast<int>(NextRandom() % 8);
        for (int k = 0; k < 8; ++k) {
          const uint8_t bit = static_cast<uint8_t>(1u << ((first + k) % 8));
          if (clearing & bit) {
            work.weakBit = bit;
            break;
          }
        }
        if (bitErrors_ > 0) --bitErrors_;
      }
    }
  }
  for (size_t i = work.done; i < upTo; ++i) {
    const auto [address, value] = work.writes[i];
    uint8_t result = cells_[address] & value;
    if (i == work.weakIndex) result |= work.weakBit;
    cells_[address] = result;
  }
  work.done = std::max(work.done, upTo);
}

uint64_t SpiFlash::NextRandom() const {
  random_ ^= random_ << 13;
  random_ ^= random_ >> 7;
  random_ ^= random_ << 17;
  return random_;
}

}  // namespace fwtool::sim
