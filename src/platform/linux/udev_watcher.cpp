// SPDX-License-Identifier: GPL-2.0-or-later
#include "udev_watcher.h"

#include <libudev.h>

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>

namespace fwtool::platform {

namespace {

constexpr const char* kBlockSubsystem = "block";
constexpr const char* kDiskDevtype = "disk";
constexpr const char* kScsiGenericSubsystem = "scsi_generic";

std::string OrEmpty(const char* text) {
  return text != nullptr ? text : "";
}

// Whether one component of the device path is a SCSI device ("6:0:0:0"):
// disks and sg nodes of USB and SBP-2 storage all sit below one.
bool BelowScsiDevice(std::string_view devpath) {
  while (!devpath.empty()) {
    const size_t slash = devpath.find('/');
    const std::string_view part = devpath.substr(0, slash);
    int colons = 0;
    bool digitsOnly = !part.empty();
    for (char c : part) {
      if (c == ':')
        ++colons;
      else if (!std::isdigit(static_cast<unsigned char>(c)))
        digitsOnly = false;
    }
    if (digitsOnly && colons == 3 && part.front() != ':' && part.back() != ':' &&
        part.find("::") == std::string_view::npos)
      return true;
    if (slash == std::string_view::npos) break;
    devpath.remove_prefix(slash + 1);
  }
  return false;
}

}  // namespace

std::optional<DeviceChangeEvent> TranslateUevent(const UeventProperties& uevent) {
  const bool disk = uevent.subsystem == kBlockSubsystem && uevent.devtype == kDiskDevtype;
  const bool sg = uevent.subsystem == kScsiGenericSubsystem;
  if (!disk && !sg) return std::nullopt;
  if (!BelowScsiDevice(uevent.devpath)) return std::nullopt;
  DeviceChangeEvent event;
  if (uevent.action == "add")
    event.event = kDeviceArrival;
  else if (uevent.action == "remove")
    event.event = kDeviceRemoveComplete;
  else
    return std::nullopt;
  event.deviceType = kDeviceTypeInterface;
  event.path = uevent.devnode;
  return event;
}

UeventSource ChooseUeventSource(const std::string& runUdevDir) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::path(runUdevDir) / "control", ec)
             ? UeventSource::Udev
             : UeventSource::Kernel;
}

std::unique_ptr<UdevMonitor> UdevMonitor::Open(UeventSource source, std::string* error) {
  auto fail = [&](const char* why) -> std::unique_ptr<UdevMonitor> {
    if (error != nullptr) *error = why;
    return nullptr;
  };
  if (source == UeventSource::Auto) source = ChooseUeventSource();
  udev* context = udev_new();
  if (context == nullptr) return fail("cannot create a udev context");
  udev_monitor* monitor =
      udev_monitor_new_from_netlink(context, source == UeventSource::Udev ? "udev" : "kernel");
  if (monitor == nullptr) {
    udev_unref(context);
    return fail("cannot open a uevent netlink socket");
  }
  // Owned from here on: the destructor releases both.
  std::unique_ptr<UdevMonitor> result(new UdevMonitor(context, monitor, source));
  if (udev_monitor_filter_add_match_subsystem_devtype(monitor, kBlockSubsystem, kDiskDevtype) < 0 ||
      udev_monitor_filter_add_match_subsystem_devtype(monitor, kScsiGenericSubsystem, nullptr) <
          0 ||
      udev_monitor_filter_update(monitor) < 0)
    return fail("cannot install the uevent filter");
  if (udev_monitor_enable_receiving(monitor) < 0) return fail("cannot listen for uevents");
  return result;
}

UdevMonitor::UdevMonitor(udev* context, udev_monitor* monitor, UeventSource source)
    : context_(context), monitor_(monitor), source_(source) {}

UdevMonitor::~UdevMonitor() {
  udev_monitor_unref(monitor_);
  udev_unref(context_);
}

int UdevMonitor::Fd() const {
  return udev_monitor_get_fd(monitor_);
}

std::optional<UeventProperties> UdevMonitor::Receive() {
  errno = 0;
  udev_device* device = udev_monitor_receive_device(monitor_);
  if (device == nullptr) {
    if (errno == ENOBUFS) lostEvents_ = true;
    return std::nullopt;
  }
  UeventProperties uevent;
  uevent.action = OrEmpty(udev_device_get_action(device));
  uevent.subsystem = OrEmpty(udev_device_get_subsystem(device));
  uevent.devtype = OrEmpty(udev_device_get_devtype(device));
  uevent.devpath = OrEmpty(udev_device_get_devpath(device));
  uevent.devnode = OrEmpty(udev_device_get_devnode(device));
  udev_device_unref(device);
  return uevent;
}

UdevWatcher::UdevWatcher(UeventSource source, std::string runUdevDir)
    : source_(source), runUdevDir_(std::move(runUdevDir)) {}

UdevWatcher::~UdevWatcher() {
  Stop();
}

bool UdevWatcher::Start(Listener listener) {
  Stop();
  const UeventSource source =
      source_ == UeventSource::Auto ? ChooseUeventSource(runUdevDir_) : source_;
  startError_.clear();
  monitor_ = UdevMonitor::Open(source, &startError_);
  if (!monitor_) return false;
  listener_ = std::move(listener);
  return true;
}

void UdevWatcher::Stop() {
  monitor_.reset();
  listener_ = nullptr;
}

int UdevWatcher::PollDescriptor() const {
  return monitor_ ? monitor_->Fd() : -1;
}

UeventSource UdevWatcher::ActiveSource() const {
  return monitor_ ? monitor_->Source() : UeventSource::Auto;
}

void UdevWatcher::Dispatch() {
  // The listener may stop the watcher; the monitor is checked again after
  // every event.
  while (monitor_) {
    const auto uevent = monitor_->Receive();
    if (!uevent) break;
    const auto event = TranslateUevent(*uevent);
    if (!event) continue;
    Listener listener = listener_;
    if (listener) listener(*event);
  }
  // Lost uevents may have been arrivals or removals: a refresh puts the
  // list right whichever they were.
  if (monitor_ && monitor_->TakeLostEvents() && listener_) {
    Listener listener = listener_;
    listener(DeviceChangeEvent{kDeviceArrival, kDeviceTypeInterface, {}});
  }
}

}  // namespace fwtool::platform
