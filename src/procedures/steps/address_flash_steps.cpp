// SPDX-License-Identifier: GPL-2.0-or-later
// The erase-only, backup and page steps of the address-based procedures.
#include "address_flash_steps.h"

#include <algorithm>
#include <string>

#include "ata_commands.h"
#include "backup_file.h"
#include "block_transfer.h"
#include "chip_rows.h"
#include "chip_tables.h"
#include "clock.h"
#include "firmware.h"
#include "flash_commands.h"
#include "operator.h"
#include "procedure_texts.h"
#include "progress.h"
#include "serial_flash_commands.h"

namespace fwtool {

namespace {

// A chip or sector erase takes far longer than reading the flash back.
constexpr WeightedStep kEraseAndCheckSteps[] = {{ProgressStep::Erase, 19},
                                                {ProgressStep::Verify, 1}};

}  // namespace

int ShortWait(std::string_view path, uint32_t ms) {
  SleepMs(ms);
  return WaitDeviceReady(path);
}

bool IsErased(const uint8_t* data, size_t length) {
  return std::all_of(data, data + length, [](uint8_t b) { return b == 0xFF; });
}

int32_t WholeFlashSize(const ProcedureRequest& request, const FlashSettings& settings) {
  switch (request.chip.Row().wholeFlash) {
    case WholeFlashAccess::Selected:
      return std::max(settings.SelectedFlashSize, 0);
    case WholeFlashAccess::Detected:
    case WholeFlashAccess::Ata:
      return std::max(request.chip.flashSizeKB, 0) * 1024;
  }
  return 0;
}

int LoadFirmwareFile(const ProcedureRequest& request, ProcedureHost& host, size_t skip,
                     int64_t extraFlashBytes, std::vector<uint8_t>& file) {
  auto opened = ImageFile::Open(request.options.firmwareFile);
  if (!opened || !opened->ReadAll(file) || file.size() <= skip) {
    host.SetStatusText(texts::kOpenFileError);
    return 0;
  }
  const int64_t flashBytes = static_cast<int64_t>(request.chip.flashSizeKB) * 1024;
  if (flashBytes > 0 && static_cast<int64_t>(file.size() - skip) + extraFlashBytes > flashBytes) {
    host.SetStatusText(texts::kFileLargerThanFlash);
    return 0;
  }
  return 1;
}

int EraseAllAndVerify(const ProcedureRequest& request, ProcedureHost& host) {
  host.SetStatusText(texts::kEraseOnlyStep);
  host.ProcessMessages();
  // Erase only covers the size the operator chose in "Firmware size" on
  // every chip, whatever the information check detected. Without one there
  // is nothing to check: nothing is erased.
  const int32_t length = host.Settings().SelectedFlashSize;
  if (length <= 0) {
    host.SetStatusText(texts::kAllocateReadBufferError);
    return 0;
  }
  std::vector<uint8_t> readBack(static_cast<size_t>(length));
  const ChipFacts& chip = request.chip;
  const bool detected = chip.Row().wholeFlash == WholeFlashAccess::Detected;
  ProgressSteps steps(host.Progress(), kEraseAndCheckSteps);
  WaitDeviceReady(request.path);
  const bool chipErased = (chip.atmelFlashKind != -1 && EraseFlashChip(request.path)) ||
                          (detected && EraseFlashChip(request.path));
  if (!chipErased && !EraseFlashBlocks(request, host, length)) {
    host.SetStatusText(texts::kEraseCommandFail);
    return 0;
  }
  if (!ShortWait(request.path)) host.SetStatusText(texts::kNotReadyAfterEraseCmd);
  if (detected && chip.flashMaker == FlashMaker::Sst) SpiChipErase(request.path);

  // Only a flash read in full and blank counts as erased.
  steps.Begin(ProgressStep::Verify);
  if (!ReadFlashAt(request.path, 0, readBack.data(), static_cast<uint32_t>(length))) {
    host.SetStatusText(texts::kReadBackErasedError);
    return 0;
  }
  if (!IsErased(readBack.data(), readBack.size())) {
    host.SetStatusText(texts::kDataNotBlank);
    return 0;
  }
  steps.Finish();
  host.SetStatusText(texts::kEraseSuccess);
  return 1;
}

int BackupFlashImage(const ProcedureRequest& request, ProcedureHost& host, int32_t leaveOut) {
  const BackupTarget file =
      EngineeringBackupTarget(request.options.backupFile, texts::kDefaultOldFlashFile);
  if (!file.named) host.MessageBox(texts::kDefaultBackupBox, kCaptionMessage);
  const int32_t length = WholeFlashSize(request, host.Settings());
  const ProgressSteps steps(host.Progress(), {{ProgressStep::Backup, 1}});
  host.SetStatusText(texts::kBackupStep);
  host.ProcessMessages();
  // A flash of unknown size, or one no larger than what is left out, gives
  // nothing to back up: that is no backup.
  if (length <= 0 || leaveOut < 0 || leaveOut >= length) {
    host.SetStatusText(texts::kAllocateReadBufferError);
    return 0;
  }
  std::vector<uint8_t> flash(static_cast<size_t>(length));
  int read = 0;
  switch (request.chip.Row().wholeFlash) {
    case WholeFlashAccess::Selected:
      read = ReadFlashAt(request.path, 0, flash.data(), static_cast<uint32_t>(length));
      break;
    case WholeFlashAccess::Detected:
      read = ReadFlashBlocks(request, host, 0, flash.data(), length);
      break;
    case WholeFlashAccess::Ata:
      read = AtaReadFlashRange(request.path, 0, flash.data(), static_cast<uint32_t>(length)) ==
             kAtaRangeOk;
      break;
  }
  if (!read) {
    host.SetStatusText(texts::kReadBackToBackupError);
    return 0;
  }
  host.Progress().Advance(1, 1);
  if (!SaveEngineeringBackup(host, file, flash.data() + leaveOut,
                             static_cast<size_t>(length - leaveOut)))
    return 0;
  host.SetStatusText(texts::kBackupSuccess);
  return 1;
}

int EraseFlashBlocks(const ProcedureRequest& request, ProcedureHost& host, int32_t length) {
  const int32_t block = host.Settings().TransferBlockSize;
  if (length <= 0 || block <= 0) return 0;
  if (!WaitDeviceReady(request.path)) host.DebugOutput(texts::kDeviceInitialNotReady);
  host.SetStatusText(texts::kEraseByWritingStep);
  host.ProcessMessages();
  for (int32_t address = 0; address < length; address += block) {
    WaitDeviceReady(request.path);
    if (!EraseFlashSector(request.path, static_cast<uint32_t>(address))) return 0;
    if (!WaitDeviceReady(request.path)) host.DebugOutput(texts::kNotReadyAfterErase);
    host.Progress().Advance(static_cast<uint64_t>(address) + static_cast<uint64_t>(block),
                            static_cast<uint64_t>(length));
    host.SetStatusText(host.StatusText() + kBlockDot);
    host.ProcessMessages();
  }
  return 1;
}

int ReadFlashBlocks(const ProcedureRequest& request, ProcedureHost& host, uint32_t start,
                    uint8_t* destination, int32_t length) {
  const int32_t block = host.Settings().TransferBlockSize;
  if (length <= 0 || block <= 0) return 0;
  if (!WaitDeviceReady(request.path)) host.DebugOutput(texts::kDeviceInitialNotReady);
  host.SetStatusText(kReadFlashStep);
  host.ProcessMessages();
  // The block loop of the erase, with a read in place of the erase: the
  // same waits before and after each block, and the same debug texts.
  for (int32_t offset = 0; offset < length; offset += block) {
    WaitDeviceReady(request.path);
    const auto count = static_cast<uint32_t>(std::min(block, length - offset));
    if (!ReadFlashAt(request.path, start + static_cast<uint32_t>(offset), destination + offset,
                     count))
      return 0;
    if (!WaitDeviceReady(request.path)) host.DebugOutput(texts::kNotReadyAfterErase);
    host.Progress().Advance(static_cast<uint64_t>(offset) + count, static_cast<uint64_t>(length));
    host.SetStatusText(host.StatusText() + kBlockDot);
    host.ProcessMessages();
  }
  return 1;
}

int WritePageAndVerify(const ProcedureRequest& request, ProcedureHost& host, uint32_t address,
                       const uint8_t* data, uint32_t length, bool overSpi) {
  WaitDeviceReady(request.path);
  // Programming byte by byte over the serial flash takes long: the step
  // moves as the part takes the bytes.
  ProcedureProgress& progress = host.Progress();
  const int written =
      overSpi
          ? SpiProgramFlash(request.path, address, data, length, request.chip.flashMaker,
                            request.chip.altFlashProc != 0,
                            [&progress, length](uint32_t done) { progress.Advance(done, length); })
          : WriteFlashAt(request.path, address, data, length);
  if (!written) {
    host.SetStatusText(texts::kWriteCommandFail);
    return 0;
  }
  host.ProcessMessages();
  std::vector<uint8_t> readBack(length);
  WaitDeviceReady(request.path);
  if (!ReadFlashAt(request.path, address, readBack.data(), length)) {
    host.SetStatusText(texts::kWriteCommandFail);
    return 0;
  }
  if (!std::equal(readBack.begin(), readBack.end(), data)) {
    host.SetStatusText(texts::kDataCompareFail);
    return 0;
  }
  return 1;
}

int EraseUnitsAndCheck(const ProcedureRequest& request, ProcedureHost& host, uint32_t units) {
  std::vector<uint8_t> page(kPageSize);
  for (uint32_t unit = 0; unit < units; ++unit) {
    const uint32_t address = unit * kEraseUnitSize;
    WaitDeviceReady(request.path);
    if (!EraseFlashSector(request.path, address)) {
      host.SetStatusText(texts::kEraseCommandFail);
      return 0;
    }
    host.SetStatusText(host.StatusText() + kBlockDot);
    for (uint32_t at = address; at < address + kEraseUnitSize; at += kPageSize) {
      WaitDeviceReady(request.path);
      if (!ReadFlashAt(request.path, at, page.data(), kPageSize)) {
        host.SetStatusText(texts::kReadBackAfterEraseFail);
        return 0;
      }
      if (!IsErased(page.data(), page.size())) {
        host.SetStatusText(texts::kDataNotBlank);
        return 0;
      }
    }
    host.Progress().Advance(unit + 1, units);
  }
  return 1;
}

int WritePagesAndVerify(const ProcedureRequest& request, ProcedureHost& host, const uint8_t* image,
                        uint32_t pages, bool overSpi) {
  ProcedureProgress& progress = host.Progress();
  const uint64_t total = static_cast<uint64_t>(pages) * kPageSize;
  for (uint32_t page = 0; page < pages; ++page) {
    const uint32_t address = page * kPageSize;
    {
      const ProgressPart piece(progress, address, kPageSize, total);
      if (!WritePageAndVerify(request, host, address, image + address, kPageSize, overSpi))
        return 0;
    }
    progress.Advance(address + kPageSize, total);
    host.SetStatusText(host.StatusText() + kBlockDot);
  }
  return 1;
}

void AskForPowerCycle(ProcedureHost& host) {
  host.MessageBox(texts::kPowerCycleBox, kCaptionMessage);
}

}  // namespace fwtool
