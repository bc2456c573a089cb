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

// CRC-16 with the polynomial 0x1021, most significant bit first, from 0,
// over each group of four bytes taken in the order 3, 2, 1, 0 (a
// little-endian word, highest byte first). "abcd" gives 0x40D7.
inline uint16_t WordCrc16(const uint8_t* data, size_t length) {
  uint16_t crc = 0;
  for (size_t group = 0; group + 4 <= length; group += 4) {
    for (int i = 3; i >= 0; --i) {
      crc ^= static_cast<uint16_t>(data[group + static_cast<size_t>(i)] << 8);
      for (int bit = 0; bit < 8; ++bit)
        crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
  }
  return crc;
}

// The nine parameter records of the header area, in the order they are
// worked.
inline constexpr size_t kRecordOffsets[] = {0x100, 0x114, 0x140, 0x1A0, 0x200,
                                            0x260, 0x2C0, 0x320, 0x380};

// Each record's checksum (bytes 0-1, low byte first) over the N words from
// its byte 4 on, N in its byte 2, as the flash holds them: wherever they
// lie in `image`.
inline void StoreRecordChecksums(std::vector<uint8_t>& image) {
  for (const size_t at : kRecordOffsets) {
    const size_t length = std::min<size_t>(4u * image[at + 2], image.size() - at - 4);
    const uint16_t crc = WordCrc16(image.data() + at + 4, length);
    image[at] = static_cast<uint8_t>(crc);
    image[at + 1] = static_cast<uint8_t>(crc >> 8);
  }
}

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
  StoreRecordChecksums(out);
  return out;
}

}  // namespace fwtool::testing
