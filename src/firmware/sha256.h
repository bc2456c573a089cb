// SPDX-License-Identifier: GPL-2.0-or-later
// SHA-256 of the files the program writes into a unit, so that a record of
// an update says exactly which bytes went in (the digest `sha256sum` prints).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace fwtool {

inline constexpr size_t kSha256Size = 32;

// The digest of a message given in any number of pieces.
class Sha256 {
 public:
  Sha256();
  void Update(std::span<const uint8_t> bytes);
  // The digest of everything given so far; the object then starts afresh.
  std::array<uint8_t, kSha256Size> Finish();

 private:
  void Compress(const uint8_t* block);

  std::array<uint32_t, 8> state_{};
  std::array<uint8_t, 64> block_{};
  size_t blockLength_ = 0;
  uint64_t messageLength_ = 0;  // bytes
};

// The digest of `bytes` as 64 lower-case hex digits.
std::string Sha256Hex(std::span<const uint8_t> bytes);

}  // namespace fwtool
