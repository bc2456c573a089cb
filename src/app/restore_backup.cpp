// Restore: a backup of the whole flash back into the selected unit.
#include "Fwupdate.h"
#include "flash_restore.h"
#include "form_texts.h"
#include "operation_record.h"

namespace fwtool {

int TV77xFwTool::RestoreBackup(const RestoreRequest& request, RestoreReport* report) {
  const DeviceRecord* record = SelectedDevice();
  if (Busy() || record == nullptr) return 0;
  OperationRecord history(*this, record->Path, texts::kRestoreProcedure);
  if (request.fileName.empty())
    history.SetImage(std::string(), request.backup);
  else
    history.SetFile(request.fileName, request.backup);
  RestoreReport outcome;
  const int result =
      RestoreFlashBackup(host_, record->Path, Identification(), request.backup, &outcome);
  // A backup refused before the first write changed nothing on the unit.
  if (outcome.outcome == RestoreOutcome::Restored || outcome.outcome == RestoreOutcome::NotWritten)
    history.Finish(result, std::string());
  if (report != nullptr) *report = outcome;
  return result;
}

}  // namespace fwtool
