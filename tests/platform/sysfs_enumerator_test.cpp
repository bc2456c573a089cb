// SPDX-License-Identifier: GPL-2.0-or-later
#include "sysfs_enumerator.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "sg_io_backend.h"
#include "sysfs_tree.h"
#include "unprivileged.h"

namespace fwtool::platform {
namespace {

using fwtool::testing::RunUnprivileged;
using fwtool::testing::SysfsTree;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using Unit = SysfsTree::Unit;

// One attached device and where it must show up. Paths are written with
// "@" standing for the fixture's /dev.
struct SingleDeviceCase {
  const char* name;
  std::function<void(SysfsTree&)> attach;
  std::vector<std::string> disks;
  std::vector<std::string> cdroms;
};

std::vector<std::string> Expand(const SysfsTree& tree, std::vector<std::string> paths) {
  for (auto& path : paths) {
    const size_t at = path.find('@');
    if (at != std::string::npos) path.replace(at, 1, tree.Dev());
  }
  return paths;
}

void PrintTo(const SingleDeviceCase& c, std::ostream* os) {
  *os << c.name;
}

// Block device names as the kernel gives them: sda .. sdz, sdaa, sdab, ...
std::string DiskName(int index) {
  std::string letters;
  for (int i = index + 1; i > 0; i = (i - 1) / 26)
    letters.insert(letters.begin(), char('a' + (i - 1) % 26));
  return "sd" + letters;
}

class SingleDevice : public ::testing::TestWithParam<SingleDeviceCase> {};

TEST_P(SingleDevice, IsListedInItsClassWithItsBusMarker) {
  SysfsTree tree;
  GetParam().attach(tree);
  SysfsEnumerator enumerator(tree.Sys(), tree.Dev());
  EXPECT_EQ(enumerator.DiskInterfaces(), Expand(tree, GetParam().disks));
  EXPECT_EQ(enumerator.CdromInterfaces(), Expand(tree, GetParam().cdroms));
}

INSTANTIATE_TEST_SUITE_P(
    Buses, SingleDevice,
    ::testing::Values(SingleDeviceCase{"UsbStorageDisk",
                                       [](SysfsTree& t) {
                                         t.AddUsb({6, "sg2", "sdb"});
                                       },
                                       {"usbsto:@/sg2"},
                                       {}},
                      SingleDeviceCase{"UasDisk",
                                       [](SysfsTree& t) {
                                         t.AddUsb({7, "sg3", "sdc"}, "uas");
                                       },
                                       {"usbsto:@/sg3"},
                                       {}},
                      SingleDeviceCase{"Sbp2Disk",
                                       [](SysfsTree& t) {
                                         t.AddSbp2({8, "sg4", "sdd"});
                                       },
                                       {"sbp2:@/sg4"},
                                       {}},
                      // Either mark alone is enough.
                      SingleDeviceCase{"Sbp2ByIeee1394IdOnly",
                                       [](SysfsTree& t) {
                                         t.AddSbp2({8, "sg4", "sdd"}, "firewire", true);
                                       },
                                       {"sbp2:@/sg4"},
                                       {}},
                      SingleDeviceCase{"Sbp2ByHostNameOnly",
                                       [](SysfsTree& t) {
                                         t.AddSbp2({8, "sg4", "sdd"}, "sbp2", false);
                                       },
                                       {"sbp2:@/sg4"},
                                       {}},
                      // Many SBP-2 bridges present their disk as a reduced-block-commands device.
                      SingleDeviceCase{"Sbp2RbcDisk",
                                       [](SysfsTree& t) {
                                         t.AddSbp2({8, "sg4", "sdd", 0x0E});
                                       },
                                       {"sbp2:@/sg4"},
                                       {}},
                      SingleDeviceCase{"UsbCdrom",
                                       [](SysfsTree& t) {
                                         t.AddUsb({6, "sg1", "sr0", 5});
                                       },
                                       {},
                                       {"usbsto:@/sg1"}},
                      SingleDeviceCase{"SataDiskIsNotListed",
                                       [](SysfsTree& t) {
                                         t.AddSata({0, "sg0", "sda"});
                                       },
                                       {},
                                       {}},
                      SingleDeviceCase{"LoopAndNvmeAreNotListed",
                                       [](SysfsTree& t) { t.AddNonScsiDisks(); },
                                       {},
                                       {}},
                      // A USB device of another type (a scanner, type 6) is neither.
                      SingleDeviceCase{"UsbOtherType",
                                       [](SysfsTree& t) {
                                         t.AddUsb({6, "sg2", "", 6});
                                       },
                                       {},
                                       {}}),
    [](const auto& info) { return std::string(info.param.name); });

// The serial number a record of an update keeps: the USB device's string,
// the SBP-2 unit's unique id, nothing where the bus gives none.
TEST(SysfsEnumerator, TellsTheSerialNumberTheBusGives) {
  SysfsTree tree;
  tree.AddUsb({2, "sg2", "sdb"}, "usb-storage", "0123456789AB");
  tree.AddUsb({3, "sg3", "sdc"}, "uas");
  tree.AddSbp2({4, "sg4", "sdd"});
  tree.AddSata({0, "sg0", "sda"});
  SysfsEnumerator enumerator(tree.Sys(), tree.Dev());
  const std::string dev = tree.Dev();
  EXPECT_EQ(enumerator.SerialNumber("usbsto:" + dev + "/sg2"), "0123456789AB");
  EXPECT_EQ(enumerator.SerialNumber(dev + "/sg2"), "0123456789AB") << "a bare node";
  EXPECT_EQ(enumerator.SerialNumber("usbsto:" + dev + "/sg3"), "") << "a device without one";
  EXPECT_EQ(enumerator.SerialNumber("sbp2:" + dev + "/sg4"), "0030e0f4e0123456");
  EXPECT_EQ(enumerator.SerialNumber(dev + "/sg0"), "") << "not a listed bus";
  EXPECT_EQ(enumerator.SerialNumber("usbsto:" + dev + "/sg9"), "") << "no such device";
}

TEST(SysfsEnumerator, ListsDisksThenCdromsInHostOrderAndSkipsOtherBuses) {
  SysfsTree tree;
  tree.AddSata({0, "sg0", "sda"});
  tree.AddNonScsiDisks();
  tree.AddUsb({11, "sg5", "sde"}, "uas");
  tree.AddUsb({3, "sg1", "sr0", 5});
  tree.AddUsb({2, "sg2", "sdb"});
  tree.AddSbp2({9, "sg3", "sdc"});
  tree.AddUsb({12, "sg6", "sr1", 5});
  SysfsEnumerator enumerator(tree.Sys(), tree.Dev());

  // Host 11 after host 9: the order is numeric, not by name.
  EXPECT_THAT(enumerator.DiskInterfaces(),
              ElementsAre("usbsto:" + tree.Node("sg2"), "sbp2:" + tree.Node("sg3"),
                          "usbsto:" + tree.Node("sg5")));
  EXPECT_THAT(enumerator.CdromInterfaces(),
              ElementsAre("usbsto:" + tree.Node("sg1"), "usbsto:" + tree.Node("sg6")));

  // The full scan keeps the SATA disk, marked as on another bus, without a path.
  const auto scan = enumerator.Scan();
  ASSERT_FALSE(scan.empty());
  EXPECT_EQ(scan.front().host, 0);
  EXPECT_EQ(scan.front().bus, StorageBus::Other);
  EXPECT_EQ(scan.front().sgNode, tree.Node("sg0"));
  EXPECT_EQ(scan.front().blockNode, tree.Node("sda"));
  EXPECT_THAT(scan.front().path, IsEmpty());
}

TEST(SysfsEnumerator, PrefersTheSgNodeAndFallsBackToTheBlockNode) {
  auto without = [](bool sgNode, bool blockNode) {
    Unit unit(1, "sg2", "sdb");
    unit.sgNode = sgNode;
    unit.blockNode = blockNode;
    return unit;
  };
  struct Case {
    Unit unit;
    std::string expected;  // node name, or empty for "not listed"
  };
  const Case cases[] = {
      {Unit(1, "sg2", "sdb"), "sg2"},
      // No sg driver loaded: only the block device exists.
      {Unit(1, "", "sdb"), "sdb"},
      // The sg node has not been made yet.
      {without(false, true), "sdb"},
      // No node at all yet: left for the next refresh.
      {without(false, false), ""},
  };
  for (const auto& c : cases) {
    SysfsTree tree;
    tree.AddUsb(c.unit);
    SysfsEnumerator enumerator(tree.Sys(), tree.Dev());
    const auto disks = enumerator.DiskInterfaces();
    if (c.expected.empty()) {
      EXPECT_THAT(disks, IsEmpty());
    } else {
      EXPECT_THAT(disks, ElementsAre("usbsto:" + tree.Node(c.expected))) << c.expected;
    }
  }
}

TEST(SysfsEnumerator, ManyDevicesStayInHostOrderUpToTheBound) {
  SysfsTree tree;
  const int count = static_cast<int>(kMaxInterfacesPerClass) + 4;
  std::vector<int> hosts(count);
  for (int i = 0; i < count; ++i) hosts[i] = i;
  std::shuffle(hosts.begin(), hosts.end(), std::mt19937(7));
  for (int host : hosts) tree.AddUsb({host, fmt::format("sg{}", host), DiskName(host)});
  SysfsEnumerator enumerator(tree.Sys(), tree.Dev());

  const auto disks = enumerator.DiskInterfaces();
  ASSERT_EQ(disks.size(), kMaxInterfacesPerClass);
  for (size_t i = 0; i < disks.size(); ++i)
    EXPECT_EQ(disks[i], "usbsto:" + tree.Node(fmt::format("sg{}", i)));
  EXPECT_EQ(enumerator.DiskInterfaces(), disks);  // stable from one refresh to the next
}

TEST(SysfsEnumerator, MissingTreeGivesNothing) {
  SysfsEnumerator enumerator("/nonexistent/sys", "/nonexistent/dev");
  EXPECT_THAT(enumerator.DiskInterfaces(), IsEmpty());
  EXPECT_THAT(enumerator.CdromInterfaces(), IsEmpty());
  EXPECT_THAT(enumerator.AccessProblem(), IsEmpty());
}

TEST(SysfsEnumerator, AccessProblemNamesTheMissingRightsOnce) {
  SysfsTree tree;
  tree.AddUsb({2, "sg2", "sdb"});
  tree.AddSbp2({3, "sg3", "sdc"});
  tree.AddSata({0, "sg0", "sda"});
  for (const char* node : {"sg2", "sg3", "sg0"}) ::chmod(tree.Node(node).c_str(), 0);
  SysfsEnumerator enumerator(tree.Sys(), tree.Dev());

  const auto problem = RunUnprivileged([&] { return enumerator.AccessProblem(); });
  ASSERT_TRUE(problem.has_value());
  EXPECT_THAT(*problem, HasSubstr("2 storage devices found"));
  EXPECT_THAT(*problem, HasSubstr(std::string(kNeedsRawIoText)));
  EXPECT_THAT(*problem, HasSubstr(tree.Node("sg2") + ", " + tree.Node("sg3")));
  EXPECT_THAT(*problem, ::testing::Not(HasSubstr(tree.Node("sg0"))));  // not ours to list
  // The paths are still listed: the device list decides what to show.
  const auto disks = RunUnprivileged([&] {
    std::string joined;
    for (const auto& path : enumerator.DiskInterfaces()) joined += path + ";";
    return joined;
  });
  EXPECT_EQ(disks, "usbsto:" + tree.Node("sg2") + ";sbp2:" + tree.Node("sg3") + ";");
}

TEST(SysfsEnumerator, NoAccessProblemWithoutDevicesOrWithFullRights) {
  SysfsTree tree;
  tree.AddSata({0, "sg0", "sda"});
  SysfsEnumerator enumerator(tree.Sys(), tree.Dev());
  EXPECT_EQ(RunUnprivileged([&] { return enumerator.AccessProblem(); }), "");

  if (!HasRawIoCapability()) GTEST_SKIP() << "the tests run without CAP_SYS_RAWIO";
  tree.AddUsb({2, "sg2", "sdb"});
  EXPECT_THAT(enumerator.AccessProblem(), IsEmpty());
}

// A disk whose file systems are mounted, or that another driver holds (a
// device-mapper or RAID member), gets no sector written through the helper.
TEST(DiskInUse, AMountedOrHeldDiskIsNamedAndAnIdleOneIsNot) {
  struct Case {
    const char* name;
    const char* holder;  // under sdb1/holders, or none
    const char* mounts;  // lines of the mount table
    std::string why;
  };
  const std::string mounted = "a file system of the disk is mounted (device 8:17)";
  const Case cases[] = {
      {"idle", nullptr, "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n", ""},
      {"partition mounted", nullptr,
       "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n40 22 8:17 / /media/u/stick rw - vfat /dev/sdb1 rw\n",
       mounted},
      {"held by device-mapper", "dm-0", "", "sdb1 is held by dm-0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SysfsTree tree;
    tree.AddUsb({2, "sg2", "sdb"});
    const std::string disk = tree.Sys() + "/class/block/sdb/";
    std::ofstream(disk + "dev") << "8:16\n";
    std::ofstream(disk + "sdb1/dev") << "8:17\n";
    if (c.holder != nullptr) std::filesystem::create_directories(disk + "sdb1/holders/" + c.holder);
    const std::string mountInfo = tree.Dev() + "/mountinfo";
    std::ofstream(mountInfo) << c.mounts;
    for (const std::string node : {"sg2", "sdb"})
      EXPECT_EQ(DiskInUse("usbsto:" + tree.Node(node), tree.Sys(), mountInfo), c.why) << node;
  }
}

}  // namespace
}  // namespace fwtool::platform
