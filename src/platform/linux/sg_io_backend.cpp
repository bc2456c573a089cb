// SPDX-License-Identifier: GPL-2.0-or-later
#include "sg_io_backend.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <fmt/ranges.h>
#include <linux/major.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>
#include <vector>

#include "bus_marker.h"
#include "held_node.h"
#include "sysfs_enumerator.h"

namespace fwtool::platform {

namespace fs = std::filesystem;

namespace {

std::string ErrnoText(int error) {
  return std::generic_category().message(error);
}

// What the host adapter (the USB or FireWire transport) says about the command.
const char* HostStatusName(uint16_t status) {
  static constexpr const char* kNames[] = {
      "ok",
      "no connection to the device",
      "bus busy",
      "command timed out",
      "bad target",
      "command aborted",
      "parity error",
      "transport error",
      "bus reset",
      "bad interrupt",
      "passthrough",
      "soft error, retry",
      "retry",
      "requeued",
      "transport disrupted",
      "transport failed fast",
      "target failure",
      "nexus failure",
      "out of memory",
      "medium error",
  };
  return status < std::size(kNames) ? kNames[status] : "unknown host status";
}

const char* DriverStatusName(uint16_t status) {
  static constexpr const char* kNames[] = {
      "ok",      "busy",     "soft error", "media error", "error",
      "invalid", "time-out", "hard error", "sense data",
  };
  const uint16_t code = status & 0x0F;
  return code < std::size(kNames) ? kNames[code] : "unknown driver status";
}

std::string ReadFirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (in) std::getline(in, line);
  return line;
}

// Reads a decimal KB figure; 0 when the file is missing or holds no number.
uint32_t ReadKB(const fs::path& file) {
  const std::string text = ReadFirstLine(file);
  uint64_t value = 0;
  bool any = false;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > UINT32_MAX) return 0;
    any = true;
  }
  return any ? static_cast<uint32_t>(value) : 0;
}

// An sg or block node open for one command or for a session.
struct SgNode final : OpenNode {
  SgNode(int fd, uint32_t limitKB) : fd(fd), limitKB(limitKB) {}
  ~SgNode() override { ::close(fd); }
  SgNode(const SgNode&) = delete;
  SgNode& operator=(const SgNode&) = delete;
  const int fd;
  const uint32_t limitKB;  // 0: not known
};

bool Exceeds(const PassThroughRequest& request, uint32_t limitKB, PassThroughResult& refused) {
  if (limitKB == 0 || request.length <= static_cast<uint64_t>(limitKB) * 1024) return false;
  refused.notSent = true;
  refused.detail = fmt::format("transfer of {} bytes exceeds the device's limit of {} KB",
                               request.length, limitKB);
  return true;
}

}  // namespace

std::string NodeFromPath(std::string_view path) {
  for (std::string_view marker : {kUsbBusMarker, kSbp2BusMarker}) {
    if (path.size() > marker.size() && path.starts_with(marker) && path[marker.size()] == ':')
      return std::string(path.substr(marker.size() + 1));
  }
  return std::string(path);
}

NodeKind KindOfNode(const std::string& node) {
  struct stat st {};
  if (::stat(node.c_str(), &st) != 0) return NodeKind::Other;
  if (S_ISCHR(st.st_mode) && major(st.st_rdev) == SCSI_GENERIC_MAJOR) return NodeKind::ScsiGeneric;
  if (S_ISBLK(st.st_mode)) return NodeKind::Block;
  return NodeKind::Other;
}

int OpenFlagsFor(bool exclusive, NodeKind kind) {
  int flags = O_RDWR | O_NONBLOCK | O_CLOEXEC;
  if (exclusive && kind == NodeKind::ScsiGeneric) flags |= O_EXCL;
  return flags;
}

int OpenFlagsFor(const PassThroughRequest& request, NodeKind kind) {
  return OpenFlagsFor(request.exclusive, kind);
}

SgIoCall::SgIoCall(const PassThroughRequest& request) {
  const size_t cdbLength = std::min<size_t>(request.cdbLength, cdb.size());
  std::copy_n(request.cdb.begin(), cdbLength, cdb.begin());

  header.interface_id = 'S';
  if (request.length == 0 || request.data == nullptr)
    header.dxfer_direction = SG_DXFER_NONE;
  else if (request.direction == DataDirection::In)
    header.dxfer_direction = SG_DXFER_FROM_DEV;
  else
    header.dxfer_direction = SG_DXFER_TO_DEV;
  header.cmd_len = static_cast<unsigned char>(cdbLength);
  header.cmdp = cdb.data();
  header.mx_sb_len = static_cast<unsigned char>(sense.size());
  header.sbp = sense.data();
  if (header.dxfer_direction != SG_DXFER_NONE) {
    header.dxfer_len = request.length;
    header.dxferp = request.data;
  }
  // The device's time-out in milliseconds; UINT_MAX would mean "never".
  const uint64_t ms = static_cast<uint64_t>(request.timeoutSeconds) * 1000;
  header.timeout = static_cast<unsigned int>(std::min<uint64_t>(ms, UINT_MAX - 1));
}

std::string DescribeOpenError(const std::string& node, int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return fmt::format("cannot open {}: {}", node, kNeedsRawIoText);
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return fmt::format("cannot open {}: no such device (unplugged?)", node);
    case EBUSY:
      return fmt::format("cannot open {}: in use by another program", node);
    default:
      return fmt::format("cannot open {}: {}", node, ErrnoText(error));
  }
}

