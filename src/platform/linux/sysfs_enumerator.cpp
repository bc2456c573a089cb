// SPDX-License-Identifier: GPL-2.0-or-later
#include "sysfs_enumerator.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <fmt/ranges.h>
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
