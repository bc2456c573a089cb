// SPDX-License-Identifier: GPL-2.0-or-later
#include "device_environment.h"

#if FWTOOL_HAVE_PLATFORM
#include "platform_services.h"
#endif

namespace fwtool::gui {

DeviceEnvironment PlatformEnvironment() {
  DeviceEnvironment environment;
#if FWTOOL_HAVE_PLATFORM
  PlatformServices services = InstallPlatformServices();
  environment.enumerator = std::move(services.enumerator);
  environment.watcher = std::move(services.watcher);
  environment.rights = std::move(services.rights);
#else
  environment.enumerator = std::make_shared<NoInterfaces>();
  environment.watcher = std::make_unique<NoDeviceChanges>();
#endif
  return environment;
}

#if !FWTOOL_HAVE_SIM
std::unique_ptr<DeviceEnvironment> SimulatedEnvironment(const GuiOptions&, std::string& error) {
  error = "this build has no simulated controllers";
  return nullptr;
}
#endif

}  // namespace fwtool::gui
