// SPDX-License-Identifier: GPL-2.0-or-later
// Progress as declared steps: the percentage a view shows for weighted
// steps, steps within steps, pieces of a step, and what listeners hear.
#include "progress.h"

#include <gtest/gtest.h>

#include <vector>

namespace fwtool {
namespace {

using Step = ProgressStep;

class Progress : public ::testing::Test {
 protected:
  ProcedureProgress progress;
  std::vector<ProgressState> heard;
  int id = progress.Subscribe([this](const ProgressState& state) { heard.push_back(state); });

  int Percent() const { return progress.State().percent; }
  std::vector<int> PercentsHeard() const {
    std::vector<int> percents;
    for (const auto& state : heard) percents.push_back(state.percent);
    return percents;
  }
};

TEST_F(Progress, WeightsShareOutTheWhole) {
  // Erase a quarter, program the rest: worked out by hand.
  ProgressSteps steps(progress, {{Step::Erase, 1}, {Step::Program, 3}});
  EXPECT_TRUE(progress.State().running);
  EXPECT_EQ(progress.State().step, Step::Erase);
  EXPECT_EQ(Percent(), 0);
  progress.Advance(1, 2);
  EXPECT_EQ(Percent(), 12);  // half of 25
  steps.Begin(Step::Program);
  EXPECT_EQ(progress.State().step, Step::Program);
  EXPECT_EQ(Percent(), 25);
  progress.Advance(1, 3);
  EXPECT_EQ(Percent(), 50);
  progress.Advance(3, 3);
  EXPECT_EQ(Percent(), 100);
}

TEST_F(Progress, StepsWithinAStepShareItsPart) {
  ProgressSteps steps(progress, {{Step::Backup, 1}, {Step::Program, 3}});
  steps.Begin(Step::Program);
  {
    // An attempt: the write takes nine tenths of the program step.
    ProgressSteps attempt(progress, {{Step::Program, 9}, {Step::Verify, 1}});
    EXPECT_EQ(Percent(), 25);
    progress.Advance(1, 3);
    EXPECT_EQ(Percent(), 47);  // 25 + 75 * 0.9 / 3 = 47.5
    attempt.Begin(Step::Verify);
    EXPECT_EQ(progress.State().step, Step::Verify);
    EXPECT_EQ(Percent(), 92);  // 25 + 75 * 0.9 = 92.5
    progress.Advance(1, 2);
    EXPECT_EQ(Percent(), 96);
  }
  // The enclosing step stands where its own steps left it.
  EXPECT_EQ(progress.State().step, Step::Program);
  EXPECT_EQ(Percent(), 96);
  progress.Advance(1, 1);
  EXPECT_EQ(Percent(), 100);
}

TEST_F(Progress, AStepNeverMovesBackButARetryStartsItAnew) {
  ProgressSteps steps(progress, {{Step::Program, 1}, {Step::Verify, 1}});
  progress.Advance(3, 4);
  EXPECT_EQ(Percent(), 37);
  progress.Advance(1, 4);  // a second read inside the same step
  EXPECT_EQ(Percent(), 37);
  steps.Begin(Step::Verify);
  EXPECT_EQ(Percent(), 50);
  steps.Begin(Step::Program);  // the verify failed: the write again
  EXPECT_EQ(Percent(), 0);
  steps.Begin(Step::Program);  // and once more
  progress.Advance(1, 2);
  EXPECT_EQ(Percent(), 25);
  steps.Next();
  EXPECT_EQ(progress.State().step, Step::Verify);
  steps.Begin(Step::Erase);  // never declared: nothing moves
  EXPECT_EQ(progress.State().step, Step::Verify);
  EXPECT_EQ(Percent(), 50);
  steps.Finish();
  EXPECT_EQ(Percent(), 100);
}

TEST_F(Progress, RepeatedKindsAreTakenInOrder) {
  // Two banks, each its own program step.
  ProgressSteps steps(progress, {{Step::Prepare, 2}, {Step::Program, 49}, {Step::Program, 49}});
  steps.Begin(Step::Program);
  EXPECT_EQ(Percent(), 2);
  steps.Next();
  EXPECT_EQ(Percent(), 51);
  steps.Begin(Step::Program);  // the running one, from its start
  EXPECT_EQ(Percent(), 51);
}

TEST_F(Progress, PiecesOfAStep) {
  ProgressSteps steps(progress, {{Step::Backup, 1}});
  {
    // The first 64 KB of a 256 KB part, read in 8 KB blocks.
    const ProgressPart piece(progress, 0, 65536, 262144);
    progress.Advance(8192, 65536);
    EXPECT_EQ(Percent(), 3);  // 1/32
    progress.Advance(65536, 65536);
    EXPECT_EQ(Percent(), 25);
  }
  EXPECT_EQ(Percent(), 25);
  {
    // A probe that keeps nothing does not move the step.
    const ProgressPart probe(progress, 65536, 0, 262144);
    progress.Advance(1, 1);
    EXPECT_EQ(Percent(), 25);
  }
  {
    const ProgressPart piece(progress, 65536, 196608, 262144);
    EXPECT_EQ(Percent(), 25);
    progress.Advance(1, 2);
    EXPECT_EQ(Percent(), 62);
  }
  {
    // More than the caller expected: the step stands at its end.
    const ProgressPart beyond(progress, 262144, 262144, 262144);
    EXPECT_EQ(Percent(), 100);
    progress.Advance(1, 2);
    EXPECT_EQ(Percent(), 100);
  }
  EXPECT_EQ(Percent(), 100);
}

TEST_F(Progress, ListenersHearEachChangeOnce) {
  {
    ProgressSteps steps(progress, {{Step::Program, 1}});
    for (int block = 1; block <= 1000; ++block) progress.Advance(block, 1000);
  }
  // 0 when declared, each whole percent once, then the end of the operation.
  ASSERT_EQ(heard.size(), 102u);
  EXPECT_TRUE(heard.front().running);
  EXPECT_EQ(heard.front().percent, 0);
  EXPECT_EQ(heard[100].percent, 100);
  EXPECT_FALSE(heard.back().running);
  EXPECT_EQ(heard.back().percent, 100) << "an ended operation keeps its last percentage";

  // A new operation starts at 0; an unsubscribed listener hears nothing.
  progress.Unsubscribe(id);
  heard.clear();
  ProgressSteps again(progress, {{Step::Erase, 1}});
  EXPECT_TRUE(heard.empty());
  EXPECT_EQ(Percent(), 0);
  EXPECT_TRUE(progress.State().running);
}

TEST_F(Progress, NothingDeclaredNothingMoves) {
  progress.Advance(1, 2);
  EXPECT_FALSE(progress.State().running);
  EXPECT_EQ(Percent(), 0);
  EXPECT_TRUE(heard.empty());
  ProgressSteps steps(progress, {{Step::Program, 1}});
  progress.Advance(5, 0);  // no total: no fraction
  EXPECT_EQ(Percent(), 0);
}

}  // namespace
}  // namespace fwtool
