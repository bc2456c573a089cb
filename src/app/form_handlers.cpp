// SPDX-License-Identifier: GPL-2.0-or-later
// The handlers the form description binds to the buttons and lists. Each
// reads what its controls hold (or asks the open dialog), builds the request
// and calls the entry for the action; the entries do the work, so a window's
// click and the command line's arguments take the same road.
#include "Fwupdate.h"
#include "host_services.h"

namespace fwtool {

void TV77xFwTool::RefreshBtnClick(Control&) {
  Refresh();
}

// The change of the device list (which has selected the entry already), of
// the firmware file field and of the flash type.
void TV77xFwTool::UpdateBtnCheck(Control&) {
  CheckSelectedUnit();
}

void TV77xFwTool::LoadBtnClick(Control&) {
  ClearStatus();
  const auto file = AskForFile();
  if (!file) return;
  LoadFirmwareFile(*file);
}

void TV77xFwTool::BackupBtnClick(Control&) {
  ClearStatus();
  const auto file = AskForFile();
  if (!file) return;
  ChooseBackupFile(*file);
}

void TV77xFwTool::UpdateBtnClick(Control&) {
  Run(RunRequestFromControls());
}

void TV77xFwTool::EraseButtonClick(Control&) {
  OneClickUpdate({.backupFile = backupTarget_});
}

std::optional<std::string> TV77xFwTool::AskForFile() {
  // The dialog opens in the program's own folder the first time.
  if (OpenDialog1.InitialDir.empty()) OpenDialog1.InitialDir = host::ProgramFolder();
  FileDialogRequest request;
  request.filters = OpenDialog1.Filter;
  request.defaultExtension = OpenDialog1.DefaultExt;
  request.initialName = OpenDialog1.InitialDir;
  return op_.OpenFileDialog(request);
}

RunRequest TV77xFwTool::RunRequestFromControls() const {
  RunRequest request;
  // The size boxes set their sizes as they change (and not before: the
  // sizes start at 64 KB and 8 KB whatever the boxes show), so the request
  // leaves them as they are.
  request.flashType = FlashTypeList.ItemIndex();
  request.a1Chip = A1ChipCheck.Checked();
  request.hddFirmware = VQS175HDDFwChk.Checked();
  request.includeNvram = NVRAMCheck.Checked();
  request.mode = EraseOnlyCheck.Checked()     ? RunRequest::Mode::EraseOnly
                 : BackupFWCheckBox.Checked() ? RunRequest::Mode::BackupOnly
                                              : RunRequest::Mode::Program;
  request.checkSum = ChkSumChk.Checked();
  request.backupFile = BackupFileEdit.Text();
  request.firmwareFile = FwFilenameEdit.Text();
  return request;
}

}  // namespace fwtool
