// SPDX-License-Identifier: GPL-2.0-or-later
// Recorded runs: what the recording decorator writes for each command, and a
// replay that answers the same run and stops at the first command that
// differs, naming it.
#include "recorded_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "capture_backend.h"
#include "clock.h"
#include "command_block.h"
#include "enumeration.h"
#include "pass_through.h"
#include "temp_files.h"
#include "transport.h"

namespace fwtool {
namespace {

using testing::Answered;
using testing::CaptureBackend;

constexpr const char* kUnit = "usbsto:/dev/sg0";
constexpr const char* kOther = "usbsto:/dev/sg1";

const uint8_t kInquiry[6] = {0x12, 0, 0, 0, 0x24, 0};
const uint8_t kWrite[12] = {0xDF, 0x02, 0, 0, 0x04, 0, 0, 0, 0, 0x10, 0, 0xFB};
const uint8_t kStatus[12] = {0xFF, 0x04, 0x12, 0, 0, 0, 0, 0, 0, 0, 0, 0};

// A unit that answers INQUIRY with "VQ", takes writes, reports status 0x01
// and refuses everything else with ILLEGAL REQUEST.
PassThroughResult Answer(const PassThroughRequest& rq) {
  PassThroughResult r = Answered();
  if (rq.cdb[0] == 0x12) {
    rq.data[8] = 'V';
    rq.data[9] = 'Q';
    r.transferred = 10;
  } else if (rq.cdb[0] == 0xDF) {
    r.transferred = rq.length;
  } else if (rq.cdb[0] == 0xFF) {
    rq.data[0] = 0x01;
    r.transferred = 2;
  } else {
    r.scsiStatus = 2;
    r.sense = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0x00};
  }
  return r;
}

// The run every test sends: INQUIRY, a 4-byte write, a 1-byte status read,
// an unknown block that fails, to `path`.
std::vector<int> SendRun(const char* path, uint8_t firstWriteByte = 0x01) {
  std::vector<uint8_t> inquiry(0x24);
  const uint8_t data[4] = {firstWriteByte, 0x02, 0x03, 0x00};
  uint8_t status = 0;
  const uint8_t unknown[6] = {0x3C, 0, 0, 0, 0, 0};
  uint8_t none[4] = {};
  return {SendCommandIn(path, kInquiry, 6, inquiry.data(), 0x24, nullptr),
          SendCommandOut(path, kWrite, 12, data, 4, nullptr),
          SendCommandIn(path, kStatus, 12, &status, 1, nullptr),
          SendCommandIn(path, unknown, 6, none, 4, nullptr)};
}

class RecordedRunTest : public ::testing::Test {
 protected:
  std::shared_ptr<VirtualClock> clock = std::make_shared<VirtualClock>();
  ScopedClock scopedClock{clock};
  std::shared_ptr<PassThroughBackend> previous;
  void TearDown() override { SetPlatformBackend(previous); }

