// SPDX-License-Identifier: GPL-2.0-or-later
// The serial flash procedure of chip types 8, 9, 11 and 12: erase only,
// backup only, or program from a file, as the engineering face asks.
#include "procedure.h"
#include "serial_flash_steps.h"

namespace fwtool {

int RunFlashUpdate(const ProcedureRequest& request, ProcedureHost& host) {
  // The procedure moves the flash in commands of 8 KB whatever "Flash PgSz"
  // holds; the setting stays so afterwards.
  host.Settings().TransferBlockSize = kSerialFlashBlockSize;
  const EngineeringOptions& options = request.options;
  if (options.rdVersion && options.eraseOnly) {
    if (!EraseFlashOnly(request, host)) return 0;
    AskForRestart(request, host);
    return 1;
  }
  if (options.rdVersion && options.backupOnly)
    return BackupFlashToFile(request, host, options.includeNvram ? 0 : kNvramSize);
  return ProgramFlashFromFile(request, host) != 0 ? 1 : 0;
}

}  // namespace fwtool
