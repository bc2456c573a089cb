// SPDX-License-Identifier: GPL-2.0-or-later
// What the units answer to the identification questions: the bytes the
// program reads from INQUIRY, the configuration word, the chip information,
// the chip id string and the revision register; and, for every profile
// variant, that those answers lead the identification rules to the type and
// sub-revision the profile claims.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "command_block.h"
#include "flash_commands.h"
#include "sim_fixture.h"
#include "transport.h"

namespace fwtool::sim::testing {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(std::string_view text) {
  return Bytes(text.begin(), text.end());
}
Bytes Slice(const Bytes& data, size_t from, size_t count) {
  return Bytes(data.begin() + from, data.begin() + from + count);
}

class IdentificationAnswersTest : public SimFixture {};

TEST_F(IdentificationAnswersTest, TheBytesEachChipReports) {
  Build(
      "vqb719,vqb711,chip=1:rev=2,chip=16:rev=1,chip=6:rev=1,chip=21,chip=19,chip=11:rev=5,"
      "chip=7:rev=2");
  const auto inquiry = Block({0x12, 0, 0, 0, 40});
  const auto chipInfo = Block({0xE0, 0xF4, 0xE7});
  const auto idString = Block({0xFF, 0x04, 0x30, 0x08});
  uint32_t moved = 0;
  Bytes data(40);

  // VQB719: no INQUIRY token; chip information with the running version.
  ASSERT_EQ(In(inquiry, data, 0, &moved), 1);
  EXPECT_EQ(moved, 36u);
  EXPECT_EQ(data[0], 0x00) << "a disk";
  EXPECT_EQ(Slice(data, 8, 8), Text("Talve   "));
  EXPECT_EQ(Slice(data, 16, 16), Text("VQB719 Bridge   "));
  EXPECT_EQ(Slice(data, 36, 4), Bytes(4, 0));
  Bytes info(16);
  ASSERT_EQ(In(chipInfo, info, 0, &moved), 1);
  EXPECT_EQ(moved, 16u);
  EXPECT_EQ(info,
            (Bytes{0xF4, 0xE7, 0x3A, 0x41, 0x07, 0x19, 5, 3, '7', '1', '9', '0', 1, 16, 0, 0}));
  Bytes config(2);
  EXPECT_EQ(In(Block({0xDF, 0x10, 0x00, 0x00, 0x02, 0, 0, 0, 0, 0, 0, 0xFF}), config), 1);

  // VQB711: the token "v711".
  ASSERT_EQ(In(inquiry, data, 1, &moved), 1);
  EXPECT_EQ(moved, 40u);
  EXPECT_EQ(Slice(data, 36, 4), Text("v711"));

  // Type 1 revision 2: "v771" in INQUIRY, "v771C" and '1' in the id string.
  ASSERT_EQ(In(inquiry, data, 2), 1);
  EXPECT_EQ(Slice(data, 36, 4), Text("v771"));
  ASSERT_EQ(In(idString, data, 2), 1);
  EXPECT_EQ(Slice(data, 0, 6), Text("v771C1"));

  // Type 16: INQUIRY says 775, the id string "v775E" with a raw revision byte.
  ASSERT_EQ(In(inquiry, data, 3), 1);
  EXPECT_EQ(Slice(data, 36, 4), Text("v775"));
  ASSERT_EQ(In(idString, data, 3), 1);
  EXPECT_EQ(Slice(data, 0, 5), Text("v775E"));
  EXPECT_EQ(data[5], 0);

  // Type 6 revision 1: "v716" with a zero revision byte.
  ASSERT_EQ(In(idString, data, 4), 1);
  EXPECT_EQ(Slice(data, 0, 4), Text("v716"));
  EXPECT_EQ(data[5], 0);

  // Type 21: its USB ids.
  ASSERT_EQ(In(chipInfo, info, 5, &moved), 1);
  EXPECT_EQ(moved, 12u);
  EXPECT_EQ(Slice(info, 0, 6), (Bytes{0xF4, 0xE7, 0x81, 0x6C, 0x67, 0x79}));

  // Type 19: the member number in bits 5-6 of the configuration word, and
  // chip information without the signature.
  ASSERT_EQ(In(Block({0xDF, 0x10, 0x00, 0x00, 0x02, 0, 0, 0, 0, 0, 0, 0xFF}), config, 6), 1);
  EXPECT_EQ((config[0] >> 5) & 3, 2);
  info.assign(16, 0xEE);
  ASSERT_EQ(In(chipInfo, info, 6), 1);
  EXPECT_FALSE(info[0] == 0xF4 && info[1] == 0xE7);

  // Type 11 revision 5: revision register 0xB4 or above.
  Bytes revision(4);
  ASSERT_EQ(ReadMemory(Path(7), revision.data(), 0xFDB0, 4), 1);
  EXPECT_GE(revision[1], 0xB4);

  // Type 7 revision 2: "2" in byte 11 of the 12-byte chip information.
  Bytes shortInfo(12);
  ASSERT_EQ(In(chipInfo, shortInfo, 8), 1);
  EXPECT_EQ(shortInfo[11], '2');
}

// The identification rules, restated over the bytes the units answer.
struct Identified {
  int type = 0;
  int subRev = 0;
  bool box = false;
};

class Identifier {
 public:
  explicit Identifier(SimFixture* fixture, std::string path) : path_(std::move(path)) {
    (void)fixture;
  }

