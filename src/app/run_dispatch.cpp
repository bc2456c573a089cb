// The engineering face's handlers: "Run", the option boxes, the face switch
// and the file choosers, and the check that follows a change of device or file.
#include "Fwupdate.h"
#include "form_texts.h"

namespace fwtool {

namespace {

// Sizes behind the items of "Firmware size" and "Flash PgSz".
constexpr int32_t kFlashSizeTable[] = {32768, 65536, 131072, 262144, 524288, 1048576};
constexpr int32_t kBlockSizeTable[] = {32768, 16384, 8192, 4096, 2048};

template <size_t N>
bool TableEntry(const int32_t (&table)[N], int index, int32_t& value) {
  // A box the operator typed into selects nothing: the setting stays.
  if (index < 0 || index >= static_cast<int>(N)) return false;
  value = table[index];
  return true;
}

}  // namespace

void TV77xFwTool::UpdateBtnClick(Control&) {}

void TV77xFwTool::EraseOnlyCheckClick(Control&) {}

void TV77xFwTool::RdCheckBoxClick(Control& sender) {
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
  UpdateBtnCheck(sender);
}

void TV77xFwTool::FwSizeCheckChange(Control&) {
  TableEntry(kFlashSizeTable, FwSizeCheck.ItemIndex(), Settings.SelectedFlashSize);
}

void TV77xFwTool::FwPgSizeCheckChange(Control& sender) {
  TableEntry(kBlockSizeTable, sender.ItemIndex(), Settings.TransferBlockSize);
}

void TV77xFwTool::NVRAMCheckClick(Control&) {
  IncludeNvram = NVRAMCheck.Checked() ? 1 : 0;
}

void TV77xFwTool::LoadBtnClick(Control&) {}

void TV77xFwTool::BackupBtnClick(Control&) {}

}  // namespace fwtool
