// SPDX-License-Identifier: GPL-2.0-or-later
// `--record FILE`: every command of the run and every device list it asks
// for go into FILE (see recorded_run.h), whichever backend answers them.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <vector>

#include "cli_context.h"
#include "enumeration.h"

namespace fwtool::cli {

// Wraps the backends installed now (call it after the simulation is set up);
// nothing without --record. A name that is taken already throws
// CLI::ValidationError: the recording never replaces a file.
void StartRecording(const CliContext& ctx, std::vector<std::string> arguments);
// The device lists of the run, recorded when --record is given.
std::shared_ptr<InterfaceEnumerator> RecordedDevices(std::shared_ptr<InterfaceEnumerator> devices);
// Writes the file; false (after saying why on stderr) when that fails.
bool FinishRecording(const CliContext& ctx);

}  // namespace fwtool::cli
