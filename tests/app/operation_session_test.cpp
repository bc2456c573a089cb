// Each operation of the form opens a unit once: the update and "Run" for
// themselves, a refresh of one device shared.
#include <gtest/gtest.h>

#include <optional>
#include <string>

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

}  // namespace
}  // namespace fwtool::testing
