// SPDX-License-Identifier: GPL-2.0-or-later
// What the form adds to the history: one record for every operation that
// writes to a unit (the one-click update, a Run that erases or programs, the
// bank repair), whatever its result; nothing for what only reads.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "history.h"
#include "sim_form_fixture.h"

namespace fwtool {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testing::SimFormTest;
using ::testing::SizeIs;
using ::testing::StartsWith;

constexpr const char* kBundledImage = FWTOOL_BUNDLED_IMAGE;
// sha256sum resources/VQB719FW.bin
constexpr const char* kBundledImageSha256 =
    "3ba20fb59d49717f3a3334f9de184f3d5175f958d3ae86debb88888bfe21c39d";
// The version bytes after the image's signature block at 0x1000, as a
// type-8 unit prints them.
constexpr const char* kBundledImageVersion = "2.08.12.16.00";

class OperationHistory : public SimFormTest {
 protected:
  void SetUp() override {
    SimFormTest::SetUp();
    historyPath = (dir / "history.jsonl").string();
  }
  std::vector<HistoryRecord> Records() {
    const HistoryReading reading = ReadHistory(historyPath);
    EXPECT_THAT(reading.warnings, IsEmpty());
    return reading.records;
  }
};

TEST_F(OperationHistory, TheOneClickUpdateRecordsTheUnitTheVersionsTheImageAndTheBackup) {
  Build("vqb719");
  const std::string backup = (dir / "before.bin").string();
  auto& f = Open();
  const std::string before = f.FwVerLableEdit.Text();
  ASSERT_FALSE(before.empty());
  f.OneClickUpdate({.backupFile = backup});
  ASSERT_EQ(f.Face(), OneClickFace::Done);

  const auto records = Records();
  ASSERT_THAT(records, SizeIs(1));
  const HistoryRecord& r = records[0];
  EXPECT_TRUE(std::regex_match(r.time, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)"))) << r.time;
  EXPECT_EQ(r.fwtoolVersion, FWTOOL_VERSION);
  EXPECT_EQ(r.unit, (HistoryUnit{farm->Unit(0).diskPath, "Talve", "VQB719 Bridge", 8,
                                 "VQB711/719 Series", 0, "TLVVQB719000000"}));
  EXPECT_EQ(r.versionBefore, before);
  EXPECT_EQ(r.versionAfter, kBundledImageVersion);
  EXPECT_EQ(r.procedure, "one-click update");
  EXPECT_EQ(r.file, (HistoryFile{"VQB719FW (built in)", kBundledImageSha256}));
  EXPECT_TRUE(r.succeeded);
  EXPECT_EQ(r.status, "Programming Success!!");
  EXPECT_EQ(r.lastFailedCommand, "");
  EXPECT_EQ(r.backup, backup);
}

// The unit leaves in the middle of the write: the record says the update
// failed and names the last command that failed, block and reason.
TEST_F(OperationHistory, AFailedUpdateNamesTheLastCommandThatFailed) {
  Build("vqb719");
  Open();
  const uint64_t listed = farm->Controller(0).CommandCount();
  farm->Controller(0).ClearLog();
  form->OneClickUpdate({.backupFile = (dir / "probe.bin").string()});
  const auto log = Log();
  size_t write = 0;  // the first flash write, after the backup's reads
  while (write < log.size() && !testing::IsFlashWrite(log[write])) ++write;
  ASSERT_LT(write, log.size());

  Build("vqb719:vanish=" + std::to_string(listed + write + 1));
  std::filesystem::remove(historyPath);
  auto& f = Open();
  f.OneClickUpdate({.backupFile = (dir / "before.bin").string()});
  ASSERT_EQ(f.Face(), OneClickFace::Failed);
  const auto records = Records();
  ASSERT_THAT(records, SizeIs(1));
  EXPECT_FALSE(records[0].succeeded);
  EXPECT_EQ(records[0].versionAfter, "") << "nothing verified";
  EXPECT_TRUE(std::regex_match(records[0].lastFailedCommand,
                               std::regex("[0-9A-F]{2}( [0-9A-F]{2}){9,15}: .+")))
      << records[0].lastFailedCommand;
  EXPECT_EQ(records[0].backup, (dir / "before.bin").string());
}

TEST_F(OperationHistory, RunsThatEraseOrProgramAreRecordedAndABackupOnlyIsNot) {
  Build("vqb719");
  auto& f = Open();
  f.ShowEngineeringFace();
  RunRequest backupOnly;
  backupOnly.mode = RunRequest::Mode::BackupOnly;
  backupOnly.backupFile = (dir / "copy.bin").string();
  ASSERT_TRUE(f.Run(backupOnly).ran);
  EXPECT_THAT(Records(), IsEmpty());

  RunRequest eraseOnly;
  eraseOnly.mode = RunRequest::Mode::EraseOnly;
  ASSERT_TRUE(f.Run(eraseOnly).ran);
  RunRequest program;
  program.firmwareFile = kBundledImage;
  ASSERT_EQ(f.Run(program).result, 1) << f.StatusEdit.Text();

  const auto records = Records();
  ASSERT_THAT(records, SizeIs(2));
  const HistoryRecord& erase = records[0];
  EXPECT_EQ(erase.procedure, "RunFlashUpdate");
  EXPECT_EQ(erase.file, std::nullopt);
  EXPECT_THAT(erase.options, ::testing::Contains(HistoryOption{"eraseOnly", true}));
  EXPECT_EQ(erase.versionAfter, "");
  const HistoryRecord& written = records[1];
  EXPECT_EQ(written.procedure, "RunFlashUpdate");
  EXPECT_EQ(written.file,
            (HistoryFile{std::filesystem::absolute(kBundledImage).string(), kBundledImageSha256}));
  EXPECT_THAT(written.options, ::testing::Contains(HistoryOption{"eraseOnly", false}));
  EXPECT_THAT(written.options, ::testing::Contains(HistoryOption{"blockSize", int64_t{8192}}));
  EXPECT_TRUE(written.succeeded);
  EXPECT_EQ(written.status, f.StatusEdit.Text());
  EXPECT_EQ(written.versionAfter, kBundledImageVersion);
}

TEST_F(OperationHistory, TheBankRepairIsRecordedWithItsBackupAndItsOutcome) {
  // An MXIC part whose protection cannot be lifted (the status write
  // refused) keeps the second bank as it is.
  for (const auto& [unit, repaired] :
       {std::pair{"vqs175:maker=winbond:bank=bad1", true}, std::pair{"vqs175:bank=bad1", true},
        std::pair{"vqs175:bank=bad1:fail-match=ff0420020001", false}}) {
    SCOPED_TRACE(unit);
    std::filesystem::remove(historyPath);
    Build(unit);
    auto& f = Open();
    ASSERT_EQ(f.ChipType, 12);
    const auto records = Records();
    ASSERT_THAT(records, SizeIs(1));
    EXPECT_EQ(records[0].procedure, "bank repair");
    EXPECT_EQ(records[0].unit.chipType, 12);
    EXPECT_EQ(records[0].succeeded, repaired);
    EXPECT_EQ(records[0].status, f.StatusEdit.Text());
    EXPECT_FALSE(records[0].backup.empty());
    EXPECT_EQ(records[0].backup, f.LastBackupPath());
  }
}

TEST_F(OperationHistory, AHistoryThatCannotBeWrittenIsSaidInTheNotice) {
  Build("vqb719");
  historyPath = (dir / "history-is-a-folder").string();
  std::filesystem::create_directories(historyPath);
  auto& f = Open();
  f.OneClickUpdate({.backupFile = (dir / "before.bin").string()});
  ASSERT_EQ(f.Face(), OneClickFace::Done) << "the update itself is not undone";
  EXPECT_FALSE(f.HistoryError().empty());
  EXPECT_THAT(f.Notice(), HasSubstr("The history could not be written: "));
  EXPECT_THAT(f.Notice(), StartsWith("Flash contents before the update saved to "));
}

}  // namespace
}  // namespace fwtool
