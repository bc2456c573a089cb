// SPDX-License-Identifier: GPL-2.0-or-later
// Lists the present disk and CD-ROM device interfaces through the device
// setup interface, in its member order, each path lower-cased
// ("\\?\usbstor#disk&ven_talve&prod_vqb719#...#{53f56307-...}"), so that the
// device list's "usbsto" and "sbp2" rules hold whatever case the system
// reports.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "enumeration.h"

namespace fwtool::platform {

// The device interface classes of disks and CD-ROM drives.
inline constexpr GUID kDiskInterfaceClass = {
    0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
inline constexpr GUID kCdromInterfaceClass = {
    0x53F56308, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

std::string LowerCasePath(std::string path);

// The interface paths of one class that are present now; empty when the
// setup interface fails.
std::vector<std::string> PresentInterfacePaths(const GUID& interfaceClass);

class SetupDiEnumerator final : public InterfaceEnumerator {
 public:
  std::vector<std::string> DiskInterfaces() override;
  std::vector<std::string> CdromInterfaces() override;
  // "N storage devices found, but they cannot be opened: needs
  // administrator rights" when a USB or SBP-2 interface refuses this process.
  std::string AccessProblem() override;
  // The serial number the path carries (SerialFromInterfacePath).
  std::string SerialNumber(const std::string& path) override;
};

// The device's own serial number, as the system puts it into the interface
// path: the instance part after the second '#' without its "&<lun>" ending
// ("...#0123456789ab&0#{...}" gives "0123456789ab"). Empty when the system
// made the instance part up because the device has no serial number (it
// then holds '&'s of its own: "6&2b7&0&000").
std::string SerialFromInterfacePath(const std::string& path);

// How many of `paths` refuse to be opened for reading and writing with
// ERROR_ACCESS_DENIED, out of those that name a USB or SBP-2 device.
struct AccessSurvey {
  int storage = 0;
  int denied = 0;
};
AccessSurvey SurveyAccess(const std::vector<std::string>& paths);
std::string DescribeAccess(const AccessSurvey& survey);

}  // namespace fwtool::platform
