// SPDX-License-Identifier: GPL-2.0-or-later
#include "simulated_units.h"

#include <filesystem>
#include <system_error>

#include "farm.h"
#include "pass_through.h"

namespace fwtool::sim {

namespace {

constexpr const char* kNoUnits = "none";

}  // namespace

std::shared_ptr<SimulatedUnits> SimulatedUnits::Start(const SimulationOptions& options,
                                                      std::string* error) {
  std::shared_ptr<SimFarm> farm = options.units == kNoUnits ? std::make_shared<SimFarm>()
                                                            : SimFarm::Create(options.units, error);
  if (!farm) return nullptr;
  farm->SetTimeScale(options.timeScale);
  // A state folder that does not exist yet is where the units go at the end.
  std::error_code ec;
  if (!options.stateDir.empty() && std::filesystem::is_directory(options.stateDir, ec) &&
      !farm->LoadState(options.stateDir, error))
    return nullptr;
  SetSimulatorBackend(farm);
  return std::shared_ptr<SimulatedUnits>(new SimulatedUnits(farm, options.stateDir));
}

std::shared_ptr<InterfaceEnumerator> SimulatedUnits::Enumerator() {
  return farm_->Enumerator();
}

std::shared_ptr<DeviceChangeWatcher> SimulatedUnits::Watcher() {
  return farm_->Watcher();
}

void SimulatedUnits::PlugAll() {
  for (size_t i = 0; i < farm_->UnitCount(); ++i) farm_->Plug(i);
}

void SimulatedUnits::UnplugAll() {
  for (size_t i = 0; i < farm_->UnitCount(); ++i) farm_->Unplug(i);
}

bool SimulatedUnits::Keep(std::string* error) const {
  return stateDir_.empty() || farm_->SaveState(stateDir_, error);
}

std::string SimulatedUnits::Describe() const {
  return farm_->Describe();
}

}  // namespace fwtool::sim
