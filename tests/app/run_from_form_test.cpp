// SPDX-License-Identifier: GPL-2.0-or-later
// "Run" on the engineering face from the information check on: a type-10
// unit whose file is bigger than its flash is refused with a box and "Run"
// stays disabled; an SST part that answers BF 25 sends the unit to the paged
// procedure with word programming.
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
using testing::Pattern;
using testing::SimFormTest;

class RunFromIdentification : public SimFormTest {
 protected:
  std::string WriteFile(const Bytes& bytes) {
    return testing::WriteFile(dir / "firmware.bin", bytes);
  }
  void Load(TV77xFwTool& f, const Bytes& bytes) {
    op.fileAnswers.push_back(WriteFile(bytes));
    f.LoadBtnClick(f.LoadBtn);
  }
  size_t SpiInstructions(uint8_t opcode) {
    size_t n = 0;
    for (const auto& c : Unit().Log())
      n += c[0] == 0xFF && c[1] == 0x04 && c[2] == 0x20 && c[5] == opcode;
    return n;
  }
};

// A type-10 file (E9 AC 67 "713" at 0x80) one byte larger than the 64 KB
// part: the box, nothing written, "Run" left disabled until something
// changes.
TEST_F(RunFromIdentification, AType10FileBiggerThanTheFlashIsRefused) {
  Build("vqb713:maker=mxic:size=64");
  auto& f = Open();
  f.ShowEngineeringFace();
  ASSERT_EQ(f.ChipType, 10);
  ASSERT_EQ(f.FlashSizeKB, 64);
  Bytes file = Pattern(65537, 10);
  const Bytes block = {0xE9, 0xAC, 0x67, 0x32, '7', '1', '3', '0'};
  std::copy(block.begin(), block.end(), file.begin() + 0x80);
  Load(f, file);
  ASSERT_TRUE(f.RunAvailable());
  const Bytes before = Flash();
  op.shown.clear();
  f.UpdateBtnClick(f.UpdateBtn);
  EXPECT_FALSE(f.LastRun().ran);
  ASSERT_EQ(op.shown.size(), 1u);
  EXPECT_EQ(op.shown[0].text, "The firmware file size is bigger than the flash size!");
  EXPECT_EQ(op.shown[0].caption, "Message");
  EXPECT_FALSE(f.RunAvailable());
  EXPECT_TRUE(Flash() == before);
  EXPECT_TRUE(f.LastRun().backupFile.empty());  // no copy taken for a run that never started

  // One byte less fits: the same unit takes it.
  file.resize(65536);
  Load(f, file);
  f.UpdateBtnClick(f.UpdateBtn);
  EXPECT_TRUE(f.LastRun().ran);
  EXPECT_EQ(f.StatusEdit.Text(), "Programming Success!!");
}

// A type-11 unit of revision 5 with a 256 KB SST part that answers BF 25:
// the check sets the alternative procedure, "Run" picks the paged one, and
// the pages go in with AAI word programming (0xAD), none with page program.
TEST_F(RunFromIdentification, AnSstPartAnsweringBf25IsProgrammedPageByPageInWords) {
  Build("vqs118:rev=5:maker=sst:size=256");
  auto& f = Open();
  f.ShowEngineeringFace();
  ASSERT_EQ(f.AltFlashProc, 1u);
  const Bytes file = Pattern(40960, 11);
  Load(f, file);
  Unit().ClearLog();
  op.questionAnswers = {true};  // a pattern, not a file made for the chip: Yes
  f.UpdateBtnClick(f.UpdateBtn);
  EXPECT_EQ(f.LastRun().procedure, ProcedureTag::Paged);
  EXPECT_EQ(f.StatusEdit.Text(), "Programming Success!!");
  // Three 16 KB pages: the file and 8 KB of zeros.
  Bytes expected = file;
  expected.resize(49152, 0x00);
  const Bytes flash = Flash();
  EXPECT_TRUE(Bytes(flash.begin(), flash.begin() + 49152) == expected);
  EXPECT_GT(SpiInstructions(0xAD), 0u);
  EXPECT_EQ(SpiInstructions(0x02), 0u);
}

