// SPDX-License-Identifier: GPL-2.0-or-later
// The one-click update against every fault a unit can show, at every command
// of the update: a refused command, a lost status, a flipped read bit, a unit
// pulled out, a power loss in any erase or program, a slow part. Whatever
// happens, three things hold:
//   - the update reports success only when the flash then holds the image
//     (with the unit's own settings merged in);
//   - a backup, once written, is the flash as it was before;
//   - after a failure the unit is brought back to that flash by the restore.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "Fwupdate.h"
#include "expected_update.h"
#include "fault_points.h"
#include "firmware.h"
#include "procedures.h"
#include "recording_operator.h"
#include "simulated_units.h"
#include "simulator.h"
#include "temp_files.h"

namespace fwtool {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

using testing::FaultItem;
using testing::FaultKind;
using testing::IsPoll;
using testing::KindName;
using testing::MergedImage;
using testing::ReadFile;
using testing::Sample;

struct UnitCase {
  const char* name;
  const char* description;
  // Whether a clean update succeeds: a part another maker's protection
  // bits hold is never unprotected by the controller's write, so the update
  // fails on it every time (and must lose nothing).
  bool updatable = true;
};

// Makers, sizes, protection (the controller protects an MXIC part at every
// boot; protect=1 protects another maker's part) and buses.
const UnitCase kUnits[] = {
    {"mxic_64k_protected_usb", "vqb719"},
    {"winbond_128k_usb", "vqb719:maker=winbond:size=128:protect=0"},
    {"mxic_512k_protected_usb", "vqb719:size=512"},
    {"eon_512k_sbp2", "vqb719:maker=eon:size=512:protect=0:bus=sbp2"},
    {"sst_64k_type9_usb", "chip=9:maker=sst:protect=0"},
    {"atmel_128k_protected_sbp2", "vqb719:maker=atmel:size=128:protect=1:bus=sbp2", false},
};

// What ctest shows beside each case's name.
void PrintTo(const UnitCase& unit, std::ostream* os) {
  *os << unit.description;
}

struct Result {
  bool success = false;
  bool backupWritten = false;
};

class OneClickSweep : public ::testing::TestWithParam<std::tuple<UnitCase, FaultKind>>,
                      public testing::SimulatedUnits {
 protected:
  RecordingOperator op;
  ClockTimerService timers;
  std::shared_ptr<InterfaceEnumerator> enumerator;
  testing::TempDir dir;
  int runs = 0;

  Bytes Settled() {
    auto& flash = Unit().Flash();
    return flash.ContentsAt(std::max(clock->Now(), flash.ReadyAt()));
  }

  // One update of a unit with the fault; checks the three rules.
  void Run(const std::string& description) {
    SCOPED_TRACE(description);
    Build(description);
    const Bytes before = Settled();
    const fs::path backup = dir.Path("backup-" + std::to_string(++runs) + ".bin");
    Result result;
    {
      enumerator = farm->Enumerator();
      TV77xFwTool form(op, *enumerator, timers);
      ASSERT_EQ(form.ListedCount(), 1);
      form.SetBackupTarget(backup.string());
      form.EraseButton.Click();
      result.success = form.Face() == OneClickFace::Done;
      result.backupWritten = !form.LastBackupPath().empty();
      EXPECT_EQ(result.success || form.Face() == OneClickFace::Failed, true);
    }
    const Bytes after = Settled();
    if (result.success) {
      const Bytes expected = MergedImage(before);
      EXPECT_TRUE(std::equal(expected.begin(), expected.end(), after.begin()))
          << "success, but the flash does not hold the image";
      const bool restKept = std::equal(after.begin() + kFlashImageSize, after.end(),
                                       before.begin() + kFlashImageSize);
      const bool restErased = std::all_of(after.begin() + kFlashImageSize, after.end(),
                                          [](uint8_t b) { return b == 0xFF; });
      EXPECT_TRUE(restKept || restErased) << "the flash past the image is neither kept nor erased";
    }
    if (result.backupWritten) {
      EXPECT_TRUE(ReadFile(backup) == before) << "the backup is not the flash as it was";
    } else {
      EXPECT_FALSE(fs::exists(backup));
      EXPECT_TRUE(after == before) << "written to without a backup";
    }
    if (result.success) return;

    // Brought back: power off and on, then the restore writes the backup.
    farm->PowerCycle(0);
    if (!result.backupWritten) {
      EXPECT_TRUE(Settled() == before);
      return;
    }
    enumerator = farm->Enumerator();
    TV77xFwTool form(op, *enumerator, timers, nullptr,
                     {.scope = DeviceListScope::AllControllers, .bankRepair = false});
    ASSERT_EQ(form.ListedCount(), 1);
    form.DeviceList.SetItemIndex(0);
    form.UpdateBtnCheck(form.DeviceList);
    const Bytes saved = ReadFile(backup);
    RestoreReport report;
    const auto identification = static_cast<uint16_t>(form.ChipSubRev << 8 | form.ChipType);
    EXPECT_EQ(RestoreFlashBackup(form.Host(), form.Devices[0].Path, identification, saved, &report),
              1)
        << "restore outcome " << static_cast<int>(report.outcome);
    EXPECT_TRUE(Settled() == before) << "the restore did not bring the flash back";
  }

  // Command numbers (from the unit's first command) and flash operations of
  // a clean update of the unit.
  struct Clean {
    std::vector<uint64_t> commands;  // every command that is not a busy poll
    std::vector<uint64_t> polls;
    uint64_t operations = 0;
  };
  Clean CleanRun(const std::string& description, bool updatable) {
    Build(description);
    Clean clean;
    enumerator = farm->Enumerator();
    TV77xFwTool form(op, *enumerator, timers);
    form.SetBackupTarget(dir.Path("clean-" + std::to_string(++runs) + ".bin"));
    // Only the update's own commands, numbered as the unit counts them.
    Unit().ClearLog();
    form.EraseButton.Click();
    EXPECT_EQ(form.Face(), updatable ? OneClickFace::Done : OneClickFace::Failed) << description;
    for (const auto& c : Unit().Log())
      (IsPoll(c) ? clean.polls : clean.commands).push_back(c.number);
    clean.operations = Unit().Flash().Statistics().operations;
    return clean;
  }
};

constexpr uint64_t kMostPowerLosses = 128;

TEST_P(OneClickSweep, NothingLostNothingClaimedFalsely) {
  const auto& [unit, kind] = GetParam();
  const std::string base = unit.description;
  const Clean clean = CleanRun(base, unit.updatable);
  ASSERT_FALSE(clean.commands.empty());
  size_t cases = 0;
  switch (kind) {
    case FaultKind::Slow:
      Run(base + ":" + FaultItem(kind, 0));
      cases = 1;
      break;
    case FaultKind::PowerLoss:
      // Every operation up to 128 of them; beyond, evenly spaced ones (a
      // part programmed byte by byte has tens of thousands).
      for (uint64_t n = 1; n <= clean.operations;
           n += std::max<uint64_t>(1, clean.operations / kMostPowerLosses)) {
        Run(base + ":" + FaultItem(kind, n));
        ++cases;
        if (HasFatalFailure()) return;
      }
      break;
    case FaultKind::FailCommand:
    case FaultKind::StatusLost:
    case FaultKind::ReadFlip:
    case FaultKind::Vanish:
      for (uint64_t n : Sample(clean.commands, clean.polls)) {
        Run(base + ":" + FaultItem(kind, n));
        ++cases;
        if (HasFatalFailure()) return;
      }
      break;
  }
  RecordProperty("cases", static_cast<int>(cases));
  std::printf("%s %s: %zu cases (%zu commands, %zu polls, %llu flash operations)\n", unit.name,
              KindName(kind), cases, clean.commands.size(), clean.polls.size(),
              static_cast<unsigned long long>(clean.operations));
}

INSTANTIATE_TEST_SUITE_P(
    Units, OneClickSweep,
    ::testing::Combine(::testing::ValuesIn(kUnits),
                       ::testing::Values(FaultKind::FailCommand, FaultKind::StatusLost,
                                         FaultKind::ReadFlip, FaultKind::Vanish,
                                         FaultKind::PowerLoss, FaultKind::Slow)),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) + "_" + KindName(std::get<1>(info.param));
    });

}  // namespace
}  // namespace fwtool
