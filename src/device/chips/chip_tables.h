// SPDX-License-Identifier: GPL-2.0-or-later
// The flash maker codes: what the serial-flash detection and the controllers
// report, and the name shown for each in the Flash Type field. (The chip type
// codes keep their model numbers and labels in their rows, chip_rows.h.)
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace fwtool {

// A flash maker code as the detection reports it and the form keeps it.
enum class FlashMaker : uint8_t {
  Unknown = 0,  // no part found, or one of no known maker
  Pmc = 1,
  Sst = 2,
  StEonMxic = 3,
  Atmel = 4,
  Mxic = 5,
  Winbond = 6,
  Amic = 7,
  Eon = 8,
  Esmt = 9,
  Sanyo = 10,
};
inline constexpr int kFlashMakerCount = 11;

// Maker codes travel as plain numbers (the form field, the detected
// profile); these compare such a number with a maker.
constexpr int MakerCode(FlashMaker maker) {
  return static_cast<int>(maker);
}
constexpr bool operator==(int code, FlashMaker maker) {
  return code == MakerCode(maker);
}

// Indexed by the flash maker code.
inline constexpr std::array<std::string_view, kFlashMakerCount> FlashMakerTable = {
    "Unknown", "PMC",  "SST", "ST/EON/MXIC", "ATMEL", "MXIC",
    "WINBOND", "AMIC", "EON", "ESMT",        "SANYO",
};

// The name of a flash maker code; "Unknown" outside 0..10.
std::string_view FlashMakerName(int makerCode);

}  // namespace fwtool
