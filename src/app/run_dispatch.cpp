// "Run": the procedure that fits the selected unit's chip, chosen by the
// first matching row of the run table, with the options of the engineering
// face.
#include "Fwupdate.h"
#include "chip_rows.h"
#include "device_session.h"
#include "flash_commands.h"
#include "form_texts.h"
#include "operator.h"
#include "procedure_texts.h"
#include "run_table.h"

namespace fwtool {

RunOutcome TV77xFwTool::Run(const RunRequest& request) {
  if (Busy()) return {};
  SetRunOptions(request);
  BusyScope busy(*this);
  UpdateBtn.SetEnabled(false);
  op_.DebugOutput(texts::kUpdateBtnPress);
  const DeviceRecord* record = SelectedDevice();
  ClearStatus();
  lastRun_ = RunOutcome{};
  // Nothing listed, or nothing selected: there is no device to run on.
  if (record == nullptr) {
    UpdateBtn.SetEnabled(true);
    return lastRun_;
  }
  const ProcedureRequest procedureRequest = ProcedureRequestFor(record->Path);
  const RunDispatchInput input{procedureRequest.chip, procedureRequest.path,
                               procedureRequest.options, op_};
  const size_t rowIndex = SelectRunRow(input);
  const RunDispatchRow& row = RunDispatchRows()[rowIndex];
  lastRun_.row = static_cast<int>(rowIndex);
  lastRun_.procedure = row.procedure;
  switch (row.action) {
    case RunAction::RunProcedure:
      if (const Procedure procedure = ProcedureFor(row.procedure)) {
        // One open for the whole run; a run that may write has the device
        // to itself.
        const DeviceSession session(procedureRequest.path, procedureRequest.options.backupOnly
                                                               ? SessionAccess::Shared
                                                               : SessionAccess::Exclusive);
        lastRun_.result = procedure(procedureRequest, host_);
        lastRun_.ran = true;
      }
      break;
    case RunAction::RefuseLargeFile:
      op_.MessageBox(texts::kFileBiggerThanFlash, kCaptionMessage, MessageIcon::None);
      return lastRun_;  // "Run" stays disabled until a device, file or option change
    case RunAction::Nothing:
      break;
  }
  UpdateBtn.SetEnabled(true);
  return lastRun_;
}

ProcedureRequest TV77xFwTool::ProcedureRequestFor(const std::string& path) const {
  ProcedureRequest request;
  request.path = path;
  ChipFacts& chip = request.chip;
  chip.type = ChipType;
  chip.subRev = ChipSubRev;
  chip.flashMaker = FlashMaker;
  chip.flashSizeKB = FlashSizeKB;
  chip.altFlashProc = AltFlashProc;
  chip.chipRegValue = ChipRegValue;
  chip.amicFlashKind = AmicFlashKind;
  chip.atmelFlashKind = AtmelFlashKind;
  chip.row = &ChipRowFor(ChipType);
  EngineeringOptions& options = request.options;
  options.rdVersion = RdCheckBox.Checked();
  options.eraseOnly = EraseOnlyCheck.Checked();
  options.backupOnly = BackupFWCheckBox.Checked();
  options.includeNvram = NVRAMCheck.Checked();
  options.hddFirmware = VQS175HDDFwChk.Checked();
  options.a1Chip = A1ChipCheck.Checked();
  options.flashTypeIndex = FlashTypeList.ItemIndex();
  options.firmwareFile = FwFilenameEdit.Text();
  options.backupFile = BackupFileEdit.Text();
  return request;
}

}  // namespace fwtool
