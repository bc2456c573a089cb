// SPDX-License-Identifier: GPL-2.0-or-later
#include "sg_io_backend.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <vector>

#include "held_node.h"
#include "sysfs_tree.h"
#include "transport.h"
#include "unprivileged.h"

namespace fwtool::platform {
namespace {

using fwtool::testing::RunUnprivileged;
using fwtool::testing::SysfsTree;
using ::testing::HasSubstr;

PassThroughRequest Request(DataDirection direction, uint32_t length, uint8_t* data,
                           uint32_t timeoutSeconds, std::vector<uint8_t> cdb) {
  PassThroughRequest request;
  request.path = "usbsto:/dev/sg2";
  request.direction = direction;
  request.length = length;
  request.data = data;
  request.timeoutSeconds = timeoutSeconds;
  request.exclusive = direction == DataDirection::Out;
  request.cdbLength = static_cast<uint8_t>(cdb.size());
  std::copy(cdb.begin(), cdb.end(), request.cdb.begin());
  return request;
}

TEST(SgIoCall, HeaderFollowsTheRequest) {
  AlignedBuffer buffer(65536);
  struct Case {
    const char* name;
    DataDirection direction;
    uint32_t length;
    bool withData;
    uint32_t timeoutSeconds;
    std::vector<uint8_t> cdb;
    int expectedDirection;
    unsigned expectedTimeoutMs;
  };
  const Case cases[] = {
      {"read 8 KB",
       DataDirection::In,
       8192,
       true,
       10,
       {0xDF, 0x10, 0, 0, 0, 0, 0, 0, 0x20, 0, 0, 0x30},
       SG_DXFER_FROM_DEV,
       10000},
      {"write 64 KB, long time-out",
       DataDirection::Out,
       65536,
       true,
       100,
       {0xDF, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFB},
       SG_DXFER_TO_DEV,
       100000},
      {"write 2 bytes",
       DataDirection::Out,
       2,
       true,
       50,
       {0xE0, 0xF4, 0xE7},
       SG_DXFER_TO_DEV,
       50000},
      {"read 1 byte",
       DataDirection::In,
       1,
       true,
       10,
       {0x12, 0, 0, 0, 1, 0},
       SG_DXFER_FROM_DEV,
       10000},
      {"no data, sent as data-in",
       DataDirection::In,
       0,
       false,
       10,
       {0xFF, 0x04, 0x13, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01},
       SG_DXFER_NONE,
       10000},
      {"no data, sent as data-out",
       DataDirection::Out,
       0,
       false,
       100,
       {0xFF, 0x04, 0x13, 0, 0, 0, 0, 0, 0, 0},
       SG_DXFER_NONE,
       100000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto request = Request(c.direction, c.length, c.withData ? buffer.data() : nullptr,
                                 c.timeoutSeconds, c.cdb);
    const SgIoCall call(request);
    const sg_io_hdr_t& h = call.header;
    EXPECT_EQ(h.interface_id, 'S');
    EXPECT_EQ(h.dxfer_direction, c.expectedDirection);
    EXPECT_EQ(h.dxfer_len, c.length);
    EXPECT_EQ(h.dxferp, c.withData ? static_cast<void*>(buffer.data()) : nullptr);
    EXPECT_EQ(h.timeout, c.expectedTimeoutMs);
    ASSERT_EQ(h.cmd_len, c.cdb.size());
    EXPECT_EQ(h.cmdp, call.cdb.data());
    EXPECT_EQ(std::vector<uint8_t>(h.cmdp, h.cmdp + h.cmd_len), c.cdb);
    EXPECT_EQ(h.mx_sb_len, kSenseBufferSize);
    EXPECT_EQ(h.sbp, call.sense.data());
    EXPECT_EQ(h.iovec_count, 0);
    EXPECT_EQ(h.flags, 0u);
  }
}

TEST(SgIoCall, OnlyDataOutOnAnSgNodeOpensExclusively) {
  struct Case {
    DataDirection direction;
    NodeKind kind;
    bool exclusive;
  };
  const Case cases[] = {
      {DataDirection::Out, NodeKind::ScsiGeneric, true},
      {DataDirection::In, NodeKind::ScsiGeneric, false},
      {DataDirection::Out, NodeKind::Block, false},
      {DataDirection::In, NodeKind::Block, false},
      {DataDirection::Out, NodeKind::Other, false},
  };
  for (const auto& c : cases) {
    const auto request = Request(c.direction, 0, nullptr, 10, {0});
    const int flags = OpenFlagsFor(request, c.kind);
    EXPECT_EQ(flags & O_ACCMODE, O_RDWR);
    // Never wait for another holder of the node: fail at once instead.
    EXPECT_TRUE(flags & O_NONBLOCK);
    EXPECT_EQ((flags & O_EXCL) != 0, c.exclusive) << static_cast<int>(c.kind);
  }
}

TEST(SgIoCall, NodeKindAndNodeFromPath) {
  EXPECT_EQ(KindOfNode("/dev/null"), NodeKind::Other);  // a character device, not sg
  EXPECT_EQ(KindOfNode("/nonexistent/sg0"), NodeKind::Other);
  if (std::filesystem::is_block_file("/dev/loop0")) {
    EXPECT_EQ(KindOfNode("/dev/loop0"), NodeKind::Block);
  }

  EXPECT_EQ(NodeFromPath("usbsto:/dev/sg2"), "/dev/sg2");
  EXPECT_EQ(NodeFromPath("sbp2:/dev/sdc"), "/dev/sdc");
  EXPECT_EQ(NodeFromPath("/dev/sg2"), "/dev/sg2");
  EXPECT_EQ(NodeFromPath("usbstorage"), "usbstorage");
}

TEST(SgIoReply, KeepsTheKindsOfFailureApart) {
  struct Case {
    const char* name;
    int ioctlErrno;
    uint8_t status;
    uint16_t host, driver;
    int resid;
    uint8_t senseWritten;
    bool ok;
    uint32_t transferred;
    size_t senseKept;
    const char* detail;
  };
  const Case cases[] = {
      {"clean", 0, 0, 0, 0, 0, 0, true, 4096, 0, ""},
      {"short read", 0, 0, 0, 0, 96, 0, true, 4000, 0, ""},
      {"check condition", 0, 0x02, 0, 0x08, 0, 18, false, 4096, 18,
       "SCSI status 0x02 (CHECK CONDITION), driver status 0x08 (sense data)"},
      {"time-out", 0, 0, 0x03, 0, 4096, 0, false, 0, 0, "host status 0x03 (command timed out)"},
      {"unplugged", 0, 0, 0x01, 0, 4096, 0, false, 0, 0, "no connection"},
      {"odd figures are clamped", 0, 0, 0, 0, -5, 200, true, 4096, kSenseBufferSize, ""},
      {"residue beyond the length", 0, 0, 0, 0, 9000, 0, true, 0, 0, ""},
      {"no rights", EPERM, 0, 0, 0, 0, 0, false, 0, 0,
       "raw SCSI commands need root or CAP_SYS_RAWIO"},
      {"not a SCSI node", ENOTTY, 0, 0, 0, 0, 0, false, 0, 0, "does not take SCSI commands"},
  };
  AlignedBuffer buffer(4096);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SgIoCall call(
        Request(DataDirection::In, 4096, buffer.data(), 10, {0x28, 0, 0, 0, 0, 0, 0, 0, 8, 0}));
    for (size_t i = 0; i < call.sense.size(); ++i) call.sense[i] = static_cast<uint8_t>(0x70 + i);
    call.header.status = c.status;
    call.header.host_status = c.host;
    call.header.driver_status = c.driver;
    call.header.resid = c.resid;
    call.header.sb_len_wr = c.senseWritten;
    const auto result = InterpretSgIoReply(call, c.ioctlErrno, "/dev/sg2");
    EXPECT_TRUE(result.opened);
    EXPECT_EQ(result.callOk, c.ioctlErrno == 0);
    EXPECT_EQ(result.errorCode, c.ioctlErrno);
    EXPECT_EQ(result.Succeeded(), c.ok);
    EXPECT_EQ(result.transferred, c.transferred);
    ASSERT_EQ(result.sense.size(), c.senseKept);
    if (c.senseKept != 0) {
      EXPECT_EQ(result.sense.front(), 0x70);
    }
    EXPECT_THAT(result.detail, HasSubstr(c.detail));
    if (c.ok) {
      EXPECT_EQ(result.detail, "");
    }
  }
}

TEST(SgIoBackend, MissingNodeIsNotOpened) {
  SgIoBackend backend("/nonexistent/sys");
  AlignedBuffer buffer(512);
  auto request = Request(DataDirection::In, 512, buffer.data(), 10, {0x12, 0, 0, 0, 36, 0});
  request.path = "usbsto:/nonexistent/dev/sg9";
  const auto result = backend.Execute(request);
  EXPECT_FALSE(result.opened);
  EXPECT_EQ(result.errorCode, ENOENT);
  EXPECT_THAT(result.detail, HasSubstr("/nonexistent/dev/sg9"));
  EXPECT_THAT(result.detail, HasSubstr("no such device"));
}

// A node typed by hand is taken for what it is.
TEST(SgIoBackend, NodeWithoutScsiIsOpenedButTheCallFails) {
  SgIoBackend backend("/nonexistent/sys");
  auto request = Request(DataDirection::In, 0, nullptr, 10, {0, 0, 0, 0, 0, 0});
  request.path = "/dev/null";
  const auto result = backend.Execute(request);
  EXPECT_TRUE(result.opened);
  EXPECT_FALSE(result.callOk);
  EXPECT_EQ(result.errorCode, ENOTTY);
  EXPECT_FALSE(result.Succeeded());
  EXPECT_THAT(result.detail, HasSubstr("/dev/null does not take SCSI commands"));
}

// A listed path names a SCSI device on a bus: a descriptor that is not
// one gets no command, held or not.
TEST(SgIoBackend, AListedPathWhoseNodeIsNoScsiDeviceIsNotOpened) {
  SysfsTree tree;
  tree.AddUsb({2, "sg2", "sdb"});  // a plain file for a node
  SgIoBackend backend(tree.Sys());
  for (const std::string& node : {std::string("/dev/null"), tree.Node("sg2")}) {
    for (const bool held : {false, true}) {
      SCOPED_TRACE(node + (held ? ", held" : ""));
      auto request = Request(DataDirection::In, 0, nullptr, 10, {0, 0, 0, 0, 0, 0});
      request.path = "usbsto:" + node;
      if (held) request.held = std::make_shared<HeldNode>(/*exclusive=*/true);
      const auto result = backend.Execute(request);
      EXPECT_FALSE(result.opened);
      EXPECT_EQ(result.errorCode, ENODEV);
      EXPECT_EQ(result.detail,
                "cannot open " + node + ": it is not a SCSI generic or block device node");
    }
  }
}

TEST(SgIoBackend, NodeWithoutRightsSaysWhatIsNeeded) {
  SysfsTree tree;
  tree.AddUsb({2, "sg2", "sdb"});
  ::chmod(tree.Node("sg2").c_str(), 0);
  const auto detail = RunUnprivileged([&] {
    SgIoBackend backend(tree.Sys());
    auto request = Request(DataDirection::In, 0, nullptr, 10, {0, 0, 0, 0, 0, 0});
    request.path = "usbsto:" + tree.Node("sg2");
    const auto result = backend.Execute(request);
    return fmt::format("{} {} {}", result.opened, result.errorCode, result.detail);
  });
  EXPECT_EQ(detail,
            fmt::format("false {} cannot open {}: {}", EACCES, tree.Node("sg2"), kNeedsRawIoText));
}

TEST(SgIoBackend, TransferBeyondTheQueueLimitIsRefusedWithTheFigures) {
  SysfsTree tree;
  tree.AddUsb({2, "sg2", "sdb"});  // 120 KB, as usb-storage sets it
  SgIoBackend backend(tree.Sys());
  AlignedBuffer buffer(256 * 1024);

  for (const std::string node : {"sg2", "sdb"}) {
    SCOPED_TRACE(node);
    EXPECT_EQ(backend.MaxTransferKB(tree.Node(node)), 120u);
    auto request = Request(DataDirection::Out, 120 * 1024 + 512, buffer.data(), 50, {0x2A});
    request.path = "usbsto:" + tree.Node(node);
    auto result = backend.Execute(request);
    EXPECT_FALSE(result.opened);
    EXPECT_EQ(result.detail, "transfer of 123392 bytes exceeds the device's limit of 120 KB");

    // At the limit the node is opened and examined (a plain file here, so
    // it is not taken).
    request.length = 120 * 1024;
    result = backend.Execute(request);
    EXPECT_FALSE(result.opened);
    EXPECT_EQ(result.detail,
              "cannot open " + tree.Node(node) + ": it is not a SCSI generic or block device node");
  }
}

TEST(SgIoBackend, QueueLimitIsReadOncePerDevice) {
  SysfsTree tree;
  const auto device = tree.AddUsb({2, "sg2", "sdb"});  // 120 KB, as usb-storage sets it
  SgIoBackend backend(tree.Sys());
  EXPECT_EQ(backend.MaxTransferKB(tree.Node("sg2")), 120u);
  SysfsTree::Write(device / "block/sdb/queue/max_hw_sectors_kb", "240");
  EXPECT_EQ(backend.MaxTransferKB(tree.Node("sg2")), 120u);

  // After a reset the bridge comes back as another SCSI device that may get
  // the same sg name: its own limit counts.
  std::filesystem::remove(tree.Sys() + "/class/scsi_generic/sg2");
  std::filesystem::remove(tree.Sys() + "/class/block/sdb");
  std::filesystem::remove(tree.Sys() + "/class/block/sdb1");
  SysfsTree::Unit uas(3, "sg2", "sdb");
  uas.maxHwSectorsKb = 32767;
  tree.AddUsb(uas, "uas");
  EXPECT_EQ(backend.MaxTransferKB(tree.Node("sg2")), 32767u);

  // The disk driver binds after the sg node appeared: the limit is found
  // once the block device is there.
  const auto late = tree.AddUsb({4, "sg4", ""});
  EXPECT_EQ(backend.MaxTransferKB(tree.Node("sg4")), 0u);
  std::filesystem::create_directories(late / "block/sdd/queue");
  SysfsTree::Write(late / "block/sdd/queue/max_hw_sectors_kb", "512");
  EXPECT_EQ(backend.MaxTransferKB(tree.Node("sg4")), 512u);

  // Unknown node: no limit is assumed.
  EXPECT_EQ(backend.MaxTransferKB("/dev/sg77"), 0u);
}

size_t OpenDescriptors() {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                           std::filesystem::directory_iterator{}));
}

