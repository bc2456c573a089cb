// SPDX-License-Identifier: GPL-2.0-or-later
// What the operating system offers the views: the enumerator of disk and
// CD-ROM interfaces, the device-change watcher, and the pass-through backend
// for every path that is not simulated.
#pragma once

#include <memory>

#include "device_rights.h"
#include "enumeration.h"

namespace fwtool {

struct PlatformServices {
  std::shared_ptr<InterfaceEnumerator> enumerator;  // never null
  std::unique_ptr<DeviceChangeWatcher> watcher;     // never null; Start may refuse
  // How to get the rights to the devices when the program lacks them
  // (AccessProblem() of the enumerator); null where there is no way.
  std::shared_ptr<DeviceRights> rights;
};

// Registers the platform's pass-through backend (SetPlatformBackend) and
// returns the enumerator and watcher for the views. Call once at start.
PlatformServices InstallPlatformServices();

}  // namespace fwtool
