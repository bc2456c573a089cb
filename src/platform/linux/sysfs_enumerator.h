// SPDX-License-Identifier: GPL-2.0-or-later
// Lists the disk and CD-ROM interfaces of USB mass-storage and SBP-2 devices
// by reading sysfs. Each is listed as "<bus marker>:<node>", lower-cased:
// "usbsto:/dev/sg2" for a disk behind usb-storage or uas, "sbp2:/dev/sg3" for
// one behind the FireWire SBP-2 driver. The node is the device's sg node, or
// its block node when it has none.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "enumeration.h"

namespace fwtool::platform {

enum class StorageBus { Other, Usb, Sbp2 };

// SCSI peripheral device types the lists are made of.
inline constexpr int kScsiTypeDisk = 0x00;
inline constexpr int kScsiTypeCdrom = 0x05;
inline constexpr int kScsiTypeOpticalMemory = 0x07;
inline constexpr int kScsiTypeRbc = 0x0E;  // reduced block commands: many SBP-2 disks

// Enough for any real bus; the device list keeps only its first 16 anyway.
inline constexpr size_t kMaxInterfacesPerClass = 32;

// One SCSI device as sysfs shows it.
struct ScsiInterface {
  int host = 0, channel = 0, target = 0, lun = 0;
  int type = -1;  // peripheral device type, -1 when unreadable
  StorageBus bus = StorageBus::Other;
  std::string sgNode;       // "/dev/sg2", empty when the device has none
  std::string blockNode;    // "/dev/sdb", empty when the device has none
  std::string path;         // the listed path; empty when no node exists
  std::string sysfsDevice;  // the device's directory under <sysfs>/devices
};

class SysfsEnumerator final : public InterfaceEnumerator {
 public:
  // The roots are parameters so the enumerator can run on a copy of the
  // tree; both must be lower-case, like the real ones.
  explicit SysfsEnumerator(std::string sysfsRoot = "/sys", std::string devRoot = "/dev");

  // Disk interfaces (direct access, optical memory and RBC devices), then
  // CD-ROM interfaces, each ordered by host:channel:target:lun.
  std::vector<std::string> DiskInterfaces() override;
  std::vector<std::string> CdromInterfaces() override;
  // One text when listed devices cannot take raw commands from this process
  // (no CAP_SYS_RAWIO, or no read/write access to a node); else empty.
  std::string AccessProblem() override;
  // A USB unit's serial number string (the USB device's "serial"), an SBP-2
  // unit's unique id (the first field of its "ieee1394_id"); empty when the
  // device has none.
  std::string SerialNumber(const std::string& path) override;

  // Every SCSI device, on any bus, in host:channel:target:lun order.
  std::vector<ScsiInterface> Scan() const;

 private:
  std::vector<std::string> Listed(bool cdrom) const;

  std::string sysfsRoot_;
  std::string devRoot_;
};

// Whether the descriptor `fd`, opened for the listed `path` ("usbsto:" or
// "sbp2:" and a node), is what the path says: the sg or block node of a
// whole SCSI device, found in sysfs by the descriptor's own device number
// under the node's own name, on the bus the path's marker names. Empty
// when it is; else why not. What the name leads to is not trusted: a node
// swapped since the listing, or a link to another device, fails here.
std::string CheckOpenNode(int fd, std::string_view path, const std::string& sysfsRoot = "/sys");

// Why no sector of the disk behind a listed path may be written: a
// partition or the whole disk is mounted (`mountInfo` in the format of
// /proc/self/mountinfo), or another driver holds it (its "holders" in
// sysfs); empty when neither.
std::string DiskInUse(std::string_view path, const std::string& sysfsRoot = "/sys",
                      const std::string& mountInfo = "/proc/self/mountinfo");

bool IsDiskInterfaceType(int type);
// Whether this process may send raw SCSI commands (CAP_SYS_RAWIO in effect).
bool HasRawIoCapability();

}  // namespace fwtool::platform
