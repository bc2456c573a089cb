// SPDX-License-Identifier: GPL-2.0-or-later
// The transfer and erase settings that every flash procedure shares. The
// form owns the one instance of a running program and hands it to the
// procedures through their host; nothing keeps them in a global.
#pragma once

#include <cstdint>

namespace fwtool {

struct FlashSettings {
  // Bytes per read or write command.
  int32_t TransferBlockSize = 8192;
  // Flash size chosen in the engineering face.
  int32_t SelectedFlashSize = 65536;
  // Block erased by write modes 2 and 5; sector erased by modes 1 and 4.
  int32_t LargeEraseUnit = 32768;
  int32_t SmallEraseUnit = 4096;
  // Write mode of a first programming attempt.
  int32_t DefaultWriteMode = 2;
  // Erase units below the current write position already erased in the
  // write in progress. Callers reset them before a write in modes 1, 2, 4, 5.
  int32_t LargeEraseCount = 0;
  int32_t SmallEraseCount = 0;
};

// Time the controller is given after an erase command or the MXIC first block.
inline constexpr uint32_t kEraseSettleMs = 500;

}  // namespace fwtool
