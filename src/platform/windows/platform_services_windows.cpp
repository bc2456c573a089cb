// Placeholder until the Windows backend lands: no pass-through, no devices,
// no notifications. Only simulated paths work in such a build.
#include <memory>

#include "platform_services.h"

namespace fwtool {

namespace {

class NoInterfaces final : public InterfaceEnumerator {
 public:
  std::vector<std::string> DiskInterfaces() override { return {}; }
  std::vector<std::string> CdromInterfaces() override { return {}; }
};

class NoNotifications final : public DeviceChangeWatcher {
 public:
  bool Start(Listener) override { return false; }
  void Stop() override {}
};

}  // namespace

PlatformServices InstallPlatformServices() {
  PlatformServices services;
  services.enumerator = std::make_shared<NoInterfaces>();
  services.watcher = std::make_unique<NoNotifications>();
  return services;
}

}  // namespace fwtool
