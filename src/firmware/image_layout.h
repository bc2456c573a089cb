// SPDX-License-Identifier: GPL-2.0-or-later
// The layouts of firmware images: the 10-byte signature block and where each
// chip type keeps it, the 4 KB header area with the unit's settings and its
// nine parameter records, the end marker, and the 64 KB bank of chip type 12.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace fwtool {

// ---- Signature block -------------------------------------------------------

inline constexpr size_t kSignatureBlockSize = 10;
inline constexpr size_t kChipIdAt = 4;  // four characters, bytes 4..7
inline constexpr size_t kChipIdLength = 4;
inline constexpr size_t kSubRevisionAt = 8;  // chip type 6: '0' + sub-revision - 1

// The magics a block may open with.
inline constexpr std::array<uint8_t, 4> kSignatureMagic = {0x55, 0xAA, 0xAA, 0x55};
inline constexpr std::array<uint8_t, 2> kShortSignatureMagic = {0x55, 0xAA};
// Chip types 10 and 13 keep a block of their own at 0x80.
inline constexpr std::array<uint8_t, 3> kBlock80Magic = {0xE9, 0xAC, 0x67};
inline constexpr std::array<uint8_t, 4> kBlock80HeaderMagic = {0xE9, 0xAC, 0x67, 0x32};
// Chip types 14 and 16 mark the block in flash with "VQ" after 0x55 0xAA.
inline constexpr std::array<uint8_t, 4> kFlashSignatureMagicVq = {0x55, 0xAA, 'V', 'Q'};

// Ten bytes read at one place of a file or buffer. A block that could not be
// read in full (the data end earlier) has no magic and no chip id: bytes that
// were not read are never looked at.
struct SignatureBlock {
  std::array<uint8_t, kSignatureBlockSize> bytes{};
  bool complete = false;

  // The block at `offset` of `data`; incomplete when fewer than ten bytes lie there.
  static SignatureBlock At(std::span<const uint8_t> data, size_t offset);

  bool StartsWith(std::span<const uint8_t> magic) const;
  bool HasMagic() const { return StartsWith(kSignatureMagic); }
  // The four chip id characters of bytes 4..7; empty for an incomplete block.
  std::string ChipId() const;
};

// A chip id as text for messages and JSON: printable ASCII as it is, every
// other byte (and '"', '\\') as \xNN.
std::string PrintableChipId(std::string_view chipId);

// Where a chip type's firmware keeps its signature block and the magic the
// file tests look for there.
inline constexpr uint32_t kHeaderedSignatureOffset = 0x1000;  // after a 4 KB header area
inline constexpr uint32_t kBlock80Offset = 0x80;
inline constexpr uint32_t kUpperSignatureOffset = 0x4000;  // chip types 14, 16
inline constexpr uint32_t kBankSignatureOffset = 0xBFF0;   // chip type 12, each 64 KB bank

enum class MagicKind { Full, Short, Block80, None };

struct SignaturePlace {
  uint32_t offset;
  MagicKind magic;
};

// The places, in the order the file tests read them: 0 or 0x1000 (after a
// header area) for 6, 8, 9, 11; 0x80 for 10, 13; 0x4000 for 14, 16; 0xBFF0
// for 12; offset 0 without a magic for every other type.
std::span<const SignaturePlace> SignaturePlacesFor(int chipType);
std::span<const uint8_t> MagicBytes(MagicKind kind);
std::string_view MagicName(MagicKind kind);

// ---- Header area -----------------------------------------------------------

inline constexpr size_t kHeaderAreaSize = 0x1000;
// The part the one-click update merges and re-checksums.
inline constexpr size_t kHeaderRecordArea = 0x400;
// "VQ" in bytes 126 and 127 marks a valid area.
inline constexpr size_t kHeaderMarkerEnd = 128;
inline constexpr size_t kParameterRecordCount = 9;
inline constexpr std::array<uint32_t, kParameterRecordCount> kParameterRecordOffsets = {
    0x100, 0x114, 0x140, 0x1A0, 0x200, 0x260, 0x2C0, 0x320, 0x380};
