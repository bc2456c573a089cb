// SPDX-License-Identifier: GPL-2.0-or-later
// "YES": the one-click update of the selected device with the embedded image.
#include "Fwupdate.h"
#include "chip_rows.h"
#include "device_session.h"
#include "form_texts.h"
#include "operation_record.h"
#include "procedures.h"

namespace fwtool {

std::string RestoreCommandLine(const std::string& devicePath, const std::string& backupPath,
                               const std::string& options) {
  return "fwtool restore --device \"" + devicePath + "\" --file \"" + backupPath + "\"" +
         (options.empty() ? std::string() : " " + options);
}

int TV77xFwTool::OneClickUpdate(const UpdateRequest& request) {
  if (Busy()) return 0;
  BusyScope busy(*this);
  const uint8_t chipType = ChipType;
  const DeviceRecord* record = SelectedDevice();
  const std::string path = record != nullptr ? record->Path : std::string();

  EraseButton.SetEnabled(false);
  devLable.Hide();
  FwUpdatBar.SetPosition(0);
  FwUpdatBar.Show();
  StepProgress(kProgressAtUpdateStart);
  ClearStatus();
  EraseOnly = 0;

  int result = 0;
  if (ChipRowFor(chipType).oneClickTarget && !path.empty())
    result = RunEmbeddedUpdate(path, request.backupFile);

  FwUpdatBar.Hide();
  if (result == 1) {
    replugLable1.Show();
    ExtBtn.Show();
    devLable.Hide();
    EraseButton.Hide();
    ExitBtn.Hide();
  } else {
    ExtBtn.Show();
    devLable.Show();
    replugLable1.Hide();
    EraseButton.Hide();
    ExitBtn.Hide();
    devLable.SetFontColor(kColorRed);
    devLable.SetText(texts::kUpdateFailedNotice);
  }
  EraseButton.SetEnabled(true);
  // A refresh held back during the write rebuilds the list when the busy
  // state ends, but must not take the outcome off the screen: the done face
  // asks for the power cycle, and the failed face is the only failure report.
  keepOutcomeFace_ = true;
  return result;
}

int TV77xFwTool::RunEmbeddedUpdate(const std::string& path, const std::string& backupFile) {
  ImageHasHeaderArea = 1;
  EmbeddedUpdateOptions options;
  options.image = image_;
  options.backupPath = backupFile.empty() ? DefaultBackupPath(path) : backupFile;
  EmbeddedUpdateReport report;
  int result = 0;
  OperationRecord record(*this, path, texts::kOneClickProcedure);
  record.SetImage(texts::kEmbeddedImageName, image_);
  {
    // The device is opened once for the whole update and no other program
    // can send it commands between the blocks of the write; before the
    // first write it must still be the unit that was listed.
    const DeviceSession session(path, SessionAccess::Exclusive, ListedUnitCheck(path));
    result = UpdateEmbeddedImage(host_, path, options, &report);
    lastRefusal_ = session.Refusal();
  }
  lastBackupPath_ = report.backupWritten ? report.backupPath : std::string();
  std::string notice = report.backupWritten ? texts::kBackupSavedNotice + report.backupPath
                                            : std::string(texts::kBackupMissingNotice);
  if (!lastRefusal_.empty()) notice = lastRefusal_ + " " + notice;
  // After a failure the operator needs the way back as much as the file.
  if (result != 1 && report.backupWritten)
    notice += texts::kRestoreHintNotice + RestoreCommandLine(path, report.backupPath);
  SetNotice(notice);
  record.Finish(result, lastBackupPath_);
  return result;
}

}  // namespace fwtool
