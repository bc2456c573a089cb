// SPDX-License-Identifier: GPL-2.0-or-later
// The program's files on Linux: a planted link or a file that is there
// already is never written through or over; new files are the user's only,
// and so are the folders made for them; a file of the program's own is
// replaced only inside a folder nobody else may write into.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "host_services.h"
#include "temp_files.h"

namespace fwtool::host {
namespace {

namespace fs = std::filesystem;
using fwtool::testing::ReadFile;
using fwtool::testing::TempDir;

const std::vector<uint8_t> kNew = {'n', 'e', 'w'};
const std::vector<uint8_t> kSecret = {'s', 'e', 'c', 'r', 'e', 't'};

mode_t ModeOf(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
  return status.st_mode & 07777;
}

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class SafeFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    // A root-only file elsewhere, as a user would aim a link at.
    victim_ = fs::path(victims_.Root()) / "shadow";
    victims_.Write("shadow", kSecret);
    fs::permissions(victim_, fs::perms::owner_read | fs::perms::owner_write);
  }
  void ExpectVictimUntouched() {
    EXPECT_EQ(ReadFile(victim_), kSecret);
    EXPECT_EQ(ModeOf(victim_), 0600u);
  }
  bool Write(const fs::path& path, TakenName taken, std::string* written = nullptr) {
    error_.clear();
    return WriteNewFile(path.string(), kNew, taken, written, &error_);
  }

  TempDir dir_;
  TempDir victims_;
  fs::path victim_;
  std::string error_;
};

