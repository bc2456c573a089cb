// SPDX-License-Identifier: GPL-2.0-or-later
#include <memory>

#include "device_notification_watcher.h"
#include "pass_through.h"
#include "platform_services.h"
#include "setupdi_enumerator.h"
#include "sptd_backend.h"

namespace fwtool {

PlatformServices InstallPlatformServices() {
  SetPlatformBackend(std::make_shared<platform::SptdBackend>());
  PlatformServices services;
  services.enumerator = std::make_shared<platform::SetupDiEnumerator>();
  services.watcher = std::make_unique<platform::DeviceNotificationWatcher>();
  return services;
}

}  // namespace fwtool
