// SPDX-License-Identifier: GPL-2.0-or-later
// Feeds a device-change watcher from the Qt event loop: when the watcher has
// a descriptor (the udev monitor socket on Linux), a socket notifier calls its
// Dispatch whenever the descriptor is readable, and the watcher hands the
// events to the form on the GUI thread. Watchers without a descriptor deliver
// their events by themselves (window messages, the simulated farm).
#pragma once

#include <QtCore/QSocketNotifier>
#include <QtCore/QTimer>
#include <memory>

#include "enumeration.h"

namespace fwtool::gui {

class DeviceChangePump {
 public:
  // The watcher must have been started and must outlive the pump.
  // `pollIntervalMs` > 0 polls a watcher that has no descriptor.
  explicit DeviceChangePump(DeviceChangeWatcher& watcher, int pollIntervalMs = 0);
  bool Active() const { return notifier_ != nullptr || poll_ != nullptr; }

 private:
  DeviceChangeWatcher& watcher_;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::unique_ptr<QTimer> poll_;
};

}  // namespace fwtool::gui
