// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "byte_pattern.h"
#include "firmware.h"

namespace fwtool {
namespace {

using testing::Pattern;

uint16_t StoredCrc(const std::vector<uint8_t>& h, size_t at) {
  return static_cast<uint16_t>(h[at] | h[at + 1] << 8);
}

// A 1,024-byte area with record word counts that fit their room.
std::vector<uint8_t> HeaderWithCounts(const std::array<uint8_t, 9>& counts, size_t size = 1024) {
  auto header = Pattern(size, 42);
  for (size_t r = 0; r < 9; ++r) {
    if (kParameterRecordOffsets[r] + 2 < size) header[kParameterRecordOffsets[r] + 2] = counts[r];
  }
  return header;
}

// A header area made by hand, before and after its checksums are written:
// every byte is 0x5A except the nine records, which read EE EE (stale
// checksum), N, 00 and their words. The checksums after were worked out
// apart from this program, with a bytewise CRC-16 (0x1021, MSB first,
// initial 0) over each word's bytes in the order 3, 2, 1, 0.
struct GoldenRecord {
  uint32_t offset;
  uint8_t words;      // N
  std::string data;   // the bytes from offset + 4 on; the rest stays 0x5A
  uint16_t checksum;  // stored little-endian at offset
};
const GoldenRecord kGoldenRecords[] = {
    {0x100, 1, "abcd", 0x40D7},
    {0x114, 4, std::string("TALVE VQB719 FW\0", 16), 0xEC58},
    {0x140, 0, "", 0x0000},
    {0x1A0, 5,
     std::string("\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D\x0E\x0F\x10\x11\x12\x13",
                 20),
     0x8EB4},
    {0x200, 2, std::string(8, '\xFF'), 0xA6E1},
    {0x260, 3, "0123456789AB", 0x0471},
    {0x2C0, 5, std::string(20, '\xA5'), 0x7604},
    {0x320, 1, std::string("\x01\x00\x00\x00", 4), 0x1021},
    // Erased word count: its 31 words of filler up to 0x400 count.
    {0x380, 255, "", 0xD763},
};

std::vector<uint8_t> GoldenHeader(bool withChecksums, size_t size = 1024) {
  std::vector<uint8_t> area(size, 0x5A);
  for (const auto& r : kGoldenRecords) {
    area[r.offset] = withChecksums ? static_cast<uint8_t>(r.checksum) : 0xEE;
    area[r.offset + 1] = withChecksums ? static_cast<uint8_t>(r.checksum >> 8) : 0xEE;
    area[r.offset + 2] = r.words;
    area[r.offset + 3] = 0x00;
    std::copy(r.data.begin(), r.data.end(), area.begin() + r.offset + 4);
  }
  return area;
}

TEST(HeaderChecksums, GoldenBeforeAndAfter) {
  for (const size_t size : {size_t{1024}, size_t{4096}}) {
    SCOPED_TRACE(size);
    auto header = GoldenHeader(false, size);
    UpdateHeaderChecksums(header);
    EXPECT_EQ(header, GoldenHeader(true, size));  // the nine pairs and nothing else
    const auto states = CheckHeaderChecksums(header);
    for (const auto& s : states) EXPECT_TRUE(s.Valid()) << s.offset;
    EXPECT_EQ(states[8].coveredWords, (0x400u - 0x384u) / 4);
    // Bytes past 0x400 do not enter the erased record's checksum.
    if (size > 1024) {
      header[0x400] ^= 0xFF;
      EXPECT_TRUE(CheckHeaderChecksums(header)[8].Valid());
    }
  }
  // Before: EE EE is no record's checksum.
  for (const auto& s : CheckHeaderChecksums(GoldenHeader(false)))
    EXPECT_FALSE(s.Valid()) << s.offset;
}

TEST(HeaderChecksums, EachRecordCoversItsOwnWordsOnly) {
  const auto header = GoldenHeader(true);
  // A byte of a record's room beyond its N words is not covered; a covered one is.
  auto changed = header;
  changed[0x114 + 4 + 16] ^= 0xFF;  // record at 0x114 has 4 words, room 40
  EXPECT_TRUE(CheckHeaderChecksums(changed)[1].Valid());
  changed[0x114 + 4 + 15] ^= 0xFF;
  EXPECT_FALSE(CheckHeaderChecksums(changed)[1].Valid());
}

TEST(HeaderChecksums, ZeroWordsGiveZero) {
  auto header = HeaderWithCounts({0, 0, 0, 0, 0, 0, 0, 0, 0});
  UpdateHeaderChecksums(header);
  for (const auto at : kParameterRecordOffsets) EXPECT_EQ(StoredCrc(header, at), 0x0000) << at;
}

// An erased record reads N = 255: only the words inside the first 1,024
// bytes count, even when the caller's buffer is longer.
TEST(HeaderChecksums, ErasedWordCountStopsAtTheAreaEnd) {
  for (const size_t size : {size_t{1024}, size_t{4096}}) {
    auto header = HeaderWithCounts({255, 4, 4, 5, 5, 5, 5, 5, 255}, size);
    UpdateHeaderChecksums(header);
    const auto states = CheckHeaderChecksums(header);
    EXPECT_EQ(states[8].coveredWords, (0x400u - 0x384u) / 4);
    EXPECT_EQ(states[0].coveredWords, (0x400u - 0x104u) / 4);
    // Bytes past 0x400 do not enter the record at 0x380.
    if (size > 1024) {
      header[0x400] ^= 0xFF;
      EXPECT_TRUE(CheckHeaderChecksums(header)[8].Valid());
    }
  }
}

TEST(HeaderChecksums, ShortBufferLeavesRecordsOutsideItAlone) {
  auto header = HeaderWithCounts({4, 4, 4, 255, 5, 5, 5, 5, 5}, 0x1A8);
  // The one word the record at 0x1A0 still has inside the buffer.
  const uint8_t word[4] = {0x00, 0x01, 0x02, 0x03};
  std::copy(word, word + 4, header.begin() + 0x1A4);
  const auto before = header;
  UpdateHeaderChecksums(header);
  const auto states = CheckHeaderChecksums(header);
  EXPECT_TRUE(states[3].present);
  EXPECT_EQ(states[3].coveredWords, 1u);  // 0x1A4..0x1A7 only
  for (size_t r = 4; r < 9; ++r) EXPECT_FALSE(states[r].present);
  EXPECT_EQ(StoredCrc(header, 0x1A0), 0xC68D);
  EXPECT_EQ(std::vector<uint8_t>(header.begin() + 0x1A2, header.end()),
            std::vector<uint8_t>(before.begin() + 0x1A2, before.end()));
}

TEST(HeaderMarker, BytesBeforeTheEndOffset) {
  std::vector<uint8_t> data(128, 0);
  EXPECT_FALSE(HasHeaderMarker(data, 128));
  data[126] = 'V';
  data[127] = 'Q';
  EXPECT_TRUE(HasHeaderMarker(data, 128));
  EXPECT_FALSE(HasHeaderMarker(data, 127));
  EXPECT_FALSE(HasHeaderMarker(std::span(data).first(127), 128));  // outside the data
  EXPECT_FALSE(HasHeaderMarker(data, 1));
  EXPECT_FALSE(HasHeaderMarker({}, 0));
  data[126] = 'v';
  EXPECT_FALSE(HasHeaderMarker(data, 128));  // case matters
}

TEST(EndMarker, WindowAndResynchronisation) {
  const std::string m = "ENDSTR\x55\xAA";
  struct Case {
    const char* name;
    std::string data;
    size_t length;  // scanned
    size_t expected;
  };
  // Every case has bytes after the marker, so "found" and "not found" differ.
  const Case cases[] = {
      {"at the start", m + "xyz", 11, 8},
      {"after other bytes", "abcE" + m + "tail", 16, 12},
      {"none", "no marker here", 14, 14},
      {"empty", "", 0, 0},
      {"wrong tail ends the window", "ENDSTR\x55\xAB" + m + "zz", 18, 16},
      {"double E", "E" + m + "zz", 11, 9},
      {"ENDSTEND re-synchronises on its second E", "ENDST" + m + "zz", 15, 13},
      {"E inside a failed window", "EXE" + m.substr(1) + "zz", 12, 10},
      {"a zero byte ends the search for the next E", std::string("E\0", 2) + m + "zz", 12, 12},
      {"marker beyond the scanned length", "abc" + m + "zz", 10, 10},
      {"text without the tail", "ENDSTRxxENDSTR\x55", 15, 15},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> data(c.data.begin(), c.data.end());
    ASSERT_LE(c.length, data.size());
    EXPECT_EQ(FindEndMarker(data.data(), c.length), c.expected);
  }
}

// A bank of the pseudo-random bytes of seed 12 with its signature block and
// its CRC-16 over 0..0xBFFB, worked out apart from this program for each
// variant.
std::vector<uint8_t> Bank(const std::string& id, bool fullMagic = true) {
  auto bank = Pattern(kBankSize, 12);
  const uint8_t magic[4] = {0x55, 0xAA, static_cast<uint8_t>(fullMagic ? 0xAA : 0x00),
                            static_cast<uint8_t>(fullMagic ? 0x55 : 0x00)};
  std::copy(magic, magic + 4, bank.begin() + 0xBFF0);
  std::copy(id.begin(), id.end(), bank.begin() + 0xBFF4);
  uint16_t crc = 0;
  if (id == "175A") crc = fullMagic ? 0xC5C2 : 0x009E;
  if (id == "118A" && fullMagic) crc = 0xA229;
  bank[0xBFFE] = static_cast<uint8_t>(crc >> 8);
  bank[0xBFFF] = static_cast<uint8_t>(crc);
  return bank;
}

TEST(BankImage, SignatureModelAndBigEndianCrc) {
  EXPECT_TRUE(BankImageIsValid(Bank("175A"), 12));
  EXPECT_FALSE(BankImageIsValid(Bank("175A"), 11));
  EXPECT_FALSE(BankImageIsValid(Bank("118A"), 12));
  EXPECT_FALSE(BankImageIsValid(Bank("175A", false), 12));
  auto swapped = Bank("175A");
  std::swap(swapped[0xBFFE], swapped[0xBFFF]);
  EXPECT_FALSE(BankImageIsValid(swapped, 12));
  auto flipped = Bank("175A");
  flipped[0x1234] ^= 1;
  EXPECT_FALSE(BankImageIsValid(flipped, 12));
  auto uncovered = Bank("175A");
  uncovered[0xBFFC] ^= 0xFF;  // 0xBFFC..0xBFFD are not covered
  uncovered[0xC000] ^= 0xFF;
  EXPECT_TRUE(BankImageIsValid(uncovered, 12));
  const auto bank = Bank("175A");
  EXPECT_TRUE(BankImageIsValid(std::span(bank).first(0xC000), 12));
  EXPECT_FALSE(BankImageIsValid(std::span(bank).first(0xBFFF), 12));
}

TEST(SignatureBlock, IncompleteBlockHasNoMagicAndNoChipId) {
  const std::vector<uint8_t> data = {0x55, 0xAA, 0xAA, 0x55, '7', '1', '9', 'B', 0};
  const auto block = SignatureBlock::At(data, 0);
  EXPECT_FALSE(block.complete);
  EXPECT_FALSE(block.HasMagic());
  EXPECT_EQ(block.ChipId(), "");
  EXPECT_FALSE(SignatureBlock::At(data, 100).complete);
  auto ten = data;
  ten.push_back(0);
  EXPECT_TRUE(SignatureBlock::At(ten, 0).HasMagic());
  EXPECT_EQ(SignatureBlock::At(ten, 0).ChipId(), "719B");
  EXPECT_EQ(PrintableChipId(std::string("\x5A\xA5\x0F\xF0", 4)), "Z\\xA5\\x0F\\xF0");
}

TEST(SignaturePlaces, PerChipType) {
  auto offsets = [](int type) {
    std::vector<uint32_t> o;
    for (const auto& p : SignaturePlacesFor(type)) o.push_back(p.offset);
    return o;
  };
  EXPECT_EQ(offsets(8), (std::vector<uint32_t>{0, 0x1000}));
  EXPECT_EQ(offsets(6), (std::vector<uint32_t>{0, 0x1000}));
  EXPECT_EQ(offsets(13), (std::vector<uint32_t>{0x80}));
  EXPECT_EQ(offsets(16), (std::vector<uint32_t>{0x4000}));
  EXPECT_EQ(offsets(12), (std::vector<uint32_t>{0xBFF0}));
  EXPECT_EQ(offsets(1), (std::vector<uint32_t>{0}));
  EXPECT_EQ(SignaturePlacesFor(3)[0].magic, MagicKind::None);
  EXPECT_EQ(SignaturePlacesFor(14)[0].magic, MagicKind::Short);
}

}  // namespace
}  // namespace fwtool
