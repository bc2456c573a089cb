// Restore: a backup of the whole flash back into the selected unit.
#include "Fwupdate.h"
#include "flash_restore.h"

namespace fwtool {

int TV77xFwTool::RestoreBackup(const RestoreRequest& request, RestoreReport* report) {
  const DeviceRecord* record = SelectedDevice();
  if (Busy() || record == nullptr) return 0;
  // "Run" and "YES" wait, a refresh is held and the window does not close
  // while the flash is written.
  BusyScope busy(*this);
  return RestoreFlashBackup(host_, record->Path, Identification(), request.backup, report);
}

}  // namespace fwtool
