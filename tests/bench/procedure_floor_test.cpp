// SPDX-License-Identifier: GPL-2.0-or-later
// The benchmark's floor for every engineering procedure: the work the
// procedure did, replayed by an ideal host, never takes longer than the
// procedure itself, and the time the host spent waiting after the part was
// ready is time the floor leaves out.
#include "procedure_floor.h"

#include <gtest/gtest.h>

#include <string>

namespace fwtool::bench {
namespace {

class ProcedureFloor : public ::testing::TestWithParam<ProcedureCase> {};

TEST_P(ProcedureFloor, NeverExceedsTheSimulatedTime) {
  std::string error;
  const auto m = MeasureProcedure(GetParam(), &error);
  ASSERT_TRUE(m) << error;
  EXPECT_TRUE(m->done) << m->status;
  EXPECT_TRUE(m->run.replayFaithful) << "the replay must do what the run did";
  EXPECT_GT(m->run.commands, 0u);
  EXPECT_GT(m->run.floor.count(), 0);
  EXPECT_LE(m->run.floor, m->run.simulated);
  EXPECT_LE(m->run.floor + m->run.pollingTime + m->run.pauseTime, m->run.simulated);
}

INSTANTIATE_TEST_SUITE_P(Procedures, ProcedureFloor, ::testing::ValuesIn(ProcedureCases()),
                         [](const ::testing::TestParamInfo<ProcedureCase>& info) {
                           std::string name;
                           for (const char* c = info.param.name; *c != '\0'; ++c)
                             if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
                           return name;
                         });

}  // namespace
}  // namespace fwtool::bench
