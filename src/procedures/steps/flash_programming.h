// SPDX-License-Identifier: GPL-2.0-or-later
// Programming a range of the flash with verification, as the update
// procedures do it: each attempt writes the image, reads it back and
// compares; a failed attempt is followed by one with a finer erase (block
// erase first, then sector erase, then the whole chip).
#pragma once

#include <cstdint>
#include <string_view>

namespace fwtool {

class ProcedureHost;

inline constexpr int kProgramAttempts = 3;
// Length of the MXIC first block.
inline constexpr uint32_t kMxicFirstBlock = 4096;

// The write mode of the attempt that follows failed attempt `attempt`
// (1-based): sector erase after the first, whole-chip erase after the second.
int WriteModeAfterFailedAttempt(int attempt);

// MXIC parts: one first block of the image written in block-erase mode
// switches the controller to their erase sequence before the attempts. Its
// failure is not reported; the attempts show whether the flash took the image.
void PrepareMxicFlash(std::string_view path, const uint8_t* image);

// One attempt: status "Programming", the erase counts set for `start`, the
// write of `length` bytes of `image` at `start` in `mode`, the read-back into
// `readBack` (at least `length` bytes) and the compare. Returns 1 when the
// flash holds the image. On failure the status line holds the text of the
// last stage that failed ("Write Bin File fail!", "Read command fail!",
// "Data compare fail !!"); bytes that could not be read are not compared, so
// a failed read-back never passes. `progressPerStage` is added to the
// progress bar after each of the three stages.
int ProgramAndVerify(ProcedureHost& host, std::string_view path, uint32_t start,
                     const uint8_t* image, uint8_t* readBack, int32_t length, int mode,
                     int progressPerStage = 0);

}  // namespace fwtool
