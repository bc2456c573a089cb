// SPDX-License-Identifier: GPL-2.0-or-later
// Window timers on QTimer: timer `id` fires every `ms` milliseconds until it
// is killed, like the timers of the original window system.
#pragma once

#include <QtCore/QTimer>
#include <map>
#include <memory>

#include "timer_service.h"

namespace fwtool::gui {

class QtTimerService final : public TimerService {
 public:
  void SetHandler(Handler handler) override { handler_ = std::move(handler); }
  void SetTimer(int id, uint32_t ms) override;
  void KillTimer(int id) override;
  bool IsPending(int id) const override;
  // The period timer `id` runs with, -1 when it is not pending.
  int IntervalMs(int id) const;

 private:
  std::map<int, std::unique_ptr<QTimer>> timers_;
  Handler handler_;
};

}  // namespace fwtool::gui
