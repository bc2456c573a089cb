// SPDX-License-Identifier: GPL-2.0-or-later
// The copy an engineering run takes before it writes, and restore, over a
// table of simulated units (one per kind of part a procedure works on; the
// staged procedure, which identification never selects, is tested with its
// procedure):
// the copy is the part as it was, read from the simulator, and restoring it
// puts the part back byte for byte. A copy that cannot be had stops the run
// before anything is written.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "flash_restore.h"
#include "sim_form_fixture.h"

namespace fwtool {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::SimFormTest;

// Where the part lies in the simulated unit.
enum class Part { Flash, Parallel, Disk };

struct BackupCase {
  const char* name;
  const char* units;
  Part part;
  // Disk: the first sector and bytes of the stretch, worked out by hand from
  // the disk's size (the area ends at the last 256-sector boundary below the
  // anchor; type 12's region lies 2 MB below the last 1 MB boundary).
  uint64_t lba;
  size_t diskBytes;
  ProcedureTag procedure;
  size_t fileSize;  // 0: erase only; else programs a file of this size
  int flashType;    // "Flash Type" item for the parallel units, -1 none
  bool hddFirmware;
  bool fillDisk;  // the stretch holds the user's pattern before the run
};

// The 64 MB disk holds 131,072 sectors; its anchor is 130,817, the area
// 130,560..130,815. The 500 GB disk holds 1,048,576,000 sectors: the last
// 1 MB boundary below its end is 1,048,573,952, the region starts 4,096
// sectors below it.
constexpr uint64_t kArea64M = 130560;
constexpr uint64_t kRegion500G = 1048569856;

// clang-format off
const BackupCase kCases[] = {
    {"SerialFlashErase", "vqb719:size=128", Part::Flash, 0, 0, ProcedureTag::SerialFlash, 0, -1, false, false},
    {"SerialFlashDualBankErase", "vqs175", Part::Flash, 0, 0, ProcedureTag::SerialFlash, 0, -1, false, false},
    {"BasicProgram", "vq64773:maker=winbond:size=128", Part::Flash, 0, 0, ProcedureTag::Basic, 20000, -1, false, false},
    {"HeaderHandlingErase", "vqb716", Part::Flash, 0, 0, ProcedureTag::HeaderHandling, 0, -1, false, false},
    {"PagedErase", "vqb713:maker=sst", Part::Flash, 0, 0, ProcedureTag::Paged, 0, -1, false, false},
    {"Ieee1394Program", "vqb717:bus=sbp2", Part::Flash, 0, 0, ProcedureTag::Ieee1394, 65536, -1, false, false},
    {"ParallelProgram", "vq64779:parallel=pmc", Part::Parallel, 0, 0, ProcedureTag::Parallel, 20000, 1, false, false},
    {"DiskAreaProgram", "vqb145:disk=64M", Part::Disk, kArea64M, 131072, ProcedureTag::DiskHosted, 20000, -1, false, false},
    {"DiskAreaClear", "vq64775e:maker=0:disk=64M", Part::Disk, kArea64M, 131072, ProcedureTag::DiskHosted, 0, -1, false, false},
    {"DiskRegionProgram", "vqs175:disk=500G", Part::Disk, kRegion500G, 65536, ProcedureTag::Vqs175Disk, 20000, -1, true, true},
};
// clang-format on

Bytes Pattern(size_t size, uint32_t seed) {
  Bytes bytes(size);
  uint32_t state = seed;
  for (auto& b : bytes) {
    state = state * 1103515245u + 12345u;
    b = static_cast<uint8_t>(state >> 16);
  }
  return bytes;
}

class RunBackups : public SimFormTest, public ::testing::WithParamInterface<BackupCase> {
 protected:
  Bytes PartBytes(const BackupCase& c) {
    auto& unit = farm->Controller(0);
    switch (c.part) {
      case Part::Flash:
        return unit.Flash().Contents();
      case Part::Parallel:
        return unit.Parallel()->Contents();
      case Part::Disk:
        return unit.Disk().Bytes(c.lba, c.diskBytes);
    }
    return {};
  }

  // The engineering face set up for the case, "Run" not yet pressed.
  TV77xFwTool& Prepare(const BackupCase& c) {
    Build(c.units);
    if (c.fillDisk) {
      farm->Controller(0).Disk().Load(c.lba, Pattern(c.diskBytes, 0x5EED));
      // The region lies inside the disk the host sees: the window asks
      // before it overwrites the user's data, and the operator says Yes.
      op.questionAnswers.push_back(true);
    }
    auto& f = Open();
    f.ShowEngineeringFace();
    if (c.flashType >= 0) f.FlashTypeList.SetItemIndex(c.flashType);
    if (c.hddFirmware) f.VQS175HDDFwChk.SetChecked(true);
    if (c.fileSize == 0) {
      f.EraseOnlyCheck.SetChecked(true);
    } else {
      const auto file = dir / "firmware.bin";
      const Bytes bytes = Pattern(c.fileSize, 0xF00D);
      std::ofstream(file, std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()),
                 static_cast<std::streamsize>(bytes.size()));
      op.fileAnswers.push_back(file.string());
      f.LoadBtnClick(f.LoadBtn);
      // A pattern, not a file made for the chip: "Run" asks, and Yes.
      op.questionAnswers.push_back(true);
    }
    return f;
  }
};

