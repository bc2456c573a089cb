// SPDX-License-Identifier: GPL-2.0-or-later
// "Run": the procedure that fits the selected unit's chip, chosen by the
// first matching row of the run table, with the options of the engineering
// face.
#include "Fwupdate.h"
#include "chip_rows.h"
#include "device_session.h"
#include "file_tests.h"
#include "flash_commands.h"
#include "form_texts.h"
#include "image_file.h"
#include "operation_record.h"
#include "operator.h"
#include "procedure_texts.h"
#include "progress.h"
#include "run_backup.h"
#include "run_table.h"

namespace fwtool {

namespace {

// A run that writes reads the whole part twice before the procedure erases,
// programs and reads it back.
constexpr WeightedStep kRunWithCopySteps[] = {{ProgressStep::Backup, 15},
                                              {ProgressStep::Program, 85}};

}  // namespace

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
  ProcedureRequest procedureRequest = ProcedureRequestFor(record->Path);
  if (request.overwriteDiskData)
    procedureRequest.options.diskData =
        *request.overwriteDiskData ? DiskDataChoice::Overwrite : DiskDataChoice::Keep;
  const RunDispatchInput input{procedureRequest.chip, procedureRequest.path,
                               procedureRequest.options, op_};
  const size_t rowIndex = SelectRunRow(input);
  const RunDispatchRow& row = RunDispatchRows()[rowIndex];
  lastRun_.row = static_cast<int>(rowIndex);
  lastRun_.procedure = row.procedure;
  switch (row.action) {
    case RunAction::RunProcedure:
      if (RunProgramsFile(row.procedure, procedureRequest.options) &&
          !OtherChipFileAccepted(procedureRequest, request.otherChipFile)) {
        lastRun_.otherChipFileRefused = true;
        SetStatus(texts::kOtherChipFileRefused);
        break;
      }
      if (const Procedure procedure = ProcedureFor(row.procedure)) {
        // One open for the whole run; a run that may write has the device
        // to itself.
        const bool writes = RunWrites(row.procedure, procedureRequest.options);
        const DeviceSession session(procedureRequest.path,
                                    writes ? SessionAccess::Exclusive : SessionAccess::Shared,
                                    ListedUnitCheck(procedureRequest.path));
        if (!writes) {
          lastRun_.result = procedure(procedureRequest, host_);
          lastRun_.ran = true;
          break;
        }
        // A run that erases or programs goes into the history, also when
        // its copy could not be saved and nothing was written.
        OperationRecord history(*this, procedureRequest.path, ProcedureName(row.procedure));
        DescribeRun(procedureRequest, history);
        // Nothing is erased or programmed before what it may destroy is in a
        // file. The copy is the run's first step; the procedure's own steps
        // share out the rest.
        ProgressSteps steps(host_.Progress(), kRunWithCopySteps);
        if (!BackUpBeforeRun(procedureRequest, row.procedure)) {
          history.Finish(0, std::string());
          break;
        }
        steps.Next();
        // The procedure counts its blocks on the status line from empty, as
        // it does without a copy in front of it.
        ClearStatus();
        lastRun_.result = procedure(procedureRequest, host_);
        lastRun_.ran = true;
        if (lastRun_.result == 1) steps.Finish();
        TellRunBackup(procedureRequest, row.procedure);
        lastRefusal_ = session.Refusal();
        if (!lastRefusal_.empty()) {
          // Another unit answers on the path: nothing was written to it,
          // and the listed unit was not touched.
          SetNotice(lastRefusal_);
          break;
        }
        history.Finish(lastRun_.result, lastRun_.backupFile);
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

bool TV77xFwTool::OtherChipFileAccepted(const ProcedureRequest& request,
                                        std::optional<bool> operatorWord) {
  // A file that cannot be read is the procedure's to report.
  const FileVerdict verdict = MatchFirmwareFile(request.options.firmwareFile, Identification());
  if (!verdict.opened || verdict.passes) return true;
  if (operatorWord) return *operatorWord;
  return op_.QuestionBox(texts::kOtherChipFileQuestion + request.options.firmwareFile +
                             texts::kOtherChipFileQuestionMiddle + ChipLabelEdit.Text() +
                             texts::kOtherChipFileQuestionEnd,
                         kCaptionMessage);
}

void TV77xFwTool::DescribeRun(const ProcedureRequest& request, OperationRecord& record) const {
  HistoryRecord& entry = record.Record();
  // Only the units with a parallel flash are offered the choice of its part.
  const auto& items = FlashTypeList.Items();
  const int item = request.options.flashTypeIndex;
  const std::string flashType =
      FlashTypeList.Visible() && item >= 0 && static_cast<size_t>(item) < items.size()
          ? items[static_cast<size_t>(item)]
          : std::string();
  entry.options = HistoryOptions(request.options, Settings, flashType);
  if (request.options.eraseOnly || request.options.firmwareFile.empty()) return;
  std::vector<uint8_t> bytes;
  auto file = ImageFile::Open(request.options.firmwareFile);
  if (file && file->ReadAll(bytes))
    record.SetFile(request.options.firmwareFile, bytes);
  else  // the procedure says why it cannot read it; the record names it all the same
    entry.file = HistoryFile{request.options.firmwareFile, std::string()};
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
