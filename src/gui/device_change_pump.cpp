#include "device_change_pump.h"

namespace fwtool::gui {

DeviceChangePump::DeviceChangePump(DeviceChangeWatcher& watcher) : watcher_(watcher) {
  const int fd = watcher_.PollDescriptor();
  if (fd < 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated,
                   [this](QSocketDescriptor, QSocketNotifier::Type) { watcher_.Dispatch(); });
}

}  // namespace fwtool::gui
