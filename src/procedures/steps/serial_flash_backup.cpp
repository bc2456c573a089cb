// SPDX-License-Identifier: GPL-2.0-or-later
// Backing the flash up to a file.
#include <algorithm>
#include <string>

#include "backup_file.h"
#include "block_transfer.h"
#include "flash_commands.h"
#include "operator.h"
#include "procedure_texts.h"
#include "progress.h"
#include "serial_flash_commands.h"
#include "serial_flash_steps.h"
#include "transport.h"

namespace fwtool {

int BackupFlashToFile(const ProcedureRequest& request, ProcedureHost& host, int32_t excludeLength) {
  const int32_t flashSize = SerialFlashSize(request, host.Settings());
  const BackupTarget file =
      EngineeringBackupTarget(request.options.backupFile, texts::kDefaultBackupFile);
  if (!file.named) host.MessageBox(texts::kDefaultBackupBox, kCaptionMessage);
  const ProgressSteps steps(host.Progress(), {{ProgressStep::Backup, 1}});
  host.SetStatusText(texts::kBackupStep);
  host.ProcessMessages();

  AlignedBuffer flash(flashSize > 0 ? static_cast<size_t>(flashSize) : 0);
  if (!flash || flashSize <= 0) {
    host.SetStatusText(texts::kAllocateReadBufferError);
    return 0;
  }
  // As before an erase or a write: the flash reads right only after it.
  if (request.chip.row != nullptr && request.chip.Row().flashAccessSetup)
    FlashAccessSetup(request.path);
  if (!ReadFlashRange(host, request.path, 0, flash.data(), flashSize)) {
    host.SetStatusText(texts::kReadBackToBackupError);
    return 0;
  }

  // Without the settings area: on dual-bank units only the firmware of the
  // first bank, on the others everything after the area.
  const uint8_t* from = flash.data();
  size_t length = static_cast<size_t>(flashSize);
  if (excludeLength > 0) {
    const SerialFlashLayout layout = SerialFlashLayoutOf(request.chip.Row());
    if (layout.banked) {
      length = std::min<size_t>(length, layout.nvramAddress);
    } else {
      const size_t cut = std::min<size_t>(length, static_cast<size_t>(excludeLength));
      from += cut;
      length -= cut;
    }
  }

  if (!SaveEngineeringBackup(host, file, from, length)) return 0;
  host.SetStatusText(texts::kBackupSuccess);
  return 1;
}

}  // namespace fwtool
