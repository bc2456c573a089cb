// SPDX-License-Identifier: GPL-2.0-or-later
// Where a firmware image for the flash-based controllers keeps the version
// numbers that the controller reports in its chip-information reply once it
// runs that image: six bytes right after the 10-byte signature block at 0x1000.
#pragma once

#include <array>
#include <cstdint>

namespace fwtool {

inline constexpr uint32_t kFirmwareVersionOffset = 0x100A;
inline constexpr uint32_t kFirmwareVersionLength = 6;
// The chip-information reply bytes that carry those six bytes, in order.
inline constexpr std::array<int, kFirmwareVersionLength> kChipInfoVersionBytes = {6,  7,  12,
                                                                                  13, 14, 15};

}  // namespace fwtool
