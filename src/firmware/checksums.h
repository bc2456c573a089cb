// SPDX-License-Identifier: GPL-2.0-or-later
// The checksums that protect firmware images: the CRC-16 of the header
// parameter records and of a bank image, the CRC-32 of the disk-side image,
// and the 8-bit file sum. None of them can fail.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fwtool {

// CRC-16, CCITT polynomial 0x1021, most significant bit first, no reflection,
// no final XOR. Data enter as little-endian 32-bit words, each fed from its
// most significant nibble down, which equals a bytewise CRC over the bytes of
// every group of four in the order 3, 2, 1, 0.
uint16_t Crc16AddWord(uint16_t crc, uint32_t word);
// Over length / 4 whole words; trailing bytes are ignored.
uint16_t Crc16OverWords(const uint8_t* data, size_t length, uint16_t initial);

// CRC-32, polynomial 0x04C11DB7, most significant bit first, no reflection,
// no final XOR, started at 0x52325032 ("2P2R" read little-endian). Each
// complete group of four bytes forms a word (little-endian, or big-endian
// when `bigEndianWords`), is XORed into the state, and the state is shifted
// 32 times. A trailing partial group is ignored. Always returns true.
inline constexpr uint32_t kCrc32Initial = 0x52325032;
bool Crc32OverWords(const uint8_t* data, size_t length, bool bigEndianWords, uint32_t& crc);

// The 8-bit sum (modulo 256) of `length` bytes.
uint8_t ByteSum(const uint8_t* data, size_t length);

}  // namespace fwtool
