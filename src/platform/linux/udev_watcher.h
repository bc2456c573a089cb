// SPDX-License-Identifier: GPL-2.0-or-later
// Device arrival and removal on Linux: a libudev monitor on the disk block
// devices and the sg nodes, turned into the arrival/removal events the device
// list reacts to.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "enumeration.h"

struct udev;
struct udev_monitor;

namespace fwtool::platform {

// What one uevent says, as far as the watcher cares.
struct UeventProperties {
  std::string action;     // "add", "remove", "change", "bind", ...
  std::string subsystem;  // "block", "scsi_generic", ...
  std::string devtype;    // "disk", "partition", ...
  std::string devpath;    // "/devices/.../host6/target6:0:0/6:0:0:0/block/sdb"
  std::string devnode;    // "/dev/sdb"; may be empty
};

// A whole disk or an sg node of a SCSI device coming or going becomes an
// arrival (0x8000) or a removal (0x8004) of a device interface (type 5);
// everything else (partitions, loop and NVMe disks, "change" events) is none.
std::optional<DeviceChangeEvent> TranslateUevent(const UeventProperties& uevent);

enum class UeventSource {
  Auto,    // "udev" where a udev daemon runs, else "kernel"
  Udev,    // after udev has made the nodes
  Kernel,  // straight from the kernel (no udev daemon: containers, small systems)
};

// The source Auto stands for: "udev" when runUdevDir holds udev's control
// socket, else "kernel" (a "udev" monitor would never hear anything there).
UeventSource ChooseUeventSource(const std::string& runUdevDir = "/run/udev");

// A libudev monitor filtered to whole block disks and sg nodes. Owns its
// udev context and monitor; the descriptor is non-blocking.
class UdevMonitor {
 public:
  // Null (with a reason in *error) when the monitor cannot be made.
  static std::unique_ptr<UdevMonitor> Open(UeventSource source, std::string* error = nullptr);
  ~UdevMonitor();
  UdevMonitor(const UdevMonitor&) = delete;
  UdevMonitor& operator=(const UdevMonitor&) = delete;

  int Fd() const;
  UeventSource Source() const { return source_; }
  // The next pending uevent, or nothing when none is waiting.
  std::optional<UeventProperties> Receive();
  // True once after the socket's buffer overflowed and uevents were lost.
  bool TakeLostEvents() { return std::exchange(lostEvents_, false); }

 private:
  UdevMonitor(udev* context, udev_monitor* monitor, UeventSource source);
  udev* context_;
  udev_monitor* monitor_;
  UeventSource source_;
  bool lostEvents_ = false;
};

class UdevWatcher final : public DeviceChangeWatcher {
 public:
  explicit UdevWatcher(UeventSource source = UeventSource::Auto,
                       std::string runUdevDir = "/run/udev");
  ~UdevWatcher() override;

  bool Start(Listener listener) override;
  void Stop() override;
  int PollDescriptor() const override;
  // Reads every pending uevent and tells the listener about those that count.
  void Dispatch() override;

  // The source in use while started (never Auto then).
  UeventSource ActiveSource() const;
  // Why Start failed, or empty.
  const std::string& StartError() const { return startError_; }

 private:
  UeventSource source_;
  std::string runUdevDir_;
  std::unique_ptr<UdevMonitor> monitor_;
  Listener listener_;
  std::string startError_;
};

}  // namespace fwtool::platform
