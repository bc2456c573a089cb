#include "device_environment.h"

#if FWTOOL_HAVE_PLATFORM
#include "platform_services.h"
#endif

namespace fwtool::gui {

namespace {

// Without a platform layer in the build there is nothing to enumerate and
// nothing to watch: the window shows "No device found!!".
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

DeviceEnvironment PlatformEnvironment() {
  DeviceEnvironment environment;
#if FWTOOL_HAVE_PLATFORM
  PlatformServices services = InstallPlatformServices();
  environment.enumerator = std::move(services.enumerator);
  environment.watcher = std::move(services.watcher);
#else
  environment.enumerator = std::make_shared<NoInterfaces>();
  environment.watcher = std::make_unique<NoNotifications>();
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
