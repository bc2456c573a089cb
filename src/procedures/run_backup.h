// SPDX-License-Identifier: GPL-2.0-or-later
// The copy an engineering run takes before it erases or programs: the whole
// part the procedure works on, read twice, saved to a new file only when
// both reads agree. Without it the procedure does not run.
#pragma once

#include <cstdint>
#include <string>

#include "procedure.h"

namespace fwtool {

// Our own texts: the step, and the refusal when no copy could be saved.
inline constexpr const char* kRunBackupStep = "Backup before writing";
inline constexpr const char* kRunBackupFail = "Backup before writing fail! Nothing written.";

// Whether the procedure behind `tag` erases or programs with these options:
// everything but "Backup Old Firmware Only" does.
bool RunWrites(ProcedureTag tag, const EngineeringOptions& options);
// Whether the run programs the firmware file (neither erase only nor
// backup only).
bool RunProgramsFile(ProcedureTag tag, const EngineeringOptions& options);

struct RunBackupReport {
  bool written = false;
  std::string path;
  uint32_t size = 0;  // bytes saved: the whole part
  std::string error;  // why the file could not be written
};

// Reads the whole part of the request's unit twice (see ReadWholePartTwice)
// and saves it to `backupPath`, a file that must not exist yet. 1 when the
// file holds the part (the host is told where it lies); otherwise 0 with the
// status saying why (the reason a disk area could not be placed, else
// kRunBackupFail).
int SaveRunBackup(const ProcedureRequest& request, WholePart part, ProcedureHost& host,
                  const std::string& backupPath, RunBackupReport* report = nullptr);

}  // namespace fwtool
