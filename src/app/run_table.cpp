// SPDX-License-Identifier: GPL-2.0-or-later
#include "run_table.h"

#include <array>
#include <string>

#include "chip_rows.h"
#include "chip_tables.h"
#include "file_tests.h"
#include "flash_commands.h"

namespace fwtool {

namespace {

using In = RunDispatchInput;

bool ModeBoxTicked(const In& in) {
  return in.options.eraseOnly || in.options.backupOnly;
}

bool FileTooLargeForFlash(const In& in) {
  return !FirmwareFitsFlash(in.op, in.options.firmwareFile,
                            static_cast<uint32_t>(in.chip.flashSizeKB));
}

bool Is(const In& in, uint8_t type) {
  return in.chip.type == type;
}

// clang-format off
constexpr std::array<RunDispatchRow, 16> kRows = {{
    // 1. no flash part on a type-16 unit: its firmware lives on the disk
    {[](const In& in) { return in.chip.flashMaker == FlashMaker::Unknown && Is(in, 16); },
     RunAction::RunProcedure, ProcedureTag::DiskHosted},
    // 2. type 12 with "VQS175 HDD FW " ticked, or without a flash part
    {[](const In& in) { return Is(in, 12) && (in.options.hddFirmware || in.chip.flashMaker == FlashMaker::Unknown); },
     RunAction::RunProcedure, ProcedureTag::Vqs175Disk},
    // 3. type 10 programming a file larger than its flash
    {[](const In& in) { return Is(in, 10) && !ModeBoxTicked(in) && FileTooLargeForFlash(in); },
     RunAction::RefuseLargeFile, ProcedureTag::None},
    // 4. type 10 with an SST part
    {[](const In& in) { return Is(in, 10) && in.chip.flashMaker == FlashMaker::Sst; },
     RunAction::RunProcedure, ProcedureTag::Paged},
    // 5.
    {[](const In& in) { return Is(in, 6) || Is(in, 10); },
     RunAction::RunProcedure, ProcedureTag::HeaderHandling},
    // 6.
    {[](const In& in) { return Is(in, 8) || Is(in, 9); },
     RunAction::RunProcedure, ProcedureTag::SerialFlash},
    // 7. early type-11 units without the memory flag
    {[](const In& in) {
       return Is(in, 11) && !MemoryFlag505E(in.path) && in.chip.subRev < 5;
     },
     RunAction::RunProcedure, ProcedureTag::HeaderHandling},
    // 8.
    {[](const In& in) { return Is(in, 11) && in.chip.altFlashProc == 1; },
     RunAction::RunProcedure, ProcedureTag::Paged},
    // 9.
    {[](const In& in) { return Is(in, 11) || Is(in, 12); },
     RunAction::RunProcedure, ProcedureTag::SerialFlash},
    // 10. type 7 behind IEEE 1394
    {[](const In& in) { return Is(in, 7) && PathIsOn1394(in.path); },
     RunAction::RunProcedure, ProcedureTag::Ieee1394},
    // 11. the other family members with an SST part
    {[](const In& in) { return in.chip.Row().flashFamily && in.chip.altFlashProc == 1; },
     RunAction::RunProcedure, ProcedureTag::Paged},
    // 12. the other family members (1, 3, 4, 7, 14, 16)
    {[](const In& in) { return in.chip.Row().flashFamily; },
     RunAction::RunProcedure, ProcedureTag::Basic},
    // 13. parallel flash
    {[](const In& in) { return Is(in, 21) || Is(in, 2); },
     RunAction::RunProcedure, ProcedureTag::Parallel},
    // 14.
    {[](const In& in) { return Is(in, 13); },
     RunAction::RunProcedure, ProcedureTag::Staged},
    // 15. disk-hosted firmware where the controller runs it
    {[](const In& in) { return Is(in, 15) || (Is(in, 5) && in.chip.chipRegValue >= 208); },
     RunAction::RunProcedure, ProcedureTag::DiskHosted},
    // 16. anything else, chip type 0 and type 5 below 208 included
    {[](const In&) { return true; },
     RunAction::Nothing, ProcedureTag::None},
}};
// clang-format on

}  // namespace

std::span<const RunDispatchRow> RunDispatchRows() {
  return kRows;
}

size_t SelectRunRow(const RunDispatchInput& in) {
  for (size_t i = 0; i < kRows.size(); ++i)
    if (kRows[i].when(in)) return i;
  return kRows.size() - 1;
}

}  // namespace fwtool
