// SPDX-License-Identifier: GPL-2.0-or-later
#include "chip_tables.h"

namespace fwtool {

std::string_view FlashMakerName(int makerCode) {
  if (makerCode < 0 || makerCode >= kFlashMakerCount) return FlashMakerTable[0];
  return FlashMakerTable[static_cast<size_t>(makerCode)];
}

}  // namespace fwtool
