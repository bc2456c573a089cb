// SPDX-License-Identifier: GPL-2.0-or-later
// fwtool-gen-image: writes the stand-in firmware image that the program
// carries as VQB719FW. It has the controller's layout (4 KB header area with
// the unit settings, the "VQ" marker and nine checksummed parameter records,
// the signature block at 0x1000 naming "719", the version bytes, firmware
// code and the end marker) but its code is generated: it is for the
// simulator and the tests, not for a real controller.
//
// The output is a pure function of this file: the same bytes on every run.
//
//   fwtool-gen-image OUTPUT
#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string_view>
#include <vector>

#include "firmware.h"
#include "firmware_version_place.h"

namespace {

using namespace fwtool;

constexpr size_t kImageSize = kEmbeddedImageSize;  // 65,056
constexpr std::array<uint8_t, kParameterRecordCount> kRecordWords = {4, 4, 4, 5, 5, 5, 5, 5, 5};
constexpr std::string_view kChipId = "719B";
// Shown by a type 8/9 controller as "2.08.12.16.00".
constexpr std::array<uint8_t, kFirmwareVersionLength> kVersion = {2, 8, 12, 16, 0, 0};
constexpr size_t kFirmwareStart = kFirmwareVersionOffset + kFirmwareVersionLength;  // 0x1010
// The last byte before the end marker evens out the 8-bit file sum.
constexpr size_t kSumBalanceAt = kImageSize - kEndMarker.size() - 1;
constexpr size_t kSumPosition = 0x7FFF;

// xorshift32: small, fixed, and the same on every platform.
class Random {
 public:
  explicit Random(uint32_t seed) : state_(seed) {}
  uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  uint8_t Byte() { return static_cast<uint8_t>(Next() >> 24); }
  uint32_t Below(uint32_t n) { return Next() % n; }

 private:
  uint32_t state_;
};

void Put(std::vector<uint8_t>& image, size_t at, std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) image[at + i] = static_cast<uint8_t>(text[i]);
}

// Unit settings (0..0xFF) and the nine parameter records (0x100..0x3FF).
void WriteHeaderArea(std::vector<uint8_t>& image) {
  Random random(0x56513731);
  for (size_t i = 0; i < kHeaderMarkerEnd; ++i) image[i] = random.Byte();
  // A settings block the way units carry one: format, USB ids, strings.
  constexpr std::array<uint8_t, 8> kSettingsHead = {0x01, 0x00, 0x19, 0x07, 0x2A, 0x13, 0x19, 0x07};
  std::copy(kSettingsHead.begin(), kSettingsHead.end(), image.begin());
  Put(image, 0x10, "VQ Storage      ");
  Put(image, 0x20, "USB to ATA Brdg ");
  Put(image, 0x30, "0000000000000001");
  image[kHeaderMarkerEnd - 2] = 'V';
  image[kHeaderMarkerEnd - 1] = 'Q';
  for (size_t i = kHeaderMarkerEnd; i < 0x100; ++i) image[i] = random.Byte();

  for (size_t r = 0; r < kParameterRecordCount; ++r) {
    const size_t at = kParameterRecordOffsets[r];
    image[at + 2] = kRecordWords[r];
    image[at + 3] = 0x00;
    for (size_t i = 0; i < kRecordWords[r] * 4u; ++i) image[at + 4 + i] = random.Byte();
    for (size_t i = kRecordWords[r] * 4u; i < kParameterRecordRoom[r]; ++i) image[at + 4 + i] = 0;
  }
  UpdateHeaderChecksums(std::span<uint8_t>(image.data(), kHeaderRecordArea));
  std::fill(image.begin() + kHeaderRecordArea, image.begin() + kHeaderAreaSize, 0xFF);
}

void WriteSignature(std::vector<uint8_t>& image) {
  const size_t at = kHeaderedSignatureOffset;
  std::copy(kSignatureMagic.begin(), kSignatureMagic.end(), image.begin() + at);
  Put(image, at + kChipIdAt, kChipId);
  image[at + 8] = 0x00;
  image[at + 9] = 0x00;
  std::copy(kVersion.begin(), kVersion.end(), image.begin() + kFirmwareVersionOffset);
}

// Code of an 8-bit controller: a jump table, then routines of common
// instructions that end in a return, with string and lookup tables between.
class CodeWriter {
 public:
  CodeWriter(std::vector<uint8_t>& image, size_t from, size_t to)
      : image_(image), at_(from), end_(to), random_(0x37313942) {}

  void Write() {
    const size_t tableEnd = at_ + 0xF0;
    while (at_ + 3 <= tableEnd) {
      const uint16_t target = Target();
      Emit({0x02, Hi(target), Lo(target)});  // LJMP
    }
    while (at_ < end_) {
      const uint32_t pick = random_.Below(16);
      if (pick == 0) {
        Strings();
      } else if (pick == 1) {
        Table();
      } else {
        Routine();
      }
    }
  }

