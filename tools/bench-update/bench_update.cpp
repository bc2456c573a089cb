// SPDX-License-Identifier: GPL-2.0-or-later
// Runs the one-click update ("YES") on simulated units with the virtual
// clock and prints for each unit, one figure a line:
//   commands, status_polls  blocks the unit received during the update
//   simulated_ms            virtual time the update took
//   floor_ms                what an ideal host needs for the work the unit
//                           did: the run's commands less the polls, replayed
//                           on a fresh identical unit with the clock moved
//                           straight to the part's ready
//   ratio                   simulated_ms / floor_ms (at least 1)
//   task_floor_ms           back up, erase, program and verify 64 KB at the
//                           part's datasheet speed, nothing else
//   rest_ms                 simulated_ms - task_floor_ms, made of:
//     extra_work_ms         floor_ms - task_floor_ms: what the unit did
//                           beyond the task (identification, the header
//                           read, the pre-write, retries), of which
//     pre_write_ms          the write before the first attempt
//     polling_ms            status polls and the sleeps between them after
//                           the part was ready
//     pauses_ms             the host's other sleeps after the part was ready
//                           (settle times)
//     other_ms              the remainder
//   replay                  "faithful" when the replay answered every
//                           command as the run did and left the same flash
//   cpu_ms                  host CPU time of the update
//   step_ms.STEP            virtual time in each step the update declared
//
//   fwtool-bench-update [UNIT...]    (default: the table of units below)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "simulator.h"
#include "update_floor.h"

namespace {

using fwtool::sim::ToMilliseconds;

// Several makers and sizes, unprotected and protected, USB and SBP-2.
const char* const kUnits[] = {
    "vqb719",
    "vqb719:maker=mxic",
    "vqb719:maker=mxic:size=512:bus=sbp2",
    "vqb719:maker=winbond:size=128",
    "vqb719:maker=sst:bus=sbp2",
    "vqb719:maker=pmc:size=128",
    "vqb719:maker=atmel",
    "vqb719:maker=eon:size=512",
    "vqb711:maker=amic:bus=sbp2",
    "vqb711:maker=mxic:size=128:protect",
};

void Print(const fwtool::bench::UpdateMeasure& m) {
  const double simulated = ToMilliseconds(m.simulated);
  const double floor = ToMilliseconds(m.floor);
  const double task = ToMilliseconds(m.taskFloor);
  const double polling = ToMilliseconds(m.pollingTime);
  const double pauses = ToMilliseconds(m.pauseTime);
  const double preWrite = ToMilliseconds(m.preWriteTime);
  const double rest = simulated - task;
  const double extra = floor - task;
  std::printf("unit=%s\n", m.unit.c_str());
  std::printf("result=%s\n", m.done ? "done" : "failed");
  std::printf("commands=%zu\n", m.commands);
  std::printf("status_polls=%zu\n", m.polls);
  std::printf("simulated_ms=%.3f\n", simulated);
  std::printf("floor_ms=%.3f\n", floor);
  std::printf("ratio=%.3f\n", floor > 0 ? simulated / floor : 0.0);
  std::printf("task_floor_ms=%.3f\n", task);
  std::printf("rest_ms=%.3f\n", rest);
  std::printf("  extra_work_ms=%.3f\n", extra);
  std::printf("    pre_write_ms=%.3f\n", preWrite);
  std::printf("  polling_ms=%.3f\n", polling);
  std::printf("  pauses_ms=%.3f\n", pauses);
  // What rounding leaves of an exact remainder prints as 0, not -0.000.
  const double other = rest - extra - polling - pauses;
  std::printf("  other_ms=%.3f\n", std::fabs(other) < 0.0005 ? 0.0 : other);
  std::printf("replay=%s\n", m.replayFaithful ? "faithful" : "DIVERGED");
  std::printf("cpu_ms=%.3f\n", m.cpuMs);
  for (const auto& [step, time] : m.stepTimes) {
    std::string key = fwtool::ProgressStepName(step);
    std::replace(key.begin(), key.end(), ' ', '_');
    std::printf("step_ms.%s=%.3f\n", key.c_str(), ToMilliseconds(time));
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> units;
  for (int i = 1; i < argc; ++i) units.emplace_back(argv[i]);
  if (units.empty()) units.assign(std::begin(kUnits), std::end(kUnits));
  int status = 0;
  for (const auto& unit : units) {
    std::string error;
    const auto measure = fwtool::bench::MeasureUpdate(unit, &error);
    if (!measure) {
      std::fprintf(stderr, "fwtool-bench-update: %s: %s\n", unit.c_str(), error.c_str());
      status = 2;
      continue;
    }
    Print(*measure);
    if (!measure->done || !measure->replayFaithful) status = 1;
  }
  return status;
}
