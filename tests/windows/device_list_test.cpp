// SPDX-License-Identifier: GPL-2.0-or-later
// The device list on Windows: the SetupDi enumeration on this system (a wine
// prefix has disks, but no USB or SBP-2 storage), the lower-cased paths, and
// the device notifications that feed the form's refresh timer.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h:
#include <dbt.h>

#include <cstring>
#include <vector>

#include "Fwupdate.h"
#include "clock.h"
#include "device_notification_watcher.h"
#include "fake_enumerator.h"
#include "setupdi_enumerator.h"

namespace fwtool::platform {
namespace {

class SilentOperator : public OperatorServices {
 public:
  void MessageBox(const std::string&, const std::string&, MessageIcon) override {}
  void SimpleMessage(const std::string&) override {}
  std::optional<std::string> OpenFileDialog(const FileDialogRequest&) override {
    return std::nullopt;
  }
  void ProcessMessages() override {}
  void DebugOutput(const std::string&) override {}
};

TEST(SetupDiEnumerator, PathsComeLowerCasedAndNoneIsAUsbOrSbp2Device) {
  SetupDiEnumerator enumerator;
  std::vector<std::string> paths = enumerator.DiskInterfaces();
  for (std::string& path : enumerator.CdromInterfaces()) paths.push_back(path);
  for (const std::string& path : paths) {
    EXPECT_EQ(path, LowerCasePath(path));
    EXPECT_EQ(path.find("usbsto"), std::string::npos) << path;
    EXPECT_EQ(path.find("sbp2"), std::string::npos) << path;
  }
  EXPECT_EQ(enumerator.AccessProblem(), "");
}

TEST(SetupDiEnumerator, TheFormOverItFindsNothingToUpdate) {
  SilentOperator op;
  SetupDiEnumerator enumerator;
  ClockTimerService timers;
  TV77xFwTool form(op, enumerator, timers);
  EXPECT_EQ(form.ListedCount(), 0);
  EXPECT_EQ(form.Face(), OneClickFace::NothingToDo);
  EXPECT_EQ(form.devLable.Text(), "                          No device found!!");
}

// The serial number a record of an update keeps: the device's own, never
// the instance part the system makes up for a device without one.
TEST(SetupDiEnumerator, SerialNumberIsTheInstancePartTheDeviceGave) {
  const struct {
    const char* path;
    const char* serial;
  } cases[] = {
      {"\\\\?\\usbstor#disk&ven_talve&prod_vqb719&rev_1.00#0123456789ab&0#"
       "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
       "0123456789ab"},
      {"\\\\?\\usbstor#disk&ven_talve&prod_vqb719&rev_1.00#6&2b7&0&000#"
       "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
       ""},
      {"\\\\?\\sbp2#talve&vqb717&lun0#0030e0f4e0123456#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
       "0030e0f4e0123456"},
      {"\\\\?\\ide#diskwdc#5&1c3e&0&0.0.0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}", ""},
      {"\\\\?\\usbstor#disk", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(SerialFromInterfacePath(c.path), c.serial) << c.path;
}

TEST(SetupDiEnumerator, LowerCasingMakesTheBusMarkersMatch) {
  EXPECT_EQ(LowerCasePath("\\\\?\\USBSTOR#Disk&Ven_TALVE&Prod_VQB719#6&2B7&0&000#"
                          "{53F56307-B6BF-11D0-94F2-00A0C91EFB8B}"),
            "\\\\?\\usbstor#disk&ven_talve&prod_vqb719#6&2b7&0&000#"
            "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
  EXPECT_EQ(LowerCasePath("\\\\?\\SBP2#Talve&VQB717#1"), "\\\\?\\sbp2#talve&vqb717#1");
}

TEST(AccessSurvey, SaysAdministratorRightsForDeniedDevices) {
  EXPECT_EQ(DescribeAccess({2, 0}), "");
  EXPECT_EQ(DescribeAccess({1, 1}),
            "1 storage device found, but it cannot be opened: needs administrator rights");
  EXPECT_EQ(DescribeAccess({3, 2}),
            "2 storage devices found, but they cannot be opened: needs administrator rights");
}

// A device-interface broadcast as the system sends it with WM_DEVICECHANGE.
struct InterfaceBroadcast {
  DEV_BROADCAST_DEVICEINTERFACE_A header{};
  char more[200] = {};
  explicit InterfaceBroadcast(const char* name) {
    header.dbcc_size = static_cast<DWORD>(sizeof header + std::strlen(name));
    header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    std::memcpy(header.dbcc_name, name, std::strlen(name) + 1);
  }
  LPARAM Param() { return reinterpret_cast<LPARAM>(&header); }
};

TEST(DeviceBroadcast, ArrivalAndRemovalOfInterfacesOthersIgnored) {
  InterfaceBroadcast usb("\\\\?\\USBSTOR#Disk&Ven_TALVE#1");
  const auto arrival = TranslateDeviceBroadcast(DBT_DEVICEARRIVAL, usb.Param());
  ASSERT_TRUE(arrival);
  EXPECT_EQ(arrival->event, 0x8000u);
  EXPECT_EQ(arrival->deviceType, 5u);
  EXPECT_EQ(arrival->path, "\\\\?\\usbstor#disk&ven_talve#1");
  const auto removal = TranslateDeviceBroadcast(DBT_DEVICEREMOVECOMPLETE, usb.Param());
  ASSERT_TRUE(removal);
  EXPECT_EQ(removal->event, 0x8004u);

  EXPECT_FALSE(TranslateDeviceBroadcast(DBT_DEVNODES_CHANGED, 0));
  EXPECT_FALSE(TranslateDeviceBroadcast(DBT_DEVICEQUERYREMOVE, usb.Param()));
  DEV_BROADCAST_VOLUME volume{};
  volume.dbcv_size = sizeof volume;
  volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
  const auto volumeEvent =
      TranslateDeviceBroadcast(DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&volume));
  ASSERT_TRUE(volumeEvent) << "passed on; the form leaves it alone";
  EXPECT_EQ(volumeEvent->deviceType, 2u);
}

// The watcher's window gets the system's messages through this thread's
// message loop; here they are sent to it directly.
TEST(DeviceNotificationWatcher, MessagesArmTheFormsRefreshTimer) {
  const ScopedClock clock(std::make_shared<VirtualClock>());
  SilentOperator op;
  fwtool::testing::FakeEnumerator enumerator;
  ClockTimerService timers;
  DeviceNotificationWatcher watcher;
  TV77xFwTool form(op, enumerator, timers, &watcher);
  ASSERT_TRUE(form.DeviceNotifyHandle) << "registered for disk and CD-ROM interfaces";
  EXPECT_EQ(watcher.Registrations(), 2u);
  ASSERT_NE(watcher.Window(), nullptr);

  InterfaceBroadcast usb("\\\\?\\usbstor#disk&ven_talve#1");
  ::SendMessageA(watcher.Window(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL, usb.Param());
  EXPECT_EQ(timers.DueMs(kRefreshTimerId), NowMs() + 1200);
  ::SendMessageA(watcher.Window(), WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, usb.Param());
  EXPECT_EQ(timers.DueMs(kRefreshTimerId), NowMs() + 200);

  DEV_BROADCAST_VOLUME volume{};
  volume.dbcv_size = sizeof volume;
  volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
  timers.KillTimer(kRefreshTimerId);
  ::SendMessageA(watcher.Window(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
                 reinterpret_cast<LPARAM>(&volume));
  EXPECT_FALSE(timers.IsPending(kRefreshTimerId)) << "a volume is not an interface";
}

TEST(DeviceNotificationWatcher, StopReleasesTheWindow) {
  DeviceNotificationWatcher watcher;
  ASSERT_TRUE(watcher.Start([](const DeviceChangeEvent&) {}));
  const HWND window = watcher.Window();
  watcher.Stop();
  EXPECT_EQ(watcher.Window(), nullptr);
  EXPECT_EQ(watcher.Registrations(), 0u);
  EXPECT_FALSE(::IsWindow(window));
}

}  // namespace
}  // namespace fwtool::platform
