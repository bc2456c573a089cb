// SPDX-License-Identifier: GPL-2.0-or-later
#include "setupdi_enumerator.h"

// After windows.h:
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "scsi_pass_through_record.h"

namespace fwtool::platform {

namespace {

constexpr const char* kUsbMarker = "usbsto";
constexpr const char* kSbp2Marker = "sbp2";

bool NamesStorageBridge(const std::string& path) {
  return path.find(kUsbMarker) != std::string::npos || path.find(kSbp2Marker) != std::string::npos;
}

// Owns the device information set of one enumeration.
class InfoSet {
 public:
  explicit InfoSet(const GUID& interfaceClass)
      : set_(::SetupDiGetClassDevsA(&interfaceClass, nullptr, nullptr,
                                    DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) {}
  ~InfoSet() {
    if (valid()) ::SetupDiDestroyDeviceInfoList(set_);
  }
  InfoSet(const InfoSet&) = delete;
  InfoSet& operator=(const InfoSet&) = delete;
  bool valid() const { return set_ != INVALID_HANDLE_VALUE; }
  HDEVINFO get() const { return set_; }

 private:
  HDEVINFO set_;
};

// The interface's path; empty when the setup interface cannot tell it.
std::string InterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& data) {
  DWORD needed = 0;
  ::SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &needed, nullptr);
  // The detail record is a size field and the path; the size field holds the
  // size of the fixed part, which differs between 32- and 64-bit programs.
  const size_t size = std::max<size_t>(needed, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
  std::vector<uint64_t> storage((size + sizeof(uint64_t) - 1) / sizeof(uint64_t) + 1, 0);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (!::SetupDiGetDeviceInterfaceDetailA(set, &data, detail, static_cast<DWORD>(size), nullptr,
                                          nullptr))
    return {};
  return detail->DevicePath;
}

}  // namespace

std::string LowerCasePath(std::string path) {
  std::transform(path.begin(), path.end(), path.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return path;
}

std::vector<std::string> PresentInterfacePaths(const GUID& interfaceClass) {
  std::vector<std::string> paths;
  const InfoSet set(interfaceClass);
  if (!set.valid()) return paths;
  for (DWORD member = 0;; ++member) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!::SetupDiEnumDeviceInterfaces(set.get(), nullptr, &interfaceClass, member, &data)) break;
    // A member whose path cannot be read is passed over; the rest still count.
    std::string path = InterfacePath(set.get(), data);
    if (!path.empty()) paths.push_back(LowerCasePath(std::move(path)));
  }
  return paths;
}

std::vector<std::string> SetupDiEnumerator::DiskInterfaces() {
  return PresentInterfacePaths(kDiskInterfaceClass);
}

std::vector<std::string> SetupDiEnumerator::CdromInterfaces() {
  return PresentInterfacePaths(kCdromInterfaceClass);
}

AccessSurvey SurveyAccess(const std::vector<std::string>& paths) {
  AccessSurvey survey;
  for (const std::string& path : paths) {
    if (!NamesStorageBridge(path)) continue;
    ++survey.storage;
    const HANDLE handle =
        ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      ::CloseHandle(handle);
    } else if (::GetLastError() == ERROR_ACCESS_DENIED) {
      ++survey.denied;
    }
  }
  return survey;
}

std::string DescribeAccess(const AccessSurvey& survey) {
  if (survey.denied == 0) return {};
  const std::string count = survey.denied == 1 ? std::string("1 storage device")
                                               : std::to_string(survey.denied) + " storage devices";
  return count + " found, but " + (survey.denied == 1 ? "it cannot" : "they cannot") +
         " be opened: " + kNeedsAdministratorText;
}

std::string SetupDiEnumerator::AccessProblem() {
  std::vector<std::string> paths = DiskInterfaces();
  for (std::string& path : CdromInterfaces()) paths.push_back(std::move(path));
  return DescribeAccess(SurveyAccess(paths));
}

std::string SetupDiEnumerator::SerialNumber(const std::string& path) {
  return SerialFromInterfacePath(path);
}

std::string SerialFromInterfacePath(const std::string& path) {
  const size_t first = path.find('#');
  const size_t second = first == std::string::npos ? first : path.find('#', first + 1);
  const size_t third = second == std::string::npos ? second : path.find('#', second + 1);
  if (third == std::string::npos) return {};
  std::string instance = path.substr(second + 1, third - second - 1);
  const size_t lun = instance.rfind('&');
  if (lun != std::string::npos && lun + 1 < instance.size() &&
      instance.find_first_not_of("0123456789", lun + 1) == std::string::npos)
    instance.erase(lun);
  if (instance.find('&') != std::string::npos) return {};
  return instance;
}

}  // namespace fwtool::platform
