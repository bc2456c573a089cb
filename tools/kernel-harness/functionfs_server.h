// SPDX-License-Identifier: GPL-2.0-or-later
// Serves a StorageTarget as a USB Bulk-Only mass-storage interface through
// a mounted FunctionFS instance: one bulk IN and one bulk OUT endpoint, the
// class requests Get Max LUN and Bulk-Only Reset on ep0.
#pragma once

#include <string>

#include "bulk_only.h"

namespace fwtool::harness {

struct FunctionFsOptions {
  std::string mountPoint;  // where the functionfs instance is mounted
  std::string readyFile;   // created once the endpoints exist (the UDC may be bound then)
  bool trace = false;      // one line per command on stderr
};

// Writes the descriptors and strings, then serves until ep0 fails (the
// instance is unmounted or the process is killed). Returns a process exit
// code: 1 when the function cannot be set up.
int ServeFunctionFs(const FunctionFsOptions& options, StorageTarget& target);

}  // namespace fwtool::harness
