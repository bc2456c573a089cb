// SPDX-License-Identifier: GPL-2.0-or-later
// What the information check learns from a controller besides its chip
// type: the erase units of its flash maker, the running firmware's version
// as the controller reports it, and whether it runs that firmware from its
// flash or only its internal code.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "chip_rows.h"
#include "chip_tables.h"

namespace fwtool {

// Erase units (bytes) the controller's flash write uses, by flash maker code:
// the large one for write modes 2 and 5, the small one for modes 1 and 4.
inline constexpr std::array<int32_t, kFlashMakerCount> LargeEraseUnitByMaker = {
    32768, 32768, 32768, 65536, 65536, 65536, 65536, 65536, 65536, 65536, 65536};
inline constexpr std::array<int32_t, kFlashMakerCount> SmallEraseUnitByMaker = {
    4096, 4096, 4096, 32768, 32768, 4096, 4096, 4096, 32768, 4096, 4096};

struct EraseUnits {
  int32_t large = 0;
  int32_t small = 0;
};
// The units of a maker code; a code the tables do not know (a part the
// controller names by a newer code) gets those of code 0, "Unknown".
EraseUnits EraseUnitsForMaker(int makerCode);

// The chip-information reply (E0 F4 E7) as far as the version needs it.
inline constexpr uint32_t kVersionReplyLength = 16;
// A reply longer than this carries the three-number version in bytes 12..14.
inline constexpr uint32_t kShortVersionReply = 12;

// The version text of a chip-information reply of `replyLength` bytes in a
// format. For Register506A, byte 14 must already carry the adjustment of
// ProbeRegister506A; it is printed as a signed byte. For AtaInfo, `reply`
// is the answer over ATA PASS-THROUGH.
std::string FormatFirmwareVersion(VersionFormat format, std::span<const uint8_t> reply,
                                  uint32_t replyLength);

// What GetChipInfo told of the running firmware.
struct FirmwareVersionReading {
  enum class Outcome {
    NoReply,     // the command failed: `text` is the type's fallback
    NotOurChip,  // the reply does not open with F4 E7: no text
    Read,        // `text` is the version
  };
  Outcome outcome = Outcome::NoReply;
  std::string text;
};
// Asks the controller at `path` for its chip information and prints the
// version in the row's format (type 11 probes register 0x506A, type 13 asks
// again over ATA PASS-THROUGH).
FirmwareVersionReading ReadFirmwareVersion(std::string_view path, const ChipRow& row);

// True when the controller runs firmware from its flash, false when it runs
// only its internal code: for the chip types that tell, the update-capable
// bit of the status word in controller memory, a version other than the
// internal code's, and a firmware signature where the chip keeps it. Every
// other chip type answers true.
bool FirmwareUpdatable(std::string_view path, int chipType, const std::string& version,
                       int flashMaker);

// Writes 0 to controller register 0x506A and reads it back: true when it
// then reads 1. The register's own value is restored (with bit 0 inverted
// when the answer is true); nothing is written when it cannot be read.
bool ProbeRegister506A(std::string_view path);

}  // namespace fwtool
