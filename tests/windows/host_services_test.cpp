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

TEST_F(TempFolder, RenameNeverReplacesAFile) {
  const fs::path from = folder_ / "new.part";
  const fs::path to = folder_ / "kept.bin";
  std::ofstream(from, std::ios::binary) << "new";
  std::ofstream(to, std::ios::binary) << "old";
  std::error_code ec;
  EXPECT_FALSE(RenameNoReplace(from.string(), to.string(), ec));
  EXPECT_TRUE(ec);
  EXPECT_EQ(ReadAll(to), "old");
  EXPECT_EQ(ReadAll(from), "new");

  const fs::path free = folder_ / "free.bin";
  EXPECT_TRUE(RenameNoReplace(from.string(), free.string(), ec)) << ec.message();
  EXPECT_EQ(ReadAll(free), "new");
  EXPECT_FALSE(fs::exists(from));
}

TEST_F(TempFolder, OpenNewFileRefusesAnExistingName) {
  const fs::path taken = folder_ / "taken.bin";
  std::ofstream(taken, std::ios::binary) << "x";
  EXPECT_EQ(OpenNewFile(taken.string()), nullptr);
  std::FILE* file = OpenNewFile((folder_ / "fresh.bin").string());
  ASSERT_NE(file, nullptr);
  EXPECT_GE(std::fputs("ab\n", file), 0);
  EXPECT_EQ(std::fflush(file), 0);
  EXPECT_TRUE(FlushToDisk(file));
  std::fclose(file);
  EXPECT_EQ(ReadAll(folder_ / "fresh.bin"), "ab\n") << "binary: no CR added";
}

TEST_F(TempFolder, BackupIsSavedCompleteAndNeverOverAnotherFile) {
  const std::string path = (folder_ / "sub" / "before.bin").string();
  const uint8_t bytes[4] = {0x0A, 0x0D, 0x00, 0xFF};
  std::string error;
  ASSERT_EQ(fwtool::SaveBackupFile(path, bytes, sizeof bytes, &error), 1) << error;
  EXPECT_EQ(ReadAll(path), std::string("\x0A\x0D\x00\xFF", 4));
  EXPECT_FALSE(fs::exists(path + ".part"));
  EXPECT_EQ(fwtool::SaveBackupFile(path, bytes, 2, &error), 0);
  EXPECT_EQ(error, path + " exists already");
  EXPECT_EQ(fs::file_size(path), 4u);
}

}  // namespace
}  // namespace fwtool::host
