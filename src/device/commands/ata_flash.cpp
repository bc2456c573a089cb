// SPDX-License-Identifier: GPL-2.0-or-later
// What the ATA PASS-THROUGH commands make together: the disk's size, the
// controller's busy wait, its information, the serial flash part behind it
// and the flash ranges.
#include <algorithm>
#include <array>
#include <cstring>

#include "ata_commands.h"
#include "clock.h"
#include "flash_id_rules.h"
#include "transport.h"

namespace fwtool {

namespace {

constexpr uint32_t kReply = 512;
constexpr uint8_t kBusy = 0x01;
constexpr uint32_t kPollMs = 10;
constexpr uint32_t kEraseSettleMs = 100;

FlashIdReader AtaFlashIdReader(std::string_view path) {
  // The ATA route has no short identification form.
  return {[path](uint8_t opcode, uint8_t* buffer, uint8_t length) {
            return AtaSpiReadId(path, opcode, buffer, length);
          },
          nullptr};
}

}  // namespace

uint64_t AtaDriveSectors(std::string_view path) {
  std::array<uint8_t, kReply> identify{};
  if (!AtaIdentify(path, identify.data())) return 0;
  return SectorsFromIdentify(identify.data());
}

uint64_t SectorsFromIdentify(const uint8_t* identify) {
  // Words 60-61 (28-bit count) and 100-103 (48-bit), little-endian words.
  constexpr size_t kWord60 = 120;
  constexpr size_t kWord100 = 200;
  constexpr uint32_t kUse48BitCount = 0x0FFFFFFF;
  auto littleEndian = [identify](size_t at, size_t count) {
    uint64_t value = 0;
    for (size_t i = count; i-- > 0;) value = (value << 8) | identify[at + i];
    return value;
  };
  const auto sectors = static_cast<uint32_t>(littleEndian(kWord60, 4));
  if (sectors != kUse48BitCount) return sectors;
  return littleEndian(kWord100, 8);
}

int AtaWaitReady(std::string_view path) {
  std::array<uint8_t, kReply> reply{};
  // A first read that fails counts as not busy: the next command decides.
  uint8_t status = 0;
  if (AtaVendorStatus(path, reply.data())) status = reply[0];
  for (int reReads = 0; status & kBusy; ++reReads) {
    if (reReads == kAtaReadyReReads) return 0;
    SleepMs(kPollMs);
    if (AtaVendorStatus(path, reply.data())) status = reply[0];
  }
  return 1;
}

int AtaGetChipInfo(std::string_view path, uint8_t* buffer, uint32_t n) {
  std::array<uint8_t, kReply> info{};
  if (!AtaReadInfo(path, info.data(), kReply)) return 0;
  if (buffer != nullptr) std::copy_n(info.begin(), std::min(n, kReply), buffer);
  return 1;
}

int AtaSpiReadId(std::string_view path, uint8_t opcode, uint8_t* buffer, uint32_t n) {
  if (!AtaSpiCommand(path, SpiRecord::Of(1, 1, opcode))) return 0;
  std::array<uint8_t, kReply> answer{};
  if (!AtaSpiReadData(path, answer.data(), kReply)) return 0;
  if (buffer != nullptr) std::copy_n(answer.begin(), std::min(n, kReply), buffer);
  return 1;
}

int AtaDetectSpiFlash(std::string_view path, FlashProfile& profile) {
  return DetectFlashWith(AtaFlashIdReader(path), profile);
}

int AtaDetectSpiFlashSize(std::string_view path, FlashProfile& profile) {
  return DetectFlashSizeWith(AtaFlashIdReader(path), profile);
}

// Every chunk moves a full 8 KB. A last chunk that the caller's buffer does
// not fill goes through a chunk of our own: a read keeps only what fits, a
// write pads with 0xFF, which leaves erased cells as they are.
int AtaReadFlashRange(std::string_view path, uint32_t address, uint8_t* buffer, uint32_t length) {
  std::array<uint8_t, kAtaChunk> tail{};
  for (uint32_t offset = 0; offset < length; offset += kAtaChunk) {
    const uint32_t count = std::min(kAtaChunk, length - offset);
    uint8_t* target = count == kAtaChunk ? buffer + offset : tail.data();
    AtaWaitReady(path);
    if (!AtaReadFlash(path, address + offset, target, kAtaChunk)) return kAtaReadFailed;
    if (target == tail.data()) std::memcpy(buffer + offset, tail.data(), count);
  }
  return kAtaRangeOk;
}

int AtaWriteFlashRange(std::string_view path, uint32_t address, const uint8_t* buffer,
                       uint32_t length) {
  std::array<uint8_t, kAtaChunk> tail{};
  for (uint32_t offset = 0; offset < length; offset += kAtaChunk) {
    const uint32_t count = std::min(kAtaChunk, length - offset);
    const uint8_t* source = buffer + offset;
    if (count < kAtaChunk) {
      tail.fill(0xFF);
      std::memcpy(tail.data(), source, count);
      source = tail.data();
    }
    AtaWaitReady(path);
    if (!AtaWriteFlash(path, address + offset, source, kAtaChunk)) return kAtaWriteFailed;
  }
  return kAtaRangeOk;
}

int AtaEraseAndVerify(std::string_view path, uint32_t length) {
  AlignedBuffer readBack(length);
  if (!readBack) return kAtaNoMemory;
  if (!AtaEraseFlash(path)) return kAtaEraseRefused;
  SleepMs(kEraseSettleMs);
  AtaWaitReady(path);
  if (AtaReadFlashRange(path, 0, readBack.data(), length) != kAtaRangeOk) return kAtaReadFailed;
  const bool blank =
      std::all_of(readBack.begin(), readBack.end(), [](uint8_t b) { return b == 0xFF; });
  return blank ? kAtaRangeOk : kAtaNotBlank;
}

}  // namespace fwtool
