#include <memory>

#include "pass_through.h"
#include "platform_services.h"
#include "sg_io_backend.h"
#include "sysfs_enumerator.h"
#include "udev_watcher.h"

namespace fwtool {

PlatformServices InstallPlatformServices() {
  SetPlatformBackend(std::make_shared<platform::SgIoBackend>());
  PlatformServices services;
  services.enumerator = std::make_shared<platform::SysfsEnumerator>();
  services.watcher = std::make_unique<platform::UdevWatcher>();
  return services;
}

}  // namespace fwtool
