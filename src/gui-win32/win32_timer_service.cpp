// SPDX-License-Identifier: GPL-2.0-or-later
#include "win32_timer_service.h"

namespace fwtool::win32 {

namespace {

constexpr const char* kWindowClass = "FwtoolTimers";

void RegisterWindowClass(WNDPROC procedure) {
  static const ATOM atom = [procedure] {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kWindowClass;
    return ::RegisterClassA(&windowClass);
  }();
  (void)atom;
}

}  // namespace

Win32TimerService::Win32TimerService() {
  RegisterWindowClass(&WindowProc);
  window_ = ::CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              ::GetModuleHandleA(nullptr), nullptr);
  if (window_ != nullptr)
    ::SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Win32TimerService::~Win32TimerService() {
  if (window_ == nullptr) return;
  for (const auto& [id, period] : periods_) ::KillTimer(window_, static_cast<UINT_PTR>(id));
  ::SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
  ::DestroyWindow(window_);
}

void Win32TimerService::SetTimer(int id, uint32_t ms) {
  // Setting a pending timer again restarts it with the new period.
  if (window_ != nullptr && ::SetTimer(window_, static_cast<UINT_PTR>(id), ms, nullptr) != 0)
    periods_[id] = ms;
}

void Win32TimerService::KillTimer(int id) {
  if (window_ != nullptr) ::KillTimer(window_, static_cast<UINT_PTR>(id));
  periods_.erase(id);
}

int Win32TimerService::IntervalMs(int id) const {
  const auto it = periods_.find(id);
  return it == periods_.end() ? -1 : static_cast<int>(it->second);
}

LRESULT CALLBACK Win32TimerService::WindowProc(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
  if (message == WM_TIMER) {
    auto* self = reinterpret_cast<Win32TimerService*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    const int id = static_cast<int>(wParam);
    if (self != nullptr && self->IsPending(id) && self->handler_) self->handler_(id);
    return 0;
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace fwtool::win32