 private:
  struct Op {
    uint8_t opcode;
    uint8_t operands;
  };
  static constexpr std::array<Op, 24> kOps = {{
      {0x74, 1}, {0xF5, 1}, {0xE5, 1}, {0xF0, 0}, {0xE0, 0}, {0x90, 2}, {0xA3, 0}, {0x12, 2},
      {0x80, 1}, {0x60, 1}, {0x70, 1}, {0xB4, 2}, {0xDF, 1}, {0xE4, 0}, {0xD2, 1}, {0xC2, 1},
      {0xC0, 1}, {0xD0, 1}, {0x54, 1}, {0x44, 1}, {0xFF, 0}, {0xEF, 0}, {0x7F, 1}, {0x00, 0},
  }};

  static uint8_t Hi(uint16_t v) { return static_cast<uint8_t>(v >> 8); }
  static uint8_t Lo(uint16_t v) { return static_cast<uint8_t>(v); }
  uint16_t Target() { return static_cast<uint16_t>(0x1100 + random_.Below(0xD000)); }

  void Emit(std::initializer_list<uint8_t> bytes) {
    for (const uint8_t b : bytes) {
      if (at_ >= end_) return;
      image_[at_++] = b;
    }
  }

  void Routine() {
    const uint32_t count = 12 + random_.Below(100);
    for (uint32_t i = 0; i < count; ++i) {
      const Op& op = kOps[random_.Below(kOps.size())];
      if (op.opcode == 0x90 || op.opcode == 0x12) {
        const uint16_t target = Target();
        Emit({op.opcode, Hi(target), Lo(target)});
      } else if (op.operands == 2) {
        Emit({op.opcode, random_.Byte(), random_.Byte()});
      } else if (op.operands == 1) {
        Emit({op.opcode, random_.Byte()});
      } else {
        Emit({op.opcode});
      }
    }
    Emit({0x22});  // RET
  }

  void Strings() {
    static constexpr std::array<std::string_view, 6> kTexts = {
        "USB MASS STORAGE", "ATA BRIDGE", "SETTINGS", "DISK", "STANDBY", "IDENTIFY"};
    for (int i = 0; i < 3; ++i) {
      for (const char c : kTexts[random_.Below(kTexts.size())]) Emit({static_cast<uint8_t>(c)});
      Emit({0x00});
    }
  }

  void Table() {
    const uint32_t count = 16 * (1 + random_.Below(8));
    const uint8_t step = static_cast<uint8_t>(1 + random_.Below(7));
    uint8_t value = random_.Byte();
    for (uint32_t i = 0; i < count; ++i, value = static_cast<uint8_t>(value + step)) Emit({value});
  }

  std::vector<uint8_t>& image_;
  size_t at_;
  size_t end_;
  Random random_;
};

// The 8-bit sum of bytes 0..size-2 must equal the byte at 0x7FFF, which lies
// inside that range: the rest of the bytes have to sum to 0.
void BalanceFileSum(std::vector<uint8_t>& image) {
  image[kSumBalanceAt] = 0;
  const uint8_t rest =
      static_cast<uint8_t>(ByteSum(image.data(), image.size() - 1) - image[kSumPosition]);
  image[kSumBalanceAt] = static_cast<uint8_t>(-rest);
}

bool SelfCheck(const std::vector<uint8_t>& image) {
  const ImageInfo info = DescribeImage(image);
  bool ok = true;
  auto expect = [&ok](bool condition, const char* what) {
    if (!condition) {
      std::fprintf(stderr, "fwtool-gen-image: %s\n", what);
      ok = false;
    }
  };
  expect(info.headerArea && info.headerChipType == 8, "no header area naming 719");
  expect(info.headerMarker, "no VQ marker");
  expect(info.validRecords == kParameterRecordCount, "a parameter record checksum is wrong");
  expect(info.endMarkerFound && info.endMarkerLength == image.size(),
         "the end marker is not the last eight bytes");
  expect(info.fileSum.passes, "the file sum does not hold");
  expect(ImageHasHeaderArea(image, 8) && ImageHasHeaderArea(image, 9),
         "not a header-area image for chip types 8 and 9");
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fwtool-gen-image OUTPUT\n");
    return 2;
  }
  std::vector<uint8_t> image(kImageSize, 0);
  WriteHeaderArea(image);
  WriteSignature(image);
  CodeWriter(image, kFirmwareStart, kSumBalanceAt).Write();
  std::copy(kEndMarker.begin(), kEndMarker.end(), image.end() - kEndMarker.size());
  BalanceFileSum(image);
  if (!SelfCheck(image)) return 1;

  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image.data()),
            static_cast<std::streamsize>(image.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "fwtool-gen-image: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
