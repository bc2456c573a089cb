// SPDX-License-Identifier: GPL-2.0-or-later
// Each operation of the form opens a unit once: the update and "Run" for
// themselves, a refresh of one device shared.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "pass_through.h"
#include "sim_form_fixture.h"

namespace fwtool::testing {
namespace {

class OperationSession : public SimFormTest {
 protected:
  const sim::InterfaceOpens& Opens() { return farm->Unit(0).opens[0]; }

  // An INQUIRY from another program, straight to the unit on an open of its own.
  PassThroughResult Foreign() {
    PassThroughRequest request;
    request.path = farm->Unit(0).diskPath;
    request.cdb = {0x12, 0, 0, 0, 36};
    request.cdbLength = 6;
    request.length = 36;
    request.data = answer.data();
    return farm->Execute(request);
  }

  std::array<uint8_t, 36> answer{};
};

TEST_F(OperationSession, TheUpdateOpensTheUnitOnceAndNoOtherProgramGetsIn) {
  Build("vqb719");
  TV77xFwTool& f = Open((dir / "backup.bin").string());
  const uint64_t before = Opens().total;
  size_t commands = 0;
  std::optional<PassThroughResult> duringWrite;
  int exclusiveDuringWrite = 0;
  const auto previous = SetCommandTrace([&](const CommandTraceRecord&) {
    if (++commands == 40) {
      exclusiveDuringWrite = Opens().exclusive;
      duringWrite = Foreign();
    }
  });
  f.EraseButton.Click();
  SetCommandTrace(previous);

  EXPECT_EQ(f.Face(), OneClickFace::Done);
  ASSERT_GT(commands, 40u);
  EXPECT_EQ(Opens().total, before + 1) << "one open for " << commands << " commands";
  EXPECT_EQ(exclusiveDuringWrite, 1);
  ASSERT_TRUE(duringWrite);
  EXPECT_FALSE(duringWrite->opened);
  EXPECT_EQ(duringWrite->detail, "in use by another program");
  EXPECT_EQ(Opens().exclusive + Opens().shared, 0) << "closed when the update ends";
  EXPECT_TRUE(Foreign().Succeeded());
}

TEST_F(OperationSession, ARefreshOpensEachDeviceForItsOwnQuestions) {
  Build("vqb719,vqb719:fw=embedded");
  TV77xFwTool& f = Open();
  const uint64_t first = farm->Unit(0).opens[0].total;
  const uint64_t second = farm->Unit(1).opens[0].total;
  size_t commands = 0;
  const auto previous = SetCommandTrace([&](const CommandTraceRecord&) { ++commands; });
  f.RefreshBtnClick(f.RefreshBtn);
  SetCommandTrace(previous);
  // Shared for the questions, once more exclusively from the host-link
  // command on, and once for the check of the selected entry.
  EXPECT_GT(commands, 10u);
  EXPECT_EQ(farm->Unit(0).opens[0].total - first, 3u);
  EXPECT_EQ(farm->Unit(1).opens[0].total - second, 2u);
}

// A re-plug between the listing and the write that gives another unit the
// listed node: the unit is asked again on the node the write would go to,
// and the other unit is left as it was.
TEST_F(OperationSession, AnotherUnitOnTheListedPathIsNotWritten) {
  struct Case {
    const char* name;
    const char* listed;
    const char* swappedIn;
    bool oneClick;  // "YES", else "Run" with "Erase All Flash Only"
    const char* notice;
  };
  const Case cases[] = {
      {"update", "vqb719", "vqs175", true,
       "The device at sim:usbsto#disk&ven_talve&prod_vqb719#0 is not the unit that was listed "
       "(\"Talve   VQB719 Bridge\", chip 8.0; now \"Talve   VQS175 Bridge\", chip 12.0); "
       "nothing was written to it."},
      {"run", "vqs175", "vqb719", false,
       "The device at sim:usbsto#disk&ven_talve&prod_vqs175#0 is not the unit that was listed "
       "(\"Talve   VQS175 Bridge\", chip 12.0; now \"Talve   VQB719 Bridge\", chip 8.0); "
       "nothing was written to it."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Build(c.listed);
    TV77xFwTool& f = Open((dir / (std::string(c.name) + ".bin")).string());
    ASSERT_EQ(f.ListedCount(), 1);
    std::string error;
    ASSERT_TRUE(farm->SwapUnit(0, c.swappedIn, &error)) << error;
    const Bytes before = Flash();
    farm->Controller(0).ClearLog();
    if (c.oneClick) {
      f.EraseButton.Click();
      EXPECT_EQ(f.Face(), OneClickFace::Failed);
      EXPECT_EQ(f.Notice().substr(0, f.Notice().find(" Flash contents")), c.notice);
    } else {
      f.ShowEngineeringFace();
      f.EraseOnlyCheck.SetChecked(true);
      f.UpdateBtnClick(f.UpdateBtn);
      EXPECT_TRUE(f.LastRun().ran);
      EXPECT_EQ(f.LastRun().result, 0);
      EXPECT_EQ(f.Notice(), c.notice);
    }
    EXPECT_EQ(Flash(), before);
    EXPECT_EQ(farm->Controller(0).Flash().Statistics().operations, 0u) << "nothing erased";
    const auto log = Log();
    EXPECT_EQ(std::count_if(log.begin(), log.end(), IsFlashWrite), 0)
        << "no flash write reached the unit";
  }
}

// The same kind of unit plugged in again answers as the listed one did: the
// check passes and the update goes on (INQUIRY and the chip identification
// are what tells units apart).
TEST_F(OperationSession, TheListedUnitPluggedInAgainIsUpdated) {
  Build("vqb719");
  TV77xFwTool& f = Open((dir / "again.bin").string());
  std::string error;
  ASSERT_TRUE(farm->SwapUnit(0, "vqb719", &error)) << error;
  f.EraseButton.Click();
  EXPECT_EQ(f.Face(), OneClickFace::Done);
}

}  // namespace
}  // namespace fwtool::testing