TEST(SgIoBackend, AHeldNodeStaysOpenFromCommandToCommandUntilItsSessionEnds) {
  SgIoBackend backend("/nonexistent/sys");
  auto request = Request(DataDirection::In, 0, nullptr, 10, {0, 0, 0, 0, 0, 0});
  request.path = "/dev/null";
  const size_t before = OpenDescriptors();
  request.held = std::make_shared<HeldNode>(/*exclusive=*/true);
  for (int i = 0; i < 3; ++i) {
    const auto result = backend.Execute(request);
    EXPECT_TRUE(result.opened);
    EXPECT_EQ(result.errorCode, ENOTTY);
    EXPECT_EQ(OpenDescriptors(), before + 1);
  }
  request.held.reset();
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST(SgIoBackend, AHeldNodeRefusesATransferBeyondTheQueueLimitWithTheSameText) {
  SysfsTree tree;
  tree.AddUsb({2, "sg2", "sdb"});  // 120 KB
  SgIoBackend backend(tree.Sys());
  AlignedBuffer buffer(256 * 1024);
  auto request = Request(DataDirection::In, 120 * 1024 + 512, buffer.data(), 10, {0x28});
  request.path = tree.Node("sg2");
  request.held = std::make_shared<HeldNode>(/*exclusive=*/false);
  const auto result = backend.Execute(request);
  EXPECT_FALSE(result.opened);
  EXPECT_EQ(CategoryOf(result), ResultCategory::NotSent);
  EXPECT_EQ(result.detail, "transfer of 123392 bytes exceeds the device's limit of 120 KB");
}

TEST(SgIoBackend, RefusesALengthWithoutABuffer) {
  SgIoBackend backend("/nonexistent/sys");
  auto request = Request(DataDirection::In, 512, nullptr, 10, {0x12});
  request.path = "usbsto:/dev/null";
  const auto result = backend.Execute(request);
  EXPECT_FALSE(result.opened);
  EXPECT_THAT(result.detail, HasSubstr("no data buffer"));
}

}  // namespace
}  // namespace fwtool::platform
