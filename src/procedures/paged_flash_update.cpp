// SPDX-License-Identifier: GPL-2.0-or-later
// The paged procedure: explicit 32 KB erases each checked blank, then the
// file programmed page by page (16 KB) through the serial-flash programming
// sequence, each page read back and compared. The file goes to the flash
// unchanged, its settings area included.
#include <algorithm>
#include <vector>

#include "address_flash_steps.h"
#include "block_transfer.h"
#include "chip_rows.h"
#include "chip_tables.h"
#include "procedure_texts.h"
#include "progress.h"
#include "serial_flash_commands.h"

namespace fwtool {

namespace {

// Programming over the serial-flash sequence (byte by byte on SST parts)
// takes far longer than the erases.
constexpr WeightedStep kPagedSteps[] = {{ProgressStep::Erase, 1}, {ProgressStep::Program, 99}};

}  // namespace

int RunPagedFlashUpdate(const ProcedureRequest& request, ProcedureHost& host) {
  const ChipFacts& chip = request.chip;
  const EngineeringOptions& options = request.options;
  // The file goes to the flash whole, its settings area included, and the
  // box says so for this run and the ones after it.
  host.TickIncludeNvram();
  if (chip.flashMaker == FlashMaker::Mxic) SpiUnprotect(request.path);

  if (options.rdVersion && options.eraseOnly) {
    if (!EraseAllAndVerify(request, host)) return 0;
    AskForPowerCycle(host);
    return 1;
  }
  if (options.rdVersion && options.backupOnly) return BackupFlashImage(request, host, 0);

  std::vector<uint8_t> file;
  if (!LoadFirmwareFile(request, host, 0, 0, file)) return 0;
  const uint32_t pages = static_cast<uint32_t>((file.size() + kPageSize - 1) / kPageSize);
  const uint32_t units = (pages * kPageSize + kEraseUnitSize - 1) / kEraseUnitSize;
  std::vector<uint8_t> image(pages * kPageSize, 0);
  std::copy(file.begin(), file.end(), image.begin());

  ProgressSteps steps(host.Progress(), kPagedSteps);
  host.SetStatusText(texts::kErasingStep);
  if (chip.Row().wholeFlash == WholeFlashAccess::Detected && chip.flashMaker == FlashMaker::Sst)
    SpiChipErase(request.path);
  if (!EraseUnitsAndCheck(request, host, units)) return 0;

  steps.Begin(ProgressStep::Program);
  host.SetStatusText(texts::kProgrammingStep);
  if (!WritePagesAndVerify(request, host, image.data(), pages, true)) return 0;
  host.SetStatusText(texts::kProgrammingSuccess);
  AskForPowerCycle(host);
  return 1;
}

}  // namespace fwtool
