// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#ifdef __unix__
#include <unistd.h>
#endif

#include "byte_pattern.h"
#include "firmware.h"
#include "identify.h"
#include "recording_operator.h"
#include "temp_files.h"

namespace fwtool {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::Pattern;
using testing::TempDir;

const Bytes kFull = {0x55, 0xAA, 0xAA, 0x55};
const Bytes kShort = {0x55, 0xAA, 0x00, 0x00};
const Bytes kE9 = {0xE9, 0xAC, 0x67, 0x00};
const Bytes kE9Header = {0xE9, 0xAC, 0x67, 0x32};

// An image of `size` bytes (filler without any magic) with blocks placed.
struct Place {
  uint32_t offset;
  Bytes magic;
  std::string id;
  Bytes tail = {};  // bytes 8, 9, ...
};
Bytes Image(size_t size, const std::vector<Place>& places) {
  Bytes image(size, 0x11);
  for (const auto& p : places) {
    Bytes block = p.magic;
    block.insert(block.end(), p.id.begin(), p.id.end());
    block.insert(block.end(), p.tail.begin(), p.tail.end());
    for (size_t i = 0; i < block.size() && p.offset + i < image.size(); ++i)
      image[p.offset + i] = block[i];
  }
  return image;
}

uint16_t Chip(int type, int subRev = 0) {
  return MakeIdentification(type, subRev);
}

struct MatchCase {
  const char* name;
  uint16_t chip;
  Bytes image;
  bool matches;
};

TEST(FirmwareFileMatchesChip, RulesPerChipType) {
  const std::string raw1 = std::string("\x5A\xA5\x0F\xF0", 4);
  const MatchCase cases[] = {
      {"1/R1: 5A A5 0F F0", Chip(1, 1), Image(64, {{0, {0, 0, 0, 0}, raw1}}), true},
      {"1/R1: 7710 is not enough", Chip(1, 1), Image(64, {{4, {}, "7710"}}), false},
      {"1/R2: 7711", Chip(1, 2), Image(64, {{4, {}, "7711"}}), true},
      {"1/R2: 7712", Chip(1, 2), Image(64, {{4, {}, "7712"}}), false},
      {"2: id beginning 77 refused", Chip(2), Image(64, {{4, {}, "7790"}}), false},
      {"2: any other id", Chip(2), Image(64, {{4, {}, "1234"}}), true},
      {"21: id beginning 77 refused", Chip(21), Image(64, {{4, {}, "7719"}}), false},
      {"3: always", Chip(3), Image(10, {}), true},
      {"18: always", Chip(18, 4), Image(64, {{4, {}, "9999"}}), true},
      {"4/R3: 7752", Chip(4, 3), Image(64, {{4, {}, "7752"}}), true},
      {"4/R3: 7753", Chip(4, 3), Image(64, {{4, {}, "7753"}}), false},
      {"5: 765", Chip(5), Image(64, {{4, {}, "765x"}}), true},
      {"5: 775", Chip(5), Image(64, {{4, {}, "775x"}}), false},
      {"6/R2: magic at 0, byte 8 '1'", Chip(6, 2), Image(64, {{0, kFull, "7160", {'1'}}}), true},
      {"6/R2: byte 8 '0'", Chip(6, 2), Image(64, {{0, kFull, "7160", {'0'}}}), false},
      {"6/R1: byte 8 zero", Chip(6, 1), Image(64, {{0, kFull, "7160", {0}}}), true},
      {"6: wrong model at 0", Chip(6, 1), Image(64, {{0, kFull, "7190", {0}}}), false},
      {"6/R3: after the header area", Chip(6, 3), Image(0x2000, {{0x1000, kFull, "716A", {'2'}}}),
       true},
      {"6/R1: short file, block at 0x1000 never read", Chip(6, 1), Image(64, {}), false},
      {"7/R1: 55 AA AA 55 v717", Chip(7, 1), Image(64, {{0, kFull, "v717"}}), true},
      {"7/R2: 55 AA AA 55 7178", Chip(7, 2), Image(64, {{0, kFull, "7178"}}), true},
      {"7/R1 with the R2 block", Chip(7, 1), Image(64, {{0, kFull, "7178"}}), false},
      {"7/R3 never", Chip(7, 3), Image(64, {{0, kFull, "v717"}}), false},
      {"8: magic at 0", Chip(8), Image(64, {{0, kFull, "7190"}}), true},
      {"9: after the header area", Chip(9), Image(0x2000, {{0x1000, kFull, "719B"}}), true},
      {"8: wrong model after the header area", Chip(8), Image(0x2000, {{0x1000, kFull, "713B"}}),
       false},
      {"8: magic at 0 decides, not 0x1000", Chip(8),
       Image(0x2000, {{0, kFull, "7130"}, {0x1000, kFull, "719B"}}), false},
      {"8: no magic anywhere, decided by the id at 0", Chip(8), Image(0x2000, {{4, {}, "7191"}}),
       true},
      {"8: no magic anywhere, other id", Chip(8), Image(0x2000, {{4, {}, "7131"}}), false},
      {"8: no magic at 0, file ends before 0x1000", Chip(8), Image(64, {{4, {}, "7191"}}), true},
      {"10: E9 AC 67 at 0x80", Chip(10), Image(0x100, {{0x80, kE9, "713A"}}), true},
      {"13: E9 AC 67 at 0x80", Chip(13), Image(0x100, {{0x80, kE9Header, "7130"}}), true},
      {"10: no block at 0x80", Chip(10), Image(0x100, {{4, {}, "7130"}}), false},
      {"10: other model at 0x80", Chip(10), Image(0x100, {{0x80, kE9, "719A"}}), false},
      {"10: file ends inside the 0x80 block", Chip(10), Image(0x88, {{0x80, kE9, "713A"}}), false},
      {"11: 118 at 0", Chip(11), Image(64, {{0, kFull, "1180"}}), true},
      {"11: 118 after the header area", Chip(11), Image(0x2000, {{0x1000, kFull, "118B"}}), true},
      {"12: 55 AA 175 at 0xBFF0", Chip(12), Image(0x10000, {{0xBFF0, kShort, "175A"}}), true},
      {"12: full magic, 175", Chip(12), Image(0x10000, {{0xBFF0, kFull, "175A"}}), true},
      {"12: full magic, other model", Chip(12), Image(0x10000, {{0xBFF0, kFull, "118A"}}), false},
      {"12: no 55 AA at 0xBFF0", Chip(12), Image(0x10000, {{0xBFF4, {}, "175A"}}), false},
      {"12: file ends before 0xBFFA", Chip(12), Image(0xBFF8, {{0xBFF0, kShort, "17"}}), false},
      {"14: 55 AA 185 at 0x4000", Chip(14, 3), Image(0x8000, {{0x4000, kShort, "185A"}}), true},
      {"14: 55 AA missing", Chip(14), Image(0x8000, {{0x4004, {}, "185A"}}), false},
      {"16: 775E", Chip(16, 2), Image(0x8000, {{0x4000, kShort, "775E"}}), true},
      {"16: 775C", Chip(16, 2), Image(0x8000, {{0x4000, kShort, "775C"}}), false},
      {"15: never", Chip(15), Image(64, {{4, {}, "145A"}}), false},
      {"0: never", Chip(0), Image(64, {}), false},
      {"22: never", Chip(22), Image(64, {}), false},
      {"empty file", Chip(3), Bytes{}, false},
      {"9 bytes: no block at 0", Chip(3), Image(9, {}), false},
      {"9 bytes, type 2", Chip(2), Image(9, {}), false},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = dir.Write("case.bin", c.image);
    RecordingOperator op;
    EXPECT_EQ(FirmwareFileMatchesChip(op, file, c.chip), c.matches);
    EXPECT_TRUE(op.shown.empty());
    const FileVerdict detail = MatchFirmwareFile(file, c.chip);
    EXPECT_TRUE(detail.opened);
    EXPECT_EQ(detail.passes, c.matches);
    EXPECT_FALSE(detail.reason.empty());
    EXPECT_EQ(ImageMatchesChip(c.image, c.chip).passes, c.matches);
  }
}

TEST(FirmwareFileMatchesChip, UnopenableFileShowsTheBoxAndDoesNotMatch) {
  TempDir dir;
  for (const std::string& path : {dir.Path("missing.bin"), dir.Root()}) {
    SCOPED_TRACE(path);
    RecordingOperator op;
    EXPECT_FALSE(FirmwareFileMatchesChip(op, path, Chip(3)));
    ASSERT_EQ(op.shown.size(), 1u);
    EXPECT_EQ(op.shown[0].text, "Open Firmware File Error!!");
    EXPECT_EQ(op.shown[0].caption, "Error");
    EXPECT_FALSE(MatchFirmwareFile(path, Chip(3)).opened);
  }
}

// A file whose sum of bytes 0..n-1 equals the byte at `position` (n = size - 1).
Bytes SummedFile(size_t size, size_t position, uint32_t seed) {
  Bytes file = Pattern(size, seed);
  file[0] = 0x00;  // no magic at 0
  const size_t n = size - 1;
  if (position < n) {
    // The byte at `position` is summed as well: the others must add up to 0.
    file[n - 1] = 0;
    uint8_t rest = static_cast<uint8_t>(ByteSum(file.data(), n) - file[position]);
    file[n - 1] = static_cast<uint8_t>(-rest);
  } else {
    file[position] = ByteSum(file.data(), n);
  }
  return file;
}

TEST(VerifyFileSum, SumPositionsAndLengths) {
  TempDir dir;
  struct Case {
    const char* name;
    Bytes file;
    bool passes;
    size_t position;
    size_t summed;
  };
  Bytes full = SummedFile(0x10000, 0xFFFF, 1);
  Bytes fullBroken = full;
  fullBroken[0x8000] ^= 1;
  Bytes half = SummedFile(0x8000, 0x7FFF, 2);
  Bytes between = SummedFile(40000, 0x7FFF, 3);
  Bytes betweenLastChanged = between;
  betweenLastChanged[39999] ^= 0xFF;  // not summed
  Bytes tooShort = SummedFile(0x7FFF, 0x7FFE, 4);
  Bytes longer = SummedFile(0x10001, 0x7FFF, 6);
  const Case cases[] = {
      {"65,536 bytes: 0..0xFFFE against 0xFFFF", full, true, 0xFFFF, 0xFFFF},
      {"65,536 bytes, one bit off", fullBroken, false, 0xFFFF, 0xFFFF},
      {"32,768 bytes: 0..0x7FFE against 0x7FFF", half, true, 0x7FFF, 0x7FFF},
      {"40,000 bytes: 0..39,998 against 0x7FFF inside the range", between, true, 0x7FFF, 39999},
      {"40,000 bytes: the last byte is not summed", betweenLastChanged, true, 0x7FFF, 39999},
      {"32,767 bytes fail", tooShort, false, 0, 0},
      {"65,537 bytes: against 0x7FFF", longer, true, 0x7FFF, 0x10000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const FileSumCheck check = CheckFileSumBytes(c.file);
    EXPECT_EQ(check.passes, c.passes);
    EXPECT_EQ(check.position, c.position);
    EXPECT_EQ(check.summed, c.summed);
    EXPECT_EQ(VerifyFileSum(dir.Write("sum.bin", c.file), Chip(3)), c.passes);
  }
}

// "775" images from revision 3 on give their summed length in bytes 12-13,
// cut at the end marker.
TEST(VerifyFileSum, LengthFromTheFileForLater775Images) {
  const std::string marker = "ENDSTR\x55\xAA";
  auto make = [&](char revision, uint16_t length, size_t markerAt) {
    Bytes file = Pattern(0x10000, 9);
    for (auto& b : file)
      if (b == 'E') b = 'e';  // no stray window starts
    file[0] = 0;
    file[4] = '7', file[5] = '7', file[6] = '5', file[7] = static_cast<uint8_t>(revision);
    file[12] = static_cast<uint8_t>(length >> 8);
    file[13] = static_cast<uint8_t>(length);
    std::copy(marker.begin(), marker.end(), file.begin() + static_cast<long>(markerAt));
    file[0xFFFF] = ByteSum(file.data(), markerAt + marker.size());
    return file;
  };
  // '3': the sum runs up to and including the marker at 0x8000.
  const Bytes r3 = make('3', 0x9000, 0x8000);
  auto check = CheckFileSumBytes(r3);
  EXPECT_TRUE(check.lengthFromFile);
  EXPECT_EQ(check.summed, 0x8008u);
  EXPECT_TRUE(check.passes);
  Bytes afterMarker = r3;
  afterMarker[0x8100] ^= 0xFF;
  EXPECT_TRUE(CheckFileSumBytes(afterMarker).passes);
  Bytes beforeMarker = r3;
  beforeMarker[0x7000] ^= 0xFF;
  EXPECT_FALSE(CheckFileSumBytes(beforeMarker).passes);
  // Without a marker inside the length, the length itself counts.
  const Bytes cut = make('9', 0x7000, 0x8000);
  EXPECT_EQ(CheckFileSumBytes(cut).summed, 0x7000u);
  // '2' sums the whole file, so the same bytes fail.
  const Bytes r2 = make('2', 0x9000, 0x8000);
  check = CheckFileSumBytes(r2);
  EXPECT_FALSE(check.lengthFromFile);
  EXPECT_EQ(check.summed, 0xFFFFu);
  EXPECT_FALSE(check.passes);
  // A length past the end of the file fails and sums nothing outside it.
  Bytes shortFile(r3.begin(), r3.begin() + 40000);
  shortFile[12] = 0xF0;
  shortFile[13] = 0x00;
  check = CheckFileSumBytes(shortFile);
  EXPECT_FALSE(check.passes);
  EXPECT_EQ(check.summed, 0u);
  EXPECT_NE(check.reason.find("past the end"), std::string::npos);
}

TEST(VerifyFileSum, HeaderAreaImagesPassWithoutSumming) {
  TempDir dir;
  // 5,000 bytes: far too short to be summed, but it carries a header area.
  const Bytes image = Image(5000, {{0x1000, kFull, "719B"}});
  const std::string file = dir.Write("header.bin", image);
  EXPECT_TRUE(VerifyFileSum(file, Chip(8)));
  EXPECT_TRUE(VerifyFileSum(file, Chip(9, 3)));  // the sub-revision is ignored
  EXPECT_FALSE(VerifyFileSum(file, Chip(10)));
  EXPECT_TRUE(CheckImageSum(image, Chip(8)).passes);
  EXPECT_FALSE(CheckImageSum(image, Chip(11)).passes);
}

TEST(FileHasHeaderArea, PlacesAndMagics) {
  struct Case {
    const char* name;
    int type;
    Bytes image;
    bool expected;
  };
  const Case cases[] = {
      {"719 at 0x1000", 8, Image(0x2000, {{0x1000, kFull, "719B"}}), true},
      {"719 at 0x1000 for type 9", 9, Image(0x2000, {{0x1000, kFull, "719B"}}), true},
      {"719 at 0x1000 is not a type-11 area", 11, Image(0x2000, {{0x1000, kFull, "719B"}}), false},
      {"magic at 0: the firmware starts at 0", 8,
       Image(0x2000, {{0, kFull, "7190"}, {0x1000, kFull, "719B"}}), false},
      {"short magic at 0x1000", 8, Image(0x2000, {{0x1000, kShort, "719B"}}), false},
      {"0x1000 block cut by the file end", 8, Image(0x1008, {{0x1000, kFull, "719B"}}), false},
      {"type 10 block at 0x80 with 0x32", 10, Image(0x100, {{0x80, kE9Header, "7130"}}), true},
      {"type 13 block at 0x80 despite magic at 0", 13,
       Image(0x100, {{0, kFull, "7130"}, {0x80, kE9Header, "7130"}}), true},
      {"type 10 block at 0x80 without 0x32", 10, Image(0x100, {{0x80, kE9, "7130"}}), false},
      {"type 8 does not look at 0x80", 8, Image(0x2000, {{0x80, kE9Header, "7190"}}), false},
      {"type 0 never", 0, Image(0x2000, {{0x1000, kFull, std::string("\0\0\0\0", 4)}}), false},
      {"empty", 8, Bytes{}, false},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FileHasHeaderArea(dir.Write("h.bin", c.image), c.type), c.expected);
    EXPECT_EQ(ImageHasHeaderArea(c.image, c.type), c.expected);
  }
  EXPECT_FALSE(FileHasHeaderArea(dir.Path("missing.bin"), 8));
  EXPECT_FALSE(FileHasHeaderArea(dir.Root(), 8));
}

TEST(FileTests, MalformedPathsGiveAPlainNo) {
  TempDir dir;
  const std::string empty = dir.Write("empty.bin", {});
  const std::string missing = dir.Path("missing.bin");
  const std::string folder = dir.Root();
  for (const std::string& path : {empty, missing, folder}) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(VerifyFileSum(path, Chip(8)));
    EXPECT_FALSE(FileHasHeaderArea(path, 8));
    EXPECT_FALSE(MatchFirmwareFile(path, Chip(3)).passes);
  }
  std::string why;
  EXPECT_FALSE(ImageFile::Open(missing, &why));
  EXPECT_EQ(why, "no such file");
  EXPECT_FALSE(ImageFile::Open(folder, &why));
  EXPECT_NE(why.find("directory"), std::string::npos);
  EXPECT_TRUE(MatchFirmwareFile(empty, Chip(3)).opened);
#ifdef __unix__
  if (::geteuid() != 0) {
    const std::string locked = dir.Write("locked.bin", Image(0x8000, {}));
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    EXPECT_FALSE(ImageFile::Open(locked, &why));
    EXPECT_FALSE(VerifyFileSum(locked, Chip(3)));
    RecordingOperator op;
    EXPECT_FALSE(FirmwareFileMatchesChip(op, locked, Chip(3)));
    EXPECT_EQ(op.shown.size(), 1u);
  }
#endif
}

