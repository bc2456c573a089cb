// SPDX-License-Identifier: GPL-2.0-or-later
// Identification of every simulated controller variant: the chip type and
// sub-revision that the controller's answers lead to, and the one box that
// identification may show.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include "identify.h"
#include "recording_operator.h"
#include "sim_fixture.h"

namespace fwtool {
namespace {

using sim::testing::SimFixture;

class IdentifySimulated : public SimFixture {};

TEST_F(IdentifySimulated, EveryVariantIdentifiesAsItsProfileSays) {
  const auto variants = sim::ChipVariants();
  ASSERT_FALSE(variants.empty());
  for (const auto& [type, subRev] : variants) {
    const auto profile = sim::ChipProfileFor(type, subRev);
    const std::string description = fmt::format("chip={}:rev={}", type, subRev);
    Build(description);
    RecordingOperator op;
    const uint16_t id = IdentifyChip(op, Path());
    EXPECT_EQ(ChipTypeOf(id), profile.reportsType) << description;
    EXPECT_EQ(ChipSubRevOf(id), profile.reportsSubRev) << description;
    if (profile.identificationShowsBox) {
      ASSERT_EQ(op.shown.size(), 1u) << description;
      EXPECT_EQ(op.shown[0].text, "Get chip information fail !");
      EXPECT_EQ(op.shown[0].caption, "Error");
    } else {
      EXPECT_TRUE(op.shown.empty()) << description;
    }
  }
}

// The controllers behind the one-click update, as the device list sees them.
TEST_F(IdentifySimulated, TargetUnitsByName) {
  struct Case {
    const char* description;
    int type;
    bool onlyInquiry;  // INQUIRY alone decides; no further command
  };
  const Case cases[] = {
      {"vqb719", 8, false},
      {"vqb711", 8, true},
      {"vqb719:bus=sbp2", 8, false},
      {"vqs118", 11, false},
  };
  for (const auto& c : cases) {
    Build(c.description);
    RecordingOperator op;
    EXPECT_EQ(ChipTypeOf(IdentifyChip(op, Path())), c.type) << c.description;
    if (c.onlyInquiry) {
      const auto& log = Unit().Log();
      ASSERT_EQ(log.size(), 1u) << c.description << ": nothing but INQUIRY";
      EXPECT_EQ(log.front().cdb[0], 0x12) << c.description;
    }
  }
}

}  // namespace
}  // namespace fwtool