  // Records SendRun() on each path against the scripted unit.
  RecordedRun Record(std::initializer_list<const char*> paths) {
    auto unit = std::make_shared<CaptureBackend>();
    unit->responder = Answer;
    auto recorder = std::make_shared<RunRecorder>("fwtool 0.2.0", std::vector<std::string>{"list"});
    previous = SetPlatformBackend(std::make_shared<RecordingBackend>(unit, recorder));
    for (const char* path : paths) SendRun(path);
    SetPlatformBackend(previous);
    return recorder->Run();
  }
  std::shared_ptr<ReplayBackend> Replay(const RecordedRun& run) {
    std::string error;
    auto parsed = ParseRecordedRun(RecordedRunJson(run), &error);
    EXPECT_TRUE(parsed) << error;
    auto replay = std::make_shared<ReplayBackend>(parsed ? *parsed : RecordedRun{});
    previous = SetPlatformBackend(replay);
    return replay;
  }
};

TEST_F(RecordedRunTest, EachCommandIsWrittenWithItsBlockDataAnswerAndTime) {
  const RecordedRun run = Record({kUnit});
  const std::string text = RecordedRunJson(run);
  // The write: its 4 bytes (01 02 03 00 is "AQID" without the zero at the end).
  EXPECT_NE(
      text.find(
          R"({"index":2,"path":"usbsto:/dev/sg0","cdb":"DF 02 00 00 04 00 00 00 00 10 00 FB",)"
          R"("direction":"out","length":4,"timeout":50,"dataOut":"AQID",)"
          R"("result":{"opened":true,"callOk":true,"scsiStatus":0,"transferred":4},)"),
      std::string::npos)
      << text;
  // The 1-byte read goes out as 2 bytes; the unit's 01 00 is "AQ==".
  EXPECT_NE(text.find(R"("cdb":"FF 04 12 00 00 00 00 00 00 00 00 00","direction":"in","length":2,)"
                      R"("timeout":10,"dataIn":"AQ==",)"),
            std::string::npos);
  // The refused block keeps its status and sense.
  EXPECT_NE(text.find(R"("result":{"opened":true,"callOk":true,"scsiStatus":2,"transferred":0,)"
                      R"("sense":"70 00 05 00 00 00 00 0A 00 00 00 00 20 00"})"),
            std::string::npos);
  EXPECT_NE(text.find("\"arguments\": [\"list\"]"), std::string::npos);
  ASSERT_EQ(run.commands.size(), 4u);
  EXPECT_EQ(run.commands[0].data[8], 'V');
}

TEST_F(RecordedRunTest, AReplayAnswersTheSameRunAsTheUnitDid) {
  const RecordedRun run = Record({kUnit});
  auto replay = Replay(run);
  EXPECT_EQ(SendRun(kUnit), (std::vector<int>{1, 1, 1, 0}));
  EXPECT_EQ(replay->Mismatch(), "");
  EXPECT_EQ(replay->Unplayed(), 0u);
  std::vector<uint8_t> inquiry(0x24);
  // One more command than the recording holds.
  EXPECT_EQ(SendCommandIn(kUnit, kInquiry, 6, inquiry.data(), 0x24, nullptr), 0);
  EXPECT_EQ(replay->Mismatch(),
            "a command to usbsto:/dev/sg0 after the last one the recording holds for it");
}

TEST_F(RecordedRunTest, EachPathAnswersInItsOwnOrderWhateverTheInterleaving) {
  const RecordedRun run = Record({kUnit, kOther});
  auto replay = Replay(run);
  EXPECT_EQ(SendRun(kOther), (std::vector<int>{1, 1, 1, 0}));
  EXPECT_EQ(SendRun(kUnit), (std::vector<int>{1, 1, 1, 0}));
  EXPECT_EQ(replay->Mismatch(), "");
}

TEST_F(RecordedRunTest, TheFirstCommandThatDiffersIsNamedAndFailsAsATransportFailure) {
  struct Case {
    const char* name;
    std::function<void(RecordedRun&)> change;  // made to the recording
    const char* mismatch;
  };
  const std::vector<Case> cases = {
      {"block", [](RecordedRun& r) { r.commands[2].cdb[2] = 0x13; },
       "command 3 differs from the recording: block [FF 04 12 00 00 00 00 00 00 00 00 00] sent, "
       "[FF 04 13 00 00 00 00 00 00 00 00 00] recorded"},
      {"length", [](RecordedRun& r) { r.commands[0].length = 0x60; },
       "command 1 differs from the recording: length 36 sent, 96 recorded"},
      {"direction", [](RecordedRun& r) { r.commands[1].direction = DataDirection::In; },
       "command 2 differs from the recording: data-out sent, data-in recorded"},
      {"data", [](RecordedRun& r) { r.commands[1].data[2] = 0x07; },
       "command 2 differs from the recording: data-out byte 2 is 0x03, 0x07 recorded"},
      {"time-out", [](RecordedRun& r) { r.commands[1].timeoutSeconds = 100; },
       "command 2 differs from the recording: time-out 50 s sent, 100 s recorded"},
      // The first command was recorded for another device: this device's
      // first recorded command is the write.
      {"path", [](RecordedRun& r) { r.commands[0].path = kOther; },
       "command 2 differs from the recording: block [12 00 00 00 24 00] sent, "
       "[DF 02 00 00 04 00 00 00 00 10 00 FB] recorded"},
  };
  const RecordedRun run = Record({kUnit});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecordedRun changed = run;
    c.change(changed);
    auto replay = Replay(changed);
    PassThroughResult seen;
    bool failedSeen = false;
    auto sink = SetCommandTrace([&](const CommandTraceRecord& record) {
      if (!record.returned && !failedSeen && record.result.hostStatus != 0) {
        seen = record.result;
        failedSeen = true;
      }
    });
    const auto returned = SendRun(kUnit);
    SetCommandTrace(sink);
    EXPECT_EQ(replay->Mismatch(), c.mismatch);
    EXPECT_EQ(CategoryOf(seen), ResultCategory::Transport);
    EXPECT_EQ(DescribeResult(seen), std::string("transport error: replay: ") + c.mismatch);
    // Every command from the first that differs on fails.
    EXPECT_EQ(returned.back(), 0);
    SetPlatformBackend(previous);
  }
}

