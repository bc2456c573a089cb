// SPDX-License-Identifier: GPL-2.0-or-later
// An interface enumerator for tests: fixed lists of paths, a count of the
// enumerations asked for, and a hook that runs inside each one.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "enumeration.h"

namespace fwtool::testing {

class FakeEnumerator : public InterfaceEnumerator {
 public:
  std::vector<std::string> DiskInterfaces() override {
    ++diskCalls;
    if (onEnumerate) onEnumerate();
    return disks;
  }
  std::vector<std::string> CdromInterfaces() override {
    ++cdromCalls;
    return cdroms;
  }

  std::vector<std::string> disks;
  std::vector<std::string> cdroms;
  int diskCalls = 0;  // one per refresh
  int cdromCalls = 0;
  std::function<void()> onEnumerate;
};

// A device-change watcher whose events a test sends by hand.
class FakeWatcher : public DeviceChangeWatcher {
 public:
  bool Start(Listener listener) override {
    listener_ = std::move(listener);
    ++starts;
    return startResult;
  }
  void Stop() override {
    listener_ = nullptr;
    ++stops;
  }
  void Send(uint32_t event, uint32_t deviceType) {
    if (listener_) listener_(DeviceChangeEvent{event, deviceType, {}});
  }

  bool startResult = true;
  int starts = 0;
  int stops = 0;

 private:
  Listener listener_;
};

}  // namespace fwtool::testing
