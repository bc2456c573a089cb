// SPDX-License-Identifier: GPL-2.0-or-later
// The copy of the unit's whole part that an engineering run takes before it
// erases or programs, and the notice that names it.
#include "Fwupdate.h"
#include "backup_file.h"
#include "form_texts.h"
#include "parallel_flash_commands.h"
#include "run_backup.h"

namespace fwtool {

namespace {

// What `fwtool restore` needs besides the device and the file to reach the
// same part again.
std::string PartOptionsFor(const ProcedureRequest& request, WholePart part) {
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

std::string RestoreOptionsFor(const ProcedureRequest& request, WholePart part) {
  std::string options = PartOptionsFor(request, part);
  // A type identification cannot tell must be said again.
  if (request.chip.row != nullptr && request.chip.row->identifiedAs) {
    const std::string chipType = "--chip-type " + std::to_string(request.chip.type);
    options = options.empty() ? chipType : chipType + " " + options;
  }
  return options;
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
  SetNotice(texts::kRunBackupSavedNotice + report.path);
  return true;
}

void TV77xFwTool::TellRunBackup(const ProcedureRequest& request, ProcedureTag tag) {
  if (lastRun_.backupFile.empty() || lastRun_.result == 1) return;
  // A run refused before it wrote leaves the unit as the copy holds it.
  if (lastRun_.nothingWritten) {
    SetNotice(texts::kRunBackupSavedNotice + lastRun_.backupFile + texts::kNothingWrittenNotice);
    return;
  }
  // After a failure the operator needs the way back as much as the file.
  SetNotice(texts::kRunBackupSavedNotice + lastRun_.backupFile + texts::kRestoreHintNotice +
            RestoreCommandLine(request.path, lastRun_.backupFile,
                               RestoreOptionsFor(request, WholePartFor(tag))));
}

}  // namespace fwtool
