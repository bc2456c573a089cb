// SPDX-License-Identifier: GPL-2.0-or-later
// Where the Windows window's devices come from: the platform (SetupDi
// enumerator, device notifications, the pass-through backend) or, with
// --simulate, the simulated farm with its own enumerator and watcher. The
// form sees only the two interfaces either way.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "enumeration.h"
#include "gui_options.h"

namespace fwtool::win32 {

struct DeviceEnvironment {
  std::shared_ptr<InterfaceEnumerator> enumerator;
  std::shared_ptr<DeviceChangeWatcher> watcher;
  // Watchers that do not post to a window are asked for due events this
  // often (0: they deliver by themselves).
  int pollIntervalMs = 0;
  // Simulated units only: plug them in / pull them out.
  std::function<void()> plugAll;
  std::function<void()> unplugAll;
  // Runs once the form is gone (the simulated farm keeps its flash).
  std::function<void()> atExit;
  std::shared_ptr<void> keepAlive;
};

// The operating system's devices. Registers the platform pass-through backend.
DeviceEnvironment PlatformEnvironment();

// The simulated units named by --simulate ("none": a farm without units);
// empty with `error` set when they cannot be set up.
std::unique_ptr<DeviceEnvironment> SimulatedEnvironment(const GuiOptions& options,
                                                        std::string& error);

}  // namespace fwtool::win32
