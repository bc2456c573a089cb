// The simulated units of a fwtool run: `--simulate UNITS` builds a farm
// from a description and installs it as the simulator backend before the
// subcommand runs; `--sim-state DIR` loads the units' flash and memory
// before and saves them after, so a demo keeps its state between runs.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>

#include "cli_context.h"

namespace fwtool::sim {
class SimFarm;
}

namespace fwtool::cli {

// Adds --simulate, --sim-state and --sim-time-scale.
void AddSimulationOptions(CLI::App& app, CliContext& ctx);
// Builds and installs the farm (nothing without --simulate). A bad
// description or unusable state throws CLI::ValidationError with the reason.
void StartSimulation(const CliContext& ctx);
// Saves the state into --sim-state; false (after saying why on stderr)
// when that fails.
bool FinishSimulation(const CliContext& ctx);
// The farm of this run, or null.
std::shared_ptr<sim::SimFarm> ActiveSimulation();

}  // namespace fwtool::cli
