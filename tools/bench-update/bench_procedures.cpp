// SPDX-License-Identifier: GPL-2.0-or-later
// Runs each engineering procedure, programming a firmware file into a
// simulated unit of its chip type with the virtual clock, and prints one
// row per procedure:
//   commands, polls   blocks the unit received during the procedure, and of
//                     them the ready polls (flash status, parallel busy, ATA
//                     status)
//   simulated_s       virtual time the procedure took
//   floor_s           what an ideal host needs for the same work: the
//                     procedure's commands less the polls, replayed on a
//                     fresh identical unit with the clock moved straight to
//                     the part's ready (bus time plus the part's datasheet
//                     busy times)
//   ratio             simulated / floor (at least 1)
//   polling_s         status polls and the sleeps between them after the
//                     part was ready
//   pauses_s          the host's other sleeps after the part was ready
//                     (settle times, pauses between instructions)
//   other_s           the remainder: what the replay did faster beyond that
// then, per procedure, the virtual time of each step it declared and its
// share of the procedure's time (what the steps' weights stand for).
//
//   fwtool-bench-procedures [NAME...]   (default: all nine; NAME as printed)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "procedure_floor.h"
#include "simulator.h"

namespace {

using fwtool::bench::ProcedureCase;
using fwtool::bench::ProcedureMeasure;
using fwtool::sim::ToMilliseconds;

double Seconds(fwtool::Duration d) {
  return ToMilliseconds(d) / 1000.0;
}

// What rounding leaves of an exact remainder prints as 0, not -0.000.
double Clean(double value) {
  return std::fabs(value) < 0.0005 ? 0.0 : value;
}

void PrintHeader() {
  std::printf("%-16s %-22s %-6s %8s %7s %11s %9s %6s %9s %8s %7s\n", "procedure", "unit", "result",
              "commands", "polls", "simulated_s", "floor_s", "ratio", "polling_s", "pauses_s",
              "other_s");
}

void PrintRow(const ProcedureMeasure& m) {
  const auto& r = m.run;
  const double simulated = Seconds(r.simulated);
  const double floor = Seconds(r.floor);
  const double polling = Seconds(r.pollingTime);
  const double pauses = Seconds(r.pauseTime);
  std::printf("%-16s %-22s %-6s %8zu %7zu %11.3f %9.3f %6.3f %9.3f %8.3f %7.3f%s\n",
              m.procedureCase->name, m.procedureCase->unit, m.done ? "done" : "failed", r.commands,
              r.polls, simulated, floor, floor > 0 ? simulated / floor : 0.0, polling, pauses,
              Clean(simulated - floor - polling - pauses),
              r.replayFaithful ? "" : "  (replay DIVERGED)");
}

void PrintSteps(const ProcedureMeasure& m) {
  std::printf("%-16s", m.procedureCase->name);
  const double total = ToMilliseconds(m.run.simulated);
  for (const auto& [step, time] : m.run.stepTimes) {
    const double ms = ToMilliseconds(time);
    std::printf("  %s %.3f s (%.0f%%)", fwtool::ProgressStepName(step), ms / 1000.0,
                total > 0 ? 100.0 * ms / total : 0.0);
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> wanted(argv + 1, argv + argc);
  std::vector<ProcedureMeasure> measures;
  int status = 0;
  for (const ProcedureCase& c : fwtool::bench::ProcedureCases()) {
    if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), c.name) == wanted.end())
      continue;
    std::string error;
    auto m = fwtool::bench::MeasureProcedure(c, &error);
    if (!m) {
      std::fprintf(stderr, "fwtool-bench-procedures: %s: %s\n", c.name, error.c_str());
      status = 2;
      continue;
    }
    if (!m->done || !m->run.replayFaithful) status = 1;
    measures.push_back(std::move(*m));
  }
  PrintHeader();
  for (const auto& m : measures) PrintRow(m);
  std::printf("\ntime in each declared step (share of the procedure's time):\n");
  for (const auto& m : measures) PrintSteps(m);
  return status;
}