// One command of a recording whose fields are `fields` (replacing the
// defaults of the same name) and whose result holds `result`.
std::string Command(const std::string& fields, const std::string& result = R"("scsiStatus": 0)") {
  return R"({"format": "fwtool recorded run", "version": 1, "commands": [{"index": 1, )"
         R"("path": "usbsto:/dev/sg0", "cdb": "12 00 00 00 28 00", "timeout": 10, "direction": "in", )" +
         fields + R"(, "result": {"opened": true, "callOk": true, "transferred": 0, )" + result +
         "}}]}";
}

TEST_F(RecordedRunTest, AFileThatIsNoRecordingIsRefusedWithTheReason) {
  struct Case {
    std::string text;
    const char* error;
  };
  const std::vector<Case> cases = {
      {"[1, 2]", "not a JSON object"},
      {R"({"format": "other"})", "not a recorded run (no \"format\": \"fwtool recorded run\")"},
      {R"({"format": "fwtool recorded run", "version": 2})",
       "version 2 of the format; this program reads version 1"},
      {R"({"format": "fwtool recorded run", "version": 1, "commands": [{"index": 1, "path": "p",
          "cdb": "1Z", "direction": "in", "length": 0, "timeout": 10,
          "result": {"opened": true, "callOk": true, "scsiStatus": 0, "transferred": 0}}]})",
       "entry 1 of \"commands\": a bad \"cdb\""},
      {R"({"format": "fwtool recorded run", "version": 1, "commands": [{"index": 1, "path": "p",
          "cdb": "12", "direction": "in", "length": 1, "timeout": 10, "dataIn": "AQID",
          "result": {"opened": true, "callOk": true, "scsiStatus": 0, "transferred": 0}}]})",
       "entry 1 of \"commands\": a bad \"dataIn\""},
      // Each field of the wrong type or out of its range, said as such:
      // nothing throws, nothing is allocated for a length no command has.
      {R"({"format": "fwtool recorded run", "version": "1", "commands": []})",
       "\"version\" is not a whole number; this program reads version 1"},
      {R"({"format": 1, "version": 1})",
       "not a recorded run (no \"format\": \"fwtool recorded run\")"},
      {R"({"format": "fwtool recorded run", "version": 1, "commands": {"index": 1}})",
       "the run's header: \"commands\" is not a list"},
      {R"({"format": "fwtool recorded run", "version": 1, "arguments": "list", "commands": []})",
       "the run's header: \"arguments\" is not a list of texts"},
      {R"({"format": "fwtool recorded run", "version": 1, "interfaces": [{"disk": [1]}],
          "commands": []})",
       "the run's header: \"disk\" is not a list of texts"},
      {Command(R"("length": 4294967295)"),
       "entry 1 of \"commands\": \"length\" is not a whole number from 0 to 16777216"},
      {Command(R"("length": 16777217)"),
       "entry 1 of \"commands\": \"length\" is not a whole number from 0 to 16777216"},
      {Command(R"("length": -1)"),
       "entry 1 of \"commands\": \"length\" is not a whole number from 0 to 16777216"},
      {Command(R"("length": "40")"),
       "entry 1 of \"commands\": \"length\" is not a whole number from 0 to 16777216"},
      {Command(R"("length": 40.5)"),
       "entry 1 of \"commands\": \"length\" is not a whole number from 0 to 16777216"},
      {Command(R"("length": 40)", R"("scsiStatus": 256)"),
       "entry 1 of \"commands\": \"scsiStatus\" is not a whole number from 0 to 255"},
      {Command(R"("length": 40)", R"("scsiStatus": 0, "opened": "yes")"),
       "entry 1 of \"commands\": \"opened\" is not true or false"},
      {Command(R"("length": 40, "durationMs": -5)"),
       "entry 1 of \"commands\": \"durationMs\" is not a time from 0 to 3600000 ms"},
      {Command(R"("length": 40, "direction": "both")"),
       "entry 1 of \"commands\": a bad \"direction\""},
      {Command(R"("length": 40)", R"("scsiStatus": 2, "sense": "70 00 05 0")"),
       "entry 1 of \"commands\": a bad \"sense\""},
      {R"({"format": "fwtool recorded run", "version": 1, "commands": [7]})",
       "entry 1 of \"commands\": not an object"},
      {R"({"format": "fwtool recorded run", "version": 1, "commands": [{"index": 1}]})",
       "entry 1 of \"commands\": no \"path\""},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(ParseRecordedRun(c.text, &error)) << c.text;
    EXPECT_EQ(error, c.error);
  }
}

