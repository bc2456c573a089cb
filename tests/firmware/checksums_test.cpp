// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "byte_pattern.h"
#include "firmware.h"

namespace fwtool {
namespace {

using testing::Pattern;

std::vector<uint8_t> Bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

// Bytewise CRC-16, polynomial 0x1021, bit by bit, over every group of four
// bytes in the order 3, 2, 1, 0.
uint16_t ReferenceCrc16(const std::vector<uint8_t>& data) {
  uint16_t crc = 0;
  for (size_t g = 0; g + 4 <= data.size(); g += 4) {
    for (int k = 3; k >= 0; --k) {
      crc ^= static_cast<uint16_t>(data[g + k] << 8);
      for (int bit = 0; bit < 8; ++bit)
        crc = (crc & 0x8000) ? static_cast<uint16_t>(crc << 1 ^ 0x1021)
                             : static_cast<uint16_t>(crc << 1);
    }
  }
  return crc;
}

// The word XORed into the state, then 32 single shifts.
uint32_t ReferenceCrc32(const std::vector<uint8_t>& data, bool bigEndian) {
  uint32_t state = 0x52325032;
  for (size_t g = 0; g + 4 <= data.size(); g += 4) {
    uint32_t word = 0;
    for (int k = 0; k < 4; ++k) {
      const uint32_t b = data[g + k];
      word |= bigEndian ? b << (24 - 8 * k) : b << (8 * k);
    }
    state ^= word;
    for (int bit = 0; bit < 32; ++bit)
      state = (state & 0x80000000u) ? state << 1 ^ 0x04C11DB7u : state << 1;
  }
  return state;
}

TEST(Crc16, KnownValueAndWholeWordsOnly) {
  const auto abcd = Bytes("abcd");
  EXPECT_EQ(Crc16OverWords(abcd.data(), abcd.size(), 0), 0x40D7);
  EXPECT_EQ(Crc16AddWord(0, 0x64636261), 0x40D7);
  const auto six = Bytes("abcdef");
  EXPECT_EQ(Crc16OverWords(six.data(), six.size(), 0), 0x40D7);
  EXPECT_EQ(Crc16OverWords(abcd.data(), 3, 0), 0);
  EXPECT_EQ(Crc16OverWords(abcd.data(), 0, 0x1234), 0x1234);
}

TEST(Crc16, NibbleFormEqualsBytewiseCrcInByteOrder3210) {
  for (const size_t n : {4u, 8u, 13u, 64u, 1000u}) {
    const auto data = Pattern(n, static_cast<uint32_t>(n));
    EXPECT_EQ(Crc16OverWords(data.data(), data.size(), 0), ReferenceCrc16(data)) << n;
  }
  // A running CRC carries over: two halves equal the whole.
  const auto data = Pattern(64, 7);
  const uint16_t first = Crc16OverWords(data.data(), 32, 0);
  EXPECT_EQ(Crc16OverWords(data.data() + 32, 32, first), Crc16OverWords(data.data(), 64, 0));
}

TEST(Crc32, KnownValuesForBothWordOrders) {
  const auto abcd = Bytes("abcd");
  uint32_t crc = 0;
  EXPECT_TRUE(Crc32OverWords(abcd.data(), abcd.size(), false, crc));
  EXPECT_EQ(crc, 0x52BFF45Du);
  EXPECT_TRUE(Crc32OverWords(abcd.data(), abcd.size(), true, crc));
  EXPECT_EQ(crc, 0x362324DFu);
  // Nothing complete: the initial state.
  EXPECT_TRUE(Crc32OverWords(abcd.data(), 3, false, crc));
  EXPECT_EQ(crc, 0x52325032u);
}

TEST(Crc32, TableEqualsShiftByShift) {
  for (const size_t n : {4u, 7u, 256u, 0xBFFCu}) {
    const auto data = Pattern(n, static_cast<uint32_t>(n * 3));
    for (const bool bigEndian : {false, true}) {
      uint32_t crc = 0;
      Crc32OverWords(data.data(), data.size(), bigEndian, crc);
      EXPECT_EQ(crc, ReferenceCrc32(data, bigEndian)) << n << " " << bigEndian;
    }
  }
}

TEST(ByteSum, WrapsModulo256) {
  const std::vector<uint8_t> data = {0xFF, 0x02, 0x80, 0x80};
  EXPECT_EQ(ByteSum(data.data(), data.size()), 0x01);
  EXPECT_EQ(ByteSum(data.data(), 0), 0);
}

}  // namespace
}  // namespace fwtool
