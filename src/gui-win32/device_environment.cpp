// SPDX-License-Identifier: GPL-2.0-or-later
#include "device_environment.h"

#include <windows.h>

#include "platform_services.h"
#include "simulated_units.h"

namespace fwtool::win32 {

DeviceEnvironment PlatformEnvironment() {
  PlatformServices services = InstallPlatformServices();
  DeviceEnvironment environment;
  environment.enumerator = std::move(services.enumerator);
  environment.watcher = std::move(services.watcher);
  return environment;
}

std::unique_ptr<DeviceEnvironment> SimulatedEnvironment(const GuiOptions& options,
                                                        std::string& error) {
  auto units = sim::SimulatedUnits::Start(
      {options.simulate, options.simState, options.simTimeScale}, &error);
  if (!units) return nullptr;

  auto environment = std::make_unique<DeviceEnvironment>();
  environment->enumerator = units->Enumerator();
  environment->watcher = units->Watcher();
  environment->pollIntervalMs = sim::SimulatedUnits::kEventPollMs;
  environment->plugAll = [units] { units->PlugAll(); };
  environment->unplugAll = [units] { units->UnplugAll(); };
  environment->atExit = [units] {
    std::string saveError;
    if (!units->Keep(&saveError))
      ::MessageBoxA(
          nullptr,
          ("Cannot keep the simulated units in " + units->StateDir() + ": " + saveError).c_str(),
          "fwtool-gui", MB_OK | MB_ICONWARNING);
  };
  environment->keepAlive = units;
  return environment;
}

}  // namespace fwtool::win32
