// SPDX-License-Identifier: GPL-2.0-or-later
// The device list and the one-click update against simulated units.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Fwupdate.h"
#include "clock.h"
#include "enumeration.h"
#include "expected_update.h"
#include "firmware.h"
#include "form_texts.h"
#include "identify.h"
#include "procedures.h"
#include "recording_operator.h"
#include "simulated_units.h"
#include "simulator.h"
#include "temp_files.h"

namespace fwtool {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

bool IsFlashWrite(const sim::LoggedCommand& c) {
  return c[0] == 0xDF && c[11] == 0xFB;
}

using testing::MergedImage;
using testing::ReadFile;

class OneClick : public testing::SimulatedUnitTest {
 protected:
  RecordingOperator op;
  ClockTimerService timers;
  std::shared_ptr<InterfaceEnumerator> enumerator;
  std::unique_ptr<TV77xFwTool> form;
  fs::path dir = fs::temp_directory_path() / ("fwtool-oneclick-" + std::to_string(::getpid()));
  int backups = 0;

  void SetUp() override { fs::create_directories(dir); }
  void TearDown() override {
    form.reset();
    SimulatedUnitTest::TearDown();
    fs::remove_all(dir);
  }

  // A form of the farm built before goes first.
  bool Build(std::string_view description) {
    form.reset();
    return SimulatedUnitTest::Build(description);
  }
  TV77xFwTool& Open() {
    form.reset();
    enumerator = farm->Enumerator();
    form = std::make_unique<TV77xFwTool>(op, *enumerator, timers);
    return *form;
  }
  fs::path NextBackup() { return dir / ("backup-" + std::to_string(++backups) + ".bin"); }
  Bytes Flash(size_t unit = 0, size_t size = kFlashImageSize) {
    const auto& cells = farm->Controller(unit).Flash().Contents();
    return Bytes(cells.begin(), cells.begin() + static_cast<std::ptrdiff_t>(size));
  }
  void SetFlash(size_t unit, const Bytes& first) {
    Bytes cells = farm->Controller(unit).Flash().Contents();
    std::copy(first.begin(), first.end(), cells.begin());
    farm->Controller(unit).Flash().Load(cells);
  }
  // Presses "YES" with a fresh backup file; returns the commands the unit got.
  std::vector<sim::LoggedCommand> Update(size_t unit = 0) {
    farm->Controller(unit).ClearLog();
    form->SetBackupTarget(NextBackup().string());
    form->EraseButton.Click();
    return farm->Controller(unit).Log();
  }
};

TEST_F(OneClick, OnlyTheTargetIsListed) {
  Build("vqb717,vqb719");
  auto& f = Open();
  ASSERT_EQ(f.ListedCount(), 1);
  EXPECT_EQ(f.Devices[0].Path, farm->Unit(1).diskPath);
  EXPECT_EQ(f.DeviceList.ItemIndex(), 0);
  ASSERT_EQ(f.DeviceList.Items().size(), 1u);
  EXPECT_EQ(f.DeviceList.Items()[0].rfind("<<USB>> ", 0), 0u);
  EXPECT_GT(f.DeviceList.Items()[0].size(), 8u);  // the unit's name follows
  EXPECT_EQ(f.Face(), OneClickFace::Ready);
  EXPECT_EQ(f.devLable.Text(), "Click 'Yes' to proceed with the firmware update");
  EXPECT_EQ(f.devLable.FontColor(), kColorBlack);
  EXPECT_TRUE(f.EraseButton.Enabled());
  EXPECT_EQ(f.DeviceCount, 2);
  EXPECT_EQ(f.ChipType, 8);
}

TEST_F(OneClick, BusPrefixes) {
  Build("vqb719:bus=sbp2,vqb719");
  auto& f = Open();
  ASSERT_EQ(f.ListedCount(), 2);
  EXPECT_EQ(f.DeviceList.Items()[0].rfind("<<1394>> ", 0), 0u);
  EXPECT_EQ(f.DeviceList.Items()[1].rfind("<<USB>> ", 0), 0u);
  EXPECT_EQ(f.diskLabel.Text(), "USB DISK");  // the last one listed
}

TEST_F(OneClick, AlreadyUpdatedUnitIsNotListed) {
  Build("vqb719:fw=embedded");
  auto& f = Open();
  EXPECT_EQ(f.ListedCount(), 0);
  EXPECT_EQ(f.Face(), OneClickFace::NothingToDo);
  EXPECT_EQ(f.devLable.Text(), "               The chip already updated!!");
  EXPECT_EQ(f.devLable.FontColor(), kColorRed);
  EXPECT_TRUE(f.ExtBtn.Visible());
  EXPECT_FALSE(f.EraseButton.Visible());
  EXPECT_FALSE(f.ExitBtn.Visible());

  // Settings of its own inside the first 1 KB do not make it out of date...
  Bytes flash = Flash();
  flash[0] ^= 0xFF;
  flash[1023] ^= 0xFF;
  SetFlash(0, flash);
  f.RefreshBtnClick(f.RefreshBtn);
  EXPECT_EQ(f.ListedCount(), 0);
  EXPECT_EQ(f.Face(), OneClickFace::NothingToDo);
  // ...a different byte after them does.
  flash[1024] ^= 0xFF;
  SetFlash(0, flash);
  f.RefreshBtnClick(f.RefreshBtn);
  EXPECT_EQ(f.ListedCount(), 1);
  EXPECT_EQ(f.Face(), OneClickFace::Ready);
}

TEST_F(OneClick, WithoutAnImageNothingCountsAsUpdatedAndNothingIsWritten) {
  Build("vqb719:fw=embedded");
  auto& f = Open();
  const Bytes before = Flash();
  f.SetFirmwareImage({});
  f.RefreshBtnClick(f.RefreshBtn);
  ASSERT_EQ(f.ListedCount(), 1);
  auto commands = Update();
  EXPECT_EQ(f.Face(), OneClickFace::Failed);
  EXPECT_EQ(f.StatusEdit.Text(), kNoImageToWrite);
  EXPECT_TRUE(commands.empty());

  const Bytes oversized(kFlashImageSize + 1, 0x5A);
  f.SetFirmwareImage(oversized);
  f.RefreshBtnClick(f.RefreshBtn);
  commands = Update();
  EXPECT_EQ(f.Face(), OneClickFace::Failed);
  EXPECT_TRUE(commands.empty());
  EXPECT_EQ(Flash(), before);
  EXPECT_TRUE(f.LastBackupPath().empty());
}

TEST_F(OneClick, SixteenPathsAtMost) {
  std::string description = "vqb719";
  for (int i = 1; i < 18; ++i) description += ",vqb719";
  Build(description);
  auto& f = Open();
  EXPECT_EQ(f.DeviceCount, 16);
  EXPECT_EQ(f.ListedCount(), 16);
  EXPECT_EQ(f.Devices[15].Path, farm->Unit(15).diskPath);
  EXPECT_TRUE(farm->Controller(16).Log().empty());
}

TEST_F(OneClick, FailedInquiryLeavesNoName) {
  // Unit 1 answers identification, then fails the INQUIRY that names it.
  Build("vqb719");
  const uint64_t identifyCommands = [&] {
    IdentifyChip(op, farm->Unit(0).diskPath);
    return farm->Controller(0).CommandCount();
  }();
  Build("vqb719,vqb719:fail-command=" + std::to_string(identifyCommands + 1));
  auto& f = Open();
  ASSERT_EQ(f.ListedCount(), 2);
  EXPECT_GT(f.DeviceList.Items()[0].size(), 8u);
  EXPECT_EQ(f.DeviceList.Items()[1], "<<USB>> ");
}

TEST_F(OneClick, CdromEntriesGetTheHostLinkClosedAtExit) {
  Build("vqb719:cdrom");
  auto& f = Open();
  ASSERT_EQ(f.ListedCount(), 2);
  EXPECT_EQ(f.Devices[0].IsCdromInterface, 0);
  EXPECT_EQ(f.Devices[1].IsCdromInterface, 1);
  EXPECT_EQ(f.Devices[1].Path, farm->Unit(0).cdromPath);
  farm->ClearCommandLog();
  form.reset();
  std::vector<std::string> closed;
  for (const auto& c : farm->CommandLog())
    if (c[0] == 0xFF && c[1] == 0x04 && c[2] == 0x56 && c[4] == 0xAA) closed.push_back(c.path);
  EXPECT_EQ(closed, std::vector<std::string>{farm->Unit(0).cdromPath});
}

TEST_F(OneClick, UpdateKeepsTheUnitsSettings) {
  Build("vqb719");
  auto& f = Open();
  const Bytes before = Flash();
  ASSERT_EQ(before[126], 'V');
  ASSERT_EQ(before[127], 'Q');
  const auto commands = Update();

  EXPECT_EQ(f.Face(), OneClickFace::Done);
  EXPECT_EQ(f.StatusEdit.Text(), "Programming Success!!");
  EXPECT_TRUE(f.replugLable1.Visible());
  EXPECT_TRUE(f.ExtBtn.Visible());
  EXPECT_FALSE(f.EraseButton.Visible());
  EXPECT_FALSE(f.ExitBtn.Visible());
  EXPECT_FALSE(f.devLable.Visible());
  EXPECT_FALSE(f.FwUpdatBar.Visible());
  EXPECT_EQ(f.FwUpdatBar.Position(), 100);

  const Bytes expected = MergedImage(before);
  EXPECT_EQ(Flash(), expected);
  for (const auto& record : CheckHeaderChecksums(std::span<const uint8_t>(expected.data(), 4096)))
    EXPECT_TRUE(!record.present || record.Valid()) << record.offset;
  EXPECT_NE(expected, MergedImage(Bytes(kFlashImageSize, 0)));  // the merge kept something
  // The backup holds the flash as it was.
  EXPECT_EQ(ReadFile(f.LastBackupPath()), before);
  EXPECT_NE(f.Notice().find(f.LastBackupPath()), std::string::npos);
  // The unit's MXIC flash: one 4 KB block in block-erase mode ahead, then
  // nine writes of the first attempt in 64 KB block-erase mode, the first
  // marked for the maker.
  EXPECT_EQ(f.FlashMaker, 5);
  std::vector<uint8_t> flags;
  for (const auto& c : commands)
    if (IsFlashWrite(c)) flags.push_back(c[1]);
  EXPECT_EQ(flags, (std::vector<uint8_t>{2, 0x82, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(f.EraseOnly, 0u);
  EXPECT_EQ(f.ImageHasHeaderArea, 1u);
}

// Records whose words reach past the merged 1 KB: the unit's own word
// counts (kept with its settings) of 250 at 0x140, 40 at 0x380 and an
// erased 255 at 0x380. Each checksum in the flash afterwards is the
// checksum of the bytes the flash holds there.
TEST_F(OneClick, RecordsReachingPastTheMergedHeaderGetTheChecksumOfTheFlash) {
  EXPECT_EQ(testing::WordCrc16(reinterpret_cast<const uint8_t*>("abcd"), 4), 0x40D7);
  struct Case {
    size_t record;
    uint8_t words;
  };
  for (const Case c : {Case{0x140, 250}, Case{0x380, 40}, Case{0x380, 255}}) {
    SCOPED_TRACE(c.record);
    SCOPED_TRACE(c.words);
    Build("vqb719");
    Bytes before = Flash();
    before[c.record + 2] = c.words;
    Unit().Flash().Load(before);
    Open();
    Update();
    const Bytes after = Flash();
    ASSERT_EQ(after[c.record + 2], c.words);  // the unit's count kept
    for (const size_t at : testing::kRecordOffsets) {
      const uint16_t stored = static_cast<uint16_t>(after[at] | after[at + 1] << 8);
      EXPECT_EQ(stored, testing::WordCrc16(after.data() + at + 4, 4u * after[at + 2])) << at;
    }
    EXPECT_EQ(after, MergedImage(before));
  }
}

TEST_F(OneClick, UnitWithoutMarkerGetsTheImageAsItIs) {
  Build("vqb719");
  auto& f = Open();
  Bytes flash = Flash();
  flash[126] = 0xFF;
  flash[127] = 0xFF;
  SetFlash(0, flash);
  Update();
  EXPECT_EQ(f.Face(), OneClickFace::Done);
  Bytes expected(kFlashImageSize, 0);
  const auto image = EmbeddedImage();
  std::copy(image.begin(), image.end(), expected.begin());
  EXPECT_EQ(Flash(), expected);
}

TEST_F(OneClick, CompareFailuresMoveThroughTheWriteModes) {
  struct Case {
    const char* unit;
    std::vector<uint8_t> firstFlags;  // flag of each write to address 0
    OneClickFace face;
    const char* status;
  };
  const Case cases[] = {
      {"vqb719:maker=winbond", {2}, OneClickFace::Done, "Programming Success!!"},
      {"vqb719:maker=winbond:bit-error=1", {2, 1}, OneClickFace::Done, "Programming Success!!"},
      {"vqb719:maker=winbond:bit-error=300",
       {2, 1, 3},
       OneClickFace::Done,
       "Programming Success!!"},
      {"vqb719:maker=winbond:bit-error", {2, 1, 3}, OneClickFace::Failed, "Data compare fail !!"},
      // MXIC: the extra block ahead, then the maker's bit on every attempt.
      {"vqb719:maker=mxic:bit-error=300",
       {2, 0x82, 0x81, 0x83},
       OneClickFace::Done,
       "Programming Success!!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.unit);
    Build(c.unit);
    auto& f = Open();
    const Bytes before = Flash();
    const auto commands = Update();
    std::vector<uint8_t> firstFlags;
    for (const auto& cmd : commands)
      if (IsFlashWrite(cmd) && cmd[8] == 0 && cmd[9] == 0 && cmd[10] == 0)
        firstFlags.push_back(cmd[1]);
    EXPECT_EQ(firstFlags, c.firstFlags);
    EXPECT_EQ(f.Face(), c.face);
    EXPECT_EQ(f.StatusEdit.Text(), c.status);
    if (c.face == OneClickFace::Failed) {
      EXPECT_EQ(f.devLable.Text(), "                             Update    fail!!");
      EXPECT_EQ(f.devLable.FontColor(), kColorRed);
      EXPECT_FALSE(f.replugLable1.Visible());
    } else {
      EXPECT_EQ(Flash(), MergedImage(before));
    }
  }
}

TEST_F(OneClick, RefreshTimerInsideTheWriteWaitsForTheEnd) {
  Build("vqb719");
  auto& f = Open();
  int blocksSeen = 0;
  bool refreshedInside = false;
  size_t logAtTimer = 0;
  op.onProcessMessages = [&] {
    if (!f.FwUpdatBar.Visible()) return;
    if (++blocksSeen == 20) {
      // A device change during the write: timer 101 comes due at once.
      f.OnDeviceChange(kDeviceArrival, kDeviceTypeInterface);
      clock->Advance(std::chrono::milliseconds(1200));
      timers.FireDue();
      logAtTimer = farm->Controller(0).Log().size();
      f.ExitBtn.Click();  // "NO" during the write
    }
    // No identification (INQUIRY) reaches the unit while it is written.
    if (logAtTimer != 0 && farm->Controller(0).Log().back()[0] == 0x12) refreshedInside = true;
  };
  int closes = 0;
  f.SetCloseHandler([&] { ++closes; });
  Update();
  op.onProcessMessages = nullptr;
  EXPECT_GT(blocksSeen, 20);
  EXPECT_FALSE(refreshedInside);
  EXPECT_EQ(closes, 1);  // held until the update had ended
  EXPECT_EQ(f.StatusEdit.Text(), "Programming Success!!");
}

TEST_F(OneClick, HeldRefreshAfterTheUpdateKeepsItsOutcome) {
  Build("vqb719");
  auto& f = Open();
  bool fired = false;
  op.onProcessMessages = [&] {
    if (fired || !f.FwUpdatBar.Visible()) return;
    fired = true;
    f.RefreshBtnClick(f.RefreshBtn);
  };
  const int before = static_cast<int>(farm->Controller(0).CommandCount());
  Update();
  op.onProcessMessages = nullptr;
  EXPECT_TRUE(fired);
  // The list was rebuilt after the update (the unit now runs the image)...
  EXPECT_EQ(f.ListedCount(), 0);
  EXPECT_GT(static_cast<int>(farm->Controller(0).CommandCount()), before);
  // ...and the operator still reads the request to power-cycle.
  EXPECT_EQ(f.Face(), OneClickFace::Done);
}

// Every command of a successful update failing in turn, and the unit
// vanishing at every command in turn: success is reported only for a unit
// that holds the merged image, and the backup always holds the flash as it
// was.
TEST_F(OneClick, FaultSweep) {
  Build("vqb719");
  Open();
  const Bytes before = Flash();
  const Bytes expected = MergedImage(before);
  const uint64_t start = farm->Controller(0).CommandCount();
  Update();
  ASSERT_EQ(form->Face(), OneClickFace::Done);
  const uint64_t total = farm->Controller(0).CommandCount() - start;
  ASSERT_GT(total, 40u);

  for (const char* fault : {"fail-command", "vanish"}) {
    for (uint64_t k = 1; k <= total; ++k) {
      SCOPED_TRACE(std::string(fault) + " at update command " + std::to_string(k));
      Build("vqb719");
      auto& f = Open();
      sim::FaultPlan plan;
      const uint64_t at = farm->Controller(0).CommandCount() + k;
      if (std::string(fault) == "vanish")
        plan.vanishAtCommand = at;
      else
        plan.failCommand = at;
      farm->Controller(0).SetFaults(plan);
      Update();
      const OneClickFace face = f.Face();
      ASSERT_TRUE(face == OneClickFace::Done || face == OneClickFace::Failed);
      farm->PowerCycle(0);
      if (face == OneClickFace::Done) {
        EXPECT_EQ(Flash(), expected);
      }
      if (!f.LastBackupPath().empty()) {
        EXPECT_EQ(ReadFile(f.LastBackupPath()), before);
      } else {
        EXPECT_EQ(Flash(), before);  // nothing is written unless the backup was made
      }
      EXPECT_FALSE(f.Busy());
    }
  }
}

}  // namespace
}  // namespace fwtool
