// Restore: a backup of the whole flash back into the selected unit.
#include "Fwupdate.h"
#include "device_session.h"
#include "flash_restore.h"

namespace fwtool {

int TV77xFwTool::RestoreBackup(const RestoreRequest& request, RestoreReport* report) {
  const DeviceRecord* record = SelectedDevice();
  if (Busy() || record == nullptr) return 0;
  // One open for the whole restore, the unit to itself, and asked again
  // before the first write whether it is still the unit that was listed.
  const DeviceSession session(record->Path, SessionAccess::Exclusive,
                              ListedUnitCheck(record->Path));
  const int result =
      RestoreFlashBackup(host_, record->Path, Identification(), request.backup, report);
  lastRefusal_ = session.Refusal();
  if (!lastRefusal_.empty()) SetNotice(lastRefusal_);
  return result;
}

}  // namespace fwtool
