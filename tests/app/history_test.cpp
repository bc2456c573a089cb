// SPDX-License-Identifier: GPL-2.0-or-later
// The history file: a record written and read back whole, the lines a crash
// or stray bytes leave skipped with a warning and no other record lost,
// writers in several processes that never mix their lines, and a file that
// only its user can read, never written through a link.
#include "history.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace fwtool {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class HistoryFileTest : public ::testing::Test {
 protected:
  fs::path dir = fs::temp_directory_path() / ("fwtool-history-" + std::to_string(::getpid()));
  fs::path file = dir / "data" / "fwtool" / "history.jsonl";

  void SetUp() override { fs::remove_all(dir); }
  void TearDown() override { fs::remove_all(dir); }

  std::string Text() const {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void AddText(const std::string& text) const {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::app) << text;
  }
  void Append(const HistoryRecord& record) const {
    std::string error;
    ASSERT_TRUE(AppendHistory(file.string(), record, error)) << error;
  }
};

// Every field set, texts with what JSON must escape.
HistoryRecord FullRecord() {
  HistoryRecord r;
  r.time = "2025-03-04T05:06:07Z";
  r.fwtoolVersion = "0.2.0";
  r.unit = {"sim:usbsto#disk&ven_talve&prod_vqb719#0",
            "Talve",
            "VQB719 \"Bridge\"",
            8,
            "VQB711/719 Series",
            1,
            "TLVVQB719000000"};
  r.versionBefore = "5.03.01.16.00";
  r.versionAfter = "2.08.12.16.00";
  r.procedure = "RunFlashUpdate";
  r.options = {
      {"eraseOnly", false}, {"blockSize", int64_t{8192}}, {"flashType", std::string("PMC\tOM39")}};
  r.file = HistoryFile{"/home/op/fw\\new.bin", std::string(64, 'a')};
  r.succeeded = false;
  r.status = "Data compare fail !!\nsecond line";
  r.lastFailedCommand = "DF 00 00: HARDWARE ERROR";
  r.backup = "/home/op/.local/share/fwtool/backups/unit-20250304-050607.bin";
  return r;
}

// Nothing but what every record has.
HistoryRecord BareRecord(const std::string& path = "usbsto:/dev/sg2") {
  HistoryRecord r;
  r.time = "2025-03-04T05:06:08Z";
  r.fwtoolVersion = "0.2.0";
  r.unit.path = path;
  r.procedure = "one-click update";
  r.succeeded = true;
  return r;
}

TEST(HistoryRecordTest, RoundTripsThroughOneLine) {
  for (const HistoryRecord& record : {FullRecord(), BareRecord()}) {
    const std::string line = EncodeHistoryLine(record);
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    const auto back = DecodeHistoryLine(line);
    ASSERT_TRUE(back) << line;
    EXPECT_EQ(*back, record) << line;
  }
}

// A line as another program (or a person) would write it: the field names
// and the null of what is unknown are the file's format.
TEST(HistoryRecordTest, ReadsALineWrittenByHand) {
  const auto record = DecodeHistoryLine(
      R"({"time":"2025-03-04T05:06:08Z","fwtool":"0.2.0","unit":{"path":"usbsto:/dev/sg2",)"
      R"("vendor":"Talve","product":"VQB719 Bridge","chipType":8,"chipLabel":"VQB711/719 Series",)"
      R"("subRevision":0,"serial":null},"versionBefore":"5.03.01.16.00","versionAfter":null,)"
      R"("procedure":"restore","options":{"eraseOnly":true,"flashSize":65536},)"
      R"("file":{"name":"/tmp/b.bin","sha256":null},"result":"failure","status":"x",)"
      R"("lastFailedCommand":"DF: cannot open","backup":null})");
  ASSERT_TRUE(record);
  EXPECT_EQ(record->unit.product, "VQB719 Bridge");
  EXPECT_EQ(record->unit.chipType, 8);
  EXPECT_EQ(record->unit.serial, "");
  EXPECT_EQ(record->versionAfter, "");
  EXPECT_THAT(record->options, ElementsAre(HistoryOption{"eraseOnly", true},
                                           HistoryOption{"flashSize", int64_t{65536}}));
  EXPECT_EQ(record->file, (HistoryFile{"/tmp/b.bin", ""}));
  EXPECT_FALSE(record->succeeded);
  EXPECT_EQ(record->lastFailedCommand, "DF: cannot open");
}

