// SPDX-License-Identifier: GPL-2.0-or-later
// What every view of the form shares beyond the controls themselves: where
// the one-click face's controls sit in the 419 x 113 client area as designed,
// and the switch that brings the engineering face into view.
#pragma once

#include <array>
#include <string_view>

#include "Fwupdate.h"

namespace fwtool {

struct BandPlace {
  const char* name;
  int x, y, width, height;
};

// The sentence, the progress bar and the power-cycle line share the line near
// the top; "YES" stands left, "EXIT" in the middle, "NO" right.
inline constexpr std::array<BandPlace, 6> kBandPlaces{{
    {"devLable", 8, 16, 403, 26},
    {"FwUpdatBar", 16, 19, 387, 20},
    {"replugLable1", 0, 16, kFormClientWidth, 26},
    {"EraseButton", 24, 64, 75, 25},
    {"ExtBtn", 172, 64, 75, 25},
    {"ExitBtn", 320, 64, 75, 25},
}};
// The navy rule runs under the buttons.
inline constexpr BandPlace kPanel1Place{"Panel1", 0, 100, kFormClientWidth, 3};

inline const BandPlace* BandPlaceOf(std::string_view name) {
  for (const auto& place : kBandPlaces)
    if (name == place.name) return &place;
  return nullptr;
}
}  // namespace fwtool
