// SPDX-License-Identifier: GPL-2.0-or-later
// Window timers: SetTimer(id, ms) arms (or re-arms) timer `id`, which then
// fires every `ms` milliseconds until KillTimer(id). The window implements it
// with its toolkit's timers; the command line and tests use
// ClockTimerService, which runs on the replaceable clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>

namespace fwtool {

class TimerService {
 public:
  using Handler = std::function<void(int id)>;
  virtual ~TimerService() = default;
  // Where fired timers go (the form's timer handler); empty to stop delivery.
  virtual void SetHandler(Handler handler) = 0;
  virtual void SetTimer(int id, uint32_t ms) = 0;
  virtual void KillTimer(int id) = 0;
  virtual bool IsPending(int id) const = 0;
};

// Timers on the process-wide clock. Nothing fires by itself: FireDue() fires
// the timers whose time the clock has reached, and RunFor() lets time pass
// (a real wait on the steady clock, an instant one on a virtual clock) while
// firing timers as their time comes.
class ClockTimerService final : public TimerService {
 public:
  void SetHandler(Handler handler) override { handler_ = std::move(handler); }
  void SetTimer(int id, uint32_t ms) override;
  void KillTimer(int id) override;
  bool IsPending(int id) const override { return timers_.count(id) != 0; }

  // Fires every due timer, earliest first; a timer still set after its
  // handler ran is due again one period later. Safe to call from inside a
  // handler. Returns the number of timers fired.
  int FireDue();
  // Clock time in ms at which the next timer is due.
  std::optional<int64_t> NextDueMs() const;
  // When timer `id` is due, in ms of clock time.
  std::optional<int64_t> DueMs(int id) const;
  // Lets `span` of clock time pass, firing timers at their due times.
  void RunFor(std::chrono::milliseconds span);
  // Lets time pass until no timer is pending or `limit` has passed.
  void RunUntilIdle(std::chrono::milliseconds limit);

 private:
  struct Timer {
    int64_t dueMs;
    uint32_t periodMs;
  };
  std::map<int, Timer> timers_;
  Handler handler_;
};

}  // namespace fwtool
