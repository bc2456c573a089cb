// SPDX-License-Identifier: GPL-2.0-or-later
// The form's entries against the clicks they stand for: the same unit, once
// worked through the controls (boxes clicked, items picked, files chosen in
// the open dialog, "Run" pressed) and once through one request to the entry,
// must end with the same controls, settings, boxes, commands on the wire,
// flash and backup file, and the entry must open no dialog.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "sim_form_fixture.h"

namespace fwtool {
namespace {

using testing::SimFormTest;

// Everything the operator and the unit can tell apart after an action.
struct Outcome {
  std::vector<std::string> controls;
  std::vector<std::string> boxes;
  std::vector<std::string> commands;
  std::vector<uint8_t> flash;
  std::vector<uint8_t> backup;
  bool operator==(const Outcome&) const = default;
};

std::string Describe(const Control& c) {
  std::string items;
  for (const auto& item : c.Items()) items += item + "|";
  return c.Name() + " text=" + c.Text() + " items=" + items +
         " index=" + std::to_string(c.ItemIndex()) + " checked=" + std::to_string(c.Checked()) +
         " visible=" + std::to_string(c.Visible()) + " enabled=" + std::to_string(c.Enabled());
}

std::string Describe(const sim::LoggedCommand& c) {
  std::string text;
  for (size_t i = 0; i < c.cdbLength; ++i) text += std::to_string(c.cdb[i]) + " ";
  return text + "len=" + std::to_string(c.length) + " out=" +
         std::to_string(std::hash<std::string>{}(std::string(c.dataOut.begin(), c.dataOut.end())));
}

struct EntryCase {
  const char* name;
  const char* units;
  // The operator's way, through the controls.
  std::function<void(TV77xFwTool&, RecordingOperator&, const std::string& dir)> clicks;
  // The same as one request to the entry.
  std::function<void(TV77xFwTool&, const std::string& dir)> entry;
};

void PrintTo(const EntryCase& c, std::ostream* os) {
  *os << c.name;
}

class FormEntries : public SimFormTest, public ::testing::WithParamInterface<EntryCase> {
 protected:
  std::string Firmware() const { return (dir / "firmware.bin").string(); }
  std::string Backup() const { return (dir / "backup.bin").string(); }

  void SetUp() override {
    SimFormTest::SetUp();
    // A type-12 bank image: filler, then the signature block "1750".
    Bytes image(65536, 0x11);
    const uint8_t signature[] = {0x55, 0xAA, 0xAA, 0x55, '1', '7', '5', '0', 0, 0};
    std::copy(std::begin(signature), std::end(signature), image.begin() + 0xBFF0);
    std::ofstream(Firmware(), std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
  }

  Outcome Pass(const std::function<void(TV77xFwTool&)>& act) {
    std::filesystem::remove(Backup());
    Build(GetParam().units);
    TV77xFwTool& f = Open();
    f.ShowEngineeringFace();
    op.shown.clear();
    op.dialogs.clear();
    farm->Controller(0).ClearLog();
    act(f);
    Outcome outcome;
    for (const Control* c : f.Controls()) outcome.controls.push_back(Describe(*c));
    outcome.controls.push_back("sizes " + std::to_string(f.Settings.SelectedFlashSize) + " " +
                               std::to_string(f.Settings.TransferBlockSize) + " nvram " +
                               std::to_string(f.IncludeNvram) + " erase " +
                               std::to_string(f.EraseOnly));
    for (const auto& shown : op.shown) outcome.boxes.push_back(shown.caption + ": " + shown.text);
    for (const auto& command : Log()) outcome.commands.push_back(Describe(command));
    outcome.flash = Flash();
    outcome.backup = ReadFile(Backup());
    return outcome;
  }
};

TEST_P(FormEntries, AnEntryLeavesWhatItsClicksLeave) {
  const EntryCase& c = GetParam();
  const std::string folder = dir.string();
  const Outcome clicked = Pass([&](TV77xFwTool& f) { c.clicks(f, op, folder); });
  // The clicks did something, so that alike proves something.
  ASSERT_FALSE(clicked.commands.empty() && clicked.boxes.empty());
  const Outcome entered = Pass([&](TV77xFwTool& f) { c.entry(f, folder); });
  EXPECT_TRUE(op.dialogs.empty());
  EXPECT_EQ(entered.controls, clicked.controls);
  EXPECT_EQ(entered.boxes, clicked.boxes);
  EXPECT_EQ(entered.commands, clicked.commands);
  EXPECT_TRUE(entered.flash == clicked.flash);
  EXPECT_TRUE(entered.backup == clicked.backup);
}

const EntryCase kCases[] = {
    {"ProgramWithABackupFile", "vqs175",
     [](TV77xFwTool& f, RecordingOperator& op, const std::string& dir) {
       op.fileAnswers = {dir + "/backup.bin", dir + "/firmware.bin"};
       f.BackupBtn.Click();
       f.LoadBtn.Click();
       f.UpdateBtn.Click();
     },
     [](TV77xFwTool& f, const std::string& dir) {
       f.Run({.backupFile = dir + "/backup.bin", .firmwareFile = dir + "/firmware.bin"});
     }},
    {"BackupOnlyWithoutTheSettingsArea", "vqs175",
     [](TV77xFwTool& f, RecordingOperator& op, const std::string& dir) {
       f.NVRAMCheck.Click();
       f.BackupFWCheckBox.Click();
       op.fileAnswers = {dir + "/backup.bin"};
       f.BackupBtn.Click();
       f.UpdateBtn.Click();
     },
     [](TV77xFwTool& f, const std::string& dir) {
       f.Run({.includeNvram = false,
              .mode = RunRequest::Mode::BackupOnly,
              .backupFile = dir + "/backup.bin"});
     }},
    {"EraseOnlyWithTheSizeBoxes", "vq64775",
     [](TV77xFwTool& f, RecordingOperator&, const std::string&) {
       f.FwPgSizeCheck.Select(3);  // " 4 KB"
       f.EraseOnlyCheck.Click();
       f.FwSizeCheck.Select(2);  // "128KB", shown while a mode box is ticked
       f.UpdateBtn.Click();
     },
     [](TV77xFwTool& f, const std::string&) {
       f.Run({.flashSize = 131072, .transferBlockSize = 4096, .mode = RunRequest::Mode::EraseOnly});
     }},
    {"AFileThatFailsItsChecksumLeavesRunDisabled", "vqs175",
     [](TV77xFwTool& f, RecordingOperator& op, const std::string& dir) {
       f.ChkSumChk.Click();
       op.fileAnswers = {dir + "/firmware.bin"};
       f.LoadBtn.Click();
       f.UpdateBtn.Click();  // disabled: nothing happens
     },
     [](TV77xFwTool& f, const std::string& dir) {
       f.SetRunOptions({.checkSum = true, .firmwareFile = dir + "/firmware.bin"});
       ASSERT_FALSE(f.RunAvailable());
     }},
};

INSTANTIATE_TEST_SUITE_P(Actions, FormEntries, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace fwtool
