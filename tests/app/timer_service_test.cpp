// SPDX-License-Identifier: GPL-2.0-or-later
#include "timer_service.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "clock.h"

namespace fwtool {
namespace {

class ClockTimers : public ::testing::Test {
 protected:
  std::shared_ptr<VirtualClock> clock = std::make_shared<VirtualClock>();
  ScopedClock scoped{clock};
  ClockTimerService timers;
  std::vector<std::pair<int, int64_t>> fired;  // id, time
  void SetUp() override {
    timers.SetHandler([this](int id) { fired.emplace_back(id, NowMs()); });
  }
};

TEST_F(ClockTimers, FiresAtDueTimeAndRepeatsUntilKilled) {
  timers.SetTimer(7, 100);
  timers.SetTimer(3, 250);
  timers.RunFor(std::chrono::milliseconds(99));
  EXPECT_TRUE(fired.empty());
  timers.RunFor(std::chrono::milliseconds(201));
  EXPECT_EQ(fired, (std::vector<std::pair<int, int64_t>>{{7, 100}, {7, 200}, {3, 250}, {7, 300}}));
  timers.KillTimer(7);
  timers.KillTimer(3);
  timers.RunFor(std::chrono::milliseconds(1000));
  EXPECT_EQ(fired.size(), 4u);
  EXPECT_FALSE(timers.IsPending(7));
}

TEST_F(ClockTimers, RearmingPushesTheTimerOut) {
  timers.SetTimer(101, 1200);
  timers.RunFor(std::chrono::milliseconds(500));
  timers.SetTimer(101, 1200);
  timers.RunFor(std::chrono::milliseconds(1199));
  EXPECT_TRUE(fired.empty());
  EXPECT_EQ(timers.DueMs(101), 1700);
}

TEST_F(ClockTimers, HandlerThatOutlastsThePeriodFiresOncePerCall) {
  timers.SetHandler([this](int id) {
    fired.emplace_back(id, NowMs());
    clock->Advance(std::chrono::milliseconds(50));  // longer than the period
  });
  timers.SetTimer(1, 10);
  clock->Advance(std::chrono::milliseconds(10));
  EXPECT_EQ(timers.FireDue(), 1);
}

}  // namespace
}  // namespace fwtool
