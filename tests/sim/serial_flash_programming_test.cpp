// SPDX-License-Identifier: GPL-2.0-or-later
// Programming, erasing and unprotecting a simulated unit's flash through the
// SPI pass-through: what ends up in the flash cells.
#include <gtest/gtest.h>

#include <algorithm>

#include "clock.h"
#include "flash_commands.h"
#include "serial_flash_commands.h"
#include "sim_fixture.h"

namespace fwtool::sim::testing {
namespace {

using Bytes = std::vector<uint8_t>;

class ProgrammingTest : public SimFixture {
 protected:
  Bytes Cells(uint32_t address, size_t length) {
    const auto& cells = Unit().Flash().Contents();
    return Bytes(cells.begin() + address, cells.begin() + address + length);
  }
  bool Blank() {
    const auto& cells = Unit().Flash().Contents();
    return std::all_of(cells.begin(), cells.end(), [](uint8_t b) { return b == 0xFF; });
  }
  void WaitUntilIdle() {
    uint8_t status = 0x01;
    for (int i = 0; i < 100000 && (status & 0x01); ++i) {
      ASSERT_EQ(ReadFlashStatus(Path(), &status), 1);
      SleepMs(10);
    }
  }
};

TEST_F(ProgrammingTest, EachModePutsExactlyTheDataIntoTheFlash) {
  struct Case {
    const char* description;
    int maker;
    bool wordMode;
    uint32_t address;
    uint32_t length;
  };
  const Case cases[] = {
      // Page programming, with a tail of one byte past the 8 KB block.
      {"vqb713:fw=blank:maker=winbond:size=128", 6, false, 0x00000, 8193},
      {"vqb713:fw=blank:maker=winbond:size=128", 6, false, 0x04000, 16384},
      {"vqb713:fw=blank:maker=winbond:size=128", 6, false, 0x01234, 1},
      // These MXIC parts take 32-byte pages.
      {"vqb713:fw=blank:maker=mxic:jedec=c22210", 5, false, 0x00100, 1000},
      // AAI byte mode on the small SST parts.
      {"vqb713:fw=blank:maker=sst:size=64", 2, false, 0x01000, 12288},
      {"vqb713:fw=blank:maker=sst:size=64", 2, false, 0x00000, 8193},
      // AAI word mode, across 16 KB boundaries and with an odd length.
      {"vqb713:fw=blank:maker=sst:size=2048", 2, true, 0x00000, 40961},
      {"vqb713:fw=blank:maker=sst:size=2048", 2, true, 0x10000, 16384},
  };
  for (const auto& c : cases) {
    Build(c.description);
    const Bytes data = Pattern(c.length, c.address + c.length);
    EXPECT_EQ(SpiProgramFlash(Path(), c.address, data.data(), c.length, c.maker, c.wordMode), 1)
        << c.description << " " << c.length;
    EXPECT_EQ(Cells(c.address, c.length), data) << c.description << " " << c.length;
    // Nothing before or after the range changed.
    const auto& cells = Unit().Flash().Contents();
    EXPECT_EQ(std::count(cells.begin(), cells.end(), 0xFF) +
                  std::count_if(data.begin(), data.end(), [](uint8_t b) { return b != 0xFF; }),
              static_cast<long>(cells.size()))
        << c.description << " " << c.length;
    // The part is not left in AAI mode or write-enabled.
    EXPECT_EQ(Unit().Flash().ReadStatus(Now()) & (kStatusAai | kStatusWriteEnable), 0)
        << c.description;
  }
}

TEST_F(ProgrammingTest, PageProgrammingWithTheWrongPageSizeWrapsInsideThePage) {
  // The check above is not vacuous: 256-byte chunks on a part with 32-byte
  // pages fold every chunk into its first page.
  Build("vqb713:fw=blank:maker=mxic:jedec=c22210");
  const Bytes data = Pattern(256, 7);
  EXPECT_EQ(SpiProgramFlash(Path(), 0, data.data(), 256, 6, false), 1);
  EXPECT_NE(Cells(0, 256), data);
}

TEST_F(ProgrammingTest, ChipEraseClearsAnUnprotectedPart) {
  Build("vqb713:maker=winbond:size=128");
  ASSERT_FALSE(Blank());
  EXPECT_EQ(SpiChipErase(Path()), 1);
  WaitUntilIdle();
  EXPECT_TRUE(Blank());
}

TEST_F(ProgrammingTest, APreparedWriteLiftsTheProtectionOfSstParts) {
  Build("vqb713:maker=sst:size=64:protect");
  ASSERT_NE(Unit().Flash().NonVolatileStatus() & kStatusProtectBits, 0);
  EXPECT_EQ(SpiChipErase(Path()), 1);
  WaitUntilIdle();
  EXPECT_TRUE(Blank());
}

TEST_F(ProgrammingTest, OtherProtectedPartsNeedTheUnprotectBeforeTheErase) {
  Build("vqb713:maker=mxic:protect");
  const Bytes before = Unit().Flash().Contents();
  EXPECT_EQ(SpiChipErase(Path()), 1);  // the instruction went through; the part refused it
  WaitUntilIdle();
  EXPECT_EQ(Unit().Flash().Contents(), before);

  EXPECT_EQ(SpiUnprotect(Path()), 1);
  EXPECT_EQ(Unit().Flash().NonVolatileStatus() & kStatusProtectBits, 0);
  EXPECT_EQ(SpiChipErase(Path()), 1);
  WaitUntilIdle();
  EXPECT_TRUE(Blank());
}

TEST_F(ProgrammingTest, ARefusedCommandFailsTheRun) {
  const Bytes data = Pattern(8192, 3);
  // Every data phase refused: nothing is written.
  Build("vqb713:fw=blank:maker=winbond:size=128:fail-match=ff0422");
  EXPECT_EQ(SpiProgramFlash(Path(), 0, data.data(), 8192, 6, false), 0);
  EXPECT_TRUE(Blank());
  // One command in the middle of an AAI word run fails.
  Build("vqb713:fw=blank:maker=sst:size=2048:fail-command=300");
  EXPECT_EQ(SpiProgramFlash(Path(), 0, data.data(), 8192, 2, true), 0);
  EXPECT_NE(Cells(0, 8192), data);
  EXPECT_EQ(Unit().Flash().ReadStatus(Now()) & kStatusAai, 0);
}

}  // namespace
}  // namespace fwtool::sim::testing
