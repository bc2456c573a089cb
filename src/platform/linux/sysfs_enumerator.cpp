// SPDX-License-Identifier: GPL-2.0-or-later
#include "sysfs_enumerator.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <fmt/ranges.h>
#include <linux/major.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <system_error>
#include <tuple>
#include <utility>

#include "bus_marker.h"
#include "sg_io_backend.h"

namespace fwtool::platform {

namespace fs = std::filesystem;

namespace {

// Drivers and SCSI host names that mark the bus.
constexpr std::string_view kUsbStorageDriver = "usb-storage";
constexpr std::string_view kUasDriver = "uas";
constexpr std::string_view kSbp2HostName = "sbp2";
constexpr int kCapSysRawIo = 17;

std::string ReadFirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (in) std::getline(in, line);
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
  return line;
}

std::optional<int> ParseInt(std::string_view text) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// "6:0:0:0" -> {6, 0, 0, 0}: the name of a SCSI device directory.
std::optional<std::array<int, 4>> ParseHctl(std::string_view name) {
  std::array<int, 4> hctl{};
  for (size_t i = 0; i < hctl.size(); ++i) {
    const size_t colon = name.find(':');
    const bool last = i + 1 == hctl.size();
    if (last == (colon != std::string_view::npos)) return std::nullopt;
    const auto value = ParseInt(name.substr(0, colon));
    if (!value || *value < 0) return std::nullopt;
    hctl[i] = *value;
    if (!last) name.remove_prefix(colon + 1);
  }
  return hctl;
}

bool IsUnder(const fs::path& path, const fs::path& root) {
  const auto mismatch = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
  return mismatch.first == root.end();
}

// Finds the bus by walking from the SCSI device up to the root of the tree:
// an SBP-2 unit carries an ieee1394_id attribute and sits on a SCSI host named
// "sbp2"; a USB disk sits below a USB interface whose driver is usb-storage or
// uas (whose SCSI host carries the same name).
StorageBus BusOf(const fs::path& device, const fs::path& sysRoot) {
  std::error_code ec;
  if (fs::exists(device / "ieee1394_id", ec)) return StorageBus::Sbp2;
  for (fs::path dir = device; IsUnder(dir, sysRoot) && dir != sysRoot; dir = dir.parent_path()) {
    const std::string name = dir.filename().string();
    if (name.starts_with("host") && ParseInt(std::string_view(name).substr(4))) {
      const std::string procName = ReadFirstLine(dir / "scsi_host" / name / "proc_name");
      if (procName == kSbp2HostName) return StorageBus::Sbp2;
      if (procName == kUsbStorageDriver || procName == kUasDriver) return StorageBus::Usb;
    }
    const fs::path driverLink = dir / "driver";
    if (fs::is_symlink(driverLink, ec)) {
      const std::string driver = fs::read_symlink(driverLink, ec).filename().string();
      if (driver == kUsbStorageDriver || driver == kUasDriver) return StorageBus::Usb;
    }
  }
  return StorageBus::Other;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

struct NodeNames {
  std::string sg;
  std::string block;
};

// Adds the SCSI device behind <classDir>/<entry>/device for every entry.
void Collect(const fs::path& classDir, bool sg, std::map<fs::path, NodeNames>& found) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(classDir, ec)) {
    std::error_code linkEc;
    const fs::path device = fs::canonical(entry.path() / "device", linkEc);
    // Partitions have no device link; NVMe, virtio and loop disks have one
    // that leads elsewhere than to a SCSI device.
    if (linkEc || !ParseHctl(device.filename().string()) || !fs::exists(device / "type", linkEc))
      continue;
    NodeNames& names = found[device];
    std::string& name = sg ? names.sg : names.block;
    const std::string entryName = entry.path().filename().string();
    if (name.empty() || entryName < name) name = entryName;
  }
}

// The serial number of the USB device above the SCSI device (the first
// directory up the tree with an idVendor), or the SBP-2 unit's unique id.
std::string SerialOf(const ScsiInterface& item, const fs::path& sysRoot) {
  const fs::path device(item.sysfsDevice);
  std::error_code ec;
  switch (item.bus) {
    case StorageBus::Sbp2: {
      const std::string id = ReadFirstLine(device / "ieee1394_id");
      return id.substr(0, id.find(':'));
    }
    case StorageBus::Usb:
      for (fs::path dir = device; IsUnder(dir, sysRoot) && dir != sysRoot;
           dir = dir.parent_path()) {
        if (fs::exists(dir / "idVendor", ec)) return ReadFirstLine(dir / "serial");
      }
      return {};
    case StorageBus::Other:
      return {};
  }
  return {};
}

}  // namespace

