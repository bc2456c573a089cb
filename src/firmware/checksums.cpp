// SPDX-License-Identifier: GPL-2.0-or-later
#include "checksums.h"

#include <array>

namespace fwtool {

namespace {

constexpr uint32_t kCrc32Polynomial = 0x04C11DB7;

// One byte through the 32-bit register, most significant bit first.
constexpr std::array<uint32_t, 256> MakeCrc32Table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t value = i << 24;
    for (int bit = 0; bit < 8; ++bit)
      value = (value & 0x80000000u) ? (value << 1) ^ kCrc32Polynomial : value << 1;
    table[i] = value;
  }
  return table;
}
constexpr std::array<uint32_t, 256> kCrc32Table = MakeCrc32Table();

uint32_t WordAt(const uint8_t* p, bool bigEndian) {
  if (bigEndian)
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
  return uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | uint32_t{p[0]};
}

}  // namespace

uint16_t Crc16AddWord(uint16_t crc, uint32_t word) {
  uint32_t value = crc;
  for (int shift = 28; shift >= 0; shift -= 4) {
    const uint32_t t = ((value >> 12) ^ (word >> shift)) & 0xF;
    value = ((value << 4) ^ (t << 12) ^ (t << 5) ^ t) & 0xFFFF;
  }
  return static_cast<uint16_t>(value);
}

uint16_t Crc16OverWords(const uint8_t* data, size_t length, uint16_t initial) {
  uint16_t crc = initial;
  for (size_t at = 0; at + 4 <= length; at += 4) crc = Crc16AddWord(crc, WordAt(data + at, false));
  return crc;
}

bool Crc32OverWords(const uint8_t* data, size_t length, bool bigEndianWords, uint32_t& crc) {
  uint32_t state = kCrc32Initial;
  for (size_t at = 0; at + 4 <= length; at += 4) {
    // XORing the word into the state and shifting 32 times is the same as
    // feeding the word's bytes, most significant first, through the table.
    const uint32_t word = WordAt(data + at, bigEndianWords);
    for (int shift = 24; shift >= 0; shift -= 8) {
      const uint8_t byte = static_cast<uint8_t>(word >> shift);
      state = (state << 8) ^ kCrc32Table[(state >> 24) ^ byte];
    }
  }
  crc = state;
  return true;
}

uint8_t ByteSum(const uint8_t* data, size_t length) {
  uint8_t sum = 0;
  for (size_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + data[i]);
  return sum;
}

}  // namespace fwtool
