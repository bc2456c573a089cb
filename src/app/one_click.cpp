// "YES": the one-click update of the selected device with the embedded image.
#include "Fwupdate.h"
#include "form_texts.h"

namespace fwtool {

void TV77xFwTool::EraseButtonClick(Control&) {
  if (Busy()) return;
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
  if ((chipType == 9 || chipType == 8) && !path.empty()) result = RunEmbeddedUpdate(path);

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
}

// Interim: the update procedure is not linked into this build yet.
int TV77xFwTool::RunEmbeddedUpdate(const std::string&) {
  return 0;
}

}  // namespace fwtool
