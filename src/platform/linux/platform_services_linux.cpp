// SPDX-License-Identifier: GPL-2.0-or-later
#include <memory>

#include "helper_rights.h"
#include "pass_through.h"
#include "platform_services.h"
#include "sg_io_backend.h"
#include "sysfs_enumerator.h"
#include "udev_watcher.h"

namespace fwtool {

PlatformServices InstallPlatformServices() {
  SetPlatformBackend(std::make_shared<platform::SgIoBackend>());
  PlatformServices services;
  auto devices =
      std::make_shared<platform::RoutedEnumerator>(std::make_shared<platform::SysfsEnumerator>());
  services.enumerator = devices;
  services.watcher = std::make_unique<platform::UdevWatcher>();
  services.rights =
      std::make_shared<platform::HelperRights>(devices, platform::LaunchFromEnvironment());
  return services;
}

}  // namespace fwtool
