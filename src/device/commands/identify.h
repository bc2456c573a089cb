// SPDX-License-Identifier: GPL-2.0-or-later
// Identification of the bridge controller behind a disk device: a fixed
// series of questions that ends in a chip type code (1..21, 0 = not
// recognised) and a sub-revision, and the commands that ask them.
#pragma once

#include <cstdint>
#include <string_view>

#include "command_table.h"

namespace fwtool {

class OperatorServices;

// Result of IdentifyChip: low byte the chip type code, high byte the
// sub-revision.
inline constexpr uint8_t ChipTypeOf(uint16_t identification) {
  return static_cast<uint8_t>(identification & 0xFF);
}
inline constexpr uint8_t ChipSubRevOf(uint16_t identification) {
  return static_cast<uint8_t>(identification >> 8);
}
inline constexpr uint16_t MakeIdentification(uint8_t chipType, uint8_t subRev) {
  return static_cast<uint16_t>(subRev << 8 | chipType);
}

// The two bytes that open a valid chip-information reply (and bytes 1-2 of
// the block that asks for it).
inline constexpr uint8_t kChipInfoSignature0 = codes::kChipInfoSignature0;
inline constexpr uint8_t kChipInfoSignature1 = codes::kChipInfoSignature1;

inline constexpr uint8_t kInquiryLength = 40;
inline constexpr uint32_t kChipInfoLength = 16;
inline constexpr uint32_t kChipInfoShortLength = 12;  // type-7 revision read
inline constexpr uint32_t kChipIdStringLength = 40;
inline constexpr uint32_t kChipIdStringMinLength = 8;

// Shown (caption "Error", error icon) when a type-7 controller does not
// report its revision.
inline constexpr const char* kGetChipInfoFail = "Get chip information fail !";

// Asks the controller and returns ChipSubRev << 8 | ChipType. Never fails as
// such: a device that answers nothing useful is type 0. Only the type-7
// revision failure speaks to the operator (a modal box).
uint16_t IdentifyChip(OperatorServices& op, std::string_view path);

// Standard INQUIRY in a 12-byte block; byte 4 = allocation length.
int Inquiry(std::string_view path, uint8_t* buffer, uint8_t length);
// The controller's first configuration word (2 bytes).
int ReadConfigWord(std::string_view path, uint8_t* buffer);
// The chip-information block 0xE0 0xF4 0xE7. `transferred` (may be null)
// receives the byte count the device reports, which tells a short reply.
int GetChipInfo(std::string_view path, uint8_t* buffer, uint32_t length,
                uint32_t* transferred = nullptr);
// The chip id string (FF-04 sub-command 0x30). `length` must be at least 8:
// a shorter one is a programming error and stops the program with
// "length >= 0x08" before anything is sent, in every build type.
int ReadChipIdString(std::string_view path, uint8_t* buffer, uint32_t length);
// True when 4 bytes of controller memory at 0xFDB0 can be read and byte 1 is
// at least 0xB4.
bool RevisionAtLeastB4(std::string_view path);

}  // namespace fwtool
