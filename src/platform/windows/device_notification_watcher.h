// SPDX-License-Identifier: GPL-2.0-or-later
// Device arrival and removal on Windows: a message-only window of the thread
// that starts the watch registers for the disk and CD-ROM interface classes;
// the system's WM_DEVICECHANGE messages reach it through that thread's
// message loop and go to the listener as arrival (0x8000) and removal
// (0x8004) events with the broadcast header's device type.
#pragma once

#include <windows.h>

#include <optional>
#include <vector>

#include "enumeration.h"

namespace fwtool::platform {

// The event a WM_DEVICECHANGE message carries, or nothing for the events the
// device list does not react to. `header` may be null (then nothing).
std::optional<DeviceChangeEvent> TranslateDeviceBroadcast(WPARAM event, LPARAM header);

class DeviceNotificationWatcher final : public DeviceChangeWatcher {
 public:
  DeviceNotificationWatcher() = default;
  ~DeviceNotificationWatcher() override;
  DeviceNotificationWatcher(const DeviceNotificationWatcher&) = delete;
  DeviceNotificationWatcher& operator=(const DeviceNotificationWatcher&) = delete;

  // True when at least one interface class is registered.
  bool Start(Listener listener) override;
  void Stop() override;

  // The window that receives the notifications (null while stopped).
  HWND Window() const { return window_; }
  // How many interface classes are registered (0 to 2).
  size_t Registrations() const { return registrations_.size(); }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND window_ = nullptr;
  std::vector<HDEVNOTIFY> registrations_;
  Listener listener_;
};

}  // namespace fwtool::platform
