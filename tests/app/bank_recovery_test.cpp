// SPDX-License-Identifier: GPL-2.0-or-later
// The repair of a dual-bank flash (chip type 12) in which one 64 KB bank
// lost its image: the unit's flash is saved first, then the valid bank is
// copied over the other.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "firmware.h"
#include "form_texts.h"
#include "sim_form_fixture.h"

namespace fwtool {
namespace {

using testing::IsFlashWrite;
using testing::SimFormTest;
using Bytes = std::vector<uint8_t>;

constexpr size_t kBank = 0x10000;

class BankRepair : public SimFormTest {
 protected:
  static Bytes BankOf(const Bytes& flash, int bank) {
    return Bytes(flash.begin() + static_cast<std::ptrdiff_t>(bank * kBank),
                 flash.begin() + static_cast<std::ptrdiff_t>((bank + 1) * kBank));
  }
  static bool Valid(const Bytes& flash, int bank) {
    const Bytes b = BankOf(flash, bank);
    return BankImageIsValid(b, 12);
  }
  std::vector<sim::LoggedCommand> Writes() const {
    std::vector<sim::LoggedCommand> writes;
    for (const auto& c : Log())
      if (IsFlashWrite(c)) writes.push_back(c);
    return writes;
  }
  // The erase mode each write command carried, in order.
  std::vector<uint8_t> WriteModes() const {
    std::vector<uint8_t> modes;
    for (const auto& c : Writes()) modes.push_back(c[1]);
    return modes;
  }
  static uint32_t Address(const sim::LoggedCommand& c) {
    return static_cast<uint32_t>(c[8] << 16 | c[9] << 8 | c[10]);
  }
};

TEST_F(BankRepair, TheSimulatedUnitStartsWithTheBanksItWasToldOf) {
  struct Case {
    const char* unit;
    bool bank0;
    bool bank1;
  };
  for (const Case& c :
       {Case{"vqs175", true, true}, Case{"vqs175:bank=bad0", false, true},
        Case{"vqs175:bank=bad1", true, false}, Case{"vqs175:bank=bad", false, false}}) {
    SCOPED_TRACE(c.unit);
    Build(c.unit);
    const Bytes flash = Flash();
    ASSERT_EQ(flash.size(), 2 * kBank);
    EXPECT_EQ(Valid(flash, 0), c.bank0);
    EXPECT_EQ(Valid(flash, 1), c.bank1);
    // The unit runs the first valid bank's firmware.
    EXPECT_EQ(farm->Controller(0).RunsFromFlash(), c.bank0 || c.bank1);
  }
}

TEST_F(BankRepair, OneSpoiledBankIsSavedThenRestoredFromTheOther) {
  struct Case {
    const char* unit;
    int spoiled;
    uint8_t firstMode;  // erase mode of the first write
    bool defaultFolder;
  };
  const Case cases[] = {
      // The second bank is written with large-unit erases from its start.
      {"vqs175:maker=winbond:bank=bad1", 1, 0x02, false},
      // The first bank: MXIC parts get bit 7 with the block at address 0.
      {"vqs175:bank=bad0", 0, 0x82, false},
      // The second bank of an MXIC part, which the controller protects at
      // boot: lifted over the serial pass-through, never by a write into the
      // good bank.
      {"vqs175:bank=bad1", 1, 0x02, false},
      {"vqs175:maker=winbond:bank=bad0", 0, 0x02, true},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.unit);
    Build(c.unit);
    const Bytes before = Flash();
    const Bytes good = BankOf(before, 1 - c.spoiled);
    const std::string backup = c.defaultFolder
                                   ? std::string()
                                   : (dir / ("repair-" + std::to_string(++n) + ".bin")).string();
    auto& f = Open(backup);

    const std::string saved = f.LastBackupPath();
    ASSERT_FALSE(saved.empty());
    const std::string folder = (dir / "data" / "fwtool" / "backups").string();
    EXPECT_EQ(c.defaultFolder ? saved.substr(0, folder.size()) : saved,
              c.defaultFolder ? folder : backup);
    EXPECT_EQ(ReadFile(saved), before);  // the whole 128 KB as they were
    EXPECT_EQ(f.StatusEdit.Text(), "Flash saved to " + saved + ". FW Recovery successful!!");
    EXPECT_NE(f.Notice().find(saved), std::string::npos);

    const Bytes after = Flash();
    EXPECT_EQ(BankOf(after, c.spoiled), good);
    EXPECT_EQ(BankOf(after, 1 - c.spoiled), good);
    const auto writes = Writes();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(Address(writes.front()), c.spoiled * kBank);
    EXPECT_EQ(writes.front()[1], c.firstMode);
    for (const auto& w : writes) EXPECT_GE(Address(w), c.spoiled * kBank);
    for (const auto& w : writes) EXPECT_LT(Address(w), (c.spoiled + 1) * kBank);
    EXPECT_EQ(f.Devices[0].RecoveryDone, 1);

    // Once per device record: a second check of the same unit writes nothing.
    farm->Controller(0).ClearLog();
    f.UpdateBtnCheck(f.DeviceList);
    EXPECT_TRUE(Writes().empty());
    EXPECT_EQ(f.StatusEdit.Text(), "");
  }
}

TEST_F(BankRepair, BanksThatAreAlikeAreLeftAlone) {
  for (const char* unit : {"vqs175", "vqs175:maker=winbond:bank=bad", "vqs175:fw=blank"}) {
    SCOPED_TRACE(unit);
    Build(unit);
    const Bytes before = Flash();
    const auto backup = dir / "alike.bin";
    auto& f = Open(backup.string());
    EXPECT_TRUE(Writes().empty());
    EXPECT_EQ(Flash(), before);
    EXPECT_FALSE(std::filesystem::exists(backup));
    EXPECT_TRUE(f.LastBackupPath().empty());
    EXPECT_EQ(f.StatusEdit.Text().find("FW Recovery"), std::string::npos);
    EXPECT_EQ(f.Devices[0].RecoveryDone, 1);
  }
}

TEST_F(BankRepair, NoBackupNoWrite) {
  const auto plainFile = dir / "plain";
  std::ofstream(plainFile) << "a file, not a folder";
  const auto existing = dir / "existing.bin";
  const std::string earlier = "an earlier backup";
  std::ofstream(existing) << earlier;
  struct Case {
    const char* name;
    std::string target;  // empty: the default folder
  };
  const Case cases[] = {
      {"the file exists already", existing.string()},
      {"its folder cannot be made", (plainFile / "x.bin").string()},
      {"the default folder cannot be made", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.target.empty()) ::setenv("XDG_DATA_HOME", plainFile.c_str(), 1);
    Build("vqs175:maker=winbond:bank=bad1");
    const Bytes before = Flash();
    auto& f = Open(c.target);
    EXPECT_TRUE(Writes().empty());
    EXPECT_EQ(Flash(), before);
    EXPECT_EQ(f.StatusEdit.Text(), texts::kRepairBackupFail);
    EXPECT_EQ(f.Notice(), texts::kBackupMissingNotice);
    EXPECT_TRUE(f.LastBackupPath().empty());
  }
  EXPECT_EQ(ReadFile(existing), Bytes(earlier.begin(), earlier.end()));
}

// The controller write-protects an MXIC part at boot; when the status write
// that lifts it (01 over the serial pass-through) is refused, the second
// bank cannot be written.
// Both attempts are made (large units, then small), and the outcome says so.
TEST_F(BankRepair, ABankTheFlashRefusesEndsInFailure) {
  Build("vqs175:bank=bad1:fail-match=ff0420020001");
  const Bytes before = Flash();
  const auto backup = dir / "refused.bin";
  auto& f = Open(backup.string());
  EXPECT_EQ(ReadFile(backup), before);
  EXPECT_EQ(f.StatusEdit.Text(), "Flash saved to " + backup.string() + ". FW Recovery Fail!!");
  EXPECT_EQ(Flash(), before);
  std::vector<uint8_t> erasing;
  for (uint8_t mode : WriteModes())
    if (mode != 0) erasing.push_back(mode);
  ASSERT_FALSE(erasing.empty());
  EXPECT_EQ(erasing.front(), 2);
  EXPECT_EQ(erasing.back(), 1);
  EXPECT_EQ(f.Devices[0].RecoveryDone, 1);
}

}  // namespace
}  // namespace fwtool