TEST_P(RunBackups, TheCopyIsThePartAsItWasAndRestoreBringsItBack) {
  const BackupCase& c = GetParam();
  auto& f = Prepare(c);
  const Bytes before = PartBytes(c);
  f.UpdateBtnClick(f.UpdateBtn);
  const RunOutcome& run = f.LastRun();
  ASSERT_TRUE(run.ran) << f.StatusEdit.Text();
  EXPECT_EQ(run.procedure, c.procedure);
  EXPECT_EQ(run.result, 1) << f.StatusEdit.Text();
  ASSERT_FALSE(run.backupFile.empty());
  EXPECT_EQ(std::filesystem::path(run.backupFile).parent_path(),
            dir / "data" / "fwtool" / "backups");
  EXPECT_EQ(f.Notice(), "The unit's contents before the run saved to " + run.backupFile);
  const Bytes copy = ReadFile(run.backupFile);
  EXPECT_TRUE(copy == before) << copy.size() << " bytes saved, the part holds " << before.size();
  ASSERT_NE(PartBytes(c), before) << "the run wrote nothing";
  if (c.fillDisk) {
    const bool asked = std::any_of(op.shown.begin(), op.shown.end(), [](const auto& shown) {
      return shown.text.rfind("The disk's user keeps data in sectors ", 0) == 0;
    });
    EXPECT_TRUE(asked) << "the window did not ask";
  }

  // The way back: the same part through the same commands.
  clock->Advance(std::chrono::seconds(10));  // a unit that restarted is back
  RestoreRequest request;
  request.backup = copy;
  if (c.flashType >= 0) request.flashType = c.flashType;
  request.hddFirmware = c.hddFirmware;
  RestoreReport report;
  EXPECT_EQ(f.RestoreBackup(request, &report), 1) << f.StatusEdit.Text();
  EXPECT_EQ(report.outcome, RestoreOutcome::Restored);
  EXPECT_TRUE(PartBytes(c) == before);
}

