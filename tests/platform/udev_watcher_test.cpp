// SPDX-License-Identifier: GPL-2.0-or-later
#include "udev_watcher.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/netlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

#include "sysfs_tree.h"

namespace fwtool::platform {
namespace {

namespace fs = std::filesystem;
namespace testing = fwtool::testing;

constexpr const char* kUsbDiskPath =
    "/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb";
constexpr const char* kUsbSgPath =
    "/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/scsi_generic/sg2";

TEST(TranslateUevent, WholeScsiDisksAndSgNodesComeAndGo) {
  struct Case {
    UeventProperties uevent;
    std::optional<uint32_t> event;  // nothing: not reported
  };
  const Case cases[] = {
      {{"add", "block", "disk", kUsbDiskPath, "/dev/sdb"}, kDeviceArrival},
      {{"remove", "block", "disk", kUsbDiskPath, "/dev/sdb"}, kDeviceRemoveComplete},
      {{"add", "scsi_generic", "", kUsbSgPath, "/dev/sg2"}, kDeviceArrival},
      {{"remove", "scsi_generic", "", kUsbSgPath, ""}, kDeviceRemoveComplete},
      // A CD-ROM interface is a block disk too.
      {{"add", "block", "disk",
        "/devices/pci0000:00/0000:00:1e.0/0000:05:00.0/fw1/fw1.0/host7/target7:0:0/7:0:0:0/block/"
        "sr0",
        "/dev/sr0"},
       kDeviceArrival},
      {{"change", "block", "disk", kUsbDiskPath, "/dev/sdb"}, std::nullopt},
      {{"bind", "scsi_generic", "", kUsbSgPath, "/dev/sg2"}, std::nullopt},
      {{"add", "block", "partition", std::string(kUsbDiskPath) + "/sdb1", "/dev/sdb1"},
       std::nullopt},
      {{"add", "block", "disk", "/devices/virtual/block/loop3", "/dev/loop3"}, std::nullopt},
      {{"add", "block", "disk", "/devices/pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0/nvme0n1",
        "/dev/nvme0n1"},
       std::nullopt},
      {{"add", "scsi", "scsi_device",
        "/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0", ""},
       std::nullopt},
      {{"add", "usb", "usb_interface", "/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0", ""},
       std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.uevent.action + " " + c.uevent.subsystem + " " + c.uevent.devpath);
    const auto event = TranslateUevent(c.uevent);
    ASSERT_EQ(event.has_value(), c.event.has_value());
    if (!event) continue;
    EXPECT_EQ(event->event, *c.event);
    EXPECT_EQ(event->deviceType, kDeviceTypeInterface);
    EXPECT_EQ(event->path, c.uevent.devnode);
  }
}

TEST(UdevWatcher, UsesTheKernelSourceWhereNoUdevDaemonRuns) {
  testing::SysfsTree tree;  // a scratch directory
  const std::string runUdev = tree.Dev() + "/run-udev";
  fs::create_directories(runUdev);
  EXPECT_EQ(ChooseUeventSource(runUdev), UeventSource::Kernel);
  std::ofstream(runUdev + "/control") << "";
  EXPECT_EQ(ChooseUeventSource(runUdev), UeventSource::Udev);
  EXPECT_EQ(ChooseUeventSource("/nonexistent/run/udev"), UeventSource::Kernel);
}

TEST(UdevWatcher, StartsAndStopsOnTheKernelSource) {
  UdevWatcher watcher(UeventSource::Auto, "/nonexistent/run/udev");
  EXPECT_EQ(watcher.PollDescriptor(), -1);
  int heard = 0;
  ASSERT_TRUE(watcher.Start([&](const DeviceChangeEvent&) { ++heard; })) << watcher.StartError();
  EXPECT_EQ(watcher.ActiveSource(), UeventSource::Kernel);
  const int fd = watcher.PollDescriptor();
  EXPECT_GE(fd, 0);
  watcher.Dispatch();  // nothing pending: returns at once
  EXPECT_EQ(heard, 0);

  watcher.Stop();
  EXPECT_EQ(watcher.PollDescriptor(), -1);
  watcher.Dispatch();  // harmless when stopped
  ASSERT_TRUE(watcher.Start([](const DeviceChangeEvent&) {}));
  EXPECT_GE(watcher.PollDescriptor(), 0);
}  // destroyed while started

// Waits for the next uevent that passes the monitor's filter.
std::optional<UeventProperties> NextUevent(UdevMonitor& monitor, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    if (auto uevent = monitor.Receive()) return uevent;
    pollfd pfd{monitor.Fd(), POLLIN, 0};
    ::poll(&pfd, 1, 100);
  }
  return std::nullopt;
}

bool TriggerUevent(const std::string& sysDevice, const char* action) {
  std::ofstream out(sysDevice + "/uevent");
  out << action;
  out.flush();
  return static_cast<bool>(out);
}

// A kernel uevent socket of the test's own, beside the monitor under test:
// when the monitor hears nothing, this one tells whether the kernel sent
// anything at all into this network namespace.
class KernelUeventListener {
 public:
  KernelUeventListener() {
    fd_ = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
    if (fd_ < 0) return;
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = 1;  // the kernel's own messages
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~KernelUeventListener() {
    if (fd_ >= 0) ::close(fd_);
  }
  KernelUeventListener(const KernelUeventListener&) = delete;
  KernelUeventListener& operator=(const KernelUeventListener&) = delete;

  bool Open() const { return fd_ >= 0; }

  // Whether a message "ACTION@DEVPATH" whose device path ends in `suffix`
  // arrived within `timeoutMs`.
  bool Heard(const std::string& action, const std::string& suffix, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[8192];
    while (std::chrono::steady_clock::now() < deadline) {
      const ssize_t n = ::recv(fd_, buffer, sizeof buffer - 1, 0);
      if (n > 0) {
        buffer[n] = '\0';
        const std::string header(buffer);  // "change@/devices/virtual/block/loop0"
        if (header.starts_with(action + "@") && header.ends_with(suffix)) return true;
        continue;
      }
      pollfd pfd{fd_, POLLIN, 0};
      ::poll(&pfd, 1, 100);
    }
    return false;
  }

 private:
  int fd_ = -1;
};

// A real kernel uevent through the monitor: the kernel reports a "change" of
// a loop disk when asked to through sysfs (root only). The monitor passes
// block disks and drops other subsystems; the watcher drops the loop disk.
TEST(UdevMonitor, HearsKernelUeventsOfBlockDisksOnly) {
  if (!fs::exists("/sys/class/block/loop0") || !fs::exists("/sys/class/mem/null"))
    GTEST_SKIP() << "no loop0 or mem/null here";
  std::string error;
  auto monitor = UdevMonitor::Open(UeventSource::Kernel, &error);
  ASSERT_NE(monitor, nullptr) << error;
  KernelUeventListener independent;
  ASSERT_TRUE(independent.Open()) << "cannot open a kernel uevent socket: " << strerror(errno);
  if (!TriggerUevent("/sys/class/mem/null", "change") ||
      !TriggerUevent("/sys/class/block/loop0", "change"))
    GTEST_SKIP() << "cannot trigger uevents (not root, or sysfs read-only)";

  std::optional<UeventProperties> loop;
  while (auto uevent = NextUevent(*monitor, 3000)) {
    EXPECT_NE(uevent->subsystem, "mem");
    if (uevent->devpath.ends_with("/loop0")) {
      loop = uevent;
      break;
    }
  }
  if (!loop) {
    // Only a kernel that sent nothing excuses the monitor.
    ASSERT_FALSE(independent.Heard("change", "/loop0", 1000))
        << "the kernel sent the loop0 change, but the monitor did not pass it on";
    GTEST_SKIP() << "no kernel uevents reach this network namespace";
  }
  EXPECT_EQ(loop->action, "change");
  EXPECT_EQ(loop->subsystem, "block");
  EXPECT_EQ(loop->devtype, "disk");
  EXPECT_EQ(loop->devnode, "/dev/loop0");
  EXPECT_FALSE(TranslateUevent(*loop).has_value());
}

}  // namespace
}  // namespace fwtool::platform
