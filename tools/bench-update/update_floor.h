// SPDX-License-Identifier: GPL-2.0-or-later
// The one-click update of one simulated unit, timed on the virtual clock,
// and the least time an ideal host would need for the same work (the
// replay floor of timed_run.h).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "clock.h"
#include "progress.h"

namespace fwtool::bench {

struct UpdateMeasure {
  std::string unit;   // the unit's description
  bool done = false;  // the update succeeded
  size_t commands = 0;
  size_t polls = 0;
  Duration simulated{};  // from the click to the end of the update
  Duration floor{};      // the replay of the work the unit did
  // Back up, erase, program and verify 64 KB at the part's datasheet speed
  // over the unit's bus, with nothing else.
  Duration taskFloor{};
  // Where the rest went. The host waiting after the part was ready: in
  // status polls and the sleeps between them, and in its other sleeps
  // (settle times). The command time of the write before the first
  // attempt, which the unit carried out (the floor includes it).
  Duration pollingTime{};
  Duration pauseTime{};
  Duration preWriteTime{};
  // The replay answered every command as the run did and left the same flash.
  bool replayFaithful = false;
  double cpuMs = 0;
  // Virtual time in each step the update declared.
  std::map<ProgressStep, Duration> stepTimes;
};

// Runs "YES" on the unit the description makes (its first listed unit);
// nullopt with a reason when the unit cannot be built or listed.
std::optional<UpdateMeasure> MeasureUpdate(std::string_view description, std::string* error);

}  // namespace fwtool::bench
