// SPDX-License-Identifier: GPL-2.0-or-later
// The firmware a simulated unit carries and how its boot code finds it: the
// older image a unit leaves the factory with (a header area holding the
// unit's own settings where the chip keeps one, its 4 KB settings area, the
// "4K NVRAM", filled with bytes of the unit's own), and the search for a
// bootable image whose version the controller then reports.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "chip_profile.h"

namespace fwtool::sim {

// Header-area positions of the unit's own settings in the older image.
inline constexpr uint32_t kHeaderSerialOffset = 16;  // "SN=" and the serial, zero padded
inline constexpr uint32_t kHeaderSerialLength = 30;
inline constexpr uint32_t kHeaderUsbTextOffset = 50;  // vendor and product text
inline constexpr uint32_t kHeaderUsbTextLength = 30;
inline constexpr uint32_t kHeaderMarkerOffset = 126;  // "VQ"

// The 28 positions of the first 128 header bytes that belong to the
// firmware image (an update replaces them); every other byte there is the
// unit's.
inline constexpr std::array<uint8_t, 28> kImageOwnedHeaderBytes = {
    4,   5,   9,   11,  13,  47,  49,  80,  81,  82,  83,  85,  112, 113,
    114, 115, 116, 117, 118, 119, 120, 121, 122, 123, 124, 125, 126, 127};

// The unit's 4 KB settings area (the "4K NVRAM"): at 0 on the chips whose
// image starts with a header area, at 0xC000 on the dual-bank chips (where
// each bank carries a copy at 0xC000 of the bank, outside the checksum);
// none on the others. In an older firmware every byte of the area that is
// not the image's follows from the unit's serial, so no two units share it.
inline constexpr uint32_t kNvramSize = 0x1000;
// The smaller settings area some chips keep elsewhere (ChipProfile::nvram1KAddress).
inline constexpr uint32_t kNvram1KSize = 0x400;
std::optional<uint32_t> NvramAddress(const ChipProfile& profile);

// The banks of a dual-bank flash.
inline constexpr uint32_t kFlashBankSize = 0x10000;
// Spoils bank `bank` (0 or 1) of a flash image as an update cut short leaves
// it: a 4 KB sector in the middle of its firmware erased, so that its
// checksum no longer holds. Nothing happens past the end of the flash.
void SpoilBank(std::vector<uint8_t>& flash, int bank);

// An older firmware of the chip as the flash holds it (flashSize bytes,
// erased where the image does not reach).
std::vector<uint8_t> BuildOlderFirmware(const ChipProfile& profile, uint32_t flashSize,
                                        std::string_view serial,
                                        const std::array<uint8_t, 6>& version);

// Where the boot code found a firmware of its chip.
struct BootImage {
  uint32_t signatureAt = 0;
  uint32_t versionAt = 0;  // the six version bytes
};
std::optional<BootImage> FindBootImage(const ChipProfile& profile, std::span<const uint8_t> flash);

// CRC-16 (0x1021) over little-endian 32-bit words, as the firmware keeps it
// in its parameter records and banks.
uint16_t Crc16OverWords(std::span<const uint8_t> data, uint16_t crc = 0);

}  // namespace fwtool::sim
