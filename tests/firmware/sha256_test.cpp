// SPDX-License-Identifier: GPL-2.0-or-later
// SHA-256 against the examples of the standard (FIPS 180-2, appendix B, and
// the long messages of its test vectors), given whole and in uneven pieces.
#include "sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fwtool {
namespace {

std::span<const uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

std::string Hex(const std::array<uint8_t, kSha256Size>& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

struct Vector {
  std::string message;
  const char* digest;
};

const std::vector<Vector>& Vectors() {
  static const std::vector<Vector> vectors = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      // 448 bits: the padding no longer fits the first block.
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlm"
       "nopqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  return vectors;
}

TEST(Sha256, DigestsOfTheStandardsExamples) {
  for (const Vector& v : Vectors())
    EXPECT_EQ(Sha256Hex(Bytes(v.message)), v.digest) << v.message.size() << " bytes";
}

TEST(Sha256, PiecesOfEverySizeGiveTheSameDigest) {
  for (const Vector& v : Vectors()) {
    for (size_t piece :
         {size_t{1}, size_t{3}, size_t{55}, size_t{63}, size_t{64}, size_t{65}, size_t{4099}}) {
      Sha256 sha;
      std::span<const uint8_t> rest = Bytes(v.message);
      while (!rest.empty()) {
        const size_t take = std::min(piece, rest.size());
        sha.Update(rest.first(take));
        rest = rest.subspan(take);
      }
      EXPECT_EQ(Hex(sha.Finish()), v.digest) << v.message.size() << " bytes in " << piece;
    }
  }
}

TEST(Sha256, StartsAfreshAfterADigest) {
  Sha256 sha;
  sha.Update(Bytes("something else"));
  sha.Finish();
  sha.Update(Bytes("abc"));
  EXPECT_EQ(Hex(sha.Finish()), Vectors()[1].digest);
}

}  // namespace
}  // namespace fwtool
