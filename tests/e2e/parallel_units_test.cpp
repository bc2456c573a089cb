// SPDX-License-Identifier: GPL-2.0-or-later
// Several units updated side by side, each by its own form on its own
// thread, the way `fwtool update --all` runs them: every unit ends with the
// image and its own header, every command reached the unit it was meant for,
// and a unit answers its commands in order while the others answer theirs.
// Run under the asan preset to catch a unit's state touched from two threads.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "Fwupdate.h"
#include "recording_operator.h"
#include "simulated_units.h"
#include "simulator.h"

namespace fwtool {
namespace {

namespace fs = std::filesystem;

constexpr size_t kUnits = 8;
constexpr int kRounds = 3;

class ParallelUnits : public testing::SimulatedUnitTest {
 protected:
  fs::path dir = fs::temp_directory_path() / ("fwtool-parallel-" + std::to_string(::getpid()));
  void SetUp() override { fs::create_directories(dir); }
  void TearDown() override {
    SimulatedUnitTest::TearDown();
    fs::remove_all(dir);
  }
};

TEST_F(ParallelUnits, EveryUnitIsUpdatedByItsOwnFormWhileTheOthersAreWritten) {
  std::string error;
  const auto image = sim::LoadEmbeddedImageFile(&error);
  ASSERT_TRUE(image) << error;
  for (int round = 0; round < kRounds; ++round) {
    std::string description = "vqb719";
    for (size_t i = 1; i < kUnits; ++i) description += ",vqb719";
    ASSERT_TRUE(Build(description));
    std::vector<std::vector<uint8_t>> before;
    for (size_t i = 0; i < kUnits; ++i) before.push_back(farm->Controller(i).Flash().Contents());

    std::vector<int> faces(kUnits, -1);
    std::atomic<bool> running{true};
    std::vector<std::thread> threads;
    for (size_t i = 0; i < kUnits; ++i) {
      threads.emplace_back([&, i] {
        FixedInterfaces enumerator({farm->Unit(i).diskPath});
        RecordingOperator op;
        ClockTimerService timers;
        TV77xFwTool form(op, enumerator, timers);
        form.SetBackupTarget(
            (dir / ("unit" + std::to_string(i) + "-" + std::to_string(round))).string());
        form.EraseButton.Click();
        faces[i] = static_cast<int>(form.Face());
      });
    }
    // Meanwhile the farm is asked what it holds, as a window's list would.
    std::thread reader([&] {
      while (running) {
        EXPECT_EQ(farm->DiskInterfaces().size(), kUnits);
        (void)farm->CommandLog();
      }
    });
    for (auto& thread : threads) thread.join();
    running = false;
    reader.join();

    const auto log = farm->CommandLog();
    for (size_t i = 0; i < kUnits; ++i) {
      SCOPED_TRACE("round " + std::to_string(round) + ", unit " + std::to_string(i));
      EXPECT_EQ(faces[i], static_cast<int>(OneClickFace::Done));
      const auto& flash = farm->Controller(i).Flash().Contents();
      // The image from its first 1 KB on; the unit's own serial number kept
      // in its header.
      EXPECT_TRUE(std::equal(image->begin() + 1024, image->end(), flash.begin() + 1024));
      EXPECT_TRUE(std::equal(before[i].begin(), before[i].begin() + 4, flash.begin()));
      const auto backup = sim::LoadImageFile(
          (dir / ("unit" + std::to_string(i) + "-" + std::to_string(round))).string(), &error);
      ASSERT_TRUE(backup) << error;
      EXPECT_TRUE(std::equal(backup->begin(), backup->end(), before[i].begin()));
      // The unit's commands came through its own path, numbered without a gap.
      uint64_t expected = 1;
      for (const auto& command : log) {
        if (command.path != farm->Unit(i).diskPath) continue;
        EXPECT_EQ(command.number, expected);
        ++expected;
      }
      EXPECT_EQ(expected - 1, farm->Controller(i).Log().size());
    }
  }
}

}  // namespace
}  // namespace fwtool