TEST_F(SafeFiles, ATakenNameIsNeverWrittenThroughOrOver) {
  struct Case {
    const char* name;
    bool link;  // a link to the victim at the name, else the victim's copy
    TakenName taken;
    bool written;
    const char* givenName;  // where the new bytes went
  };
  const Case cases[] = {
      {"link_refused", true, TakenName::Refuse, false, nullptr},
      {"file_refused", false, TakenName::Refuse, false, nullptr},
      {"link_numbered", true, TakenName::Number, true, "oldFlash-2.bak"},
      {"file_numbered", false, TakenName::Number, true, "oldFlash-2.bak"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path folder = fs::path(dir_.Root()) / c.name;
    fs::create_directory(folder);
    const fs::path target = folder / "oldFlash.bak";
    if (c.link)
      fs::create_symlink(victim_, target);
    else
      fs::copy_file(victim_, target);
    std::string written;
    EXPECT_EQ(Write(target, c.taken, &written), c.written) << error_;
    ExpectVictimUntouched();
    if (c.link) {
      EXPECT_EQ(fs::read_symlink(target), victim_);
    }
    EXPECT_EQ(ReadFile(target), kSecret);  // through the link or not, the old bytes
    if (c.written) {
      EXPECT_EQ(written, (folder / c.givenName).string());
      EXPECT_EQ(ReadFile(written), kNew);
      EXPECT_EQ(Names(folder), (std::vector<std::string>{c.givenName, "oldFlash.bak"}));
    } else {
      EXPECT_EQ(error_, "exists already");
      EXPECT_EQ(Names(folder), std::vector<std::string>{"oldFlash.bak"})
          << "nothing left beside it";
    }
  }
}

TEST_F(SafeFiles, NumbersGoOnUntilANameIsFree) {
  const fs::path folder = dir_.Root();
  for (const char* taken : {"unit.bin", "unit-2.bin", "unit-3.bin"}) dir_.Write(taken, kSecret);
  std::string written;
  ASSERT_TRUE(Write(folder / "unit.bin", TakenName::Number, &written)) << error_;
  EXPECT_EQ(written, (folder / "unit-4.bin").string());
  ASSERT_TRUE(Write(folder / "noextension", TakenName::Number, &written)) << error_;
  ASSERT_TRUE(Write(folder / "noextension", TakenName::Number, &written)) << error_;
  EXPECT_EQ(written, (folder / "noextension-2").string());
}

TEST_F(SafeFiles, FilesAreTheUsersOnlyAndSoAreTheFoldersMadeForThem) {
  const mode_t previous = ::umask(0);  // nothing taken away: the modes are the program's own
  const fs::path made = fs::path(dir_.Root()) / "data" / "fwtool" / "backups";
  const bool written = Write(made / "unit.bin", TakenName::Refuse);
  FILE* stream = OpenNewFile((fs::path(dir_.Root()) / "trace.txt").string());
  ::umask(previous);
  ASSERT_TRUE(written) << error_;
  ASSERT_NE(stream, nullptr);
  std::fclose(stream);
  EXPECT_EQ(ModeOf(made / "unit.bin"), 0600u);
  EXPECT_EQ(ModeOf(fs::path(dir_.Root()) / "trace.txt"), 0600u);
  for (const fs::path& folder : {made, made.parent_path(), made.parent_path().parent_path()})
    EXPECT_EQ(ModeOf(folder), 0700u) << folder;
  // A folder that was there keeps its mode.
  fs::permissions(dir_.Root(), fs::perms::owner_all | fs::perms::group_read |
                                   fs::perms::group_exec | fs::perms::others_read |
                                   fs::perms::others_exec);
  ASSERT_TRUE(Write(fs::path(dir_.Root()) / "data" / "second.bin", TakenName::Refuse));
  EXPECT_EQ(ModeOf(dir_.Root()), 0755u);
}

TEST_F(SafeFiles, AStreamIsOpenedOnlyUnderANewName) {
  const fs::path link = fs::path(dir_.Root()) / "trace.txt";
  fs::create_symlink(victim_, link);
  EXPECT_EQ(OpenNewFile(link.string()), nullptr);
  EXPECT_EQ(errno, EEXIST);
  const fs::path dangling = fs::path(dir_.Root()) / "dangling.txt";
  fs::create_symlink(fs::path(dir_.Root()) / "nowhere", dangling);
  EXPECT_EQ(OpenNewFile(dangling.string()), nullptr);
  EXPECT_FALSE(fs::exists(fs::path(dir_.Root()) / "nowhere")) << "the link's target was created";
  ExpectVictimUntouched();
}

TEST_F(SafeFiles, TheProgramsOwnFileIsReplacedOnlyInsideTheUsersOwnFolder) {
  const fs::path own = fs::path(dir_.Root()) / "state";
  // Made on the first save, for the user only.
  ASSERT_TRUE(Write(own / "unit0.flash", TakenName::Replace)) << error_;
  EXPECT_EQ(ModeOf(own), 0700u);
  dir_.Write("state/unit0.flash", kSecret);
  ASSERT_TRUE(Write(own / "unit0.flash", TakenName::Replace)) << error_;
  EXPECT_EQ(ReadFile(own / "unit0.flash"), kNew);
  EXPECT_EQ(ModeOf(own / "unit0.flash"), 0600u);
  // A link at the name is replaced itself; what it leads to is not written.
  fs::remove(own / "unit0.flash");
  fs::create_symlink(victim_, own / "unit0.flash");
  ASSERT_TRUE(Write(own / "unit0.flash", TakenName::Replace)) << error_;
  EXPECT_FALSE(fs::is_symlink(own / "unit0.flash"));
  ExpectVictimUntouched();

  struct Case {
    const char* name;
    std::function<fs::path()> folder;  // made for the case
    const char* why;
  };
  const std::vector<Case> cases = {
      {"others_may_write",
       [&] {
         const fs::path folder = fs::path(dir_.Root()) / "shared";
         fs::create_directory(folder);
         fs::permissions(folder, fs::perms::all);
         return folder;
       },
       "is not a folder of this user's own: other users may write into the folder"},
      {"a_link_to_a_folder",
       [&] {
         const fs::path folder = fs::path(dir_.Root()) / "linked";
         fs::create_directory_symlink(victims_.Root(), folder);
         return folder;
       },
       "is a link, not a folder of this user's own"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path folder = c.folder();
    EXPECT_FALSE(Write(folder / "shadow", TakenName::Replace));
    EXPECT_EQ(error_, folder.string() + " " + c.why);
    ExpectVictimUntouched();
  }
  // A folder of another user's, as root sees a user's folder.
  if (::geteuid() == 0) {
    const fs::path theirs = fs::path(dir_.Root()) / "theirs";
    fs::create_directory(theirs);
    ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(Write(theirs / "unit0.flash", TakenName::Replace));
    EXPECT_EQ(error_, theirs.string() +
                          " is not a folder of this user's own: the folder belongs "
                          "to another user");
    EXPECT_TRUE(Names(theirs).empty());
  }
}

}  // namespace
}  // namespace fwtool::host
