// SPDX-License-Identifier: GPL-2.0-or-later
// The operator's word on the chip type: a VQS175/713 unit identifies as type
// 10, and only once the operator says 13 does the form check it over ATA
// PASS-THROUGH and run the staged procedure on it. The word holds for the
// units that identify as type 10 and for no other.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "byte_pattern.h"
#include "sim_form_fixture.h"

namespace fwtool {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::Pattern;
using testing::SimFormTest;

class ChipTypeSaid : public SimFormTest {};

TEST_F(ChipTypeSaid, AUnitThatIdentifiesAsType10IsCheckedAndRunAsType13) {
  Build("vqs713:maker=winbond:size=128");
  auto& f = Open();
  f.ShowEngineeringFace();
  ASSERT_EQ(f.ChipType, 10);
  EXPECT_EQ(f.ChipLabelEdit.Text(), "VQB713 Series");

  ASSERT_TRUE(f.SayChipType({.chipType = 13}));
  EXPECT_EQ(f.ChipType, 13);
  EXPECT_EQ(f.ChipLabelEdit.Text(), "VQS175/713 Series");
  // The part as the unit's description fits it, found over ATA PASS-THROUGH.
  EXPECT_EQ(f.SFlashTypeLable.Text(), "WINBOND");
  EXPECT_EQ(f.FlashSizeKB, 128);

  // A hand-made file that brings its own settings area (E9 AC 67 32 "7130"
  // at 0x80): with "Include 4K NVRAM" ticked it is written as it is.
  Bytes file = Pattern(40000, 13);
  const Bytes block = {0xE9, 0xAC, 0x67, 0x32, '7', '1', '3', '0'};
  std::copy(block.begin(), block.end(), file.begin() + 0x80);
  const auto path = dir / "firmware.bin";
  {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(file.data()),
              static_cast<std::streamsize>(file.size()));
  }
  op.fileAnswers.push_back(path.string());
  f.LoadBtnClick(f.LoadBtn);
  ASSERT_TRUE(f.RunAvailable());
  f.UpdateBtnClick(f.UpdateBtn);

  EXPECT_EQ(f.LastRun().procedure, ProcedureTag::Staged);
  EXPECT_EQ(f.StatusEdit.Text(), "Programming Success!!");
  Bytes expected = file;
  expected.resize(40960, 0x00);
  expected.resize(131072, 0xFF);
  EXPECT_TRUE(Flash() == expected);
}

TEST_F(ChipTypeSaid, TheWordHoldsOnlyForTheUnitsThatIdentifyAsItsType) {
  Build("vqb719,vqs713");
  auto& f = Open();
  ASSERT_TRUE(f.SayChipType({.chipType = 13}));
  EXPECT_EQ(f.ChipType, 8);  // entry 0 is the type-8 unit
  ASSERT_TRUE(f.SelectUnit(1));
  EXPECT_EQ(f.ChipType, 13);

  // A type identification tells is no word to take: nothing changes.
  for (const int type : {-1, 10, 12, 22}) {
    EXPECT_FALSE(f.SayChipType({.chipType = type})) << type;
    EXPECT_EQ(f.SaidChipType(), 13) << type;
  }
  // Said back: the unit is what it identifies as.
  ASSERT_TRUE(f.SayChipType({}));
  EXPECT_EQ(f.ChipType, 10);
}

}  // namespace
}  // namespace fwtool