TEST(HistoryRecordTest, WhatIsNotACompleteRecordIsRefused) {
  const std::string good = EncodeHistoryLine(BareRecord());
  for (const std::string& line : {
           good.substr(0, good.size() / 2),  // cut off in the middle of its write
           std::string("\0\0\0\0", 4),       // the zeros a crash can leave in a file
           std::string("[1,2,3]"),
           std::string(R"({"time":"2025-03-04T05:06:08Z"})"),  // no unit, no procedure
           std::string(R"({"time":1,"unit":{"path":"p"},"procedure":"x","result":"success"})"),
           std::string(R"({"time":"t","unit":{"path":"p"},"procedure":"x","result":"maybe"})"),
       })
    EXPECT_FALSE(DecodeHistoryLine(line)) << line;
}

TEST_F(HistoryFileTest, ADamagedLineIsSkippedWithAWarningAndTheOthersKept) {
  Append(FullRecord());
  AddText("{\"time\":\"2025-03-04T05:0\n");  // a write cut short, then ended
  AddText("garbage\n");
  Append(BareRecord());
  const HistoryReading reading = ReadHistory(file.string());
  EXPECT_EQ(reading.error, "");
  EXPECT_THAT(reading.records, ElementsAre(FullRecord(), BareRecord()));
  EXPECT_THAT(reading.warnings,
              ElementsAre("line 2: not a history record", "line 3: not a history record"));
}

// A crash in the middle of a write leaves a line without its end; the next
// record must not be glued onto it and lost with it.
TEST_F(HistoryFileTest, ARecordAfterALineLeftWithoutItsEndStartsALineOfItsOwn) {
  Append(FullRecord());
  const std::string cut = EncodeHistoryLine(BareRecord("cut"));
  AddText(cut.substr(0, 40));
  Append(BareRecord());
  const HistoryReading reading = ReadHistory(file.string());
  EXPECT_THAT(reading.records, ElementsAre(FullRecord(), BareRecord()));
  EXPECT_THAT(reading.warnings, ElementsAre("line 2: not a history record"));
}

TEST_F(HistoryFileTest, NoFileYetIsNoRecordAndNoError) {
  const HistoryReading reading = ReadHistory(file.string());
  EXPECT_TRUE(reading.missing);
  EXPECT_THAT(reading.records, IsEmpty());
  EXPECT_EQ(reading.error, "");
}

TEST_F(HistoryFileTest, TheFileAndItsFoldersAreTheUsersOnly) {
  Append(BareRecord());
  struct stat seen {};
  ASSERT_EQ(::stat(file.c_str(), &seen), 0);
  EXPECT_EQ(seen.st_mode & 07777, 0600u);
  for (const fs::path& folder : {file.parent_path(), file.parent_path().parent_path()}) {
    ASSERT_EQ(::stat(folder.c_str(), &seen), 0);
    EXPECT_EQ(seen.st_mode & 07777, 0700u) << folder;
  }
}

TEST_F(HistoryFileTest, NeverWritesThroughALink) {
  fs::create_directories(file.parent_path());
  const fs::path target = dir / "someone-elses";
  std::ofstream(target) << "theirs\n";
  fs::create_symlink(target, file);
  std::string error;
  EXPECT_FALSE(AppendHistory(file.string(), BareRecord(), error));
  EXPECT_THAT(error, ::testing::HasSubstr("a link"));
  std::ifstream in(target);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "theirs\n");
}

