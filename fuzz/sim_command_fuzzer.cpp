// SPDX-License-Identifier: GPL-2.0-or-later
// Arbitrary command blocks and data phases into one simulated unit: the
// decoder must answer every block (good, check condition or a transport
// failure) without reading or writing past the blocks and buffers it got.
//
// Input: one byte picks the unit, then commands, each
//   flags (bits 0-1: block length 6/10/12/16, bit 2: data-out, bit 3: the
//   CD-ROM interface, bit 4: power-cycle the unit first), the block, a
//   16-bit little-endian transfer length, and for data-out the bytes to send
//   (zeros where the input ends).
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "simulator.h"

namespace {

// Units whose decoders differ: serial flash over the DF and FF 04 families,
// the dual-bank chip, the parallel flash members, an SBP-2 unit with a
// CD-ROM interface, a disk-hosted member, an old member and a blank flash.
constexpr std::array kUnits = {
    "vqb719",
    "vqb711:protect",
    "vqs175",
    "vqs118",
    "vq64779:parallel=pmc",
    "vq64779u:parallel=atmel:a1",
    "vqb717:bus=sbp2:cdrom",
    "vq64765",
    "vq64771",
    "vqb185",
    "vqb145",
    "vqb719:fw=blank",
    "vq64775e:size=128",
    "vqb713",
    "vqs713",
    "vqb716:cdrom",
};

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

constexpr size_t kMaxCommands = 48;
constexpr uint32_t kMaxTransfer = 0x10000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace fwtool;
  if (size == 0) return 0;
  Reader in(data, size);
  auto clock = std::make_shared<VirtualClock>();
  ScopedClock scopedClock(clock);
  std::string error;
  auto farm = sim::SimFarm::Create(kUnits[in.Byte() % kUnits.size()], &error);
  if (!farm) std::abort();
  sim::SimUnit& unit = farm->Unit(0);

  std::vector<uint8_t> buffer;
  for (size_t n = 0; n < kMaxCommands && !in.Empty(); ++n) {
    const uint8_t flags = in.Byte();
    static constexpr std::array<uint8_t, 4> kLengths = {6, 10, 12, 16};
    PassThroughRequest rq;
    rq.cdbLength = kLengths[flags & 3];
    rq.direction = (flags & 4) != 0 ? DataDirection::Out : DataDirection::In;
    const bool cdrom = (flags & 8) != 0 && !unit.cdromPath.empty();
    rq.path = cdrom ? unit.cdromPath : unit.diskPath;
    if ((flags & 0x10) != 0) farm->PowerCycle(0);
    for (uint8_t i = 0; i < rq.cdbLength; ++i) rq.cdb[i] = in.Byte();
    uint32_t length = in.Byte();
    length |= static_cast<uint32_t>(in.Byte()) << 8;
    // Bit 5 makes the transfer a whole 64 KB one, the size flash ranges use.
    if ((flags & 0x20) != 0) length = kMaxTransfer;
    rq.length = length;
    buffer.assign(length, 0);
    if (rq.direction == DataDirection::Out)
      for (uint32_t i = 0; i < length && !in.Empty(); ++i) buffer[i] = in.Byte();
    rq.data = length != 0 ? buffer.data() : nullptr;
    rq.exclusive = rq.direction == DataDirection::Out;
    const PassThroughResult result = farm->Execute(rq);
    if (result.transferred > length) std::abort();
    if (result.sense.size() > 252) std::abort();
  }
  return 0;
}