std::string CheckOpenNode(int fd, std::string_view path, const std::string& sysfsRoot) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return "the open node cannot be examined";
  const bool sg = S_ISCHR(st.st_mode) && major(st.st_rdev) == SCSI_GENERIC_MAJOR;
  if (!sg && !S_ISBLK(st.st_mode)) return "it is not a SCSI generic or block device node";
  std::error_code ec;
  const fs::path sysRoot = fs::canonical(sysfsRoot, ec);
  const std::string number = fmt::format("{}:{}", major(st.st_rdev), minor(st.st_rdev));
  const fs::path entry = fs::canonical(sysRoot / "dev" / (sg ? "char" : "block") / number, ec);
  if (ec) return fmt::format("no device {} is known to the system", number);
  const std::string node = NodeFromPath(path);
  const std::string name = fs::path(node).filename().string();
  if (entry.filename().string() != name)
    return fmt::format("{} is now {}", node, entry.filename().string());
  const fs::path device = fs::canonical(entry / "device", ec);
  if (ec || !ParseHctl(device.filename().string()) || !fs::exists(device / "type", ec))
    return fmt::format("{} is not a whole SCSI device", node);
  const StorageBus bus = BusOf(device, sysRoot);
  const bool usb = path.starts_with(kUsbBusMarker);
  if ((usb && bus != StorageBus::Usb) || (!usb && bus != StorageBus::Sbp2))
    return fmt::format("{} is no longer on the {} bus", node, usb ? "USB" : "SBP-2");
  return {};
}

std::string DiskInUse(std::string_view path, const std::string& sysfsRoot,
                      const std::string& mountInfo) {
  std::error_code ec;
  const fs::path sysRoot = fs::canonical(sysfsRoot, ec);
  if (ec) return "the system's device tree cannot be read";
  const std::string name = fs::path(NodeFromPath(path)).filename().string();
  // The disks of the SCSI device behind an sg node, or the block node itself.
  std::vector<fs::path> disks;
  const fs::path device = fs::canonical(sysRoot / "class" / "scsi_generic" / name / "device", ec);
  if (!ec) {
    for (const auto& entry : fs::directory_iterator(device / "block", ec))
      disks.push_back(entry.path());
  } else {
    ec.clear();
    const fs::path block = fs::canonical(sysRoot / "class" / "block" / name, ec);
    if (!ec) disks.push_back(block);
  }
  // The disk and its partitions (the directories beside "queue" that carry
  // the disk's name).
  std::vector<fs::path> parts;
  for (const fs::path& disk : disks) {
    parts.push_back(disk);
    const std::string diskName = disk.filename().string();
    std::error_code listEc;
    for (const auto& entry : fs::directory_iterator(disk, listEc))
      if (entry.is_directory(listEc) && entry.path().filename().string().starts_with(diskName))
        parts.push_back(entry.path());
  }
  std::vector<std::string> numbers;
  for (const fs::path& part : parts) {
    std::error_code listEc;
    for (const auto& holder : fs::directory_iterator(part / "holders", listEc))
      return fmt::format("{} is held by {}", part.filename().string(),
                         holder.path().filename().string());
    const std::string number = ReadFirstLine(part / "dev");
    if (!number.empty()) numbers.push_back(number);
  }
  // The mount table of this process: the fourth field of each line names a
  // mount point, the third the device it comes from.
  std::ifstream mounts(mountInfo);
  std::string line;
  for (int lines = 0; lines < 100000 && std::getline(mounts, line); ++lines) {
    std::array<std::string_view, 5> fields{};
    std::string_view rest(line);
    for (auto& field : fields) {
      const size_t space = rest.find(' ');
      field = rest.substr(0, space);
      rest = space == std::string_view::npos ? std::string_view{} : rest.substr(space + 1);
    }
    if (std::find(numbers.begin(), numbers.end(), fields[2]) != numbers.end())
      return fmt::format("a file system of the disk is mounted (device {})", fields[2]);
  }
  return {};
}

bool IsDiskInterfaceType(int type) {
  return type == kScsiTypeDisk || type == kScsiTypeOpticalMemory || type == kScsiTypeRbc;
}

bool HasRawIoCapability() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (!line.starts_with("CapEff:")) continue;
    std::string_view hex(line);
    hex.remove_prefix(7);
    while (!hex.empty() && std::isspace(static_cast<unsigned char>(hex.front())))
      hex.remove_prefix(1);
    uint64_t caps = 0;
    const auto [end, ec] = std::from_chars(hex.data(), hex.data() + hex.size(), caps, 16);
    if (ec != std::errc()) break;
    return (caps >> kCapSysRawIo) & 1;
  }
  return ::geteuid() == 0;
}

