// SPDX-License-Identifier: GPL-2.0-or-later
// Systems without a platform layer: no pass-through, no devices, no
// notifications. Only simulated paths work in such a build.
#include <memory>

#include "platform_services.h"

namespace fwtool {

PlatformServices InstallPlatformServices() {
  PlatformServices services;
  services.enumerator = std::make_shared<NoInterfaces>();
  services.watcher = std::make_unique<NoDeviceChanges>();
  return services;
}

}  // namespace fwtool
