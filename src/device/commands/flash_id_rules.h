// SPDX-License-Identifier: GPL-2.0-or-later
// How a serial flash part is recognised from its own identification
// instructions, whichever route the instructions take to the part (the
// controller's SPI pass-through, or the same inside ATA PASS-THROUGH).
#pragma once

#include <cstdint>
#include <functional>

#include "serial_flash_commands.h"

namespace fwtool {

struct FlashIdReader {
  // Sends the instruction `opcode` and reads `length` bytes of the answer.
  std::function<int(uint8_t opcode, uint8_t* buffer, uint8_t length)> readId;
  // The controller's short form (opcode, optional 3 dummy bytes, 3 bytes
  // read); empty when the route has none.
  std::function<int(uint8_t* buffer, uint8_t opcode, bool dummyBytes)> readIdShort;
};

// Fills the profile with the default opcodes and maker 0, then probes the
// part until an answer names its maker. 1 when a probe matched, or when the
// first probe's command failed; else 0.
int DetectFlashWith(const FlashIdReader& reader, FlashProfile& profile);
// The part's size in KB by its maker's rules (64 when none applies), after
// the detection when the profile has no maker yet. Always 1.
int DetectFlashSizeWith(const FlashIdReader& reader, FlashProfile& profile);

}  // namespace fwtool
