// SPDX-License-Identifier: GPL-2.0-or-later
// A simulated unit on the virtual clock, with a piece of host work timed
// against the least time an ideal host needs for the same work.
//
// The floor replays every command of the work except the ready polls
// (flash status, parallel busy, ATA status) against a fresh, identical unit;
// where the run found the unit's flash ready, the replay moves the clock
// straight to the moment it became ready instead of polling for it. What is
// left is the time the commands take on the bus and the flash part's own
// busy times (its datasheet figures in the simulator). The replayed
// commands arrive no later than the run's, so the floor never exceeds the
// run's time.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "clock.h"
#include "progress.h"
#include "simulator.h"

namespace fwtool::bench {

// What the run saw of one command that reached the unit.
struct CommandTiming {
  bool readyAtArrival = true;  // the unit's flash was not busy when it came
  Duration time{};
  Duration afterReady{};  // of `time`, what passed after the flash was ready
};

struct RunMeasure {
  size_t commands = 0;
  size_t polls = 0;      // of the commands, ready polls
  Duration simulated{};  // from the start of the work to its end
  Duration floor{};      // the replay of the same work by an ideal host
  // Where the rest went: the host waiting after the flash was ready, in
  // ready polls and the sleeps between them, and in its other sleeps
  // (settle times, pauses between instructions).
  Duration pollingTime{};
  Duration pauseTime{};
  // The replay answered every command as the run did and left the same
  // flash.
  bool replayFaithful = false;
  double cpuMs = 0;
  // The unit's command log and, by index in it, the timing of each command
  // of the work (from `firstCommand` on).
  std::vector<sim::LoggedCommand> log;
  std::map<size_t, CommandTiming> timings;
  size_t firstCommand = 0;
  // Virtual time spent in each declared progress step, innermost steps.
  std::map<ProgressStep, Duration> stepTimes;
};

// True for the commands that only ask whether the unit is ready.
bool IsReadyPoll(const sim::LoggedCommand& command);

class TimedRun {
 public:
  // The farm the description makes, behind a timing wrapper, on a virtual
  // clock that is current until the object goes. Null with a reason when
  // the description is refused.
  static std::unique_ptr<TimedRun> Create(std::string_view description, std::string* error);
  ~TimedRun();
  TimedRun(const TimedRun&) = delete;
  TimedRun& operator=(const TimedRun&) = delete;

  sim::SimFarm& Farm() { return *farm_; }

  // Runs `work` against the unit at `path` (all the host does until it
  // returns) and measures it. `progress`, when given, is followed for the
  // time of each declared step.
  RunMeasure Measure(std::string_view path, const std::function<void()>& work,
                     ProcedureProgress* progress = nullptr);

 private:
  class RunClock;
  class TimedFarm;
  TimedRun() = default;

  std::string description_;
  std::shared_ptr<RunClock> clock_;
  std::unique_ptr<ScopedClock> scopedClock_;
  std::shared_ptr<sim::SimFarm> farm_;
  std::shared_ptr<TimedFarm> timed_;
  std::shared_ptr<PassThroughBackend> previousBackend_;
};

}  // namespace fwtool::bench
