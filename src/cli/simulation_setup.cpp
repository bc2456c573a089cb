#include "simulation_setup.h"

#include <fmt/format.h>

#include <cstdio>

#include "farm.h"

namespace fwtool::cli {

namespace {
struct Simulation {
  std::shared_ptr<sim::SimFarm> farm;
  double timeScale = 1.0;
};
Simulation& TheSimulation() {
  static Simulation simulation;
  return simulation;
}
}  // namespace

void AddSimulationOptions(CLI::App& app, CliContext& ctx) {
  auto* simulate =
      app.add_option("--simulate", ctx.simulate,
                     "Simulated units, e.g. vqb719 or \"vqb719:maker=winbond,chip=11:rev=5\" "
                     "(README: Simulated controllers)");
  app.add_option("--sim-state", ctx.simState,
                 "Directory that keeps the simulated units' flash and memory between runs")
      ->needs(simulate);
  app.add_option("--sim-time-scale", TheSimulation().timeScale,
                 "Multiply the simulated units' bus, erase and program times (0.1 = ten times "
                 "faster, 0 = instant)")
      ->check(CLI::NonNegativeNumber)
      ->needs(simulate);
}

void StartSimulation(const CliContext& ctx) {
  if (ctx.simulate.empty()) return;
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

}  // namespace fwtool::cli
