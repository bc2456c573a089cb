// Restore: a backup of the whole flash back into the selected unit.
#include "Fwupdate.h"
#include "flash_restore.h"

namespace fwtool {

int TV77xFwTool::RestoreBackup(const RestoreRequest& request, RestoreReport* report) {
  const DeviceRecord* record = SelectedDevice();
  if (Busy() || record == nullptr) return 0;
  return RestoreFlashBackup(host_, record->Path, Identification(), request.backup, report);
}

}  // namespace fwtool
