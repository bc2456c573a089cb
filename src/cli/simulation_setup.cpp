// SPDX-License-Identifier: GPL-2.0-or-later
#include "simulation_setup.h"

#include <fmt/format.h>

#include <cstdio>

#include "clock.h"
#include "farm.h"
#include "recorded_run.h"

namespace fwtool::cli {

namespace {
struct Simulation {
  std::shared_ptr<sim::SimFarm> farm;
  double timeScale = 1.0;
  // --simulate replay:FILE
  std::shared_ptr<ReplayBackend> replay;
  std::shared_ptr<ReplayEnumerator> replayDevices;
};

Simulation& TheSimulation() {
  static Simulation simulation;
  return simulation;
}

constexpr std::string_view kReplayPrefix = "replay:";

// Answers every path from the recording, on a virtual clock: the run takes
// the recorded devices' time without waiting for it.
void StartReplay(const std::string& file) {
  std::string error;
  auto run = LoadRecordedRun(file, &error);
  if (!run) throw CLI::ValidationError("--simulate", error);
  auto devices = std::make_shared<ReplayEnumerator>(run->interfaces);
  auto replay = std::make_shared<ReplayBackend>(std::move(*run));
  SetClock(std::make_shared<VirtualClock>());
  SetSimulatorBackend(replay);
  SetPlatformBackend(replay);
  TheSimulation().replay = replay;
  TheSimulation().replayDevices = devices;
}

// False (after saying why) when the run did not follow the recording to its end.
bool FinishReplay(const ReplayBackend& replay) {
  const std::string mismatch = replay.Mismatch();
  if (!mismatch.empty()) {
    std::fprintf(stderr, "fwtool: replay: %s\n", mismatch.c_str());
    return false;
  }
  if (const size_t left = replay.Unplayed(); left != 0) {
    std::fprintf(stderr,
                 "fwtool: replay: the run ended before the recording did; %zu recorded command%s "
                 "not sent, the first: %s\n",
                 left, left == 1 ? " was" : "s were", replay.FirstUnplayed().c_str());
    return false;
  }
  return true;
}
}  // namespace

void AddSimulationOptions(CLI::App& app, CliContext& ctx) {
  auto* simulate =
      app.add_option("--simulate", ctx.simulate,
                     "Simulated units, e.g. vqb719 or \"vqb719:maker=winbond,chip=11:rev=5\" "
                     "(docs/simulator.md), or replay:FILE to answer from a run "
                     "recorded with --record")
          ->type_name("UNITS");
  app.add_option("--sim-state", ctx.simState,
                 "Directory that keeps the simulated units' flash, memory and disks between runs")
      ->type_name("DIR")
      ->needs(simulate);
  app.add_option("--sim-time-scale", TheSimulation().timeScale,
                 "Multiply the simulated units' bus, erase and program times (0.1 = ten times "
                 "faster, 0 = instant)")
      ->type_name("FACTOR")
      ->check(CLI::NonNegativeNumber)
      ->needs(simulate);
}

void StartSimulation(const CliContext& ctx) {
  if (ctx.simulate.empty()) return;
  if (std::string_view(ctx.simulate).starts_with(kReplayPrefix)) {
    if (!ctx.simState.empty())
      throw CLI::ValidationError("--sim-state", "a replayed run keeps no state");
    StartReplay(ctx.simulate.substr(kReplayPrefix.size()));
    return;
  }
  std::string error;
  auto farm = sim::SimFarm::Create(ctx.simulate, &error);
  if (!farm) throw CLI::ValidationError("--simulate", error);
  farm->SetTimeScale(TheSimulation().timeScale);
  if (!ctx.simState.empty() && !farm->LoadState(ctx.simState, &error))
    throw CLI::ValidationError("--sim-state", error);
  SetSimulatorBackend(farm);
  TheSimulation().farm = farm;
  if (ctx.trace) std::fprintf(stderr, "simulated units:\n%s", farm->Describe().c_str());
}

bool FinishSimulation(const CliContext& ctx) {
  if (TheSimulation().replay) return FinishReplay(*TheSimulation().replay);
  auto& farm = TheSimulation().farm;
  if (!farm || ctx.simState.empty()) return true;
  std::string error;
  if (!farm->SaveState(ctx.simState, &error)) {
    std::fprintf(stderr, "fwtool: --sim-state: %s\n", error.c_str());
    return false;
  }
  return true;
}

std::shared_ptr<sim::SimFarm> ActiveSimulation() {
  return TheSimulation().farm;
}

std::shared_ptr<InterfaceEnumerator> SimulatedDevices() {
  if (TheSimulation().replayDevices) return TheSimulation().replayDevices;
  if (TheSimulation().farm) return TheSimulation().farm->Enumerator();
  return nullptr;
}

}  // namespace fwtool::cli
