// SPDX-License-Identifier: GPL-2.0-or-later
// The procedure of the controllers whose flash starts with the unit's own
// 4 KB header area (its settings): the area is kept across an update unless
// the operator includes the file's own; the flash is erased in 32 KB units
// and programmed in 16 KB pages, each checked on its own.
#include <algorithm>
#include <string>
#include <vector>

#include "address_flash_steps.h"
#include "block_transfer.h"
#include "chip_rows.h"
#include "chip_tables.h"
#include "file_tests.h"
#include "flash_commands.h"
#include "procedure_texts.h"
#include "progress.h"
#include "serial_flash_commands.h"
#include "settings_read.h"

namespace fwtool {

namespace {

constexpr uint32_t kHeaderArea = 4096;
// The new firmware's identification inside the header area.
constexpr size_t kIdentificationAt = 128;
constexpr size_t kIdentificationLength = 80;
// The unit's area read first; the erases (each unit read back blank) take
// longer than the pages (each read back).
constexpr WeightedStep kHeaderProgramSteps[] = {
    {ProgressStep::Prepare, 1}, {ProgressStep::Erase, 75}, {ProgressStep::Program, 24}};
constexpr WeightedStep kHeaderEraseSteps[] = {
    {ProgressStep::Prepare, 1}, {ProgressStep::Erase, 95}, {ProgressStep::Settings, 4}};
constexpr WeightedStep kHeaderBackupSteps[] = {{ProgressStep::Prepare, 5},
                                               {ProgressStep::Backup, 95}};

uint32_t RoundUp(uint32_t value, uint32_t unit) {
  return (value + unit - 1) / unit * unit;
}

// Writes the saved area back at 0 and checks it; 1 when the flash holds it.
int WriteAreaBack(const ProcedureRequest& request, const std::vector<uint8_t>& saved) {
  WaitDeviceReady(request.path);
  if (!WriteFlashAt(request.path, 0, saved.data(), kHeaderArea)) return 0;
  std::vector<uint8_t> check(kHeaderArea);
  WaitDeviceReady(request.path);
  return ReadFlashAt(request.path, 0, check.data(), kHeaderArea) && check == saved;
}

// Erase, then pages. The flash receives `image` (the kept area in front of
// the file when there is one); the text of the failure is left in the
// status line.
int EraseAndProgram(const ProcedureRequest& request, ProcedureHost& host,
                    const std::vector<uint8_t>& image, uint32_t filePages, bool finalPiece,
                    uint32_t units, ProgressSteps& steps) {
  steps.Begin(ProgressStep::Erase);
  host.SetStatusText(texts::kErasingStep);
  if (!EraseUnitsAndCheck(request, host, units)) return 0;
  steps.Begin(ProgressStep::Program);
  host.SetStatusText(texts::kProgrammingStep);
  if (!WritePagesAndVerify(request, host, image.data(), filePages, false)) return 0;
  const uint32_t address = filePages * kPageSize;
  // The last 4 KB pushed out of the last page by the kept area.
  if (finalPiece &&
      !WritePageAndVerify(request, host, address, image.data() + address, kHeaderArea, false))
    return 0;
  return 1;
}

}  // namespace

int RunHeaderFlashUpdate(const ProcedureRequest& request, ProcedureHost& host) {
  const ChipFacts& chip = request.chip;
  const ChipRow& row = chip.Row();
  const EngineeringOptions& options = request.options;
  const bool programming = !(options.rdVersion && (options.eraseOnly || options.backupOnly));
  const bool fileHasArea =
      row.headerAreaAlways || FileHasHeaderArea(options.firmwareFile, chip.type);
  host.SetImageHasHeaderArea(fileHasArea);
  const bool keep = !(fileHasArea && options.includeNvram);

  // The file is looked at before the unit is: one that cannot be programmed
  // is refused before anything is erased.
  std::vector<uint8_t> file;
  const size_t skip = fileHasArea && !options.includeNvram ? kHeaderArea : 0;
  if (programming && !LoadFirmwareFile(request, host, skip, keep ? kHeaderArea : 0, file)) return 0;

  const bool eraseOnly = options.rdVersion && options.eraseOnly;
  const bool backupOnly = options.rdVersion && options.backupOnly && !eraseOnly;
  using Plan = std::span<const WeightedStep>;
  ProgressSteps steps(host.Progress(), eraseOnly    ? Plan(kHeaderEraseSteps)
                                       : backupOnly ? Plan(kHeaderBackupSteps)
                                                    : Plan(kHeaderProgramSteps));
  std::vector<uint8_t> saved(kHeaderArea, 0);
  if (keep) {
    WaitDeviceReady(request.path);
    const auto read = [&](uint8_t* data) {
      return ReadFlashAt(request.path, 0, data, kHeaderArea);
    };
    if (!ReadSettingsTwice(saved.data(), kHeaderArea, read)) {
      host.SetStatusText(texts::kBackupNvramFail);
      return 0;
    }
  }
  if (chip.atmelFlashKind != -1) {
    SpiWriteEnable(request.path);
    if (!WaitFlashStatusSet(request.path, 2)) {
      host.SetStatusText(texts::kAtmelWriteEnableFail);
      return 0;
    }
  }
  if ((chip.flashMaker == FlashMaker::StEonMxic || chip.flashMaker == FlashMaker::Mxic) &&
      row.wholeFlash != WholeFlashAccess::Detected)
    SpiUnprotect(request.path);

  if (eraseOnly) {
    if (row.flashAccessSetup) FlashAccessSetup(request.path);
    steps.Begin(ProgressStep::Erase);
    int result = EraseAllAndVerify(request, host);
    // The area goes back also after a failed erase; the erase still failed.
    steps.Begin(ProgressStep::Settings);
    if (!options.includeNvram && !WriteAreaBack(request, saved)) {
      host.SetStatusText(texts::kWriteNvramBackFail);
      result = 0;
    }
    if (result) {
      steps.Finish();
      AskForPowerCycle(host);
    }
    return result;
  }
  if (backupOnly) {
    steps.Begin(ProgressStep::Backup);
    return BackupFlashImage(request, host, options.includeNvram ? 0 : kHeaderArea);
  }

  // The flash image: the kept area, then the file (from behind its own area
  // when it brings one); with the new firmware's identification taken into
  // the kept area where the controller reads it there.
  if (keep && skip > 0 && row.signature == SignatureKind::Block80)
    std::copy_n(file.begin() + kIdentificationAt, kIdentificationLength,
                saved.begin() + kIdentificationAt);
  const auto fileLength = static_cast<uint32_t>(std::max<size_t>(file.size(), kPageSize));
  const uint32_t total = RoundUp(fileHasArea ? fileLength : fileLength + kHeaderArea, kPageSize);
  const uint32_t units = (total + kEraseUnitSize - 1) / kEraseUnitSize;
  const uint32_t filePages =
      RoundUp(static_cast<uint32_t>(file.size() - skip), kPageSize) / kPageSize;
  const bool finalPiece = keep && total != filePages * kPageSize;
  std::vector<uint8_t> image(filePages * kPageSize + kHeaderArea, 0);
  size_t at = 0;
  if (keep) at = std::copy(saved.begin(), saved.end(), image.begin()) - image.begin();
  std::copy(file.begin() + static_cast<std::ptrdiff_t>(skip), file.end(),
            image.begin() + static_cast<std::ptrdiff_t>(at));

  if (row.flashAccessSetup) FlashAccessSetup(request.path);
  if (!EraseAndProgram(request, host, image, filePages, finalPiece, units, steps)) {
    // The unit's area existed only in the flash just erased: it goes back,
    // as far as the unit lets it.
    if (keep) WriteAreaBack(request, saved);
    return 0;
  }
  steps.Finish();
  host.SetStatusText(texts::kProgrammingSuccess);
  AskForPowerCycle(host);
  return 1;
}

}  // namespace fwtool
