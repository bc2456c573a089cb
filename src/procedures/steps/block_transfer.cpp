// SPDX-License-Identifier: GPL-2.0-or-later
#include "block_transfer.h"

#include <algorithm>
#include <cstring>

#include "chip_tables.h"
#include "clock.h"
#include "flash_commands.h"
#include "operator.h"
#include "procedure_host.h"
#include "transport.h"

namespace fwtool {

namespace {

constexpr uint8_t kStatusBusy = 0x01;

int32_t RoundUpToTransferUnit(int32_t length) {
  return (length + kTransferUnit - 1) / kTransferUnit * kTransferUnit;
}

void AppendDot(ProcedureHost& host) {
  host.SetStatusText(host.StatusText() + kBlockDot);
  host.ProcessMessages();
}

}  // namespace

int WaitDeviceReady(std::string_view path) {
  auto readStatus = [&] {
    uint8_t status = 0;
    // A status read that fails must not keep us waiting: it counts as ready.
    if (!ReadFlashStatus(path, &status)) status = 0;
    return status;
  };
  uint8_t status = readStatus();
  int reReads = 0;
  while ((status & kStatusBusy) != 0 && reReads < kReadyReReadStop) {
    SleepMs(kReadyPollMs);
    status = readStatus();
    ++reReads;
  }
  return reReads <= kReadyReReadLimit ? 1 : 0;
}

int ReadFlashRange(ProcedureHost& host, std::string_view path, uint32_t start, uint8_t* destination,
                   int32_t length) {
  host.SetStatusText(kReadFlashStep);
  host.ProcessMessages();
  const int32_t blockSize = host.Settings().TransferBlockSize;
  if (length <= 0 || destination == nullptr || blockSize <= 0) return 0;

  int32_t remaining = RoundUpToTransferUnit(length);
  const auto total = static_cast<uint64_t>(remaining);
  AlignedBuffer buffer(static_cast<size_t>(remaining));
  if (!buffer) return 0;
  int32_t offset = 0;
  int result = 0;
  while (remaining > 0) {
    const int32_t block = std::min(remaining, blockSize);
    WaitDeviceReady(path);
    if (!ReadFlash(path, start + static_cast<uint32_t>(offset), buffer.data() + offset,
                   static_cast<uint32_t>(block))) {
      result = 0;
      break;
    }
    offset += block;
    result = 1;
    remaining -= block;
    host.Progress().Advance(static_cast<uint64_t>(offset), total);
    AppendDot(host);
  }
  std::memcpy(destination, buffer.data(), static_cast<size_t>(length));
  return result;
}

int WriteFlashRange(ProcedureHost& host, std::string_view path, uint32_t start,
                    const uint8_t* source, int32_t length, int mode) {
  FlashSettings& settings = host.Settings();
  if (length <= 0 || source == nullptr || settings.TransferBlockSize <= 0) return 0;

  int32_t remaining = RoundUpToTransferUnit(length);
  const auto total = static_cast<uint64_t>(remaining);
  AlignedBuffer buffer(static_cast<size_t>(remaining));
  if (!buffer) return 0;
  std::memcpy(buffer.data(), source, static_cast<size_t>(length));
  int32_t offset = 0;
  int result = 0;
  while (remaining > 0) {
    const uint32_t address = start + static_cast<uint32_t>(offset);
    int32_t block = std::min(remaining, settings.TransferBlockSize);
    // The controller takes at most 4 KB in the command that starts the flash.
    if (address == 0 && block > kFirstBlockLimit) block = kFirstBlockLimit;
    int flag = EraseFlagFor(settings, address, mode);
    // MXIC parts need the controller told to use their erase sequence once,
    // with the first command of the write.
    if (address == 0 && host.FlashMaker() == FlashMaker::Mxic && flag != 0) flag |= kWriteModeMxic;
    block = ClipToEraseUnit(settings, address, block, mode);
    WaitDeviceReady(path);
    if (!WriteFlash(path, address, buffer.data() + offset, static_cast<uint32_t>(block),
                    static_cast<uint8_t>(flag))) {
      result = 0;
      break;
    }
    offset += block;
    result = 1;
    host.Progress().Advance(static_cast<uint64_t>(offset), total);
    host.StepProgress(kProgressPerWrittenBlock);
    remaining -= block;
    AppendDot(host);
  }
  return result;
}

int EraseFlagFor(FlashSettings& settings, uint32_t address, int mode) {
  const WriteMode kind = WriteModeOf(mode);
  int result = 0;
  if (kind == WriteMode::SmallUnit || kind == WriteMode::LargeUnit) {
    const int64_t unit =
        kind == WriteMode::SmallUnit ? settings.SmallEraseUnit : settings.LargeEraseUnit;
    int32_t& count =
        kind == WriteMode::SmallUnit ? settings.SmallEraseCount : settings.LargeEraseCount;
    if (unit > 0 && address >= unit * count) {
      // The block enters a unit not yet erased: from here on the units up to
      // the one holding the address count as erased. Within one sequential
      // write that is the next unit; a write whose counts were not set for
      // its start still gets whole blocks.
      count = static_cast<int32_t>(address / unit + 1);
      result = mode;
    }
  } else if (kind == WriteMode::WholeChip) {
    result = address == 0 ? mode : 0;
  }
  return result & 7;
}

int32_t ClipToEraseUnit(const FlashSettings& settings, uint32_t address, int32_t blockLength,
                        int mode) {
  const WriteMode kind = WriteModeOf(mode);
  if (kind != WriteMode::SmallUnit && kind != WriteMode::LargeUnit) return blockLength;
  const int64_t unit =
      kind == WriteMode::SmallUnit ? settings.SmallEraseUnit : settings.LargeEraseUnit;
  const int64_t count =
      kind == WriteMode::SmallUnit ? settings.SmallEraseCount : settings.LargeEraseCount;
  if (unit <= 0) return blockLength;
  int64_t limit = unit * count;
  // Counts behind the address: the block still ends at its own unit's end.
  if (limit <= address) limit = (address / unit + 1) * unit;
  if (static_cast<int64_t>(address) + blockLength >= limit)
    return static_cast<int32_t>(limit - address);
  return blockLength;
}

}  // namespace fwtool
