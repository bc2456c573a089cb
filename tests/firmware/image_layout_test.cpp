#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "firmware.h"

namespace fwtool {
namespace {

std::vector<uint8_t> Pseudo(size_t n, uint32_t seed) {
  std::vector<uint8_t> data(n);
  for (auto& b : data) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<uint8_t>(seed >> 16);
  }
  return data;
}

uint16_t StoredCrc(const std::vector<uint8_t>& h, size_t at) {
  return static_cast<uint16_t>(h[at] | h[at + 1] << 8);
}

// A 1,024-byte area with record word counts that fit their room.
std::vector<uint8_t> HeaderWithCounts(const std::array<uint8_t, 9>& counts, size_t size = 1024) {
  auto header = Pseudo(size, 42);
  for (size_t r = 0; r < 9; ++r) {
    if (kParameterRecordOffsets[r] + 2 < size) header[kParameterRecordOffsets[r] + 2] = counts[r];
  }
  return header;
}

TEST(HeaderChecksums, EachRecordCoversItsOwnWordsOnly) {
  auto header = HeaderWithCounts({4, 4, 4, 5, 5, 5, 5, 5, 5});
  const auto before = header;
  UpdateHeaderChecksums(header);
  for (size_t r = 0; r < 9; ++r) {
    const size_t at = kParameterRecordOffsets[r];
    const uint8_t n = header[at + 2];
    EXPECT_EQ(StoredCrc(header, at), Crc16OverWords(header.data() + at + 4, n * 4u, 0)) << at;
  }
  // Nothing but the nine checksum pairs changed.
  for (size_t i = 0; i < header.size(); ++i) {
    bool crcByte = false;
    for (const auto at : kParameterRecordOffsets) crcByte |= i == at || i == at + 1;
    if (!crcByte) {
      EXPECT_EQ(header[i], before[i]) << i;
    }
  }
  const auto states = CheckHeaderChecksums(header);
  for (const auto& s : states) EXPECT_TRUE(s.Valid()) << s.offset;

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
    // The record at 0x380 is computed over its 31 words up to 0x400 ...
    EXPECT_EQ(StoredCrc(header, 0x380), Crc16OverWords(header.data() + 0x384, 0x400 - 0x384, 0));
    // ... and bytes past 0x400 do not enter it.
    if (size > 1024) {
      header[0x400] ^= 0xFF;
      EXPECT_TRUE(CheckHeaderChecksums(header)[8].Valid());
    }
  }
}

TEST(HeaderChecksums, ShortBufferLeavesRecordsOutsideItAlone) {
  auto header = HeaderWithCounts({4, 4, 4, 255, 5, 5, 5, 5, 5}, 0x1A8);
  const auto before = header;
  UpdateHeaderChecksums(header);
  const auto states = CheckHeaderChecksums(header);
  EXPECT_TRUE(states[3].present);
  EXPECT_EQ(states[3].coveredWords, 1u);  // 0x1A4..0x1A7 only
  for (size_t r = 4; r < 9; ++r) EXPECT_FALSE(states[r].present);
  EXPECT_EQ(StoredCrc(header, 0x1A0), Crc16OverWords(header.data() + 0x1A4, 4, 0));
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

std::vector<uint8_t> Bank(const std::string& id, bool fullMagic = true) {
  auto bank = Pseudo(kBankSize, 12);
  const uint8_t magic[4] = {0x55, 0xAA, static_cast<uint8_t>(fullMagic ? 0xAA : 0x00),
                            static_cast<uint8_t>(fullMagic ? 0x55 : 0x00)};
  std::copy(magic, magic + 4, bank.begin() + 0xBFF0);
  std::copy(id.begin(), id.end(), bank.begin() + 0xBFF4);
  const uint16_t crc = Crc16OverWords(bank.data(), 0xBFFC, 0);
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
