// Copies of a unit's whole part: the one an engineering run takes before it
// erases or programs (and the notice that names it), and putting such a
// copy back.
#include "Fwupdate.h"
#include "backup_file.h"
#include "device_session.h"
#include "form_texts.h"
#include "parallel_flash_commands.h"
#include "run_backup.h"
#include "run_table.h"

namespace fwtool {

namespace {

// What `fwtool restore` needs besides the device and the file to reach the
// same part again.
std::string RestoreOptionsFor(const ProcedureRequest& request, WholePart part) {
  switch (part) {
    case WholePart::Parallel: {
      const int kind = request.options.flashTypeIndex;
      if (kind < 0 || kind >= kParallelFlashKinds) return {};
      std::string options = std::string("--flash-type \"") + kParallelFlashNames[kind] + "\"";
      if (request.options.a1Chip) options += " --a1-chip";
      return options;
    }
    case WholePart::DiskRegion:
      return "--hdd-fw";
    case WholePart::None:
    case WholePart::FlashRange:
    case WholePart::FlashAt:
    case WholePart::FlashPages:
    case WholePart::Flash1394:
    case WholePart::AtaFlash:
    case WholePart::DiskArea:
      return {};
  }
  return {};
}

}  // namespace

bool TV77xFwTool::BackUpBeforeRun(const ProcedureRequest& request, ProcedureTag tag) {
  const std::string target =
      backupTarget_.empty() ? DefaultBackupPath(request.path) : backupTarget_;
  RunBackupReport report;
  if (!SaveRunBackup(request, WholePartFor(tag), host_, target, &report)) {
    SetNotice(texts::kRunBackupMissingNotice);
    return false;
  }
  lastRun_.backupPath = report.path;
  SetNotice(texts::kRunBackupSavedNotice + report.path);
  return true;
}

void TV77xFwTool::TellRunBackup(const ProcedureRequest& request, ProcedureTag tag) {
  if (lastRun_.backupPath.empty() || lastRun_.result == 1) return;
  // After a failure the operator needs the way back as much as the file.
  SetNotice(texts::kRunBackupSavedNotice + lastRun_.backupPath + texts::kRestoreHintNotice +
            RestoreCommandLine(request.path, lastRun_.backupPath,
                               RestoreOptionsFor(request, WholePartFor(tag))));
}

ProcedureRequest TV77xFwTool::RestoreRequest(const std::string& path,
                                             const RestoreChoices& choices) const {
  ProcedureRequest request = RunRequest(path);
  // The unit is reached as for an erase of all of it, which a restore is.
  EngineeringOptions& options = request.options;
  options.rdVersion = true;
  options.eraseOnly = true;
  options.backupOnly = false;
  options.hddFirmware = choices.hddFirmware;
  options.a1Chip = choices.a1Chip;
  options.flashTypeIndex = choices.flashTypeIndex;
  options.firmwareFile.clear();
  options.backupFile.clear();
  return request;
}

WholePart TV77xFwTool::RestorePart(const ProcedureRequest& request) {
  const RunDispatchInput input{request.chip, request.path, request.options, op_};
  const RunDispatchRow& row = RunDispatchRows()[SelectRunRow(input)];
  return row.action == RunAction::RunProcedure ? WholePartFor(row.procedure) : WholePart::None;
}

int TV77xFwTool::RestoreBackup(const ProcedureRequest& request, WholePart part,
                               std::span<const uint8_t> backup, RestoreReport* report) {
  if (Busy()) return 0;
  BusyScope busy(*this);
  ClearStatus();
  const DeviceSession session(request.path, SessionAccess::Exclusive);
  return RestoreWholePart(request, part, host_, backup, report);
}

}  // namespace fwtool
