// SPDX-License-Identifier: GPL-2.0-or-later
// The one-click update: the image the program carries goes into the flash of
// a target controller, with the unit's own settings carried over from its
// current header, then is read back and compared, up to three attempts.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "flash_programming.h"
#include "procedure_texts.h"

namespace fwtool {

class ProcedureHost;

inline constexpr uint32_t kFlashImageSize = 65536;
inline constexpr uint32_t kDeviceHeadSize = 4096;
inline constexpr uint32_t kMergedHeaderSize = 1024;
inline constexpr uint32_t kMergeTableSize = 128;
inline constexpr int kUpdateAttempts = kProgramAttempts;
inline constexpr int kProgressPerStage = 10;

// One entry per byte of the first 128 header bytes: below 256 the byte comes
// from the new image, kKeepDeviceByte keeps the unit's own setting.
inline constexpr uint32_t kKeepDeviceByte = 4095;
inline constexpr std::array<uint8_t, 28> kImageHeaderPositions = {
    4,   5,   9,   11,  13,  47,  49,  80,  81,  82,  83,  85,  112, 113,
    114, 115, 116, 117, 118, 119, 120, 121, 122, 123, 124, 125, 126, 127};
// The device keeps these ranges of its header beyond the first 256 bytes:
// the last data bytes of the first parameter record and the heads of the
// records that describe the attached disk.
struct HeaderRange {
  uint32_t first;
  uint32_t last;  // inclusive
};
inline constexpr std::array<HeaderRange, 8> kDeviceKeptRanges = {{{268, 275},
                                                                  {320, 351},
                                                                  {416, 447},
                                                                  {512, 543},
                                                                  {608, 639},
                                                                  {704, 735},
                                                                  {800, 831},
                                                                  {896, 927}}};

constexpr std::array<uint32_t, kMergeTableSize> MakeHeaderMergeTable() {
  std::array<uint32_t, kMergeTableSize> table{};
  for (auto& entry : table) entry = kKeepDeviceByte;
  for (uint8_t position : kImageHeaderPositions) table[position] = 0;
  return table;
}
inline constexpr std::array<uint32_t, kMergeTableSize> HeaderMergeTable = MakeHeaderMergeTable();

// Our own texts for failures the update guards against before it writes.
inline constexpr const char* kNoImageToWrite = "No firmware image to write!";
inline constexpr const char* kImageTooLarge = "Firmware image larger than the flash!";
inline constexpr const char* kFlashBackupFail = "Backup of the flash fail!";

// Merges the unit's settings into the first 1024 bytes of the new image:
// `deviceHead` (at least 1024 bytes, the unit's current header) and
// `newHeader` (the image's first 1024 bytes) are worked on in place; the
// merged header ends in the first 1024 bytes of `deviceHead`. Its
// parameter-record checksums are worked afterwards over the whole image
// as written (UpdateWrittenHeaderChecksums).
void MergeDeviceHeader(std::span<uint8_t> deviceHead, std::span<uint8_t> newHeader);

struct EmbeddedUpdateOptions {
  // The image to write: the embedded one unless a test gives another.
  std::span<const uint8_t> image;
  // The file that receives the unit's whole flash before anything is
  // written. It must not exist yet; without it nothing is written.
  std::string backupPath;
};

struct EmbeddedUpdateReport {
  bool backupWritten = false;
  std::string backupPath;
  uint32_t backupSize = 0;  // bytes saved: the whole part
  int attempts = 0;         // programming attempts made
  int lastMode = 0;         // write mode of the last attempt
  bool headerMerged = false;
};

// Returns 1 when the image was written and verified, 0 otherwise.
int UpdateEmbeddedImage(ProcedureHost& host, std::string_view path,
                        const EmbeddedUpdateOptions& options,
                        EmbeddedUpdateReport* report = nullptr);

}  // namespace fwtool
