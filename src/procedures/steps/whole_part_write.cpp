// SPDX-License-Identifier: GPL-2.0-or-later
// Writing the whole part back through the commands of its procedure, each
// kind erased the way its procedure erases it, then read back and compared.
#include <algorithm>
#include <string>
#include <vector>

#include "address_flash_steps.h"
#include "ata_commands.h"
#include "block_transfer.h"
#include "chip_rows.h"
#include "chip_tables.h"
#include "disk_hosted_steps.h"
#include "flash_commands.h"
#include "flash_programming.h"
#include "ieee1394_steps.h"
#include "parallel_flash_commands.h"
#include "parallel_flash_steps.h"
#include "procedure_host.h"
#include "procedure_texts.h"
#include "progress.h"
#include "serial_flash_commands.h"
#include "whole_part.h"

namespace fwtool {

namespace {

constexpr int32_t kFlashRangeBlock = 8192;
constexpr int kAtmelWriteEnabled = 2;

// Through the controller's flash commands, as the update writes: up to three
// attempts (block erase, sector erase, the whole chip).
int WriteFlashRangePart(const ProcedureRequest& request, ProcedureHost& host,
                        std::span<const uint8_t> bytes) {
  FlashSettings& settings = host.Settings();
  settings.TransferBlockSize = kFlashRangeBlock;
  if (request.chip.Row().flashAccessSetup) FlashAccessSetup(request.path);
  // MXIC parts are switched to their erase sequence by one first block
  // written in block-erase mode, as before an update.
  if (request.chip.flashMaker == FlashMaker::Mxic) PrepareMxicFlash(request.path, bytes.data());
  std::vector<uint8_t> readBack(bytes.size());
  const auto length = static_cast<int32_t>(bytes.size());
  int mode = settings.DefaultWriteMode;
  for (int attempt = 1; attempt <= kProgramAttempts; ++attempt) {
    if (ProgramAndVerify(host, request.path, 0, bytes.data(), readBack.data(), length, mode))
      return 1;
    if (attempt < kProgramAttempts) mode = WriteModeAfterFailedAttempt(attempt);
  }
  return 0;
}

// By address: the part made writable as its procedure does, erased whole
// (the chip erase, or unit by unit where that leaves anything), then written
// a page at a time with each page read back.
int WriteFlashAtPart(const ProcedureRequest& request, ProcedureHost& host,
                     std::span<const uint8_t> bytes, bool overSpi) {
  const ChipFacts& chip = request.chip;
  const std::string& path = request.path;
  if (chip.atmelFlashKind != -1) {
    SpiWriteEnable(path);
    if (!WaitFlashStatusSet(path, kAtmelWriteEnabled)) {
      host.SetStatusText(texts::kAtmelWriteEnableFail);
      return 0;
    }
  }
  const bool detected = chip.Row().wholeFlash == WholeFlashAccess::Detected;
  if ((chip.flashMaker == FlashMaker::StEonMxic || chip.flashMaker == FlashMaker::Mxic) &&
      !detected)
    SpiUnprotect(path);
  if (chip.Row().flashAccessSetup) FlashAccessSetup(path);

  const auto size = static_cast<uint32_t>(bytes.size());
  std::vector<uint8_t> check(size);
  WaitDeviceReady(path);
  if (EraseFlashChip(path)) ShortWait(path);
  if (detected && chip.flashMaker == FlashMaker::Sst) SpiChipErase(path);
  const bool blank = ReadFlashBlocks(request, host, 0, check.data(), static_cast<int32_t>(size)) &&
                     IsErased(check.data(), check.size());
  if (!blank && !EraseUnitsAndCheck(request, host, (size + kEraseUnitSize - 1) / kEraseUnitSize))
    return 0;

  host.SetStatusText(texts::kProgrammingStep);
  for (uint32_t at = 0; at < size; at += kPageSize) {
    const uint32_t length = std::min(kPageSize, size - at);
    const ProgressPart page(host.Progress(), at, length, size);
    if (!WritePageAndVerify(request, host, at, bytes.data() + at, length, overSpi)) return 0;
    host.Progress().Advance(1, 1);
    host.SetStatusText(host.StatusText() + kBlockDot);
  }
  return 1;
}

// Over IEEE 1394: the first block of each 32 KB half erases that half.
int Write1394Part(const ProcedureRequest& request, ProcedureHost& host,
                  std::span<const uint8_t> bytes) {
  host.Settings().TransferBlockSize = kBlockSize1394;
  const auto length = static_cast<int32_t>(bytes.size());
  host.SetStatusText(texts::kProgrammingStep);
  if (!WriteFlashRange1394(host, request.path, 0, bytes.data(), length)) {
    host.SetStatusText(texts::kWriteBinFileFail);
    return 0;
  }
  std::vector<uint8_t> readBack(bytes.size());
  WaitDeviceReady(request.path);
  if (!ReadFlashRange(host, request.path, 0, readBack.data(), length)) {
    host.SetStatusText(texts::kReadCommandFail);
    return 0;
  }
  if (!std::equal(bytes.begin(), bytes.end(), readBack.begin())) {
    host.SetStatusText(texts::kDataCompareFail);
    return 0;
  }
  return 1;
}

int WriteParallelPart(const ProcedureRequest& request, ProcedureHost& host,
                      std::span<const uint8_t> bytes) {
  // Without a known part nothing is sent that could erase or program it.
  const int kind = request.options.flashTypeIndex;
  if (kind < 0 || kind >= kParallelFlashKinds) {
    host.SetStatusText(texts::kChooseFlashType);
    return 0;
  }
  if (bytes.size() != kParallelFlashSize || !SelectParallelFlash(request, host)) return 0;
  return WriteParallelImage(request, host, bytes.data());
}

// Over ATA PASS-THROUGH: the controller erases, writes and reads the range
// itself and answers with a result code.
int WriteAtaPart(const ProcedureRequest& request, ProcedureHost& host,
                 std::span<const uint8_t> bytes) {
  const auto size = static_cast<uint32_t>(bytes.size());
  auto passed = [&host](int code) {
    if (code == kAtaRangeOk) return true;
    host.SetStatusText(FlashOpResultText(code));
    return false;
  };
  host.SetStatusText(texts::kStagedErasing);
  if (!passed(AtaEraseAndVerify(request.path, size))) return 0;
  host.SetStatusText(texts::kStagedProgramming);
  if (!passed(AtaWriteFlashRange(request.path, 0, bytes.data(), size))) return 0;
  host.SetStatusText(texts::kStagedReadBack);
  std::vector<uint8_t> readBack(size);
  if (!passed(AtaReadFlashRange(request.path, 0, readBack.data(), size))) return 0;
  if (!std::equal(bytes.begin(), bytes.end(), readBack.begin())) {
    host.SetStatusText(texts::kStagedCompareFail);
    return 0;
  }
  return 1;
}

// A copy of the firmware area never needs the user's sectors: the sectors
// the host is shown are written back only when they hold zeros, the
// controller's own firmware, or what a write of the area that was cut short
// left over the copy; whatever the run that took the copy was told.
ProcedureRequest KeepingUserData(const ProcedureRequest& request) {
  ProcedureRequest keep = request;
  keep.options.diskData = DiskDataChoice::Keep;
  return keep;
}

int WriteDiskAreaPart(const ProcedureRequest& request, ProcedureHost& host,
                      std::span<const uint8_t> bytes) {
  const auto area = LocateDiskFirmwareArea(request, host);
  if (!area) return 0;
  // Never more than the area, whatever the caller holds.
  if (bytes.size() != area->Bytes()) return 0;
  if (!MayWriteDiskFirmwareArea(KeepingUserData(request), host, *area, bytes.size(), bytes.data()))
    return 0;
  return WriteDiskFirmwareAreaBytes(request.path, host, *area, bytes.data(), bytes.size());
}

int WriteDiskRegionPart(const ProcedureRequest& request, ProcedureHost& host,
                        std::span<const uint8_t> bytes) {
  const auto region = LocateVqs175Region(request, host);
  if (!region) return 0;
  if (bytes.size() != kVqs175RegionSize) return 0;
  if (!MayWriteVqs175Region(KeepingUserData(request), host, *region, kVqs175RegionSize,
                            bytes.data()))
    return 0;
  return WriteVqs175RegionChecked(request.path, host, *region, bytes.data(), kVqs175RegionSize);
}

}  // namespace

int WriteWholePart(const ProcedureRequest& request, WholePart part, ProcedureHost& host,
                   std::span<const uint8_t> bytes) {
  if (bytes.empty() || bytes.size() > kLargestFlashSize) return 0;
  // The operator's transfer size comes back whatever the part needed.
  const int32_t transfer = host.Settings().TransferBlockSize;
  int result = 0;
  switch (part) {
    case WholePart::None:
      break;
    case WholePart::FlashRange:
      result = WriteFlashRangePart(request, host, bytes);
      break;
    case WholePart::FlashAt:
      result = WriteFlashAtPart(request, host, bytes, false);
      break;
    case WholePart::FlashPages:
      result = WriteFlashAtPart(request, host, bytes, true);
      break;
    case WholePart::Flash1394:
      result = Write1394Part(request, host, bytes);
      break;
    case WholePart::Parallel:
      result = WriteParallelPart(request, host, bytes);
      break;
    case WholePart::AtaFlash:
      result = WriteAtaPart(request, host, bytes);
      break;
    case WholePart::DiskArea:
      result = WriteDiskAreaPart(request, host, bytes);
      break;
    case WholePart::DiskRegion:
      result = WriteDiskRegionPart(request, host, bytes);
      break;
  }
  host.Settings().TransferBlockSize = transfer;
  return result;
}

}  // namespace fwtool
