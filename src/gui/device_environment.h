// SPDX-License-Identifier: GPL-2.0-or-later
// Where the window's devices come from: the platform (enumerator, device-change
// watcher, pass-through backend) or, with --simulate, the simulated farm with
// its own enumerator and watcher. Either way the form sees only the two
// interfaces, so another platform's watcher plugs in the same way.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "device_rights.h"
#include "enumeration.h"
#include "gui_options.h"

namespace fwtool::gui {

struct DeviceEnvironment {
  std::shared_ptr<InterfaceEnumerator> enumerator;
  std::shared_ptr<DeviceChangeWatcher> watcher;
  // How to get the rights to the devices when they cannot be opened (the
  // platform's helper); null for simulated units.
  std::shared_ptr<DeviceRights> rights;
  // Watchers without a descriptor to wait on are asked for due events this
  // often (0: they deliver by themselves).
  int pollIntervalMs = 0;
  // Simulated units only: plug them in / pull them out (drives the same
  // arrival and removal path as real hardware).
  std::function<void()> plugAll;
  std::function<void()> unplugAll;
  // Runs once the form is gone (the simulated farm keeps its flash).
  std::function<void()> atExit;
  // Whatever must live as long as the devices (the simulated farm).
  std::shared_ptr<void> keepAlive;
};

// The operating system's devices. Registers the platform pass-through backend.
DeviceEnvironment PlatformEnvironment();

// The simulated units named by --simulate (with --sim-state): the farm
// becomes the simulator backend, its enumerator and watcher the window's.
// "none" is a farm without units. Empty with `error` set when the units
// cannot be set up.
std::unique_ptr<DeviceEnvironment> SimulatedEnvironment(const GuiOptions& options,
                                                        std::string& error);

}  // namespace fwtool::gui
