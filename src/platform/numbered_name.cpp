// SPDX-License-Identifier: GPL-2.0-or-later
#include "numbered_name.h"

namespace fwtool::host {

std::string NumberedName(const std::string& name, int n) {
  if (n == 1) return name;
  const size_t dot = name.rfind('.');
  const bool hasExtension = dot != std::string::npos && dot != 0;
  const std::string stem = hasExtension ? name.substr(0, dot) : name;
  const std::string extension = hasExtension ? name.substr(dot) : std::string();
  return stem + "-" + std::to_string(n) + extension;
}

}  // namespace fwtool::host
