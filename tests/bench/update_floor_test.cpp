// SPDX-License-Identifier: GPL-2.0-or-later
// The benchmark's floor: the work a unit did during the one-click update,
// replayed without polling, never takes longer than the update itself.
#include "update_floor.h"

#include <gtest/gtest.h>

#include <string>

namespace fwtool::bench {
namespace {

struct FloorCase {
  const char* unit;
  bool preWrite;  // the unit's flash maker gets the 4 KB write before the first attempt
};

class UpdateFloor : public ::testing::TestWithParam<FloorCase> {};

TEST_P(UpdateFloor, NeverExceedsTheSimulatedTime) {
  std::string error;
  const auto m = MeasureUpdate(GetParam().unit, &error);
  ASSERT_TRUE(m) << error;
  EXPECT_TRUE(m->done);
  EXPECT_TRUE(m->replayFaithful) << "the replay must do what the run did";
  EXPECT_GT(m->floor.count(), 0);
  EXPECT_LE(m->floor, m->simulated);
  EXPECT_LE(m->taskFloor, m->floor) << "the unit did at least the task";
  EXPECT_GT(m->polls, 0u);
  EXPECT_EQ(m->preWriteTime.count() > 0, GetParam().preWrite);
  // Polling and pauses count only the waits after the part was ready,
  // which the floor leaves out.
  EXPECT_LE(m->floor + m->pollingTime + m->pauseTime, m->simulated);
}

INSTANTIATE_TEST_SUITE_P(Units, UpdateFloor,
                         ::testing::Values(FloorCase{"vqb719", true},
                                           FloorCase{"vqb719:maker=mxic", true},
                                           FloorCase{"vqb719:maker=mxic:size=512:bus=sbp2", true},
                                           FloorCase{"vqb719:maker=winbond:size=128", false},
                                           FloorCase{"vqb719:maker=sst:bus=sbp2", false},
                                           FloorCase{"vqb719:maker=pmc:size=128", false},
                                           FloorCase{"vqb719:maker=atmel", false},
                                           FloorCase{"vqb719:maker=eon:size=512", false},
                                           FloorCase{"vqb711:maker=mxic:size=128:protect", true},
                                           FloorCase{"vqb711:maker=amic:bus=sbp2", false}));

}  // namespace
}  // namespace fwtool::bench