// The file system refuses the rest of the line (the file size limit stands
// in for a full disk): what went in of it is taken out again.
TEST_F(HistoryFileTest, ALineTheDiskCannotTakeWholeLeavesNothingOfIt) {
  Append(BareRecord());
  const std::string before = Text();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlim_t limit = static_cast<rlim_t>(before.size() + 100);
    struct rlimit fileSize {
      limit, limit
    };
    ::setrlimit(RLIMIT_FSIZE, &fileSize);
    std::string error;
    const bool added = AppendHistory(file.string(), FullRecord(), error);
    ::_exit(added ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the append did not fail";
  EXPECT_EQ(Text(), before);
}

// Several programs updating units at once (each its own process, records
// larger than a pipe's atomic write): every record arrives whole, in each
// writer's order, and no line mixes two of them.
TEST_F(HistoryFileTest, WritersInSeveralProcessesNeverMixTheirLines) {
  constexpr int kWriters = 6;
  constexpr int kRecords = 40;
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      bool ok = true;
      for (int n = 0; n < kRecords && ok; ++n) {
        HistoryRecord record = FullRecord();
        record.unit.path = "writer" + std::to_string(w);
        record.status = std::to_string(n) + std::string(8000, static_cast<char>('a' + w));
        std::string error;
        ok = AppendHistory(file.string(), record, error);
      }
      ::_exit(ok ? 0 : 1);
    }
    children.push_back(child);
  }
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  const HistoryReading reading = ReadHistory(file.string());
  EXPECT_THAT(reading.warnings, IsEmpty());
  ASSERT_EQ(reading.records.size(), static_cast<size_t>(kWriters * kRecords));
  std::vector<int> next(kWriters, 0);
  for (const HistoryRecord& record : reading.records) {
    const int w = std::stoi(record.unit.path.substr(6));
    EXPECT_EQ(record.status,
              std::to_string(next[w]) + std::string(8000, static_cast<char>('a' + w)));
    ++next[w];
  }
}

// What is in the history's place is read only when it is a regular file
// of bounded size: a FIFO would hang the reader, a link would read another
// file, a file of a gigabyte would fill the memory.
TEST_F(HistoryFileTest, OnlyARegularFileOfBoundedSizeIsRead) {
  fs::create_directories(file.parent_path());
  struct Case {
    const char* name;
    std::function<void()> make;
    std::string error;
  };
  const fs::path other = dir / "elsewhere.jsonl";
  const Case cases[] = {
      {"a FIFO", [&] { ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); },
       file.string() + ": not a regular file"},
      {"a link",
       [&] {
         std::ofstream(other) << EncodeHistoryLine(BareRecord()) << "\n";
         fs::create_symlink(other, file);
       },
       file.string() + ": a link; it is not read through links"},
      {"a folder", [&] { fs::create_directory(file); }, file.string() + ": not a regular file"},
      {"a file over 16 MB",
       [&] {
         std::ofstream(file, std::ios::binary) << "x";
         fs::resize_file(file, 16 * 1024 * 1024 + 1);
       },
       file.string() + ": larger than 16777216 bytes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(file);
    c.make();
    const HistoryReading reading = ReadHistory(file.string());
    EXPECT_EQ(reading.error, c.error);
    EXPECT_THAT(reading.records, IsEmpty());
  }
}

TEST_F(HistoryFileTest, DamagedLinesAreCountedAndOnlyTheFirstNamed) {
  Append(FullRecord());
  for (int i = 0; i < 20; ++i) AddText("garbage\n");
  AddText(std::string(64 * 1024 + 1, '{') + "\n");  // line 22
  Append(BareRecord());
  const HistoryReading reading = ReadHistory(file.string());
  EXPECT_EQ(reading.error, "");
  EXPECT_THAT(reading.records, ElementsAre(FullRecord(), BareRecord()));
  EXPECT_EQ(reading.damaged, 21u);
  EXPECT_THAT(reading.warnings,
              ElementsAre("line 2: not a history record", "line 3: not a history record",
                          "line 4: not a history record", "line 5: not a history record",
                          "line 6: not a history record"));
}

// A second name of the file may be a name of another file of the user's:
// the record would be added there.
TEST_F(HistoryFileTest, NeverAddsToAFileWithAnotherName) {
  fs::create_directories(file.parent_path());
  const fs::path target = dir / "notes.txt";
  std::ofstream(target) << "mine\n";
  fs::create_hard_link(target, file);
  std::string error;
  EXPECT_FALSE(AppendHistory(file.string(), BareRecord(), error));
  EXPECT_EQ(error, file.string() +
                       ": the file has more than one name (a hard link); nothing is added to it");
  std::ifstream in(target);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "mine\n");
}

}  // namespace
}  // namespace fwtool