INSTANTIATE_TEST_SUITE_P(Parts, RunBackups, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A run that fails names its copy and the command that puts it back, with
// what that unit's restore needs besides the file.
struct FailedRunCase {
  const char* name;
  const char* units;
  int flashType;
  bool hddFirmware;
  const char* restoreOptions;
  int chipType = 0;  // the operator's word on a unit identification cannot tell
};

// clang-format off
const FailedRunCase kFailedRuns[] = {
    // The part refuses every program command.
    {"Parallel", "vq64779:parallel=pmc:fail-match=ff0402", 1, false, " --flash-type \"PMC OM39LV512\""},
    // The drive refuses WRITE DMA EXT inside ATA PASS-THROUGH(16).
    {"DiskRegion", "vqs175:disk=500G:fail-match=850000000000000000000000000035/ff00000000000000000000000000ff",
     -1, true, " --hdd-fw"},
    {"SerialFlash", "vqb719:bit-error", -1, false, ""},
    // A unit that identifies as type 10, run as type 13: the flash write
    // inside ATA PASS-THROUGH(12) is refused, and restore must be told the
    // type again.
    {"AtaFlash", "vqs713:maker=winbond:fail-match=a10a03e9", -1, false, " --chip-type 13", 13},
};
// clang-format on

class FailedRun : public SimFormTest, public ::testing::WithParamInterface<FailedRunCase> {};

TEST_P(FailedRun, TheNoticeGivesTheWayBack) {
  const FailedRunCase& c = GetParam();
  Build(c.units);
  auto& f = Open();
  f.ShowEngineeringFace();
  if (c.chipType != 0) {
    ASSERT_TRUE(f.SayChipType({.chipType = c.chipType}));
  }
  if (c.flashType >= 0) f.FlashTypeList.SetItemIndex(c.flashType);
  if (c.hddFirmware) f.VQS175HDDFwChk.SetChecked(true);
  const auto file = dir / "firmware.bin";
  const Bytes bytes = Pattern(20000, 0xBAD);
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  op.fileAnswers.push_back(file.string());
  f.LoadBtnClick(f.LoadBtn);
  op.questionAnswers.push_back(true);  // a pattern, not a file made for the chip: Yes
  f.UpdateBtnClick(f.UpdateBtn);
  const RunOutcome& run = f.LastRun();
  ASSERT_TRUE(run.ran);
  EXPECT_EQ(run.result, 0);
  ASSERT_FALSE(run.backupFile.empty());
  EXPECT_EQ(f.Notice(), "The unit's contents before the run saved to " + run.backupFile +
                            ". To put them back: fwtool restore --device \"" + f.Devices[0].Path +
                            "\" --file \"" + run.backupFile + "\"" + c.restoreOptions);
}

INSTANTIATE_TEST_SUITE_P(Parts, FailedRun, ::testing::ValuesIn(kFailedRuns),
                         [](const auto& info) { return std::string(info.param.name); });

// A type-11 controller answers flash reads right only once its flash access
// is set up (FF 04 25): the copy before a run sends it before its reads.
TEST_F(RunBackups, TheCopyOfAType11UnitSetsUpTheFlashAccessFirst) {
  for (const char* units : {"vqs118:rev=0:maker=mxic", "vqs118:rev=5"}) {
    SCOPED_TRACE(units);
    Build(units);
    auto& f = Open((dir / "copy.bin").string());
    f.ShowEngineeringFace();
    ASSERT_EQ(f.ChipType, 11);
    f.EraseOnlyCheck.SetChecked(true);
    farm->Controller(0).ClearLog();
    f.UpdateBtnClick(f.UpdateBtn);
    ASSERT_FALSE(f.LastRun().backupFile.empty());
    const auto log = farm->Controller(0).Log();
    const auto setUp = std::find_if(log.begin(), log.end(), [](const auto& c) {
      return c[0] == 0xFF && c[1] == 0x04 && c[2] == 0x25;
    });
    // Flash reads: DF .. FA, or FF 04 10 of the older members.
    const auto firstRead = std::find_if(log.begin(), log.end(), [](const auto& c) {
      return (c[0] == 0xDF && c[11] == 0xFA) || (c[0] == 0xFF && c[1] == 0x04 && c[2] == 0x10);
    });
    ASSERT_NE(setUp, log.end());
    EXPECT_LT(setUp - log.begin(), firstRead - log.begin());
    std::filesystem::remove(dir / "copy.bin");
  }
}

// A run that only backs up takes no copy of its own: its backup is the
// operator's file.
TEST_F(RunBackups, BackupOnlyTakesNoCopy) {
  Build("vqb719");
  auto& f = Open();
  f.ShowEngineeringFace();
  const std::string mine = (dir / "mine.bin").string();
  op.fileAnswers.push_back(mine);
  f.BackupBtnClick(f.BackupBtn);
  f.BackupFWCheckBox.SetChecked(true);
  f.UpdateBtnClick(f.UpdateBtn);
  EXPECT_EQ(f.LastRun().result, 1);
  EXPECT_EQ(f.LastRun().backupFile, mine);
  EXPECT_TRUE(ReadFile(mine) == Flash());
  EXPECT_FALSE(std::filesystem::exists(dir / "data" / "fwtool" / "backups"));
}

// Two reads that do not agree, a part that cannot be read, a file that
// cannot be written: nothing is erased or programmed, and the status and the
// notice say so.
struct NoCopyCase {
  const char* name;
  const char* units;
  bool flipRead;   // one read of the copy comes back with a bit turned
  bool takenName;  // the backup target exists already
  const char* status;
};

const NoCopyCase kNoCopy[] = {
    {"ReadsDisagree", "vqb719", true, false, "Backup before writing fail! Nothing written."},
    {"FileExists", "vqb719", false, true, "Backup before writing fail! Nothing written."},
    {"DiskAreaNotPlaced", "vqb145:disk=64M:capacity=fail", false, false,
     "The firmware area on the disk was not found: the disk's capacity cannot be read"},
};

class NoCopy : public SimFormTest, public ::testing::WithParamInterface<NoCopyCase> {};

TEST_P(NoCopy, NothingIsWritten) {
  const NoCopyCase& c = GetParam();
  Build(c.units);
  const auto target = dir / "copy.bin";
  if (c.takenName) std::ofstream(target) << "the operator's";
  auto& f = Open(target.string());
  f.ShowEngineeringFace();
  f.EraseOnlyCheck.SetChecked(true);
  auto& unit = farm->Controller(0);
  const Bytes flash = unit.Flash().Contents();
  if (c.flipRead) {
    sim::FaultPlan faults;
    faults.flipReadBitFrom = unit.CommandCount() + 20;
    unit.SetFaults(faults);
  }
  unit.ClearLog();
  f.UpdateBtnClick(f.UpdateBtn);
  EXPECT_FALSE(f.LastRun().ran);
  EXPECT_EQ(f.StatusEdit.Text(), c.status);
  EXPECT_EQ(f.Notice(),
            "The unit's contents could not be saved; nothing was written to the device.");
  EXPECT_TRUE(f.UpdateBtn.Enabled());
  for (const auto& command : Log()) {
    EXPECT_FALSE(testing::IsFlashWrite(command));
    EXPECT_NE(command[0], 0x2A);  // WRITE(10)
    EXPECT_NE(command[0], 0x8A);  // WRITE(16)
  }
  EXPECT_TRUE(unit.Flash().Contents() == flash);
  EXPECT_TRUE(unit.Disk().Writes().empty());
  if (c.takenName) {
    const std::string kept = "the operator's";
    EXPECT_EQ(ReadFile(target), Bytes(kept.begin(), kept.end()));
  }
}

INSTANTIATE_TEST_SUITE_P(Refused, NoCopy, ::testing::ValuesIn(kNoCopy),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace fwtool