// The copy before the run reads with "ReadFlash..." and its dots; the basic
// procedure appends one dot per block it programs to the status line, which
// must start empty again once the copy is saved.
TEST_F(RunFromIdentification, TheProcedureCountsItsBlocksOnAClearStatusLineAfterTheCopy) {
  Build("vq64771:maker=mxic");
  auto& f = Open((dir / "copy.bin").string());
  f.ShowEngineeringFace();
  std::vector<std::string> seen;
  op.onProcessMessages = [&] {
    if (seen.empty() || seen.back() != f.StatusEdit.Text()) seen.push_back(f.StatusEdit.Text());
  };
  RunRequest request;
  request.firmwareFile = WriteFile(Pattern(20000, 1));
  request.otherChipFile = true;
  const RunOutcome run = f.Run(request);
  op.onProcessMessages = nullptr;
  ASSERT_EQ(run.result, 1) << f.StatusEdit.Text();
  EXPECT_EQ(ReadFile(dir / "copy.bin").size(), 65536u);
  // 20,000 bytes make a 32 KB image: four 8 KB blocks.
  const auto dots = std::find(seen.begin(), seen.end(), ".");
  ASSERT_NE(dots, seen.end());
  EXPECT_EQ(std::vector<std::string>(dots, dots + std::min<std::ptrdiff_t>(4, seen.end() - dots)),
            (std::vector<std::string>{".", "..", "...", "...."}));
  for (auto it = dots; it != seen.end(); ++it) EXPECT_EQ(it->find("ReadFlash"), std::string::npos);
}

// A file whose signature names chip "719", on a VQS118 unit (type 11): the
// box at "Load File" as ever, and then "Run" asks before it writes, naming
// the file and the chip. No keeps the unit as it was; Yes programs it.
TEST_F(RunFromIdentification, AFileForAnotherChipIsWrittenOnlyAfterTheOperatorSaysYes) {
  Bytes file = Pattern(40960, 19);
  const Bytes signature = {0x55, 0xAA, 0xAA, 0x55, '7', '1', '9', '0', 0, 0};
  std::copy(signature.begin(), signature.end(), file.begin());
  for (const bool yes : {false, true}) {
    SCOPED_TRACE(yes ? "Yes" : "No");
    Build("vqs118:rev=5");
    auto& f = Open();
    f.ShowEngineeringFace();
    ASSERT_EQ(f.ChipType, 11);
    op.shown.clear();
    Load(f, file);
    ASSERT_FALSE(op.shown.empty());
    EXPECT_EQ(op.shown.front().text, "The firmware file seems not match this chip!");
    ASSERT_TRUE(f.RunAvailable());  // "Load File" enables it again
    const Bytes before = Flash();
    op.shown.clear();
    op.questionAnswers = {yes};
    Unit().ClearLog();
    const RunOutcome run = f.Run(RunRequest{});
    ASSERT_FALSE(op.shown.empty());
    EXPECT_EQ(op.shown[0].kind, RecordingOperator::Kind::Question);
    EXPECT_EQ(op.shown[0].text, "The firmware file " + (dir / "firmware.bin").string() +
                                    " does not seem to be made for this VQS118/175 Series unit. A "
                                    "unit programmed with another chip's firmware may not start "
                                    "again. Program it anyway?");
    EXPECT_EQ(op.shown[0].caption, "Message");
    EXPECT_EQ(run.ran, yes);
    EXPECT_EQ(run.otherChipFileRefused, !yes);
    if (yes) {
      EXPECT_EQ(f.StatusEdit.Text(), "Programming Success!!");
      EXPECT_FALSE(Flash() == before);
    } else {
      EXPECT_EQ(f.StatusEdit.Text(),
                "The firmware file does not match this chip: nothing written.");
      EXPECT_TRUE(Flash() == before);
      EXPECT_TRUE(run.backupFile.empty());
      for (const auto& c : Unit().Log()) EXPECT_NE(c.direction, DataDirection::Out);
    }
  }
}

}  // namespace
}  // namespace fwtool
