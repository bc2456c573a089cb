// SPDX-License-Identifier: GPL-2.0-or-later
// The Linux pass-through backend: one SG_IO request per command on the node
// that the listed path names (/dev/sgN preferred, /dev/sdX or /dev/srN work
// too). Like every backend it opens the node, sends one block and closes the
// node again, unless a session holds the node open for an operation. A
// listed path ("usbsto:" or "sbp2:" and a node) is checked on every open:
// the descriptor must be that SCSI device on that bus (CheckOpenNode), so a
// node that another device took since the listing gets no command.
#pragma once

#include <scsi/sg.h>

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "pass_through.h"

namespace fwtool::platform {

// Texts this backend puts into PassThroughResult::detail.
inline constexpr std::string_view kNeedsRawIoText = "raw SCSI commands need root or CAP_SYS_RAWIO";

// Sense bytes asked for with every command.
inline constexpr size_t kSenseBufferSize = 32;

// The node behind a listed path: "usbsto:/dev/sg2" -> "/dev/sg2". A path
// without a bus marker ("/dev/sg2" typed by hand) is the node itself.
std::string NodeFromPath(std::string_view path);

enum class NodeKind {
  ScsiGeneric,  // character device of the sg driver
  Block,        // disk or CD-ROM block device
  Other,        // anything else; SG_IO will refuse it
};
NodeKind KindOfNode(const std::string& node);

// open(2) flags for one command. Data-out commands want the device to
// themselves: on an sg node O_EXCL is exactly that (it fails with EBUSY while
// another program has the node open, O_NONBLOCK keeps the open from waiting).
// On a block node O_EXCL would mean claiming the whole disk, which the kernel
// refuses while any partition of it is mounted, so it is not asked there.
int OpenFlagsFor(bool exclusive, NodeKind kind);
int OpenFlagsFor(const PassThroughRequest& request, NodeKind kind);

// One SG_IO call: the header and the buffers it points at. Not copyable: the
// header points into the object itself.
struct SgIoCall {
  explicit SgIoCall(const PassThroughRequest& request);
  SgIoCall(const SgIoCall&) = delete;
  SgIoCall& operator=(const SgIoCall&) = delete;

  std::array<uint8_t, 16> cdb{};
  std::array<uint8_t, kSenseBufferSize> sense{};
  sg_io_hdr_t header{};
};

// The result of a finished SG_IO call (ioctlErrno 0 when the ioctl returned 0).
PassThroughResult InterpretSgIoReply(const SgIoCall& call, int ioctlErrno, const std::string& node);

// Texts for the failures of one stage, by errno.
std::string DescribeOpenError(const std::string& node, int error);
std::string DescribeIoctlError(const std::string& node, int error);

class SgIoBackend final : public PassThroughBackend {
 public:
  // sysfsRoot: where the nodes' queue limits are read ("/sys" on a real system).
  explicit SgIoBackend(std::string sysfsRoot = "/sys");

  PassThroughResult Execute(const PassThroughRequest& request) override;

  // The largest transfer the node's queue takes, in KB (max_hw_sectors_kb of
  // the block device behind it); 0 when it cannot be told. Read once per
  // device and kept.
  uint32_t MaxTransferKB(const std::string& node);

 private:
  std::string sysfsRoot_;
  std::mutex limitMutex_;  // commands to different units may run on several threads
  std::map<std::string, uint32_t> limitByDevice_;  // key: the device's sysfs directory
};

}  // namespace fwtool::platform
