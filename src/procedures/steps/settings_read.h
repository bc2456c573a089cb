// SPDX-License-Identifier: GPL-2.0-or-later
// The unit's own settings, read before a procedure erases the flash that
// holds them. Until they are written back they exist only in the host's
// memory, so the copy must be the flash's and not what the bus made of it:
// they are read twice and taken only when both reads agree.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace fwtool {

// Fills `data` with `length` bytes through `read(destination)` (1 when it
// read them all) twice over; 1 only when both reads succeeded and agree
// byte for byte.
template <typename Read>
int ReadSettingsTwice(uint8_t* data, size_t length, const Read& read) {
  std::vector<uint8_t> again(length);
  if (!read(data) || !read(again.data())) return 0;
  return std::equal(again.begin(), again.end(), data) ? 1 : 0;
}

}  // namespace fwtool
