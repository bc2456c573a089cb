#include "device_environment.h"

#include <windows.h>

#include <filesystem>
#include <system_error>

#include "platform_services.h"
#include "simulator.h"

namespace fwtool::win32 {

namespace {

constexpr const char* kNoUnits = "none";
// The farm queues its arrivals and removals with a due time; this is how
// often the window asks for the due ones.
constexpr int kSimEventPollMs = 50;

}  // namespace

DeviceEnvironment PlatformEnvironment() {
  PlatformServices services = InstallPlatformServices();
  DeviceEnvironment environment;
  environment.enumerator = std::move(services.enumerator);
  environment.watcher = std::move(services.watcher);
  return environment;
}

std::unique_ptr<DeviceEnvironment> SimulatedEnvironment(const GuiOptions& options,
                                                        std::string& error) {
  std::shared_ptr<sim::SimFarm> farm = options.simulate == kNoUnits
                                           ? std::make_shared<sim::SimFarm>()
                                           : sim::SimFarm::Create(options.simulate, &error);
  if (!farm) return nullptr;
  farm->SetTimeScale(options.simTimeScale);
  const std::string stateDir = options.simState;
  std::error_code ec;
  if (!stateDir.empty() && std::filesystem::exists(stateDir, ec) &&
      !farm->LoadState(stateDir, &error))
    return nullptr;
  SetSimulatorBackend(farm);

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
    if (!stateDir.empty() && !farm->SaveState(stateDir, &saveError))
      ::MessageBoxA(nullptr,
                    ("Cannot keep the simulated units in " + stateDir + ": " + saveError).c_str(),
                    "fwtool-gui", MB_OK | MB_ICONWARNING);
  };
  environment->keepAlive = farm;
  return environment;
}

}  // namespace fwtool::win32
