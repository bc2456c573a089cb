// SPDX-License-Identifier: GPL-2.0-or-later
// Restore: a backup of the selected unit's whole part back into it, through
// the commands of the procedure that would erase the unit.
#include "Fwupdate.h"
#include "device_session.h"
#include "flash_restore.h"
#include "form_texts.h"
#include "operation_record.h"
#include "run_table.h"

namespace fwtool {

ProcedureRequest TV77xFwTool::RestoreProcedureRequest(const std::string& path,
                                                      const RestoreRequest& request) const {
  ProcedureRequest procedureRequest = ProcedureRequestFor(path);
  // The unit is reached as for an erase of all of it, which a restore is.
  EngineeringOptions& options = procedureRequest.options;
  options.rdVersion = true;
  options.eraseOnly = true;
  options.backupOnly = false;
  options.hddFirmware = request.hddFirmware;
  options.a1Chip = request.a1Chip;
  options.flashTypeIndex = request.flashType.value_or(-1);
  options.firmwareFile.clear();
  options.backupFile.clear();
  return procedureRequest;
}

WholePart TV77xFwTool::RestorePart(const RestoreRequest& request) {
  const DeviceRecord* record = SelectedDevice();
  if (record == nullptr) return WholePart::None;
  const ProcedureRequest procedureRequest = RestoreProcedureRequest(record->Path, request);
  const RunDispatchInput input{procedureRequest.chip, procedureRequest.path,
                               procedureRequest.options, op_};
  const RunDispatchRow& row = RunDispatchRows()[SelectRunRow(input)];
  return row.action == RunAction::RunProcedure ? WholePartFor(row.procedure) : WholePart::None;
}

int TV77xFwTool::RestoreBackup(const RestoreRequest& request, RestoreReport* report) {
  const DeviceRecord* record = SelectedDevice();
  if (Busy() || record == nullptr) return 0;
  const WholePart part = RestorePart(request);
  const ProcedureRequest procedureRequest = RestoreProcedureRequest(record->Path, request);
  BusyScope busy(*this);
  ClearStatus();
  OperationRecord history(*this, record->Path, texts::kRestoreProcedure);
  if (request.fileName.empty())
    history.SetImage(std::string(), request.backup);
  else
    history.SetFile(request.fileName, request.backup);
  RestoreReport outcome;
  int result = 0;
  {
    // One open for the whole restore, the unit to itself, and asked again
    // before the first write whether it is still the unit that was listed.
    const DeviceSession session(procedureRequest.path, SessionAccess::Exclusive,
                                ListedUnitCheck(procedureRequest.path));
    result = RestoreWholePart(procedureRequest, part, host_, request.backup, &outcome);
    lastRefusal_ = session.Refusal();
  }
  if (!lastRefusal_.empty()) SetNotice(lastRefusal_);
  // A backup refused before the first write changed nothing on the unit.
  if (lastRefusal_.empty() && (outcome.outcome == RestoreOutcome::Restored ||
                               outcome.outcome == RestoreOutcome::NotWritten))
    history.Finish(result, std::string());
  if (report != nullptr) *report = outcome;
  return result;
}

}  // namespace fwtool