TEST_F(RecordedRunTest, OnlyARegularFileOfBoundedSizeIsRead) {
  const testing::TempDir dir;
  std::string error;
  EXPECT_FALSE(LoadRecordedRun("/dev/zero", &error));
  EXPECT_EQ(error, "/dev/zero: not a regular file");
  EXPECT_FALSE(LoadRecordedRun(dir.Root(), &error));
  EXPECT_EQ(error, dir.Root() + ": not a regular file");
  EXPECT_FALSE(LoadRecordedRun(dir.Path("none.json"), &error));
  EXPECT_EQ(error, dir.Path("none.json") + ": no such file");
  const std::string large = dir.Write("large.json", {'{'});
  std::filesystem::resize_file(large, kMaxRecordFileSize + 1);  // sparse: costs nothing
  EXPECT_FALSE(LoadRecordedRun(large, &error));
  EXPECT_EQ(error, large + ": larger than a recording may be (256 MB)");
  const std::string text = RecordedRunJson(Record({kUnit}));
  const std::string good = dir.Write("good.json", std::vector<uint8_t>(text.begin(), text.end()));
  const auto run = LoadRecordedRun(good, &error);
  ASSERT_TRUE(run) << error;
  EXPECT_EQ(run->commands.size(), 4u);
}

TEST_F(RecordedRunTest, TheRecordingIsANewFileThatNeverTakesAnothersPlace) {
  const testing::TempDir dir;
  RunRecorder recorder("fwtool 0.2.0", {"list"});
  const std::string path = dir.Write("taken.json", {'o', 'l', 'd'});
  std::string error;
  EXPECT_FALSE(recorder.Save(path, &error));
  EXPECT_EQ(error, "cannot write " + path + ": exists already");
  EXPECT_EQ(testing::ReadFile(path), (std::vector<uint8_t>{'o', 'l', 'd'}));
  ASSERT_TRUE(recorder.Save(dir.Path("new.json"), &error)) << error;
#ifndef _WIN32
  EXPECT_EQ(std::filesystem::status(dir.Path("new.json")).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write)
      << "every flash read is in it: for the user only";
#endif
}

TEST_F(RecordedRunTest, TheDeviceListsComeBackInTheirOrderAndTheLastOneStays) {
  ReplayEnumerator devices({{{"usbsto:/dev/sg0"}, {}, ""},
                            {{"usbsto:/dev/sg0", "usbsto:/dev/sg1"}, {"usbsto:/dev/sr0"}, "why"}});
  EXPECT_EQ(devices.DiskInterfaces(), std::vector<std::string>{"usbsto:/dev/sg0"});
  EXPECT_EQ(devices.AccessProblem(), "");
  EXPECT_EQ(devices.DiskInterfaces().size(), 2u);
  EXPECT_EQ(devices.CdromInterfaces(), std::vector<std::string>{"usbsto:/dev/sr0"});
  EXPECT_EQ(devices.DiskInterfaces().size(), 2u);
  EXPECT_EQ(devices.AccessProblem(), "why");
}

}  // namespace
}  // namespace fwtool
