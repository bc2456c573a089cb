// UpdateBtnCheck: what the selected controller is, whether "Run" may start,
// and the flash maker the procedures work with.
#include <array>

#include "Fwupdate.h"
#include "IDEAccess.h"
#include "firmware.h"
#include "form_texts.h"

namespace fwtool {

namespace {

// Erase units the controller uses for each flash maker code.
constexpr std::array<int32_t, kFlashMakerCount> LargeEraseUnitByMaker = {
    32768, 32768, 32768, 65536, 65536, 65536, 65536, 65536, 65536, 65536, 65536};
constexpr std::array<int32_t, kFlashMakerCount> SmallEraseUnitByMaker = {
    4096, 4096, 4096, 32768, 32768, 4096, 4096, 4096, 32768, 4096, 4096};

bool HasControllerMakerCode(uint8_t chipType, const std::string& path) {
  return chipType == 8 || chipType == 9 || chipType == 11 || chipType == 12 ||
         (chipType == 7 && path.find("sbp2") != std::string::npos);
}

bool InFlashFamily(uint8_t chipType) {
  switch (chipType) {
    case 1:
    case 3:
    case 4:
    case 6:
    case 7:
    case 8:
    case 9:
    case 10:
    case 11:
    case 12:
    case 14:
    case 16:
      return true;
    default:
      return false;
  }
}

}  // namespace

void TV77xFwTool::UpdateBtnCheck(Control&) {
  NVRAMCheck.Hide();
  if (DeviceCount == 0) return;
  // Paths may have been found without any entry listed: then there is no
  // device record to look at, and nothing changes.
  const DeviceRecord* record = SelectedDevice();
  if (record == nullptr) return;
  const std::string path = record->Path;

  const uint16_t identification = Identify(path);
  ChipType = ChipTypeOf(identification);
  ChipSubRev = ChipSubRevOf(identification);

  // "Run" follows the firmware file, or the erase/backup-only boxes.
  if (DeviceList.Enabled() && !FwFilenameEdit.Text().empty()) {
    if (FirmwareFileMatchesChip(op_, FwFilenameEdit.Text(), identification)) {
      UpdateBtn.SetEnabled(true);
    } else {
      op_.MessageBox(texts::kFileNotMatchChip, kCaptionMessage, MessageIcon::None);
      UpdateBtn.SetEnabled(false);
    }
  } else if (DeviceList.Enabled() && (EraseOnlyCheck.Checked() || BackupFWCheckBox.Checked())) {
    UpdateBtn.SetEnabled(true);
  }

  StatusEdit.SetText("");
  SFlashTypeLable.SetText("");
  FwVerLableEdit.SetText("");
  ChipLabelEdit.SetText(std::string(ChipLabel(ChipType)));

  if (InFlashFamily(ChipType)) {
    SFlashTypeLable.Show();
    FlashTypeList.Hide();
    FlashTypeLabel.Hide();
    A1ChipCheck.Hide();
    FwVerLableEdit.Show();
    AmicFlashKind = -1;
    AtmelFlashKind = -1;
    AltFlashProc = 0;
    VQS175HDDFwChk.Hide();
    if (ChipType == 6 || ChipType == 8 || ChipType == 9 || ChipType == 10 || ChipType == 11 ||
        ChipType == 12) {
      NVRAMCheck.Show();
      NVRAMCheck.SetChecked(IncludeNvram != 0);
    }
    if (HasControllerMakerCode(ChipType, path)) {
      SFlashTypeLable.Show();
      VQS175HDDFwChk.Show();
      std::array<uint8_t, 4> reply{};
      if (GetFlashMakerCode(path, reply.data()) && reply[0] < kFlashMakerCount) {
        FlashMaker = reply[0];
        SFlashTypeLable.SetText(std::string(FlashMakerName(FlashMaker)));
        Settings.LargeEraseUnit = LargeEraseUnitByMaker[static_cast<size_t>(FlashMaker)];
        Settings.SmallEraseUnit = SmallEraseUnitByMaker[static_cast<size_t>(FlashMaker)];
      }
    }
  }
  DiskLetterLable.SetText("");
}

}  // namespace fwtool
