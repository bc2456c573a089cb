// SPDX-License-Identifier: GPL-2.0-or-later
// --simulate UNITS and --sim-state DIR: a farm of simulated controllers in
// place of the attached devices.
#include <cstdio>

#include "device_environment.h"
#include "simulated_units.h"

namespace fwtool::gui {

std::unique_ptr<DeviceEnvironment> SimulatedEnvironment(const GuiOptions& options,
                                                        std::string& error) {
  auto units = sim::SimulatedUnits::Start(
      {options.simulate.toStdString(), options.simState.toStdString(), options.simTimeScale},
      &error);
  if (!units) return nullptr;
  if (options.trace) std::fprintf(stderr, "simulated units:\n%s", units->Describe().c_str());

  auto environment = std::make_unique<DeviceEnvironment>();
  environment->enumerator = units->Enumerator();
  environment->watcher = units->Watcher();
  environment->pollIntervalMs = sim::SimulatedUnits::kEventPollMs;
  environment->plugAll = [units] { units->PlugAll(); };
  environment->unplugAll = [units] { units->UnplugAll(); };
  environment->atExit = [units] {
    std::string error;
    if (!units->Keep(&error))
      std::fprintf(stderr, "fwtool-gui: cannot keep the simulated units in %s: %s\n",
                   units->StateDir().c_str(), error.c_str());
  };
  environment->keepAlive = units;
  return environment;
}

}  // namespace fwtool::gui
