// SPDX-License-Identifier: GPL-2.0-or-later
// Window timers on the system's own timers: timer `id` fires every `ms`
// milliseconds until it is killed. A message-only window of the thread that
// makes the service receives WM_TIMER and hands the id to the form.
#pragma once

#include <windows.h>

#include <map>

#include "timer_service.h"

namespace fwtool::win32 {

class Win32TimerService final : public TimerService {
 public:
  Win32TimerService();
  ~Win32TimerService() override;
  Win32TimerService(const Win32TimerService&) = delete;
  Win32TimerService& operator=(const Win32TimerService&) = delete;

  void SetHandler(Handler handler) override { handler_ = std::move(handler); }
  void SetTimer(int id, uint32_t ms) override;
  void KillTimer(int id) override;
  bool IsPending(int id) const override { return periods_.count(id) != 0; }
  // The period timer `id` runs with, -1 when it is not pending.
  int IntervalMs(int id) const;
  HWND Window() const { return window_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND window_ = nullptr;
  std::map<int, uint32_t> periods_;
  Handler handler_;
};

}  // namespace fwtool::win32