  Identified Run() {
    static const char* kModels[22] = {"",    "771", "779", "773", "775", "765", "716", "717",
                                      "719", "719", "713", "118", "175", "713", "185", "145",
                                      "775", "773", "772", "775", "771", "779"};
    auto searchModel = [&](const uint8_t* three) {
      for (int n = 1; n <= 21; ++n)
        if (std::equal(three, three + 3, kModels[n])) return n;
      return 0;
    };
    int t = 0;
    int r = 0;
    bool box = false;
    Bytes inquiry(40);
    if (In(Block({0x12, 0, 0, 0, 40}), inquiry)) {
      if (inquiry[36] == 'v') t = searchModel(&inquiry[37]);
      if (t == 0 && Bytes(inquiry.begin() + 36, inquiry.end()) == Bytes{'v', '7', '1', '1'}) t = 8;
      Bytes config(2);
      Bytes info(16);
      if (t == 0 && In(Block({0xDF, 0x10, 0, 0, 0x02, 0, 0, 0, 0, 0, 0, 0xFF}), config) &&
          In(Block({0xE0, 0xF4, 0xE7}), info)) {
        if (info[0] == 0xF4 && info[1] == 0xE7) {
          const std::string vendor = fmt::format("{:X}{:X}", info[2], info[3]);
          const std::string product = fmt::format("{:X}{:X}", info[4], info[5]);
          if (vendor.find("816C") != std::string::npos &&
              product.find("6779") != std::string::npos) {
            t = 21;
          } else {
            t = searchModel(&info[8]);
            if (t == 0 && std::equal(&info[8], &info[11], "711")) t = 8;
            r = static_cast<uint8_t>(info[11] - 0x30);
          }
        } else {
          t = 17 + ((config[0] >> 5) & 3);
        }
      }
    }
    if (t == 0 || t == 1 || t == 3 || t == 4 || t == 6 || t == 10 || t == 14) {
      Bytes id(40);
      if (In(Block({0xFF, 0x04, 0x30, 0x08}), id)) {
        const uint8_t c = id[5];
        auto is = [&](std::string_view token) {
          return std::equal(token.begin(), token.end(), id.begin());
        };
        if (is("v771C"))
          t = 1, r = static_cast<uint8_t>(c - 0x2F);
        else if (is("v775C"))
          t = 4, r = static_cast<uint8_t>(c - 0x2F);
        else if (is("v775E"))
          t = 16, r = static_cast<uint8_t>(c + 1);
        else if (is("v185A"))
          t = 14, r = static_cast<uint8_t>(c - 0x2F);
        else if (is("v716"))
          t = 6, r = c == 0 ? 1 : static_cast<uint8_t>(c - 0x2F);
        else if (is("v6713"))
          t = 10, r = static_cast<uint8_t>(c - 0x2F);
      } else if (t == 1) {
        r = 1;
      }
    } else if (t == 7) {
      Bytes info(12);
      if (!In(Block({0xE0, 0xF4, 0xE7}), info) || info[0] != 0xF4 || info[1] != 0xE7 ||
          (info[11] != '1' && info[11] != '2'))
        box = true;
      else
        r = info[11] - '0';
    } else if (t == 11) {
      Bytes revision(4);
      if (ReadMemory(path_, revision.data(), 0xFDB0, 4) && revision[1] >= 0xB4) r = 5;
    }
    return {t, r, box};
  }

 private:
  int In(const Bytes& block, Bytes& data) {
    return SendCommandIn(path_, block.data(), 12, data.data(), static_cast<uint32_t>(data.size()),
                         nullptr);
  }
  std::string path_;
};

TEST_F(IdentificationAnswersTest, EveryVariantLeadsTheRulesToTheTypeItClaims) {
  const auto variants = ChipVariants();
  std::string description;
  for (const auto& [type, rev] : variants)
    description += fmt::format("{}chip={}:rev={}", description.empty() ? "" : ",", type, rev);
  Build(description);
  std::set<int> reported;
  for (size_t i = 0; i < variants.size(); ++i) {
    const ChipProfile& profile = Unit(i).Profile();
    SCOPED_TRACE(fmt::format("type {} rev {}", profile.type, profile.subRev));
    const Identified got = Identifier(this, Path(i)).Run();
    EXPECT_EQ(got.type, profile.reportsType);
    EXPECT_EQ(got.subRev, profile.reportsSubRev);
    EXPECT_EQ(got.box, profile.identificationShowsBox);
    reported.insert(got.type);
  }
  // Every type but 9 and 13 is reachable.
  for (int type = 1; type <= 21; ++type)
    EXPECT_EQ(reported.count(type), type == 9 || type == 13 ? 0u : 1u) << type;
}

TEST(ChipProfileTest, NamesAndNumbersMeetTheSameProfiles) {
  EXPECT_EQ(ChipTypeFromName("vqb719"), 8);
  EXPECT_EQ(ChipTypeFromName("VQS118"), 11);
  EXPECT_EQ(ChipTypeFromName("vqb711"), 8);
  EXPECT_FALSE(ChipTypeFromName("vqb999"));
  const ChipProfile p = ChipProfileFor(12, 1);
  EXPECT_EQ(p.label, "VQS175 Series");
  EXPECT_EQ(p.reportsType, 12);
  EXPECT_EQ(p.reportsSubRev, 1);
  EXPECT_EQ(ChipProfileFor(9).reportsType, 8);
  EXPECT_EQ(ChipProfileFor(13, 2).reportsType, 10);
  EXPECT_EQ(ChipProfileFor(0).type, 0);
}

}  // namespace
}  // namespace fwtool::sim::testing