TEST(ImageFile, ReadsArePositionedAndBounded) {
  TempDir dir;
  const Bytes image = Pattern(100, 5);
  auto file = ImageFile::Open(dir.Write("f.bin", image));
  ASSERT_TRUE(file);
  EXPECT_EQ(file->size(), 100u);
  uint8_t buffer[20] = {};
  EXPECT_EQ(file->ReadAt(95, buffer, sizeof buffer), 5u);
  EXPECT_EQ(buffer[0], image[95]);
  EXPECT_EQ(file->ReadAt(100, buffer, sizeof buffer), 0u);
  EXPECT_TRUE(file->BlockAt(90).complete);
  EXPECT_FALSE(file->BlockAt(91).complete);
  Bytes all;
  EXPECT_TRUE(file->ReadAll(all));
  EXPECT_EQ(all, image);
}

// The size test the run dispatch asks before a type-10 unit is programmed.
TEST(FileSize, FileSizeOfKeepsThePosition) {
  TempDir dir;
  const auto path = dir.Write("f.bin", Bytes(5000, 'x'));
  std::FILE* file = std::fopen(path.c_str(), "rb");
  ASSERT_NE(file, nullptr);
  std::fseek(file, 123, SEEK_SET);
  EXPECT_EQ(FileSizeOf(file), 5000);
  EXPECT_EQ(std::ftell(file), 123);
  std::fclose(file);
}

TEST(FileSize, FirmwareFitsFlash) {
  TempDir dir;
  RecordingOperator op;
  EXPECT_EQ(FirmwareFitsFlash(op, dir.Write("exact.bin", Bytes(64 * 1024, 'x')), 64), 1);
  EXPECT_EQ(FirmwareFitsFlash(op, dir.Write("over.bin", Bytes(64 * 1024 + 1, 'x')), 64), 0);
  EXPECT_EQ(FirmwareFitsFlash(op, dir.Write("empty.bin", Bytes()), 0), 1);
  EXPECT_TRUE(op.shown.empty());
  EXPECT_EQ(FirmwareFitsFlash(op, dir.Path("missing.bin"), 64), 0);
  EXPECT_EQ(FirmwareFitsFlash(op, dir.Root(), 64), 0);
  ASSERT_EQ(op.shown.size(), 2u);
  EXPECT_EQ(op.shown[0].text, "Open Firmware File Error!!");
  EXPECT_EQ(op.shown[0].caption, "Error");
}

}  // namespace
}  // namespace fwtool
