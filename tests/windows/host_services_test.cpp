// SPDX-License-Identifier: GPL-2.0-or-later
// The Windows host services: the per-user folder, a file that is never put in
// place of another, the program's folder and a standard input that is no
// console.
#include "host_services.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "backup_file.h"
#include "history.h"

namespace fwtool::host {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class TempFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        fs::temp_directory_path() / ("fwtool-host-" + std::to_string(::GetCurrentProcessId()));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }
  fs::path folder_;
};

TEST(HostServices, UserDataFolderIsUnderLocalAppData) {
  const char* local = std::getenv("LOCALAPPDATA");
  ASSERT_NE(local, nullptr);
  EXPECT_EQ(fs::path(UserDataFolder()), fs::path(local) / "fwtool");
  EXPECT_EQ(fs::path(fwtool::DefaultBackupFolder()), fs::path(local) / "fwtool" / "backups");
}

TEST(HostServices, ProgramFolderIsWhereThisProgramIs) {
  char self[MAX_PATH] = {};
  ASSERT_GT(::GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
  EXPECT_EQ(fs::path(ProgramFolder()), fs::path(self).parent_path());
}

TEST(HostServices, StandardInputFromTheNullDeviceIsNoTerminal) {
  // The tests run with </dev/null, which wine hands over as a file.
  EXPECT_FALSE(IsTerminal(StandardStream::Input));
}

TEST(HostServices, HistoryIsUnderLocalAppData) {
  const char* local = std::getenv("LOCALAPPDATA");
  ASSERT_NE(local, nullptr);
  EXPECT_EQ(fs::path(fwtool::DefaultHistoryPath()), fs::path(local) / "fwtool" / "history.jsonl");
}

// Lines go in whole, each on a line of its own, in a folder the append
// makes; a line a crash left without its end is ended first.
TEST_F(TempFolder, AppendedLinesStartOnLinesOfTheirOwn) {
  const fs::path file = folder_ / "made" / "history.jsonl";
  std::string error;
  ASSERT_TRUE(AppendLine(file.string(), "first\n", error)) << error;
  {
    std::ofstream cut(file, std::ios::binary | std::ios::app);
    cut << "cut sh";
  }
  ASSERT_TRUE(AppendLine(file.string(), "second\n", error)) << error;
  ASSERT_TRUE(AppendLine(file.string(), "third", error)) << error;
  EXPECT_EQ(ReadAll(file), "first\ncut sh\nsecond\nthird\n");
}

TEST_F(TempFolder, ANewFileNeverTakesThePlaceOfAnother) {
  const fs::path kept = folder_ / "kept.bin";
  std::ofstream(kept, std::ios::binary) << "old";
  const std::vector<uint8_t> bytes = {'n', 'e', 'w'};
  std::string written;
  std::string error;
  EXPECT_FALSE(WriteNewFile(kept.string(), bytes, TakenName::Refuse, &written, &error));
  EXPECT_EQ(error, "exists already");
  EXPECT_EQ(ReadAll(kept), "old");
  ASSERT_TRUE(WriteNewFile(kept.string(), bytes, TakenName::Number, &written, &error)) << error;
  EXPECT_EQ(fs::path(written), folder_ / "kept-2.bin");
  EXPECT_EQ(ReadAll(written), "new");
  // The program's own file in its own folder is replaced whole.
  ASSERT_TRUE(WriteNewFile(kept.string(), bytes, TakenName::Replace, &written, &error)) << error;
  EXPECT_EQ(ReadAll(kept), "new");
  size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder_)) ++files;
  EXPECT_EQ(files, 2u) << "no temporary file left behind";
}

TEST_F(TempFolder, OpenNewFileRefusesAnExistingName) {
  const fs::path taken = folder_ / "taken.bin";
  std::ofstream(taken, std::ios::binary) << "x";
  EXPECT_EQ(OpenNewFile(taken.string()), nullptr);
  std::FILE* file = OpenNewFile((folder_ / "fresh.bin").string());
  ASSERT_NE(file, nullptr);
  EXPECT_GE(std::fputs("ab\n", file), 0);
  std::fclose(file);
  EXPECT_EQ(ReadAll(folder_ / "fresh.bin"), "ab\n") << "binary: no CR added";
}

TEST_F(TempFolder, BackupIsSavedCompleteAndNeverOverAnotherFile) {
  const std::string path = (folder_ / "sub" / "before.bin").string();
  const uint8_t bytes[4] = {0x0A, 0x0D, 0x00, 0xFF};
  std::string error;
  ASSERT_EQ(fwtool::SaveBackupFile(path, bytes, sizeof bytes, &error), 1) << error;
  EXPECT_EQ(ReadAll(path), std::string("\x0A\x0D\x00\xFF", 4));
  EXPECT_EQ(fwtool::SaveBackupFile(path, bytes, 2, &error), 0);
  EXPECT_EQ(error, path + " exists already");
  EXPECT_EQ(fs::file_size(path), 4u);
}

}  // namespace
}  // namespace fwtool::host
