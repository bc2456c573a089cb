// SPDX-License-Identifier: GPL-2.0-or-later
// The one clock every sleep and time-out goes through. The program runs on the
// steady clock; tests and the simulator swap in a virtual clock so that settle
// times and busy waits cost nothing.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

namespace fwtool {

using Duration = std::chrono::nanoseconds;

class Clock {
 public:
  virtual ~Clock() = default;
  // Time since an arbitrary, fixed origin.
  virtual Duration Now() const = 0;
  virtual void Sleep(Duration d) = 0;
};

class SteadyClock final : public Clock {
 public:
  Duration Now() const override;
  void Sleep(Duration d) override;
};

// Time moves only when someone sleeps or advances it. Threads that share
// it (units updated side by side) each add their sleeps to the one time.
class VirtualClock final : public Clock {
 public:
  Duration Now() const override { return Duration{now_.load(std::memory_order_relaxed)}; }
  void Sleep(Duration d) override { Advance(d); }
  void Advance(Duration d) {
    if (d.count() > 0) now_.fetch_add(d.count(), std::memory_order_relaxed);
  }

 private:
  std::atomic<Duration::rep> now_{0};
};

// The process-wide clock (a steady clock unless replaced). Replace it only
// while no other thread runs; every clock here may be used by many threads.
Clock& GetClock();
// Replaces the process-wide clock; returns the previous one. Passing nullptr
// restores the steady clock.
std::shared_ptr<Clock> SetClock(std::shared_ptr<Clock> clock);

// Installs a clock for the lifetime of the object (tests).
class ScopedClock {
 public:
  explicit ScopedClock(std::shared_ptr<Clock> clock) : previous_(SetClock(std::move(clock))) {}
  ~ScopedClock() { SetClock(previous_); }
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;

 private:
  std::shared_ptr<Clock> previous_;
};

inline void SleepMs(uint32_t ms) {
  GetClock().Sleep(std::chrono::milliseconds(ms));
}
inline int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(GetClock().Now()).count();
}

}  // namespace fwtool
