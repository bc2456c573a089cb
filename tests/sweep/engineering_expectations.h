// SPDX-License-Identifier: GPL-2.0-or-later
// What each engineering run of the sweep is asked for, worked out by hand
// from the chips' layouts: the bytes the unit's part must hold afterwards,
// from the part as it was and the file programmed.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace fwtool::sweep {

using Bytes = std::vector<uint8_t>;

// What a run must leave in the part: `bytes` over the first `exact` bytes;
// past them every 4 KB sector either as it was or erased (a procedure that
// writes a short image may erase more of the part than the image covers).
struct Expected {
  Bytes bytes;
  size_t exact = 0;
};

// What a run starts from: the part before it, the file it programs (empty
// for an erase), and the unit's disk as the simulator knows it.
struct Given {
  const Bytes& before;
  const Bytes& file;
  uint64_t diskSectors = 0;
  bool runsFromDisk = false;  // the unit booted the firmware in its disk area
};

inline Expected Whole(Bytes bytes) {
  const size_t size = bytes.size();
  return {std::move(bytes), size};
}

// Erase only, "Include 4K NVRAM" ticked: everything erased.
inline Expected AllErased(const Given& g) {
  return Whole(Bytes(g.before.size(), 0xFF));
}

// Erase only with the unit's settings kept: erased but for `length` bytes at
// `at`, which hold what they held.
template <size_t at, size_t length>
inline Expected ErasedButSettings(const Given& g) {
  Bytes bytes(g.before.size(), 0xFF);
  std::copy_n(g.before.begin() + at, length, bytes.begin() + at);
  return Whole(std::move(bytes));
}

// The file as it is, nothing merged, at the start of the part.
inline Expected FileAsItIs(const Given& g) {
  return {g.file, g.file.size()};
}

// The parallel part: the file, then erased cells to the part's end.
inline Expected FileThenErased(const Given& g) {
  Bytes bytes(g.before.size(), 0xFF);
  std::copy(g.file.begin(), g.file.end(), bytes.begin());
  return Whole(std::move(bytes));
}

// The header-area chips keep the unit's first 4 KB (its settings) in front
// of a file that brings none; the file follows them.
inline Expected SettingsThenFile(const Given& g) {
  Bytes bytes(g.before.begin(), g.before.begin() + 4096);
  bytes.insert(bytes.end(), g.file.begin(), g.file.end());
  return {bytes, bytes.size()};
}

// The 1394 bridge: a file of up to 32 KB fills the first half, zero padded;
// the second half (the unit's settings) is not touched.
inline Expected FirstHalfPadded(const Given& g) {
  Bytes bytes = g.before;
  std::fill_n(bytes.begin(), 32768, 0);
  std::copy(g.file.begin(), g.file.end(), bytes.begin());
  return Whole(std::move(bytes));
}

// The staged procedure: the unit's first 4 KB in place of the file's, the
// image zero padded to a whole 8 KB.
inline Expected StagedImage(const Given& g) {
  Bytes bytes((g.file.size() + 8191) / 8192 * 8192, 0);
  std::copy(g.file.begin(), g.file.end(), bytes.begin());
  std::copy_n(g.before.begin(), 4096, bytes.begin());
  return {bytes, bytes.size()};
}

// The disk area: the file, zero padded to whole 64 KB blocks, with the
// location marker at bytes 150..155: 55, the anchor's four bytes most
// significant first, AA. The anchor is the one the controller goes by: that
// of the marker it booted from, else the disk's last sector. Blocks past the
// file are not touched.
inline Expected AreaProgrammed(const Given& g) {
  Bytes bytes = g.before;
  std::fill_n(bytes.begin(), (g.file.size() + 65535) / 65536 * 65536, 0);
  std::copy(g.file.begin(), g.file.end(), bytes.begin());
  if (g.runsFromDisk) {
    std::copy_n(g.before.begin() + 150, 6, bytes.begin() + 150);
  } else {
    const uint64_t anchor = g.diskSectors - 1;
    bytes[150] = 0x55;
    for (int i = 0; i < 4; ++i) bytes[151 + i] = static_cast<uint8_t>(anchor >> (24 - 8 * i));
    bytes[155] = 0xAA;
  }
  return Whole(std::move(bytes));
}

// The area cleared: its first 64 KB zero but for the location marker, which
// the controller that keeps its firmware there needs to find it again.
inline Expected AreaCleared(const Given& g) {
  Bytes bytes = g.before;
  std::fill_n(bytes.begin(), 65536, 0);
  std::copy_n(g.before.begin() + 150, 6, bytes.begin() + 150);
  return Whole(std::move(bytes));
}

// Type 12's region: the file, zero padded to 64 KB, with the CRC-32 of its
// code area (polynomial 04C11DB7, most significant bit first, start value
// 52325032, no final inversion, fed the 32-bit little-endian words of
// 0..BFFB most significant byte first) stored little-endian at BFFC.
inline uint32_t RegionCrc(const Bytes& region) {
  uint32_t crc = 0x52325032;
  for (size_t at = 0; at < 0xBFFC; at += 4) {
    for (int b = 3; b >= 0; --b) {
      crc ^= static_cast<uint32_t>(region[at + static_cast<size_t>(b)]) << 24;
      for (int bit = 0; bit < 8; ++bit)
        crc = (crc & 0x80000000u) != 0 ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
  }
  return crc;
}

inline Expected RegionProgrammed(const Given& g) {
  Bytes bytes(65536, 0);
  std::copy(g.file.begin(), g.file.end(), bytes.begin());
  const uint32_t crc = RegionCrc(bytes);
  for (int i = 0; i < 4; ++i)
    bytes[0xBFFC + static_cast<size_t>(i)] = static_cast<uint8_t>(crc >> (8 * i));
  return Whole(std::move(bytes));
}

}  // namespace fwtool::sweep
