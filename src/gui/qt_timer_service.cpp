// SPDX-License-Identifier: GPL-2.0-or-later
#include "qt_timer_service.h"

namespace fwtool::gui {

void QtTimerService::SetTimer(int id, uint32_t ms) {
  auto& timer = timers_[id];
  if (!timer) {
    timer = std::make_unique<QTimer>();
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer.get(), &QTimer::timeout, [this, id] {
      if (handler_) handler_(id);
    });
  }
  // Setting a pending timer again starts its period anew.
  timer->start(static_cast<int>(ms));
}

void QtTimerService::KillTimer(int id) {
  const auto it = timers_.find(id);
  if (it != timers_.end()) it->second->stop();
}

bool QtTimerService::IsPending(int id) const {
  const auto it = timers_.find(id);
  return it != timers_.end() && it->second->isActive();
}

int QtTimerService::IntervalMs(int id) const {
  return IsPending(id) ? timers_.at(id)->interval() : -1;
}

}  // namespace fwtool::gui
