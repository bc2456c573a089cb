// SPDX-License-Identifier: GPL-2.0-or-later
// The device list: which attached controllers can take the embedded image
// (or, for the engineering face, every recognised controller), and the
// one-click face that follows from it.
#include <algorithm>
#include <cctype>

#include "Fwupdate.h"
#include "chip_rows.h"
#include "device_session.h"
#include "enumeration.h"
#include "flash_commands.h"
#include "form_texts.h"
#include "identify.h"

namespace fwtool {

namespace {

constexpr const char* kUsbMarker = "usbsto";
constexpr const char* k1394Marker = "sbp2";

std::string LowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

int TV77xFwTool::EnumerateInterfaces(const std::vector<std::string>& found,
                                     std::array<std::string, kMaxDevices>& slots, int first,
                                     bool admit1394) {
  int stored = 0;
  for (const std::string& path : found) {
    if (first + stored >= kMaxDevices) break;
    const bool usb = path.find(kUsbMarker) != std::string::npos;
    const bool sbp2 = admit1394 && path.find(k1394Marker) != std::string::npos;
    if (!usb && !sbp2) continue;
    // A cut path would address another device or none: leave it out.
    if (path.size() > kMaxPathLength) continue;
    slots[static_cast<size_t>(first + stored)] = path;
    ++stored;
  }
  return stored;
}

int TV77xFwTool::EnumerateDiskInterfaces(std::array<std::string, kMaxDevices>& slots,
                                         bool admit1394) {
  return EnumerateInterfaces(enumerator_.DiskInterfaces(), slots, 0, admit1394);
}

int TV77xFwTool::EnumerateCdromInterfaces(std::array<std::string, kMaxDevices>& slots, int first,
                                          bool admit1394) {
  if (first < 0 || first >= kMaxDevices) return 0;
  return EnumerateInterfaces(enumerator_.CdromInterfaces(), slots, first, admit1394);
}

void TV77xFwTool::Refresh() {
  if (Busy()) {
    // A refresh inside a transfer would talk to the device between two
    // blocks of the write; it runs once the operation has ended.
    refreshPending_ = true;
    if (!closePending_) SetNotice(texts::kRefreshHeldNotice, /*held=*/true);
    return;
  }
  BusyScope busy(*this);
  RefreshDeviceList();
}

void TV77xFwTool::RefreshDeviceList(bool setFace) {
  if (setFace) {
    replugLable1.Hide();
    ExtBtn.Hide();
    devLable.Show();
  }
  int listed = 0;
  int toUpdate = 0;  // listed entries that can take the embedded image
  bool alreadyUpdated = false;

  survey_.clear();
  std::array<std::string, kMaxDevices> paths;
  const int diskCount = EnumerateDiskInterfaces(paths, true);
  const int cdromCount = EnumerateCdromInterfaces(paths, diskCount, true);
  DeviceCount = diskCount + cdromCount;

  if (DeviceCount != 0) {
    DeviceList.ClearItems();
    for (int i = 0; i < DeviceCount; ++i) {
      DeviceSurveyEntry& seen = survey_.emplace_back();
      std::string path = paths[static_cast<size_t>(i)];
      // One open for everything the refresh asks this device.
      const DeviceSession session(path, SessionAccess::Shared);
      seen.path = path;
      seen.cdrom = i >= diskCount;
      if (scope_ == DeviceListScope::AllControllers) {
        seen.identification = Identify(path);
        if (ChipTypeOf(seen.identification) == kUnrecognisedChip) continue;
      } else if (!IsTargetChip(path, &seen.identification)) {
        continue;
      }
      const bool target = ChipRowFor(ChipTypeOf(seen.identification)).oneClickTarget;
      path = LowerCase(path);
      seen.path = path;
      seen.on1394 = path.find(k1394Marker) != std::string::npos;
      const std::string name = InquiryName(path);
      seen.name = name;
      DeviceRecord& record = Devices[static_cast<size_t>(listed)];
      record = DeviceRecord{path, 0, 0};
      if (target) {
        HostLinkOpen(path);
        if (IsAlreadyUpdated(path)) {
          alreadyUpdated = true;
          seen.upToDate = true;
          seen.outcome = DeviceSurveyEntry::Outcome::AlreadyUpdated;
          // The slot goes to the next listed path, unless every controller
          // is listed.
          if (scope_ == DeviceListScope::UpdateTargets) continue;
        }
      }
      const uint16_t identification = Identify(path);
      ChipType = static_cast<uint8_t>(identification & 0xFF);
      ChipSubRev = static_cast<uint8_t>(identification >> 8);
      if (ChipType == kUnrecognisedChip) {
        seen.outcome = DeviceSurveyEntry::Outcome::Unrecognised;
        continue;
      }
      seen.identification = identification;
      diskLabel.SetText(seen.on1394 ? texts::kDiskLabel1394 : texts::kDiskLabelUsb);
      DeviceList.AddItem((seen.on1394 ? texts::k1394ItemPrefix : texts::kUsbItemPrefix) + name);
      // Entries that came from the CD-ROM enumeration get the host link
      // closed again when the program ends.
      record.IsCdromInterface = seen.cdrom ? 1 : 0;
      seen.outcome = DeviceSurveyEntry::Outcome::Listed;
      seen.listIndex = listed;
      ++listed;
      if (target && !seen.upToDate) ++toUpdate;
    }
  }
  listedCount_ = listed;
  // Slots past the listed entries belong to no item: nothing may be sent there.
  for (size_t i = static_cast<size_t>(listed); i < Devices.size(); ++i) Devices[i] = DeviceRecord{};

  if (DeviceCount != 0) {
    for (int i = 0; i < listed; ++i)
      if (Devices[static_cast<size_t>(i)].IsCdromInterface)
        HostLinkOpen(Devices[static_cast<size_t>(i)].Path);
    DeviceList.SetEnabled(true);
    DeviceList.SetItemIndex(0);
    CheckSelectedUnit();
  } else {
    DeviceList.ClearItems();
    DeviceList.AddItem(texts::kNoAvailableDevice);
    DeviceList.SetItemIndex(0);
    DeviceList.SetEnabled(false);
    ShowNoDeviceFields();
  }

  if (!setFace) return;
  if (toUpdate >= 1) {
    ShowReadyFace();
  } else {
    ShowNothingToDoFace(alreadyUpdated ? texts::kAlreadyUpdatedNotice : texts::kNoDeviceNotice);
  }
}

void TV77xFwTool::ShowNoDeviceFields() {
  UpdateBtn.SetEnabled(false);
  ChipLabelEdit.SetText("");
  DiskLetterLable.SetText("");
  FwVerLableEdit.SetText("");
  SFlashTypeLable.SetText("");
  StatusEdit.SetText("");
  FlashTypeList.SetEnabled(false);
  A1ChipCheck.SetEnabled(false);
  NVRAMCheck.Hide();
  VQS175HDDFwChk.Hide();
}

void TV77xFwTool::ShowReadyFace() {
  devLable.SetFontColor(kColorBlack);
  devLable.SetText(texts::kPrompt);
  EraseButton.SetEnabled(true);
  EraseButton.Show();
  ExitBtn.SetEnabled(true);
  ExitBtn.Show();
  ExtBtn.Hide();
}

void TV77xFwTool::ShowNothingToDoFace(const char* notice) {
  devLable.SetFontColor(kColorRed);
  devLable.SetText(notice);
  ExtBtn.Show();
  EraseButton.SetEnabled(false);
  EraseButton.Hide();
  ExitBtn.SetEnabled(false);
  ExitBtn.Hide();
}

bool TV77xFwTool::SelectUnit(int index) {
  if (index < 0 || index >= listedCount_) return false;
  DeviceList.SetItemIndex(index);
  CheckSelectedUnit();
  return true;
}

const DeviceRecord* TV77xFwTool::SelectedDevice() const {
  const int index = DeviceList.ItemIndex();
  if (index < 0 || index >= listedCount_ || index >= kMaxDevices) return nullptr;
  const DeviceRecord& record = Devices[static_cast<size_t>(index)];
  return record.Path.empty() ? nullptr : &record;
}

void TV77xFwTool::CloseCdromEntries() {
  for (int i = 0; i < listedCount_ && i < kMaxDevices; ++i) {
    const DeviceRecord& record = Devices[static_cast<size_t>(i)];
    if (record.IsCdromInterface && !record.Path.empty()) HostLinkClose(record.Path);
  }
}

}  // namespace fwtool
