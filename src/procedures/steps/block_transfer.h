// SPDX-License-Identifier: GPL-2.0-or-later
// Moving a range of the controller's flash in blocks: a busy wait before each
// block, one ReadFlash/WriteFlash per block, and on writes the rule that
// decides which block makes the controller erase a unit before programming.
#pragma once

#include <cstdint>
#include <string_view>

#include "flash_settings.h"

namespace fwtool {

class ProcedureHost;

// Status re-reads allowed before the controller counts as stuck busy.
inline constexpr int kReadyReReadLimit = 500;
// Polling stops once this many re-reads were made.
inline constexpr int kReadyReReadStop = 502;
inline constexpr uint32_t kReadyPollMs = 10;
// Length of the first command of a write from address 0.
inline constexpr int32_t kFirstBlockLimit = 4096;
// Progress bar steps per written block.
inline constexpr int kProgressPerWrittenBlock = 5;
// Transfer buffers are whole 512-byte units.
inline constexpr int32_t kTransferUnit = 512;

inline constexpr const char* kReadFlashStep = "ReadFlash...";
inline constexpr const char* kBlockDot = ".";

// 1 when the flash status byte shows bit 0 (busy) clear within 500 re-reads
// 10 ms apart, else 0. A status read that fails counts as not busy.
int WaitDeviceReady(std::string_view path);

// Reads `length` bytes of flash from `start` into `destination` (which holds
// at least `length` bytes). Returns 1 when every block was read. Bytes that
// could not be read are zero. A length of 0 or less reads nothing and gives 0.
int ReadFlashRange(ProcedureHost& host, std::string_view path, uint32_t start, uint8_t* destination,
                   int32_t length);

// Writes `length` bytes from `source` to flash at `start` in write `mode`
// (0..7, bit 7 ignored). Returns 1 when every block was written. The caller
// sets the status line to the step name and resets the erase counts.
int WriteFlashRange(ProcedureHost& host, std::string_view path, uint32_t start,
                    const uint8_t* source, int32_t length, int mode);

// The erase flag (0..7) for a block that starts at `address`; advances the
// erase count of the mode's unit when the block enters a unit not yet erased.
int EraseFlagFor(FlashSettings& settings, uint32_t address, int mode);

// The block length cut so that the block ends at the end of the erase unit
// the counts have reached. Always at least 1 for a positive block length.
int32_t ClipToEraseUnit(const FlashSettings& settings, uint32_t address, int32_t blockLength,
                        int mode);

}  // namespace fwtool
