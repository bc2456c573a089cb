// SPDX-License-Identifier: GPL-2.0-or-later
// The simulated units a window runs with in place of the attached devices
// (--simulate, --sim-state and --sim-time-scale of fwtool-gui, on Linux and
// on Windows alike): a farm built from its description, its units' flash and
// memory taken from the state folder when there is one, installed as the
// simulator backend. Each window wraps it in its own device environment and
// reports errors its own way.
#pragma once

#include <memory>
#include <string>

#include "enumeration.h"

namespace fwtool::sim {

class SimFarm;

struct SimulationOptions {
  std::string units;       // a farm description, or "none": a farm without units
  std::string stateDir;    // where the units are kept between runs; empty: nowhere
  double timeScale = 1.0;  // multiplies the units' bus, erase and program times
};

class SimulatedUnits {
 public:
  // The farm queues its arrivals and removals with a due time; a window asks
  // its watcher for the due ones this often.
  static constexpr int kEventPollMs = 50;

  // Builds the farm, loads the state folder when it exists and installs the
  // farm as the simulator backend. Null, with the reason in `error`, when
  // the description or the kept state cannot be used.
  static std::shared_ptr<SimulatedUnits> Start(const SimulationOptions& options,
                                               std::string* error);

  std::shared_ptr<InterfaceEnumerator> Enumerator();
  std::shared_ptr<DeviceChangeWatcher> Watcher();
  // Every unit plugged in or pulled out, as a person at the bus would.
  void PlugAll();
  void UnplugAll();
  // Keeps the units' flash and memory in the state folder (nothing to do
  // without one); false with the reason in `error`.
  bool Keep(std::string* error) const;
  const std::string& StateDir() const { return stateDir_; }
  // One line per unit.
  std::string Describe() const;

 private:
  SimulatedUnits(std::shared_ptr<SimFarm> farm, std::string stateDir)
      : farm_(std::move(farm)), stateDir_(std::move(stateDir)) {}

  std::shared_ptr<SimFarm> farm_;
  std::string stateDir_;
};

}  // namespace fwtool::sim
