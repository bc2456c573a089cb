// SPDX-License-Identifier: GPL-2.0-or-later
// Programming the serial flash through the pass-through: page programming,
// and SST's auto-address-increment modes (a byte or a word per instruction,
// the part advancing the address itself).
#include <algorithm>
#include <array>

#include "chip_tables.h"
#include "clock.h"
#include "serial_flash_commands.h"

namespace fwtool {

namespace {

constexpr uint8_t kOpPageProgram = 0x02;
constexpr uint8_t kOpAaiByte = 0xAF;
constexpr uint8_t kOpAaiWord = 0xAD;

constexpr uint32_t kPageChunk = 256;
// The MXIC parts of this maker code take 32-byte pages.
constexpr uint32_t kMxicPageChunk = 32;
constexpr uint32_t kAaiChunk = 512;
// AAI word programming names the address again at every 16 KB boundary.
constexpr uint32_t kAaiWordAddressed = 16384;

constexpr uint8_t kStatusBusy = 0x01;
constexpr int kReadyReReads = 502;  // as the procedures' ready wait

SpiRecord Addressed(uint8_t opcode, uint32_t address) {
  return SpiRecord::Of(4, 1, opcode,
                       {static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
                        static_cast<uint8_t>(address)});
}

// Write enable, then the page program instruction held for its data. A
// chunk never crosses a page boundary (the part would wrap to the page's
// start), and a tail shorter than a chunk is programmed like any chunk.
int ProgramPages(std::string_view path, uint32_t address, const uint8_t* data, uint32_t length,
                 uint32_t chunk, const SpiProgramProgress& onProgress) {
  uint32_t done = 0;
  while (done < length) {
    const uint32_t at = address + done;
    const uint32_t count = std::min(chunk - at % chunk, length - done);
    SleepMs(kSpiPauseMs);
    int ok = SpiWriteEnable(path);
    SleepMs(kSpiPauseMs);
    ok = ok && SpiCommand(path, Addressed(kOpPageProgram, at));
    ok = ok && SpiWriteData(path, data + done, static_cast<uint16_t>(count));
    if (!ok) return 0;
    done += count;
    if (onProgress) onProgress(done);
  }
  return 1;
}

// Per chunk: prepare (status unprotected, write enable), the addressed AAI
// instruction with the chunk's first byte (sent with a 0x00 after it), then
// one instruction per further byte. The part leaves AAI mode at the
// write-disable that ends the block, also after a failure.
int ProgramAaiBytes(std::string_view path, uint32_t address, const uint8_t* data, uint32_t length,
                    const SpiProgramProgress& onProgress) {
  int ok = 1;
  for (uint32_t done = 0; ok && done < length; done += kAaiChunk) {
    const uint32_t count = std::min(kAaiChunk, length - done);
    const uint8_t* chunk = data + done;
    ok = SpiPrepareWrite(path);
    ok = ok && SpiCommand(path, Addressed(kOpAaiByte, address + done));
    const std::array<uint8_t, 2> first = {chunk[0], 0x00};
    ok = ok && SpiWriteData(path, first.data(), static_cast<uint16_t>(first.size()));
    for (uint32_t j = 1; ok && j < count; ++j)
      ok = SpiCommand(path, SpiRecord::Of(2, 0, kOpAaiByte, {chunk[j]}));
    if (ok && onProgress) onProgress(done + count);
  }
  const int disabled = SpiWriteDisable(path);
  return ok && disabled ? 1 : 0;
}

// Per chunk: prepare, the AAI word instruction (with the address only at a
// 16 KB boundary; elsewhere the part goes on from where it stands) and the
// chunk's first two bytes, then one instruction per further pair. An odd
// last byte is paired with 0xFF, which leaves its neighbour as it is.
int ProgramAaiWords(std::string_view path, uint32_t address, const uint8_t* data, uint32_t length,
                    const SpiProgramProgress& onProgress) {
  auto pairAt = [&](uint32_t i) {
    return std::array<uint8_t, 2>{data[i], i + 1 < length ? data[i + 1] : uint8_t{0xFF}};
  };
  int ok = 1;
  for (uint32_t done = 0; ok && done < length; done += kAaiChunk) {
    const uint32_t count = std::min(kAaiChunk, length - done);
    const uint32_t at = address + done;
    ok = SpiPrepareWrite(path);
    const SpiRecord start =
        at % kAaiWordAddressed == 0 ? Addressed(kOpAaiWord, at) : SpiRecord::Of(1, 1, kOpAaiWord);
    ok = ok && SpiCommand(path, start);
    const auto first = pairAt(done);
    ok = ok && SpiWriteData(path, first.data(), static_cast<uint16_t>(first.size()));
    for (uint32_t j = 2; ok && j < count; j += 2) {
      const auto pair = pairAt(done + j);
      ok = SpiCommand(path, SpiRecord::Of(3, 0, kOpAaiWord, {pair[0], pair[1]}));
    }
    if (ok && onProgress) onProgress(done + count);
  }
  return ok;
}

void WaitFlashNotBusy(std::string_view path) {
  PollFlashStatus(
      path, [](uint8_t status) { return (status & kStatusBusy) == 0; }, kReadyReReads);
}

}  // namespace

int SpiProgramFlash(std::string_view path, uint32_t address, const uint8_t* data, uint32_t length,
                    int makerCode, bool wordMode, const SpiProgramProgress& onProgress) {
  if (length == 0 || data == nullptr) return 0;
  for (uint32_t done = 0; done < length;) {
    const uint32_t block = std::min(kSpiProgramBlock, length - done);
    const bool last = done + block == length;
    // What the block has programmed, told as what the whole call has.
    const SpiProgramProgress blockProgress = [&onProgress, done](uint32_t inBlock) {
      if (onProgress) onProgress(done + inBlock);
    };
    WaitFlashNotBusy(path);
    int ok = 0;
    if (makerCode == FlashMaker::Sst && wordMode) {
      ok = ProgramAaiWords(path, address + done, data + done, block, blockProgress);
      // The run ends in AAI mode until a write-disable; a failed block ends
      // the run too.
      if (last || !ok) ok = SpiWriteDisable(path) && ok;
    } else if (makerCode == FlashMaker::Sst) {
      ok = ProgramAaiBytes(path, address + done, data + done, block, blockProgress);
    } else {
      ok = ProgramPages(path, address + done, data + done, block,
                        makerCode == FlashMaker::Mxic ? kMxicPageChunk : kPageChunk, blockProgress);
    }
    if (!ok) return 0;
    done += block;
    SleepMs(kSpiPauseMs);
  }
  return 1;
}

}  // namespace fwtool
