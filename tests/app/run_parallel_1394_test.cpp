// SPDX-License-Identifier: GPL-2.0-or-later
// "Run" on the form for the parallel flash units and the 1394 bridge: the
// part chosen in "Flash Type" and the "A1 Chip" box reach the procedure, and
// a type-7 unit on an sbp2 path is written in 256-byte blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "byte_pattern.h"
#include "sim_form_fixture.h"
#include "temp_files.h"

namespace fwtool {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::CountBlocks;
using testing::IsFlashWrite;
using testing::Pattern;
using testing::SimFormTest;

class RunFromForm : public SimFormTest {
 protected:
  std::string WriteFile(const Bytes& bytes) {
    return testing::WriteFile(dir / "firmware.bin", bytes);
  }
  void Load(TV77xFwTool& f, const std::string& file) {
    op.fileAnswers.push_back(file);
    f.LoadBtnClick(f.LoadBtn);
  }
};

TEST_F(RunFromForm, FlashTypeAndA1ChipReachTheParallelProcedure) {
  Build("vq64779:parallel=pmc:a1");
  auto& f = Open();
  ASSERT_EQ(f.ChipType, 2);
  f.ShowEngineeringFace();
  ASSERT_TRUE(f.FlashTypeList.Visible());
  ASSERT_TRUE(f.A1ChipCheck.Visible());
  const Bytes file = Pattern(20000, 2);
  Load(f, WriteFile(file));
  f.FlashTypeList.SetItemIndex(1);  // "PMC OM39LV512"
  f.A1ChipCheck.SetChecked(true);
  op.questionAnswers = {true};  // a pattern, not a file made for the chip: Yes
  f.UpdateBtnClick(f.UpdateBtn);
  EXPECT_EQ(f.StatusEdit.Text(), "Programming & Compare Success!!");
  EXPECT_EQ(CountBlocks(Log(), {0xFF, 0x04, 0x05}), 0u);
  Bytes expected(65536, 0xFF);
  std::copy(file.begin(), file.end(), expected.begin());
  EXPECT_TRUE(farm->Controller(0).Parallel()->Contents() == expected);
}

TEST_F(RunFromForm, Type7OnSbp2IsWrittenInQuarterKilobyteBlocks) {
  Build("vqb717:bus=sbp2");
  auto& f = Open();
  ASSERT_EQ(f.ChipType, 7);
  f.ShowEngineeringFace();
  const Bytes file = Pattern(65536, 7);
  Load(f, WriteFile(file));
  op.questionAnswers = {true};  // a pattern, not a file made for the chip: Yes
  f.UpdateBtnClick(f.UpdateBtn);
  EXPECT_EQ(f.StatusEdit.Text(), "Programming Success!!");
  size_t writes = 0;
  for (const auto& c : Log()) {
    if (!IsFlashWrite(c)) continue;
    ++writes;
    EXPECT_EQ(c.length, 256u);
  }
  EXPECT_EQ(writes, 256u);
  // A 64 KB file brings the settings area at 0x8000 with it.
  EXPECT_TRUE(Flash() == file);
}

}  // namespace
}  // namespace fwtool
