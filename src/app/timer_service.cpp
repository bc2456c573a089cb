// SPDX-License-Identifier: GPL-2.0-or-later
#include "timer_service.h"

#include <algorithm>
#include <set>

#include "clock.h"

namespace fwtool {

void ClockTimerService::SetTimer(int id, uint32_t ms) {
  timers_[id] = Timer{NowMs() + ms, ms};
}

void ClockTimerService::KillTimer(int id) {
  timers_.erase(id);
}

std::optional<int64_t> ClockTimerService::NextDueMs() const {
  std::optional<int64_t> next;
  for (const auto& [id, timer] : timers_)
    if (!next || timer.dueMs < *next) next = timer.dueMs;
  return next;
}

std::optional<int64_t> ClockTimerService::DueMs(int id) const {
  const auto it = timers_.find(id);
  if (it == timers_.end()) return std::nullopt;
  return it->second.dueMs;
}

int ClockTimerService::FireDue() {
  int fired = 0;
  // Each timer fires at most once per call, like a window timer whose
  // messages do not pile up while a long handler runs.
  std::set<int> done;
  for (;;) {
    const int64_t now = NowMs();
    // The earliest due timer; ties go to the lower id.
    auto due = timers_.end();
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
      if (it->second.dueMs > now || done.count(it->first) != 0) continue;
      if (due == timers_.end() || it->second.dueMs < due->second.dueMs) due = it;
    }
    if (due == timers_.end()) return fired;
    const int id = due->first;
    done.insert(id);
    // Re-armed before the handler runs, so that a handler which kills the
    // timer, or re-arms it, has the last word.
    due->second.dueMs = now + std::max<uint32_t>(due->second.periodMs, 1);
    ++fired;
    if (handler_) handler_(id);
  }
}

void ClockTimerService::RunFor(std::chrono::milliseconds span) {
  const int64_t target = NowMs() + span.count();
  for (;;) {
    FireDue();
    const auto next = NextDueMs();
    const int64_t now = NowMs();
    if (!next || *next > target) break;
    if (*next > now) GetClock().Sleep(std::chrono::milliseconds(*next - now));
  }
  const int64_t now = NowMs();
  if (target > now) GetClock().Sleep(std::chrono::milliseconds(target - now));
  FireDue();
}

void ClockTimerService::RunUntilIdle(std::chrono::milliseconds limit) {
  const int64_t target = NowMs() + limit.count();
  for (;;) {
    FireDue();
    const auto next = NextDueMs();
    const int64_t now = NowMs();
    if (!next || *next > target) return;
    if (*next > now) GetClock().Sleep(std::chrono::milliseconds(*next - now));
  }
}

}  // namespace fwtool
