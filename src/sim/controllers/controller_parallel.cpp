// SPDX-License-Identifier: GPL-2.0-or-later
// The parallel flash commands of the oldest controllers (FF 04 00..05): the
// controller plays the unlock sequences the host hands it against its
// parallel part, byte by byte, and reports the part's toggle bit as busy.
#include <algorithm>

#include "controller.h"

namespace fwtool::sim {

namespace {

constexpr uint8_t kToggleBit = 0x40;
constexpr int kProgramWrites = 3;
constexpr int kEraseWrites = 6;

// Write i of a script of n writes: address i (least significant byte
// first), then data byte i after the n addresses.
uint32_t ScriptAddress(const uint8_t* script, int i) {
  return script[2 * i] | (static_cast<uint32_t>(script[2 * i + 1]) << 8);
}
uint8_t ScriptData(const uint8_t* script, int writes, int i) {
  return script[2 * writes + i];
}

}  // namespace

SimController::Reply SimController::ParallelBlock(const PassThroughRequest& rq) {
  const auto& cdb = rq.cdb;
  ParallelFlash& part = *parallel_;
  const Duration now = GetClock().Now();
  // The controller's routines wait for the part before they drive it.
  auto readyFrom = [&](Duration at) { return std::max(at, part.ReadyAt()); };
  switch (cdb[2]) {
    case 0x05:  // switch to the internal code
      if (profile_.refusesRomSwitch) return Unknown();
      return Good();
    case 0x04: {  // the erase script
      if (rq.direction != DataDirection::Out || rq.data == nullptr) return InvalidField();
      parallelEraseScript_.fill(0);
      std::copy_n(rq.data, std::min<size_t>(rq.length, parallelEraseScript_.size()),
                  parallelEraseScript_.begin());
      return Good();
    }
    case 0x01: {  // play the erase script
      const Duration at = readyFrom(now);
      for (int i = 0; i < kEraseWrites; ++i)
        part.Write(ScriptAddress(parallelEraseScript_.data(), i),
                   ScriptData(parallelEraseScript_.data(), kEraseWrites, i), at);
      return Good();
    }
    case 0x00: {  // busy: the toggle bit moves between two reads
      if (flash_.StuckBusy()) return Good({1, 0});
      const uint8_t first = part.Read(0, now);
      const uint8_t second = part.Read(0, now);
      return Good({static_cast<uint8_t>(((first ^ second) & kToggleBit) != 0 ? 1 : 0), 0});
    }
    case 0x02: {  // program: the script from the block, then each byte
      if (rq.direction != DataDirection::Out) return InvalidField();
      const uint8_t* script = &cdb[3];
      Duration at = now;
      for (uint32_t address = 0; rq.data != nullptr && address < rq.length; ++address) {
        at = readyFrom(at);
        for (int i = 0; i < kProgramWrites; ++i)
          part.Write(ScriptAddress(script, i), ScriptData(script, kProgramWrites, i), at);
        part.Write(address, rq.data[address], at);
      }
      return Good();
    }
    case 0x03: {  // read
      if (rq.direction != DataDirection::In) return InvalidField();
      const uint32_t address =
          cdb[3] | (cdb[4] << 8) | (cdb[5] << 16) | (static_cast<uint32_t>(cdb[6]) << 24);
      GetClock().Sleep(Scaled(bus_, FlashFetchTime(bus_, rq.length)));
      const Duration at = GetClock().Now();
      std::vector<uint8_t> data(rq.length);
      for (uint32_t i = 0; i < rq.length; ++i) data[i] = part.Read(address + i, at);
      return Good(std::move(data));
    }
    default:
      return Unknown();
  }
}

}  // namespace fwtool::sim
