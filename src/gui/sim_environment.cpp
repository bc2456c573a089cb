// --simulate UNITS and --sim-state DIR: a farm of simulated controllers in
// place of the attached devices.
#include <QtCore/QDir>
#include <cstdio>

#include "device_environment.h"
#include "simulator.h"

namespace fwtool::gui {

namespace {

constexpr char kNoUnits[] = "none";
// The farm queues its arrivals and removals with a due time; this is how
// often the window asks for the due ones.
constexpr int kSimEventPollMs = 50;

}  // namespace

std::unique_ptr<DeviceEnvironment> SimulatedEnvironment(const GuiOptions& options,
                                                        std::string& error) {
  const std::string description = options.simulate.toStdString();
  std::shared_ptr<sim::SimFarm> farm = description == kNoUnits
                                           ? std::make_shared<sim::SimFarm>()
                                           : sim::SimFarm::Create(description, &error);
  if (!farm) return nullptr;
  farm->SetTimeScale(options.simTimeScale);
  const std::string stateDir = options.simState.toStdString();
  if (!stateDir.empty() && QDir(options.simState).exists() && !farm->LoadState(stateDir, &error)) {
    return nullptr;
  }
  SetSimulatorBackend(farm);
  if (options.trace) std::fprintf(stderr, "simulated units:\n%s", farm->Describe().c_str());

  auto environment = std::make_unique<DeviceEnvironment>();
  environment->enumerator = farm->Enumerator();
  environment->watcher = farm->Watcher();
  environment->pollIntervalMs = kSimEventPollMs;
  environment->plugAll = [farm] {
    for (size_t i = 0; i < farm->UnitCount(); ++i) farm->Plug(i);
  };
  environment->unplugAll = [farm] {
    for (size_t i = 0; i < farm->UnitCount(); ++i) farm->Unplug(i);
  };
  environment->atExit = [farm, stateDir] {
    std::string saveError;
    if (!stateDir.empty() && !farm->SaveState(stateDir, &saveError)) {
      std::fprintf(stderr, "fwtool-gui: cannot keep the simulated units in %s: %s\n",
                   stateDir.c_str(), saveError.c_str());
    }
  };
  environment->keepAlive = farm;
  return environment;
}

}  // namespace fwtool::gui
