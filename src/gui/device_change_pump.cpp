// SPDX-License-Identifier: GPL-2.0-or-later
#include "device_change_pump.h"

namespace fwtool::gui {

DeviceChangePump::DeviceChangePump(DeviceChangeWatcher& watcher, int pollIntervalMs)
    : watcher_(watcher) {
  const int fd = watcher_.PollDescriptor();
  if (fd < 0) {
    if (pollIntervalMs <= 0) return;
    poll_ = std::make_unique<QTimer>();
    QObject::connect(poll_.get(), &QTimer::timeout, [this] { watcher_.Dispatch(); });
    poll_->start(pollIntervalMs);
    return;
  }
  notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated,
                   [this](QSocketDescriptor, QSocketNotifier::Type) { watcher_.Dispatch(); });
}

}  // namespace fwtool::gui
