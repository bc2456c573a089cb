// SPDX-License-Identifier: GPL-2.0-or-later
// The tests a firmware file must pass before it is written: does it carry
// its own header area, does its 8-bit sum hold, is it meant for the chip,
// does it fit the flash.
// They read the file as raw bytes and never talk to a device. A file that
// cannot be opened, a directory, or a file shorter than what a test reads
// gives a plain "no".
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>

#include "image_layout.h"

namespace fwtool {

class OperatorServices;

// Texts the callers show for these tests.
inline constexpr const char* kOpenFirmwareFileError = "Open Firmware File Error!!";
inline constexpr const char* kFileNotMatchChip = "The firmware file seems not match this chip!";
inline constexpr const char* kCheckFileWithChecksum =
    "Please check the firmware file with checksum!";

// The signature block at an offset of a file or a buffer.
using BlockReader = std::function<SignatureBlock(uint32_t offset)>;
BlockReader BlockReaderFor(std::span<const uint8_t> image);

// The outcome of a file test, with one sentence that says why.
struct FileVerdict {
  bool opened = false;  // false: the file could not be opened or read at all
  bool passes = false;
  std::string reason;
};

// ---- Header area -----------------------------------------------------------

// True when the image begins with its own 4 KB header area for `chipType`:
// no 0x55 0xAA 0xAA 0x55 block at 0, and one at 0x1000 naming the type's
// model number; for types 10 and 13 also an 0xE9 0xAC 0x67 0x32 block at 0x80
// naming it.
bool HeaderAreaPresent(const BlockReader& read, int chipType);
bool ImageHasHeaderArea(std::span<const uint8_t> image, int chipType);
// False for a file that cannot be opened.
bool FileHasHeaderArea(const std::string& path, int chipType);

// ---- 8-bit file sum --------------------------------------------------------

inline constexpr size_t kFileSumMinimumSize = 0x8000;
inline constexpr size_t kFileSumFullSize = 0x10000;

struct FileSumCheck {
  bool passes = false;
  size_t position = 0;  // where the expected sum lies
  size_t summed = 0;    // bytes 0..summed-1 were added
  uint8_t sum = 0;
  uint8_t stored = 0;
  bool lengthFromFile = false;  // "775" ids from revision 3 on give their length in bytes 12-13
  std::string reason;
};

// The sum test on the bytes of a whole file: at least 32,768 bytes; the sum
// of bytes 0..n-1 must equal the byte at 0xFFFF (a 65,536-byte file) or
// 0x7FFF (any other size), n being the file length less one, or for a "775"
// chip id whose fourth character is '3'..'9' the big-endian length in bytes
// 12-13 cut at the end marker. A length there that reaches past the end of
// the file fails the test; nothing outside the file is summed.
FileSumCheck CheckFileSumBytes(std::span<const uint8_t> file);
// Passes without summing when the file carries its own header area for the
// chip type (low byte of `chip`; the sub-revision in the high byte is ignored).
FileVerdict CheckFileSum(const std::string& path, uint16_t chip);
// The same test on an image held in memory.
FileVerdict CheckImageSum(std::span<const uint8_t> image, uint16_t chip);
bool VerifyFileSum(const std::string& path, uint16_t chip);

// ---- File-to-chip match ----------------------------------------------------

// Whether an image is meant for chip type (low byte) and sub-revision (high
// byte) of `chip`.
FileVerdict MatchImage(const BlockReader& read, uint16_t chip);
FileVerdict ImageMatchesChip(std::span<const uint8_t> image, uint16_t chip);
// The same for a file; `opened` is false when it cannot be opened.
FileVerdict MatchFirmwareFile(const std::string& path, uint16_t chip);
// A file that cannot be opened shows "Open Firmware File Error!!" (caption
// "Error") and does not match.
bool FirmwareFileMatchesChip(OperatorServices& op, const std::string& path, uint16_t chip);

// ---- File size -------------------------------------------------------------

// Size of an open file; its position is kept. -1 when the file cannot seek.
long FileSizeOf(std::FILE* file);
// 1 when the file's size is at most flashSizeKB * 1024 bytes (the run
// dispatch asks it before a type-10 unit is programmed). A file that cannot
// be opened shows "Open Firmware File Error!!" (caption "Error") and gives 0.
int FirmwareFitsFlash(OperatorServices& op, const std::string& fileName, uint32_t flashSizeKB);

}  // namespace fwtool
