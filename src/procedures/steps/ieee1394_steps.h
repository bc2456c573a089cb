// SPDX-License-Identifier: GPL-2.0-or-later
// The steps of the procedure for chip type 7 reached over IEEE 1394: a 64 KB
// flash in two 32 KB halves, written in 256-byte blocks whose erase flag
// makes the controller erase the half the block starts; the unit's 1 KB
// settings area at 0x8000 lies in the second half. Each step returns 1 on
// success, 0 on failure, and reports through the status line.
#pragma once

#include <cstdint>
#include <string_view>

#include "procedure.h"

namespace fwtool {

inline constexpr uint32_t kHalfSize1394 = 0x8000;
inline constexpr uint32_t kNvramAddress1394 = 0x8000;
inline constexpr int32_t kNvramSize1394 = 1024;
inline constexpr int32_t kBlockSize1394 = 256;

// Writes `length` bytes (rounded up to 256, zero padded) at `address`; the
// blocks that start a half carry the erase flag. One dot per 2 KB written.
int WriteFlashRange1394(ProcedureHost& host, std::string_view path, uint32_t address,
                        const uint8_t* data, int32_t length);

// Erases both halves and checks that the flash reads blank; the settings
// area goes back once an erase was sent, whatever the check found.
int EraseFlash1394(const ProcedureRequest& request, ProcedureHost& host);

// Programs the firmware file (padded to 32 KB at least, at most the flash
// size), reads it back and compares. A file of up to 32 KB stays in the
// first half and leaves the settings area alone; a longer one erases the
// second half and brings the settings area's bytes with it.
int ProgramFlash1394(const ProcedureRequest& request, ProcedureHost& host);

}  // namespace fwtool
