// SPDX-License-Identifier: GPL-2.0-or-later
#include "run_backup.h"

#include <vector>

#include "backup_file.h"
#include "procedure_host.h"
#include "procedure_texts.h"
#include "whole_part.h"

namespace fwtool {

namespace {

// The parallel procedure takes its mode boxes whether "RD Version" is
// ticked or not; the others only with it.
bool ModeBoxesNeedRdVersion(ProcedureTag tag) {
  switch (tag) {
    case ProcedureTag::Parallel:
      return false;
    case ProcedureTag::None:
    case ProcedureTag::Basic:
    case ProcedureTag::HeaderHandling:
    case ProcedureTag::SerialFlash:
    case ProcedureTag::Ieee1394:
    case ProcedureTag::DiskHosted:
    case ProcedureTag::Paged:
    case ProcedureTag::Vqs175Disk:
    case ProcedureTag::Staged:
      return true;
  }
  return true;
}

}  // namespace

bool RunWrites(ProcedureTag tag, const EngineeringOptions& options) {
  if (tag == ProcedureTag::None) return false;
  const bool modeBoxes = options.rdVersion || !ModeBoxesNeedRdVersion(tag);
  const bool backupOnly = modeBoxes && options.backupOnly && !options.eraseOnly;
  return !backupOnly;
}

bool RunProgramsFile(ProcedureTag tag, const EngineeringOptions& options) {
  if (tag == ProcedureTag::None) return false;
  const bool modeBoxes = options.rdVersion || !ModeBoxesNeedRdVersion(tag);
  return !(modeBoxes && (options.backupOnly || options.eraseOnly));
}

int SaveRunBackup(const ProcedureRequest& request, WholePart part, ProcedureHost& host,
                  const std::string& backupPath, RunBackupReport* report) {
  RunBackupReport local;
  RunBackupReport& out = report != nullptr ? *report : local;
  out = RunBackupReport{};
  host.SetStatusText(kRunBackupStep);
  host.ProcessMessages();
  std::vector<uint8_t> bytes;
  if (!ReadWholePartTwice(request, part, host, bytes) ||
      !SaveBackupFile(backupPath, bytes.data(), bytes.size(), &out.error)) {
    // A disk area that cannot be placed says why; every other failure says
    // that nothing was written.
    if (host.StatusText().rfind(texts::kDiskAreaNotFound, 0) != 0)
      host.SetStatusText(kRunBackupFail);
    return 0;
  }
  host.BackupSaved(backupPath);
  out.written = true;
  out.path = backupPath;
  out.size = static_cast<uint32_t>(bytes.size());
  return 1;
}

}  // namespace fwtool
