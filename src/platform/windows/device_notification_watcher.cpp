// SPDX-License-Identifier: GPL-2.0-or-later
#include "device_notification_watcher.h"

// After windows.h:
#include <dbt.h>

#include "setupdi_enumerator.h"

namespace fwtool::platform {

namespace {

constexpr const char* kWindowClass = "FwtoolDeviceNotifications";

ATOM RegisterWindowClass(WNDPROC procedure) {
  static const ATOM atom = [procedure] {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kWindowClass;
    return ::RegisterClassA(&windowClass);
  }();
  return atom;
}

}  // namespace

std::optional<DeviceChangeEvent> TranslateDeviceBroadcast(WPARAM event, LPARAM header) {
  if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return std::nullopt;
  const auto* broadcast = reinterpret_cast<const DEV_BROADCAST_HDR*>(header);
  if (broadcast == nullptr) return std::nullopt;
  DeviceChangeEvent translated;
  translated.event = static_cast<uint32_t>(event);
  translated.deviceType = broadcast->dbch_devicetype;
  if (broadcast->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE &&
      broadcast->dbch_size > offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name)) {
    const auto* device = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(broadcast);
    const size_t room = broadcast->dbch_size - offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
    const std::string name(device->dbcc_name, strnlen(device->dbcc_name, room));
    translated.path = LowerCasePath(name);
  }
  return translated;
}

DeviceNotificationWatcher::~DeviceNotificationWatcher() {
  Stop();
}

bool DeviceNotificationWatcher::Start(Listener listener) {
  Stop();
  if (RegisterWindowClass(&WindowProc) == 0) return false;
  window_ = ::CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              ::GetModuleHandleA(nullptr), nullptr);
  if (window_ == nullptr) return false;
  ::SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  listener_ = std::move(listener);
  // Disks and CD-ROM drives: a controller may present either, and both are
  // in the device list.
  for (const GUID& interfaceClass : {kDiskInterfaceClass, kCdromInterfaceClass}) {
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = interfaceClass;
    if (HDEVNOTIFY handle =
            ::RegisterDeviceNotificationA(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE))
      registrations_.push_back(handle);
  }
  if (registrations_.empty()) {
    Stop();
    return false;
  }
  return true;
}

void DeviceNotificationWatcher::Stop() {
  for (HDEVNOTIFY handle : registrations_) ::UnregisterDeviceNotification(handle);
  registrations_.clear();
  if (window_ != nullptr) {
    ::SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
    ::DestroyWindow(window_);
    window_ = nullptr;
  }
  listener_ = nullptr;
}

LRESULT CALLBACK DeviceNotificationWatcher::WindowProc(HWND window, UINT message, WPARAM wParam,
                                                       LPARAM lParam) {
  if (message == WM_DEVICECHANGE) {
    auto* self =
        reinterpret_cast<DeviceNotificationWatcher*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self != nullptr && self->listener_) {
      if (const auto event = TranslateDeviceBroadcast(wParam, lParam)) self->listener_(*event);
    }
    return TRUE;
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace fwtool::platform