std::string DescribeIoctlError(const std::string& node, int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return fmt::format("SG_IO on {} refused: {}", node, kNeedsRawIoText);
    case ENOTTY:
      return fmt::format("{} does not take SCSI commands (no SG_IO)", node);
    case ENODEV:
    case ENXIO:
      return fmt::format("SG_IO on {} failed: the device is gone", node);
    default:
      return fmt::format("SG_IO on {} failed: {}", node, ErrnoText(error));
  }
}

PassThroughResult InterpretSgIoReply(const SgIoCall& call, int ioctlErrno,
                                     const std::string& node) {
  PassThroughResult result;
  result.opened = true;
  result.callOk = ioctlErrno == 0;
  result.errorCode = ioctlErrno;
  if (!result.callOk) {
    result.detail = DescribeIoctlError(node, ioctlErrno);
    return result;
  }
  const auto& h = call.header;
  result.scsiStatus = h.status;
  result.hostStatus = h.host_status;
  result.driverStatus = h.driver_status;
  const int64_t resid = std::clamp<int64_t>(h.resid, 0, h.dxfer_len);
  result.transferred = static_cast<uint32_t>(h.dxfer_len - resid);
  const size_t senseLength = std::min<size_t>(h.sb_len_wr, call.sense.size());
  result.sense.assign(call.sense.begin(), call.sense.begin() + senseLength);

  if (h.status == 0 && h.host_status == 0 && h.driver_status == 0) return result;
  std::vector<std::string> parts;
  if (h.status != 0)
    parts.push_back(fmt::format("SCSI status 0x{:02X} ({})", h.status, ScsiStatusName(h.status)));
  if (h.host_status != 0)
    parts.push_back(
        fmt::format("host status 0x{:02X} ({})", h.host_status, HostStatusName(h.host_status)));
  if (h.driver_status != 0)
    parts.push_back(fmt::format("driver status 0x{:02X} ({})", h.driver_status,
                                DriverStatusName(h.driver_status)));
  result.detail = fmt::format("{}", fmt::join(parts, ", "));
  return result;
}

SgIoBackend::SgIoBackend(std::string sysfsRoot) : sysfsRoot_(std::move(sysfsRoot)) {}

uint32_t SgIoBackend::MaxTransferKB(const std::string& node) {
  const std::string name = fs::path(node).filename().string();
  if (name.empty()) return 0;
  std::error_code ec;
  const fs::path sys(sysfsRoot_);

  // An sg node: the block device of the same SCSI device carries the queue.
  fs::path device = fs::canonical(sys / "class" / "scsi_generic" / name / "device", ec);
  fs::path queueDir;
  if (!ec) {
    for (const auto& entry : fs::directory_iterator(device / "block", ec)) {
      queueDir = entry.path() / "queue";
      break;
    }
  } else {
    // A block node carries its own queue.
    ec.clear();
    const fs::path block = fs::canonical(sys / "class" / "block" / name, ec);
    if (ec) return 0;
    queueDir = block / "queue";
    device = block;
  }

  const std::string key = device.string();
  {
    const std::lock_guard lock(limitMutex_);
    if (auto it = limitByDevice_.find(key); it != limitByDevice_.end()) return it->second;
  }
  const uint32_t limit = queueDir.empty() ? 0 : ReadKB(queueDir / "max_hw_sectors_kb");
  // The disk driver may bind a moment after the sg node appears: an unknown
  // limit is asked again next time.
  if (limit != 0) {
    std::lock_guard lock(limitMutex_);
    limitByDevice_.emplace(key, limit);
  }
  return limit;
}

PassThroughResult SgIoBackend::Execute(const PassThroughRequest& request) {
  const std::string node = NodeFromPath(request.path);
  const bool marked = node != request.path;
  if (request.length != 0 && request.data == nullptr) {
    PassThroughResult result;
    result.notSent = true;
    result.detail = "no data buffer for a transfer of " + std::to_string(request.length) + " bytes";
    return result;
  }
  // The kernel refuses a pass-through transfer larger than the queue takes;
  // saying so here beats a bare EINVAL from the ioctl. A node held open for
  // an operation looked its limit up once, when it was opened.
  const bool held = request.held != nullptr;
  if (!held) {
    if (PassThroughResult refused; Exceeds(request, MaxTransferKB(node), refused)) return refused;
  }

  NodeOps ops;
  ops.open = [&](bool exclusive, PassThroughResult& failure) -> std::unique_ptr<OpenNode> {
    const int fd = ::open(node.c_str(), OpenFlagsFor(exclusive, KindOfNode(node)));
    if (fd < 0) {
      failure.errorCode = errno;
      failure.detail = DescribeOpenError(node, failure.errorCode);
      return nullptr;
    }
    // A listed path says which device it is: the descriptor must be that
    // device, whatever the name leads to now.
    if (marked) {
      if (const std::string why = CheckOpenNode(fd, request.path, sysfsRoot_); !why.empty()) {
        ::close(fd);
        failure.errorCode = ENODEV;
        failure.detail = fmt::format("cannot open {}: {}", node, why);
        return nullptr;
      }
    }
    return std::make_unique<SgNode>(fd, held ? MaxTransferKB(node) : 0);
  };
  ops.send = [&](OpenNode& open, bool& gone) {
    const auto& sg = static_cast<const SgNode&>(open);
    if (PassThroughResult refused; held && Exceeds(request, sg.limitKB, refused)) return refused;
    SgIoCall call(request);
    const int rc = ::ioctl(sg.fd, SG_IO, &call.header);
    const int ioctlErrno = rc < 0 ? errno : 0;
    // The sg driver answers ENODEV before it queues anything for a device
    // that is being removed.
    gone = ioctlErrno == ENODEV || ioctlErrno == ENXIO;
    return InterpretSgIoReply(call, ioctlErrno, node);
  };
  return ExecuteOnNode(request, ops);
}

}  // namespace fwtool::platform
