// SPDX-License-Identifier: GPL-2.0-or-later
// fwtool update --all: every unit that the one-click face would list, updated
// side by side, each by its own form on its own thread.
#pragma once

#include "cli_context.h"

namespace fwtool::cli {

struct BatchOptions {
  bool yes = false;   // do not ask before writing
  bool json = false;  // the outcome as JSON on stdout, no progress lines
};

// Returns the exit code: kExitOk only when every unit to update was written
// and verified.
int RunBatchUpdate(CliContext& ctx, const BatchOptions& options);

}  // namespace fwtool::cli
