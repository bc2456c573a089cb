// SPDX-License-Identifier: GPL-2.0-or-later
// What the one-click update must leave in a unit's flash, worked out from
// the image and the unit's flash before the update, for the tests that
// check it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "firmware.h"
#include "simulator.h"

namespace fwtool::testing {

// The update writes the first 64 KB of the flash.
inline constexpr size_t kUpdatedBytes = 65536;

// The first 64 KB an update must leave: the image, with the unit's own
// settings where the header keeps them when its header is valid.
inline std::vector<uint8_t> MergedImage(const std::vector<uint8_t>& before) {
  const auto image = EmbeddedImage();
  std::vector<uint8_t> out(kUpdatedBytes, 0);
  std::copy(image.begin(), image.end(), out.begin());
  if (before[126] != 'V' || before[127] != 'Q') return out;
  for (size_t p = 0; p < 128; ++p) {
    const bool imageOwned =
        std::find(sim::kImageOwnedHeaderBytes.begin(), sim::kImageOwnedHeaderBytes.end(), p) !=
        sim::kImageOwnedHeaderBytes.end();
    if (!imageOwned) out[p] = before[p];
  }
  for (auto [first, last] : {std::pair{268, 275},
                             {320, 351},
                             {416, 447},
                             {512, 543},
                             {608, 639},
                             {704, 735},
                             {800, 831},
                             {896, 927}})
    std::copy(before.begin() + first, before.begin() + last + 1, out.begin() + first);
  UpdateHeaderChecksums(std::span<uint8_t>(out.data(), 1024));
  return out;
}

}  // namespace fwtool::testing
