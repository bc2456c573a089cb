// SPDX-License-Identifier: GPL-2.0-or-later
// The simulated units of a fwtool run: `--simulate UNITS` builds a farm
// from a description and installs it as the simulator backend before the
// subcommand runs; `--sim-state DIR` loads the units' flash, memory and disks
// before and saves them after, so a demo keeps its state between runs.
// `--simulate replay:FILE` answers the run from a recording (--record) and
// fails it at the first command that differs.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string_view>

#include "cli_context.h"
#include "enumeration.h"

namespace fwtool::sim {
class SimFarm;
}

namespace fwtool::cli {

// The options of simulated units: test options, which a fwtool that runs
// with borrowed rights refuses (borrowed_rights.h).
inline constexpr std::string_view kSimulationOptions[] = {"--simulate", "--sim-state",
                                                          "--sim-time-scale"};

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
// The device lists of the simulated units or of the replayed recording;
// null when the run uses the operating system's devices.
std::shared_ptr<InterfaceEnumerator> SimulatedDevices();

}  // namespace fwtool::cli