SysfsEnumerator::SysfsEnumerator(std::string sysfsRoot, std::string devRoot)
    : sysfsRoot_(std::move(sysfsRoot)), devRoot_(std::move(devRoot)) {}

std::vector<ScsiInterface> SysfsEnumerator::Scan() const {
  std::error_code ec;
  const fs::path sysRoot = fs::canonical(sysfsRoot_, ec);
  if (ec) return {};
  std::map<fs::path, NodeNames> found;
  Collect(sysRoot / "class" / "scsi_generic", true, found);
  Collect(sysRoot / "class" / "block", false, found);

  std::vector<ScsiInterface> interfaces;
  for (const auto& [device, names] : found) {
    ScsiInterface item;
    const auto hctl = *ParseHctl(device.filename().string());
    item.host = hctl[0];
    item.channel = hctl[1];
    item.target = hctl[2];
    item.lun = hctl[3];
    item.type = ParseInt(ReadFirstLine(device / "type")).value_or(-1);
    item.bus = BusOf(device, sysRoot);
    item.sysfsDevice = device.string();
    const fs::path dev(devRoot_);
    if (!names.sg.empty()) item.sgNode = (dev / names.sg).string();
    if (!names.block.empty()) item.blockNode = (dev / names.block).string();
    // The node may lag behind sysfs for a moment after an arrival; a device
    // without one is left for the next refresh.
    std::string node;
    if (!item.sgNode.empty() && fs::exists(item.sgNode, ec))
      node = item.sgNode;
    else if (!item.blockNode.empty() && fs::exists(item.blockNode, ec))
      node = item.blockNode;
    if (!node.empty() && item.bus != StorageBus::Other) {
      const std::string_view marker = item.bus == StorageBus::Usb ? kUsbBusMarker : kSbp2BusMarker;
      item.path = Lower(fmt::format("{}:{}", marker, node));
    }
    interfaces.push_back(std::move(item));
  }
  std::sort(interfaces.begin(), interfaces.end(), [](const auto& a, const auto& b) {
    return std::tie(a.host, a.channel, a.target, a.lun) <
           std::tie(b.host, b.channel, b.target, b.lun);
  });
  return interfaces;
}

std::vector<std::string> SysfsEnumerator::Listed(bool cdrom) const {
  std::vector<std::string> paths;
  for (const auto& item : Scan()) {
    if (item.path.empty()) continue;
    const bool wanted = cdrom ? item.type == kScsiTypeCdrom : IsDiskInterfaceType(item.type);
    if (!wanted) continue;
    if (paths.size() == kMaxInterfacesPerClass) break;
    paths.push_back(item.path);
  }
  return paths;
}

std::vector<std::string> SysfsEnumerator::DiskInterfaces() {
  return Listed(false);
}

std::vector<std::string> SysfsEnumerator::CdromInterfaces() {
  return Listed(true);
}

std::string SysfsEnumerator::SerialNumber(const std::string& path) {
  const std::string wanted = Lower(path);
  std::error_code ec;
  const fs::path sysRoot = fs::canonical(sysfsRoot_, ec);
  if (ec) return {};
  // A bare node names its device too.
  for (const auto& item : Scan())
    if (!item.path.empty() &&
        (item.path == wanted || Lower(item.sgNode) == wanted || Lower(item.blockNode) == wanted))
      return SerialOf(item, sysRoot);
  return {};
}

std::string SysfsEnumerator::AccessProblem() {
  std::vector<std::string> listed;
  std::vector<std::string> closed;
  for (const auto& item : Scan()) {
    if (item.path.empty()) continue;
    if (!IsDiskInterfaceType(item.type) && item.type != kScsiTypeCdrom) continue;
    listed.push_back(item.path);
    const std::string node = NodeFromPath(item.path);
    if (::faccessat(AT_FDCWD, node.c_str(), R_OK | W_OK, AT_EACCESS) != 0) closed.push_back(node);
  }
  if (listed.empty()) return {};
  const bool rawIo = HasRawIoCapability();
  if (rawIo && closed.empty()) return {};
  std::vector<std::string> missing;
  if (!rawIo) missing.emplace_back(kNeedsRawIoText);
  if (!closed.empty())
    missing.push_back(fmt::format("no read/write access to {}", fmt::join(closed, ", ")));
  return fmt::format("{} storage device{} found, but {}", listed.size(),
                     listed.size() == 1 ? "" : "s", fmt::join(missing, "; "));
}

}  // namespace fwtool::platform
