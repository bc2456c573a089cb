// SPDX-License-Identifier: GPL-2.0-or-later
// The engineering face's options: the face switch, the three mode boxes and
// the rules by which they enable "Run", the size boxes, the NVRAM box, the
// two files, and all of them set at once as a request says.
#include "Fwupdate.h"
#include "chip_rows.h"
#include "chip_tables.h"
#include "firmware.h"
#include "form_texts.h"
#include "operator.h"

namespace fwtool {

namespace {

template <size_t N>
bool TableEntry(const std::array<int32_t, N>& table, int index, int32_t& value) {
  // A box the operator typed into selects nothing: the setting stays.
  if (index < 0 || index >= static_cast<int>(N)) return false;
  value = table[static_cast<size_t>(index)];
  return true;
}

// The item of a size box that stands for `size`; -1 when none does.
template <size_t N>
int ItemOfSize(const std::array<int32_t, N>& table, int32_t size) {
  for (size_t i = 0; i < N; ++i)
    if (table[i] == size) return static_cast<int>(i);
  return -1;
}

}  // namespace

void TV77xFwTool::ShowEngineeringFace() {
  // The column the face always shows. The fields that tell of the unit's
  // flash part ("Flash Type" and the parallel part's list, "Firmware Ver. ",
  // "A1 Chip", the NVRAM and disk firmware boxes) are not among them: the
  // information check has arranged them for the selected unit (a serial
  // part's maker, or the parallel part's list, or neither for the chips
  // with their firmware on the disk), and they keep that arrangement.
  for (Control* control :
       {&diskLabel, &RefreshBtn, &DeviceList, &FwFilenameEdit, &LoadBtn, &StatusEdit, &UpdateBtn,
        &ExiBtn, &FwPgBurnSizeLabel, &FwPgSizeCheck, &RdCheckBox})
    control->Show();
  // Ticking the box runs its click handler, which shows the RD panel.
  RdCheckBox.SetChecked(true);
}

void TV77xFwTool::EraseOnlyCheckClick(Control& sender) {
  if (sender.Tag() == 0) {
    if (ChipRowFor(ChipType).nvramWithModeBoxes) NVRAMCheck.Show();
    if (sender.Checked()) BackupFWCheckBox.SetChecked(false);  // runs this handler for it
  } else if (sender.Checked()) {
    EraseOnlyCheck.SetChecked(false);
  }
  const bool sizeMatters = ChipRowFor(ChipType).flashSizeOption &&
                           (EraseOnlyCheck.Checked() || BackupFWCheckBox.Checked());
  FwSizeCheck.SetEnabled(sizeMatters);
  FwSizeCheck.SetVisible(sizeMatters);
  FwSizeLable.SetVisible(sizeMatters);
  EraseOnly = EraseOnlyCheck.Checked() ? 1 : 0;

  const bool device = DeviceCount != 0 && ChipType != kUnrecognisedChip;
  if (EraseOnlyCheck.Checked()) {
    FwFilenameEdit.SetEnabled(false);
    UpdateBtn.SetEnabled(device);
  } else {
    FwFilenameEdit.SetEnabled(true);
    const std::string file = FwFilenameEdit.Text();
    UpdateBtn.SetEnabled(device && !file.empty() &&
                         FirmwareFileMatchesChip(op_, file, Identification()));
  }
  if (!UpdateBtn.Enabled() && BackupFWCheckBox.Checked()) UpdateBtn.SetEnabled(true);
}

void TV77xFwTool::RdCheckBoxClick(Control&) {
  if (RdCheckBox.Checked()) {
    RdPanel.Show();
    Window.SetHeight(Window.Height() + RdPanel.Height());
    return;
  }
  RdPanel.Hide();
  Window.SetHeight(Window.Height() - RdPanel.Height());
  FwSizeCheck.Hide();
  FwSizeLable.Hide();
  FwFilenameEdit.SetEnabled(true);
  UpdateBtn.SetEnabled(false);
  CheckSelectedUnit();
}

void TV77xFwTool::FwSizeCheckChange(Control&) {
  TableEntry(kFlashSizeTable, FwSizeCheck.ItemIndex(), Settings.SelectedFlashSize);
}

void TV77xFwTool::FwPgSizeCheckChange(Control&) {
  // "Flash PgSz" decides, whichever of the two boxes sharing this handler
  // changed.
  TableEntry(kBlockSizeTable, FwPgSizeCheck.ItemIndex(), Settings.TransferBlockSize);
}

void TV77xFwTool::NVRAMCheckClick(Control&) {
  IncludeNvram = NVRAMCheck.Checked() ? 1 : 0;
}

void TV77xFwTool::LoadFirmwareFile(const std::string& file) {
  ClearStatus();
  FwFilenameEdit.SetText(file);  // runs UpdateBtnCheck
  if (ChkSumChk.Checked() && !VerifyFileSum(file, Identification())) {
    op_.SimpleMessage(texts::kCheckFileChecksum);
    UpdateBtn.SetEnabled(false);
    return;
  }
  UpdateBtn.SetEnabled(true);
}

void TV77xFwTool::ChooseBackupFile(const std::string& file) {
  ClearStatus();
  // The file need not exist: the backup procedures create it.
  BackupFileEdit.SetText(file);
  UpdateBtn.SetEnabled(true);
}

void TV77xFwTool::SetRunOptions(const RunRequest& request) {
  // A size is picked as its item, whose change sets it; a size that no item
  // stands for leaves the box and the setting as they are.
  if (const int item = ItemOfSize(kFlashSizeTable, request.flashSize.value_or(0)); item >= 0) {
    FwSizeCheck.SetItemIndex(item);
    FwSizeCheckChange(FwSizeCheck);
  }
  if (const int item = ItemOfSize(kBlockSizeTable, request.transferBlockSize.value_or(0));
      item >= 0) {
    FwPgSizeCheck.SetItemIndex(item);
    FwPgSizeCheckChange(FwPgSizeCheck);
  }
  if (request.flashType && *request.flashType != FlashTypeList.ItemIndex())
    FlashTypeList.SetItemIndex(*request.flashType);
  A1ChipCheck.SetChecked(request.a1Chip);
  // Ticking a box runs its click handler. "VQS175 HDD FW " unticks "Backup
  // Old Firmware Only", so it comes before the mode boxes.
  VQS175HDDFwChk.SetChecked(request.hddFirmware);
  if (request.includeNvram) NVRAMCheck.SetChecked(*request.includeNvram);
  EraseOnlyCheck.SetChecked(request.mode == RunRequest::Mode::EraseOnly);
  BackupFWCheckBox.SetChecked(request.mode == RunRequest::Mode::BackupOnly);
  ChkSumChk.SetChecked(request.checkSum);
  // The files as chosen in the dialog; a file the field holds already has
  // been chosen (or typed) before.
  if (!request.backupFile.empty() && request.backupFile != BackupFileEdit.Text())
    ChooseBackupFile(request.backupFile);
  if (!request.firmwareFile.empty() && request.firmwareFile != FwFilenameEdit.Text())
    LoadFirmwareFile(request.firmwareFile);
}

}  // namespace fwtool
