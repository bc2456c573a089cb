// SPDX-License-Identifier: GPL-2.0-or-later
// Bytes for tests to write and look for. Pattern: the same seed gives the
// same bytes, another seed or another place other bytes, so a block that
// lands in the wrong place or a stale copy shows. Tagged: a text repeated,
// each round shifted by one, that reads back recognisably in a dump.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace fwtool::testing {

inline std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  for (auto& b : bytes) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<uint8_t>(seed >> 16);
  }
  return bytes;
}

inline std::vector<uint8_t> Tagged(std::string_view tag, size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<uint8_t>(tag[i % tag.size()] + i / tag.size());
  return bytes;
}

}  // namespace fwtool::testing
