// SPDX-License-Identifier: GPL-2.0-or-later
// Everything the layouts say about one image, for the image inspection of
// the command line and for tests: where its signature blocks lie, its header
// area and record checksums, its end marker, bank checksums and file sum.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "file_tests.h"
#include "image_layout.h"

namespace fwtool {

struct SignatureFinding {
  uint32_t offset = 0;
  MagicKind magic = MagicKind::None;  // the magic found there
  std::string chipId;                 // the four characters of bytes 4..7
  int chipType = 0;                   // the lowest chip type with that model number, 0 when none
};

// A 64 KB bank in the chip type 12 layout (a 55 0xAA block at 0xBFF0).
struct BankChecksums {
  uint32_t offset = 0;
  std::string chipId;
  uint16_t storedCrc16 = 0;  // big-endian at 0xBFFE, bank image
  uint16_t computedCrc16 = 0;
  uint32_t storedCrc32 = 0;  // little-endian at 0xBFFC, disk-side image
  uint32_t computedCrc32 = 0;
};

struct ImageInfo {
  size_t size = 0;
  std::vector<SignatureFinding> signatures;
  std::string chipIdAtZero;  // bytes 4..7, empty when the image is shorter than 10 bytes

  // A 4 KB header area: the signature block after it at 0x1000 (or the 0x80
  // block of types 10 and 13) names a known model and none opens the image.
  bool headerArea = false;
  uint32_t headerSignatureOffset = 0;
  int headerChipType = 0;
  bool headerMarker = false;
  std::vector<ParameterRecordState> records;  // empty without a header area
  size_t validRecords = 0;

  // The six version bytes after the signature block at 0x1000, and their text
  // as a type 8/9 controller reports it.
  std::optional<std::array<uint8_t, 6>> versionBytes;
  std::string versionText;

  bool endMarkerFound = false;
  size_t endMarkerLength = 0;  // bytes up to and including the marker

  std::vector<BankChecksums> banks;
  FileSumCheck fileSum;
};

ImageInfo DescribeImage(std::span<const uint8_t> image);

}  // namespace fwtool