// Bytes of room for words after each record's 4-byte head.
inline constexpr std::array<uint32_t, kParameterRecordCount> kParameterRecordRoom = {
    16, 40, 92, 92, 92, 92, 92, 92, 124};

// True when bytes end-2 and end-1 are "V" and "Q" (false when they lie outside
// the data). The header area is tested with end = 128.
bool HasHeaderMarker(std::span<const uint8_t> data, size_t end);

// One parameter record: byte 0 CRC-16 low, byte 1 high, byte 2 the number N
// of 32-bit words covered, byte 3 not covered, the words from byte 4.
struct ParameterRecordState {
  uint32_t offset = 0;
  uint8_t words = 0;          // N as stored
  uint32_t coveredWords = 0;  // the words that lie inside the record area
  uint16_t stored = 0;
  uint16_t computed = 0;
  bool present = false;  // the record's 4-byte head lies inside the data
  bool Valid() const { return present && stored == computed; }
};

// Recomputes the nine records' CRC-16s in place, in the order of their
// offsets, each started at 0 over its N words. Only the first 1,024 bytes of
// the area count: the words of a record whose N reaches past them (an erased
// record reads N = 255) are covered up to that end, and a record whose head
// lies outside `header` is left alone. Nothing else changes.
void UpdateHeaderChecksums(std::span<uint8_t> header);
// The same over an image as it goes into the flash: each record's N words
// are taken from the image wherever they lie, past the first 1,024 bytes
// too, so that every checksum is the checksum of bytes the flash holds.
// Only the words past the image's end are left out.
void UpdateWrittenHeaderChecksums(std::span<uint8_t> image);
// The same figures without changing anything.
std::array<ParameterRecordState, kParameterRecordCount> CheckHeaderChecksums(
    std::span<const uint8_t> header);

// ---- End marker ------------------------------------------------------------

// "ENDSTR" 0x55 0xAA closes firmware data of no fixed length.
inline constexpr std::array<uint8_t, 8> kEndMarker = {'E', 'N', 'D', 'S', 'T', 'R', 0x55, 0xAA};

// The length of data up to and including the end marker, or `length` when no
// complete marker lies in the first `length` bytes. Scans with an 8-byte
// window that re-synchronises on the next 'E' inside a failed window.
size_t FindEndMarker(const uint8_t* data, size_t length);

// ---- Chip type 12 bank -----------------------------------------------------

inline constexpr size_t kBankSize = 0x10000;
inline constexpr size_t kBankCrcCoveredLength = 0xBFFC;  // 12,287 words
inline constexpr size_t kBankCrcHighAt = 0xBFFE;         // stored big-endian
inline constexpr size_t kBankCrcLowAt = 0xBFFF;
// The disk-side image of chip type 12 keeps a CRC-32 over the same bytes,
// little-endian in 0xBFFC..0xBFFF.
inline constexpr size_t kDiskImageCrc32At = 0xBFFC;
inline constexpr std::string_view kBankChipModel = "175";

// True when `chipType` is 12, the block at 0xBFF0 opens with
// 0x55 0xAA 0xAA 0x55 and names "175", and the CRC-16 over 0..0xBFFB equals
// the big-endian value at 0xBFFE. A bank shorter than 0xC000 bytes is not valid.
bool BankImageIsValid(std::span<const uint8_t> bank, int chipType);
// The CRC-16 stored at 0xBFFE..0xBFFF (big-endian); the bank must hold 0xC000 bytes.
uint16_t StoredBankCrc16(std::span<const uint8_t> bank);
uint16_t ComputedBankCrc16(std::span<const uint8_t> bank);
// The CRC-32 stored little-endian at 0xBFFC..0xBFFF and the one computed over 0..0xBFFB.
uint32_t StoredDiskImageCrc32(std::span<const uint8_t> image);
uint32_t ComputedDiskImageCrc32(std::span<const uint8_t> image);

}  // namespace fwtool
