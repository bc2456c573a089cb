// SPDX-License-Identifier: GPL-2.0-or-later
// A unit's interface held open for an operation: what other programs see,
// and how a unit that leaves in the middle fails.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "device_session.h"
#include "identify.h"
#include "pass_through.h"
#include "sim_fixture.h"

namespace fwtool::sim::testing {
namespace {

using ::testing::EndsWith;

class HeldUnit : public SimFixture {
 protected:
  // A command from another program: straight to the unit, on an open of its own.
  PassThroughResult Foreign(DataDirection direction) {
    PassThroughRequest request;
    request.path = Path();
    request.cdb = {0x12, 0, 0, 0, 36};
    request.cdbLength = 6;
    request.direction = direction;
    request.exclusive = direction == DataDirection::Out;
    if (direction == DataDirection::In) {
      request.length = 36;
      request.data = buffer_.data();
    }
    return farm->Execute(request);
  }
  int Inquiry() {
    std::vector<uint8_t> data(36);
    return In(Block({0x12, 0, 0, 0, 36}), data);
  }
  const InterfaceOpens& Opens() { return farm->Unit(0).opens[0]; }

  std::array<uint8_t, 36> buffer_{};
};

TEST_F(HeldUnit, AnExclusiveSessionOpensOnceAndKeepsOtherProgramsOut) {
  Build("vqb719");
  const uint64_t before = Opens().total;
  {
    const DeviceSession session(Path(), SessionAccess::Exclusive);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(Inquiry(), 1);
    EXPECT_EQ(Opens().total, before + 1);
    EXPECT_EQ(Opens().exclusive, 1);
    const PassThroughResult refused = Foreign(DataDirection::In);
    EXPECT_FALSE(refused.opened);
    EXPECT_EQ(refused.detail, "in use by another program");
    EXPECT_EQ(CategoryOf(refused), ResultCategory::CannotOpen);
  }
  EXPECT_EQ(Opens().exclusive, 0);
  EXPECT_TRUE(Foreign(DataDirection::In).Succeeded());
  EXPECT_EQ(Unit().Log().size(), 5u) << "the refused command never reached the unit";
}

TEST_F(HeldUnit, ASharedSessionLetsOthersReadButNotWrite) {
  Build("vqb719");
  const DeviceSession session(Path(), SessionAccess::Shared);
  EXPECT_EQ(Inquiry(), 1);
  EXPECT_EQ(Opens().shared, 1);
  EXPECT_TRUE(Foreign(DataDirection::In).Succeeded());
  EXPECT_EQ(Foreign(DataDirection::Out).detail, "in use by another program");
}

TEST_F(HeldUnit, AUnitThatVanishesFailsEveryFurtherCommandAsWithoutASession) {
  auto run = [&](bool held) {
    Build("vqb719:vanish=3");
    std::vector<std::string> lines;
    const auto previous = SetCommandTrace([&](const CommandTraceRecord& r) {
      lines.push_back(FormatTraceRecord(r) + " / " + CategoryName(CategoryOf(r.result)));
    });
    {
      std::optional<DeviceSession> session;
      if (held) session.emplace(Path(), SessionAccess::Exclusive);
      for (int i = 0; i < 5; ++i) Inquiry();
    }
    SetCommandTrace(previous);
    return lines;
  };
  const std::vector<std::string> alone = run(false);
  const std::vector<std::string> inSession = run(true);
  EXPECT_EQ(inSession, alone);
  ASSERT_EQ(alone.size(), 5u);
  EXPECT_THAT(alone[1], ::testing::HasSubstr("-> ok"));
  for (size_t i = 2; i < 5; ++i)
    EXPECT_THAT(alone[i], EndsWith("-> cannot open: no such device / cannot open")) << i;
}

}  // namespace
}  // namespace fwtool::sim::testing
