// SPDX-License-Identifier: GPL-2.0-or-later
// The names a new file takes when its own is taken, on every system.
#pragma once

#include <string>

namespace fwtool::host {

// "stem-N.ext" for the N-th name (N from 2), or the name itself for 1.
std::string NumberedName(const std::string& name, int n);

}  // namespace fwtool::host
