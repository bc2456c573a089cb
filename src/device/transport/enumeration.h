// SPDX-License-Identifier: GPL-2.0-or-later
// What the platform tells about attached storage: the disk and CD-ROM
// interfaces present now, and a signal when one arrives or leaves.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace fwtool {

// Lists device interface paths in the platform's own order. The filters of
// the device list ("usbsto", "sbp2"), lower-casing and the slot limit are
// applied by the caller, not here.
class InterfaceEnumerator {
 public:
  virtual ~InterfaceEnumerator() = default;
  virtual std::vector<std::string> DiskInterfaces() = 0;
  virtual std::vector<std::string> CdromInterfaces() = 0;
  // Why devices that are present cannot be used (missing rights), or empty.
  virtual std::string AccessProblem() { return {}; }
  // The serial number of the unit at a listed path as its bus tells it (a
  // USB device's serial number string, an SBP-2 unit's unique id); empty
  // when the unit has none or the platform does not say.
  virtual std::string SerialNumber(const std::string& path) {
    (void)path;
    return {};
  }
};

// Device-change event codes and the header type that the device list reacts to.
inline constexpr uint32_t kDeviceArrival = 0x8000;
inline constexpr uint32_t kDeviceRemoveComplete = 0x8004;
inline constexpr uint32_t kDeviceTypeInterface = 5;
inline constexpr uint32_t kDeviceTypeVolume = 2;

struct DeviceChangeEvent {
  uint32_t event = 0;       // kDeviceArrival, kDeviceRemoveComplete, others ignored
  uint32_t deviceType = 0;  // kDeviceTypeInterface for disk/CD-ROM interfaces
  std::string path;         // for logs; may be empty
};

// Watches for device arrival and removal. The view that owns the event loop
// polls or wires up the source; events go to the listener on that thread.
class DeviceChangeWatcher {
 public:
  using Listener = std::function<void(const DeviceChangeEvent&)>;
  virtual ~DeviceChangeWatcher() = default;
  // Starts watching; false when the platform offers no notifications (the
  // list then changes only on an explicit refresh).
  virtual bool Start(Listener listener) = 0;
  virtual void Stop() = 0;
  // A descriptor to wait on for readiness (-1 when there is none), and the
  // call that reads the events it signals.
  virtual int PollDescriptor() const { return -1; }
  virtual void Dispatch() {}
};

// For builds and runs without a platform layer: nothing to enumerate, no
// notifications (the device list then shows that no device was found).
class NoInterfaces final : public InterfaceEnumerator {
 public:
  std::vector<std::string> DiskInterfaces() override { return {}; }
  std::vector<std::string> CdromInterfaces() override { return {}; }
};

// The same lists at every enumeration (one unit's own form, tests). Serial
// numbers come from `source`, the enumerator that found the paths, when given.
class FixedInterfaces final : public InterfaceEnumerator {
 public:
  explicit FixedInterfaces(std::vector<std::string> disks, std::vector<std::string> cdroms = {},
                           std::shared_ptr<InterfaceEnumerator> source = nullptr)
      : disks_(std::move(disks)), cdroms_(std::move(cdroms)), source_(std::move(source)) {}
  std::vector<std::string> DiskInterfaces() override { return disks_; }
  std::vector<std::string> CdromInterfaces() override { return cdroms_; }
  std::string SerialNumber(const std::string& path) override {
    return source_ ? source_->SerialNumber(path) : std::string();
  }

 private:
  std::vector<std::string> disks_;
  std::vector<std::string> cdroms_;
  std::shared_ptr<InterfaceEnumerator> source_;
};

class NoDeviceChanges final : public DeviceChangeWatcher {
 public:
  bool Start(Listener) override { return false; }
  void Stop() override {}
};

}  // namespace fwtool
