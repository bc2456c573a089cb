// SPDX-License-Identifier: GPL-2.0-or-later
// The information check: what the selected controller is, whether "Run" may start,
// how the engineering panel is arranged for it, which flash part it drives
// and which firmware it runs.
#include "Fwupdate.h"
#include "chip_rows.h"
#include "device_session.h"
#include "firmware.h"
#include "flash_commands.h"
#include "form_texts.h"
#include "identify.h"
#include "operator.h"

namespace fwtool {

namespace {

// The controller information of the disk-hosted chips: byte 8 holds the
// register value from which a chip can take firmware.
constexpr uint8_t kControllerInfoLength = 18;
constexpr int32_t kFirstUpdatableRegValue = 208;

}  // namespace

void TV77xFwTool::CheckSelectedUnit() {
  NVRAMCheck.Hide();
  // What the check learns belongs to the unit it looks at now: nothing of
  // the unit looked at before (its flash size, maker, erase units) may
  // decide a size test or a procedure for this one.
  ForgetUnitFacts();
  if (DeviceCount == 0) return;
  const DeviceRecord* record = SelectedDevice();
  if (record == nullptr) {
    ShowNoSelection();
    return;
  }
  const std::string path = record->Path;
  // One open for the check; a bank repair's writes reopen it exclusively.
  const DeviceSession session(path, SessionAccess::Shared);

  const uint16_t identification = Identify(path);
  ChipType = ChipTypeOf(identification);
  ChipSubRev = ChipSubRevOf(identification);
  // Where identification cannot tell, the operator's word decides.
  if (saidChipType_ && ChipRowFor(*saidChipType_).identifiedAs == ChipType)
    ChipType = *saidChipType_;
  const ChipRow& row = ChipRowFor(ChipType);

  // "Run" follows the firmware file, or the erase/backup-only boxes.
  if (DeviceList.Enabled() && !FwFilenameEdit.Text().empty()) {
    if (FirmwareFileMatchesChip(op_, FwFilenameEdit.Text(), Identification())) {
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
  ChipLabelEdit.SetText(std::string(row.label));

  const FlashDetection detection = DetectionFor(row, ChipSubRev, PathIsOn1394(path));
  switch (detection) {
    case FlashDetection::HostProbe:
    case FlashDetection::ControllerCode:
    case FlashDetection::KindReads:
    case FlashDetection::AtaProbe:
      ShowSerialFlashLayout();
      AmicFlashKind = -1;
      AtmelFlashKind = -1;
      AltFlashProc = 0;
      VQS175HDDFwChk.Hide();
      if (row.nvramOption) {
        NVRAMCheck.Show();
        NVRAMCheck.SetChecked(IncludeNvram != 0);
      }
      if (detection == FlashDetection::HostProbe) DetectByHostProbe(path, row);
      if (detection == FlashDetection::ControllerCode) DetectByControllerCode(path, row);
      if (detection == FlashDetection::KindReads) DetectByKindReads(path);
      if (detection == FlashDetection::AtaProbe) DetectOverAta(path);
      break;
    case FlashDetection::ControllerInfo: {
      std::array<uint8_t, kControllerInfoLength> info{};
      const uint8_t regValue = ReadControllerInfo(path, info.data(), kControllerInfoLength);
      // A controller that does not answer gets no value of the device seen
      // before: the disk-hosted procedure must not run on a stale one.
      ChipRegValue = regValue;
      if (regValue == 0) break;
      if (ChipRegValue < kFirstUpdatableRegValue) {
        ShowUnsupportedLayout();
        break;
      }
      SFlashTypeLable.Hide();
      FlashTypeList.Hide();
      FlashTypeLabel.Hide();
      A1ChipCheck.Hide();
      FwVerLableEdit.Show();
      break;
    }
    case FlashDetection::ChosenByOperator:
      SFlashTypeLable.Hide();
      FlashTypeList.Show();
      FlashTypeList.SetEnabled(true);
      FlashTypeLabel.Show();
      A1ChipCheck.Show();
      A1ChipCheck.SetEnabled(true);
      FwVerLableEdit.Show();
      break;
    case FlashDetection::None:
      ShowUnsupportedLayout();
      break;
  }

  ShowFirmwareVersion(path, row);
  // The device record carries no drive letters.
  DiskLetterLable.SetText("");
}

bool TV77xFwTool::SayChipType(const ChipTypeRequest& request) {
  // Only a type that identification cannot tell may be said: its row names
  // the type it identifies as.
  if (request.chipType && !ChipRowFor(*request.chipType).identifiedAs.has_value()) return false;
  saidChipType_.reset();
  if (request.chipType) saidChipType_ = static_cast<uint8_t>(*request.chipType);
  // A running operation keeps the facts it started with; the next check
  // takes the word.
  if (!Busy()) CheckSelectedUnit();
  return true;
}

void TV77xFwTool::ForgetUnitFacts() {
  FlashMaker = 0;
  FlashSizeKB = 0;
  AltFlashProc = 0;
  ChipRegValue = 0;
  AmicFlashKind = -1;
  AtmelFlashKind = -1;
  const FlashSettings defaults;
  Settings.LargeEraseUnit = defaults.LargeEraseUnit;
  Settings.SmallEraseUnit = defaults.SmallEraseUnit;
}

void TV77xFwTool::ShowNoSelection() {
  // Paths were found but none was listed: there is no device to look at.
  // The fields say so as they do when nothing is attached, and nothing
  // remembered from an earlier device may reach "Run".
  ChipType = 0;
  ChipSubRev = 0;
  ShowNoDeviceFields();
}

void TV77xFwTool::ShowSerialFlashLayout() {
  SFlashTypeLable.Show();
  FlashTypeList.Hide();
  FlashTypeLabel.Hide();
  A1ChipCheck.Hide();
  FwVerLableEdit.Show();
}

void TV77xFwTool::ShowUnsupportedLayout() {
  SFlashTypeLable.Hide();
  FlashTypeList.Hide();
  FlashTypeLabel.Hide();
  A1ChipCheck.Hide();
  FwVerLableEdit.Hide();
  StatusEdit.SetText(texts::kChipNotSupported);
}

void TV77xFwTool::ShowFirmwareVersion(const std::string& path, const ChipRow& row) {
  const FirmwareVersionReading reading = ReadFirmwareVersion(path, row);
  switch (reading.outcome) {
    case FirmwareVersionReading::Outcome::NoReply:
      FwVerLableEdit.SetText(reading.text);
      return;
    case FirmwareVersionReading::Outcome::NotOurChip:
      StatusEdit.SetText(texts::kNotOurChip);
      return;
    case FirmwareVersionReading::Outcome::Read:
      FwVerLableEdit.SetText(FirmwareUpdatable(path, row.type, reading.text, FlashMaker)
                                 ? reading.text
                                 : std::string(texts::kInternalCode));
      return;
  }
}

}  // namespace fwtool
