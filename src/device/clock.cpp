// SPDX-License-Identifier: GPL-2.0-or-later
#include "clock.h"

#include <thread>

namespace fwtool {

Duration SteadyClock::Now() const {
  return std::chrono::duration_cast<Duration>(std::chrono::steady_clock::now().time_since_epoch());
}

void SteadyClock::Sleep(Duration d) {
  if (d.count() > 0) std::this_thread::sleep_for(d);
}

namespace {
std::shared_ptr<Clock>& CurrentClock() {
  static std::shared_ptr<Clock> clock = std::make_shared<SteadyClock>();
  return clock;
}
}  // namespace

Clock& GetClock() {
  return *CurrentClock();
}

std::shared_ptr<Clock> SetClock(std::shared_ptr<Clock> clock) {
  auto previous = CurrentClock();
  CurrentClock() = clock ? std::move(clock) : std::make_shared<SteadyClock>();
  return previous;
}

}  // namespace fwtool
