// SPDX-License-Identifier: GPL-2.0-or-later
// A simulated controller seen from the transport: flash writes erase the
// units the erase-on-write rule names, the busy bit follows the timing
// model, the firmware version follows the flash across a reset, unknown
// blocks get CHECK CONDITION, and the kernel's own commands are answered.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "clock.h"
#include "command_block.h"
#include "enumeration.h"
#include "flash_commands.h"
#include "pass_through.h"
#include "sim_fixture.h"
#include "transport.h"

namespace fwtool::sim::testing {
namespace {

using Bytes = std::vector<uint8_t>;

class ControllerTest : public SimFixture {
 protected:
  Bytes ReadAll(size_t unit = 0) {
    const uint32_t size = Unit(unit).Flash().Size();
    Bytes data(size);
    for (uint32_t at = 0; at < size; at += 8192)
      EXPECT_EQ(ReadFlash(Path(unit), at, data.data() + at, 8192), 1);
    return data;
  }
  // The status byte as sampled at clock time `at` (the read itself takes
  // its bus time before the controller samples).
  uint8_t StatusAt(Duration at) {
    const Duration busTime = CommandTime(Unit().Timings(), 2);
    if (at - busTime > Now()) clock->Advance(at - busTime - Now());
    uint8_t status = 0;
    EXPECT_EQ(ReadFlashStatus(Path(), &status), 1);
    return status;
  }
  Bytes ChipInfo() {
    Bytes info(16);
    EXPECT_EQ(In(Block({0xE0, 0xF4, 0xE7}), info), 1);
    return info;
  }
};

struct EraseCase {
  const char* description;
  uint8_t mode;
  uint32_t address;
  uint32_t eraseStart;  // erased range [start, end); start == end: none
  uint32_t eraseEnd;
  bool programmed = true;  // false: the protected part took nothing
};

TEST_F(ControllerTest, EachWriteModeErasesTheUnitsTheEraseRuleNames) {
  const EraseCase cases[] = {
      {"vqb719:protect=0", 0x00, 0x3000, 0, 0},
      {"vqb719:protect=0", 0x01, 0x3000, 0x3000, 0x4000},
      {"vqb719:protect=0", 0x04, 0x3010, 0x3000, 0x4000},
      {"vqb719:protect=0", 0x02, 0x3000, 0x0000, 0x10000},
      {"vqb719:protect=0", 0x03, 0x0000, 0x0000, 0x10000},
      {"vqb719:protect=0", 0x03, 0x1000, 0, 0},
      {"vqb719:protect=0", 0x07, 0x0000, 0x0000, 0x10000},
      {"vqb719:protect=0:size=128", 0x02, 0x13000, 0x10000, 0x20000},
      {"vqb719:protect=0:size=128", 0x05, 0x0000, 0x00000, 0x10000},
      {"vqb719:protect=0:size=128", 0x06, 0x0000, 0x00000, 0x20000},
      {"vqb719:maker=sst", 0x02, 0x9000, 0x8000, 0x10000},
      {"vqb719:maker=sst", 0x01, 0x9000, 0x9000, 0xA000},
      {"vqb719:maker=eon", 0x01, 0x9000, 0x8000, 0x10000},
      {"vqb719:maker=atmel", 0x01, 0x9000, 0x8000, 0x10000},
      {"vqb719:maker=winbond", 0x02, 0x9000, 0x0000, 0x10000},
      {"vqb719:maker=unknown", 0x02, 0x9000, 0x8000, 0x10000},
      // The type-7 controller erases the 32 KB half with its flag.
      {"vqb717", 0x01, 0x8000, 0x8000, 0x10000},
      // The MXIC part comes up protected: without bit 7 nothing changes.
      {"vqb719", 0x02, 0x0000, 0, 0, false},
      {"vqb719", 0x82, 0x0000, 0x0000, 0x10000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << c.description << " mode " << int(c.mode) << " at 0x" << std::hex << c.address);
    Build(c.description);
    const uint32_t size = Unit().Flash().Size();
    Unit().Flash().Load(Bytes(size, 0x5A));
    const Bytes block(16, 0xA5);
    ASSERT_EQ(WriteFlash(Path(), c.address, block.data(), 16, c.mode), 1);
    const Bytes cells = ReadAll();
    for (uint32_t a = 0; a < size; ++a) {
      const bool erased = a >= c.eraseStart && a < c.eraseEnd;
      const bool written = a >= c.address && a < c.address + 16;
      uint8_t expected = erased ? 0xFF : 0x5A;
      if (written && c.programmed) expected &= 0xA5;
      if (cells[a] != expected) {
        ADD_FAILURE() << "byte 0x" << std::hex << a << " is 0x" << int(cells[a]) << ", not 0x"
                      << int(expected);
        break;
      }
    }
  }
}

TEST_F(ControllerTest, TheWriteRuleBlocksProgramAnImageAndWithoutTheirFlagsTheAndRemains) {
  // Mode 2 with 32 KB large units on a 64 KB part: nine commands.
  struct Piece {
    uint32_t address, length;
    uint8_t flag;
  };
  const Piece pieces[] = {{0, 4096, 2},     {4096, 8192, 0},  {12288, 8192, 0},
                          {20480, 8192, 0}, {28672, 4096, 0}, {32768, 8192, 2},
                          {40960, 8192, 0}, {49152, 8192, 0}, {57344, 8192, 0}};
  const Bytes image = Pattern(65536, 7);
  for (bool withFlags : {true, false}) {
    Build("vqb719:maker=sst");
    const Bytes old = Unit().Flash().Contents();
    for (const auto& p : pieces) {
      uint8_t status = 1;
      while (status & 1) ASSERT_EQ(ReadFlashStatus(Path(), &status), 1);
      ASSERT_EQ(
          WriteFlash(Path(), p.address, image.data() + p.address, p.length, withFlags ? p.flag : 0),
          1);
    }
    const Bytes cells = ReadAll();
    if (withFlags) {
      EXPECT_EQ(cells, image);
    } else {
      Bytes anded(65536);
      for (size_t i = 0; i < anded.size(); ++i) anded[i] = old[i] & image[i];
      EXPECT_EQ(cells, anded);
      EXPECT_NE(cells, image);
    }
  }
}

// The program's block transfer: blocks of at most 8 KB (4 KB at address
// 0), the erase flag on the first block that enters an erase unit, no block
// crossing a unit, bit 7 on the first block for maker 5.
void WriteRangeAsTheProgramDoes(const std::string& path, const Bytes& image, uint8_t mode,
                                uint8_t maker) {
  static constexpr uint32_t kLarge[] = {32768, 32768, 32768, 65536, 65536, 65536,
                                        65536, 65536, 65536, 65536, 65536};
  static constexpr uint32_t kSmall[] = {4096, 4096, 4096,  32768, 32768, 4096,
                                        4096, 4096, 32768, 4096,  4096};
  uint32_t largeCount = 0, smallCount = 0;
  uint32_t offset = 0;
  while (offset < image.size()) {
    uint32_t block = std::min<uint32_t>(8192, static_cast<uint32_t>(image.size()) - offset);
    if (offset == 0 && block > 4096) block = 4096;
    uint8_t flag = 0;
    if (mode == 1 || mode == 4) {
      if (offset >= kSmall[maker] * smallCount) flag = mode, ++smallCount;
      block = std::min(block, kSmall[maker] * smallCount - offset);
    } else if (mode == 2 || mode == 5) {
      if (offset >= kLarge[maker] * largeCount) flag = mode, ++largeCount;
      block = std::min(block, kLarge[maker] * largeCount - offset);
    } else if (mode == 3 && offset == 0) {
      flag = 3;
    }
    if (offset == 0 && maker == 5 && flag != 0) flag |= 0x80;
    uint8_t status = 1;
    for (int i = 0; i < 600 && (status & 1); ++i) {
      ReadFlashStatus(path, &status);
      if (status & 1) SleepMs(10);
    }
    ASSERT_EQ(WriteFlash(path, offset, image.data() + offset, block, flag), 1);
    offset += block;
  }
}

TEST_F(ControllerTest, EveryAttemptModeOfTheUpdateProgramsEveryMakersPart) {
  const Bytes image = Pattern(65536, 11);
  for (uint8_t maker = 0; maker < kMakerCount; ++maker) {
    for (uint8_t mode : {2, 1, 3, 0}) {
      SCOPED_TRACE(::testing::Message() << "maker " << int(maker) << " mode " << int(mode));
      Build("vqb719:maker=" + std::to_string(maker));
      WriteRangeAsTheProgramDoes(Path(), image, mode, maker);
      clock->Advance(std::chrono::seconds(5));
      Bytes back(65536);
      for (uint32_t at = 0; at < back.size(); at += 8192)
        ASSERT_EQ(ReadFlash(Path(), at, back.data() + at, 8192), 1);
      if (mode == 0)
        EXPECT_NE(back, image) << "programming over the old firmware without erasing";
      else
        EXPECT_EQ(back, image);
    }
  }
}

TEST_F(ControllerTest, BusyBitLastsAsLongAsTheTimingModelSaysAndMatchesTheFloor) {
  Build("vqb719:protect=0");
  const Bytes block(4096, 0x00);
  const Duration before = Now();
  ASSERT_EQ(WriteFlash(Path(), 0x1000, block.data(), 4096, 1), 1);
  const auto& part = Unit().Flash().Part();
  const Duration ready = Now() + part.EraseTime(4096) + 16 * part.ProgramTime(256);
  EXPECT_EQ(Unit().Flash().ReadyAt(), ready);
  EXPECT_EQ(StatusAt(Now()) & 1, 1);
  EXPECT_EQ(StatusAt(ready - std::chrono::microseconds(1)) & 1, 1);
  EXPECT_EQ(StatusAt(ready) & 1, 0);
  // What it took equals the model's floor for that work.
  const FloorOp ops[] = {{FloorOpKind::Command, 4096, 1},
                         {FloorOpKind::Erase, 4096, 1},
                         {FloorOpKind::Program, 4096, 1}};
  EXPECT_EQ(ready - before, PhysicalFloor(Unit().Timings(), part, ops));
}

TEST_F(ControllerTest, AReadWhileTheFlashIsBusyWaitsForIt) {
  Build("vqb719:protect=0");
  const Bytes image = Pattern(4096, 3);
  ASSERT_EQ(WriteFlash(Path(), 0, image.data(), 4096, 3), 1);  // whole chip, then program
  const Duration ready = Unit().Flash().ReadyAt();
  EXPECT_GT(ready - Now(), Unit().Flash().Part().chipEraseTime - std::chrono::milliseconds(1));
  Bytes back(4096);
  ASSERT_EQ(ReadFlash(Path(), 0, back.data(), 4096), 1);
  EXPECT_EQ(back, image);
  EXPECT_GE(Now(), ready);
}

TEST_F(ControllerTest, ReportsTheVersionOfTheFirmwareItBootedUntilReset) {
  Build("vqb719");
  Bytes info = ChipInfo();
  const auto older = OlderFirmwareVersion(8);
  EXPECT_EQ((Bytes{info[6], info[7], info[12], info[13], info[14], info[15]}),
            Bytes(older.begin(), older.end()));
  // Put a newer version into the flash.
  Bytes head(Unit().Flash().Contents().begin() + 0x1000,
             Unit().Flash().Contents().begin() + 0x2000);
  const Bytes newer = {9, 8, 7, 16, 1, 2};
  std::copy(newer.begin(), newer.end(), head.begin() + 0x0A);
  ASSERT_EQ(WriteFlash(Path(), 0x1000, head.data(), 4096, 0x81), 1);
  info = ChipInfo();
  EXPECT_EQ(info[6], older[0]) << "the running firmware does not change before a reset";

  ASSERT_EQ(ResetDevice(Path()), 1);
  info.assign(16, 0);
  EXPECT_EQ(In(Block({0xE0, 0xF4, 0xE7}), info), 0) << "the unit is away while it re-attaches";
  EXPECT_TRUE(farm->DiskInterfaces().empty());
  clock->Advance(Unit().Timings().reattachDelay);
  info = ChipInfo();
  EXPECT_EQ((Bytes{info[6], info[7], info[12], info[13], info[14], info[15]}), newer);
  EXPECT_EQ(farm->DiskInterfaces().size(), 1u);
}

TEST_F(ControllerTest, AUnitWithBlankFlashRunsItsInternalCode) {
  Build("vqb719:fw=blank");
  const Bytes info = ChipInfo();
  EXPECT_EQ((Bytes{info[6], info[7], info[12], info[13], info[14]}), (Bytes{7, 7, 0, 16, 0}));
  Bytes status(4);
  ASSERT_EQ(ReadMemory(Path(), status.data(), 0x7038, 4), 1);
  EXPECT_EQ(status[2] & 0x04, 0);
  Build("vqb719");
  ASSERT_EQ(ReadMemory(Path(), status.data(), 0x7038, 4), 1);
  EXPECT_EQ(status[2] & 0x04, 0x04);
}

TEST_F(ControllerTest, UnknownBlocksGetCheckConditionWithInvalidOperationCodeSense) {
  Build("vqb719,chip=1,chip=17");
  std::vector<uint8_t> sense;
  auto previous = SetCommandTrace([&](const CommandTraceRecord& r) { sense = r.result.sense; });
  struct Case {
    size_t unit;
    Bytes block;
  };
  const Case cases[] = {
      {0, Block({0xC5, 0x01})},                                            // nobody's command
      {0, Block({0xFF, 0x04, 0x10})},                                      // flash by address
      {0, Block({0xFF, 0x04, 0x20, 0x01, 0x01, 0x9F})},                    // SPI pass-through
      {0, Block({0xFF, 0x04, 0x30, 0x08})},                                // no id string
      {1, Block({0xDF, 0x10, 0x00, 0x00, 0x10, 0, 0, 0, 0, 0, 0, 0xFA})},  // DF flash read
      {2, Block({0xFF, 0x04, 0x12})},                                      // no flash status
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(HexBytes(c.block.data(), c.block.size()));
    Bytes data(16);
    sense.clear();
    EXPECT_EQ(In(c.block, data, c.unit), 0);
    ASSERT_EQ(sense.size(), 18u);
    EXPECT_EQ(sense[0], 0x70);
    EXPECT_EQ(sense[2], 0x05);
    EXPECT_EQ(sense[12], 0x20);
    EXPECT_EQ(LastCommand(c.unit).scsiStatus, 2);
  }
  EXPECT_EQ(DescribeSense(sense),
            "ILLEGAL REQUEST, asc 0x20 ascq 0x00 (invalid command operation code)");
  SetCommandTrace(previous);
}

TEST_F(ControllerTest, MemoryRegistersOfTheBootCode) {
  Build("chip=11:rev=3");
  Bytes byte(1);
  ASSERT_EQ(WriteMemory(Path(), Bytes{0x00}.data(), 0x506A, 1), 1);
  ASSERT_EQ(ReadMemory(Path(), byte.data(), 0x506A, 1), 1);
  EXPECT_EQ(byte[0], 1) << "bit 0 of 0x506A reads back 1 on this chip";
  Bytes word(4);
  ASSERT_EQ(ReadMemory(Path(), word.data(), 0x505E, 4), 1);
  EXPECT_EQ(MemoryFlag505E(Path()), 1);
  ASSERT_EQ(ReadMemory(Path(), word.data(), 0xFDB0, 4), 1);
  EXPECT_LT(word[1], 0xB4);
  ASSERT_EQ(ReadMemory(Path(), word.data(), 0x7038, 4), 1);
  EXPECT_EQ(word[2] & 0x10, 0x10);
  Bytes id(10);
  ASSERT_EQ(ReadMemory(Path(), id.data(), 0xC000, 10), 1);
  EXPECT_EQ(Bytes(id.begin(), id.begin() + 7), (Bytes{0x55, 0xAA, 0xAA, 0x55, '1', '1', '8'}));
  // Plain RAM elsewhere.
  ASSERT_EQ(WriteMemory(Path(), Bytes{1, 2, 3}.data(), 0x2000, 3), 1);
  ASSERT_EQ(ReadMemory(Path(), word.data(), 0x2000, 3), 1);
  EXPECT_EQ(Bytes(word.begin(), word.begin() + 3), (Bytes{1, 2, 3}));
}

// READ CAPACITY as a disk bridge answers it: the 10-byte answer holds the
// last LBA in 32 bits and saturates at FFFFFFFF on a disk of 2^32 sectors
// or more; the 16-byte answer holds all 64 bits, then the block length.
TEST_F(ControllerTest, ReadCapacityTenSaturatesAndSixteenTellsTheWholeDisk) {
  struct Case {
    const char* description;
    Bytes ten;      // READ CAPACITY(10): last LBA, block length
    Bytes sixteen;  // the first 12 bytes of READ CAPACITY(16)
  };
  const Case cases[] = {
      {"vqb719:disk=2048s",
       {0, 0, 0x07, 0xFF, 0, 0, 0x02, 0},
       {0, 0, 0, 0, 0, 0, 0x07, 0xFF, 0, 0, 0x02, 0}},
      {"vqb719:disk=4294967295s",
       {0xFF, 0xFF, 0xFF, 0xFE, 0, 0, 0x02, 0},
       {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFE, 0, 0, 0x02, 0}},
      {"vqb719:disk=4294967301s:sector=4096",
       {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0x10, 0},
       {0, 0, 0, 0x01, 0, 0, 0, 0x04, 0, 0, 0x10, 0}},
  };
  for (const auto& c : cases) {
    Build(c.description);
    Bytes ten(8);
    ASSERT_EQ(In(Block({0x25}), ten), 1) << c.description;
    EXPECT_EQ(ten, c.ten) << c.description;
    Bytes block(16, 0);
    block[0] = 0x9E;
    block[1] = 0x10;
    block[13] = 32;
    Bytes sixteen(32);
    ASSERT_EQ(SendCommandIn(Path(), block.data(), 16, sixteen.data(), 32, nullptr), 1)
        << c.description;
    EXPECT_EQ(Bytes(sixteen.begin(), sixteen.begin() + 12), c.sixteen) << c.description;
  }
}

TEST_F(ControllerTest, AnswersTheCommandsTheKernelSendsToAUsbDisk) {
  Build("vqb719:cdrom");
  Bytes data(64);
  EXPECT_EQ(In(Block({0x00}), data), 1);  // TEST UNIT READY
  uint32_t moved = 0;
  ASSERT_EQ(In(Block({0x25}), data, 0, &moved), 1);  // READ CAPACITY(10)
  EXPECT_EQ(Bytes(data.begin(), data.begin() + 8), (Bytes{0, 0, 0x07, 0xFF, 0, 0, 0x02, 0}));
  Bytes vpd(255);
  ASSERT_EQ(In(Block({0x12, 0x01, 0x00, 0x00, 0xFF}), vpd, 0, &moved), 1);
  EXPECT_EQ(moved, 5u);
  EXPECT_EQ(Bytes(vpd.begin(), vpd.begin() + 5), (Bytes{0x00, 0x00, 0x00, 0x01, 0x00}));
  Bytes mode(192);
  ASSERT_EQ(In(Block({0x1A, 0x00, 0x3F, 0x00, 0xC0}), mode, 0, &moved), 1);
  EXPECT_EQ(moved, 4u);
  EXPECT_EQ(mode[2] & 0x80, 0) << "not write protected";
  EXPECT_EQ(In(Block({0x1E, 0, 0, 0, 0x01}), data), 1);  // PREVENT ALLOW MEDIUM REMOVAL
  Bytes sector(1024, 0xEE);
  ASSERT_EQ(In(Block({0x28, 0, 0, 0, 0, 0x10, 0, 0, 2}), sector), 1);  // READ(10)
  EXPECT_TRUE(std::all_of(sector.begin(), sector.end(), [](uint8_t b) { return b == 0; }));
  Bytes far(512);
  EXPECT_EQ(In(Block({0x28, 0, 0, 0, 0x08, 0x00, 0, 0, 1}), far), 0);
  Bytes sense(18);
  ASSERT_EQ(In(Block({0x03, 0, 0, 0, 18}), sense), 1);  // REQUEST SENSE
  EXPECT_EQ(sense[2], 0x05);
  EXPECT_EQ(sense[12], 0x21) << "logical block address out of range";
  ASSERT_EQ(In(Block({0x03, 0, 0, 0, 18}), sense), 1);
  EXPECT_EQ(sense[2], 0x00) << "the sense is reported once";

  // The CD-ROM interface of the same unit.
  const std::string cdrom = farm->Unit(0).cdromPath;
  Bytes inquiry(40);
  const Bytes block = Block({0x12, 0, 0, 0, 40});
  ASSERT_EQ(SendCommandIn(cdrom, block.data(), 12, inquiry.data(), 40, nullptr), 1);
  EXPECT_EQ(inquiry[0], 0x05);
  EXPECT_EQ(SendCommandIn(cdrom, Block({0x00}).data(), 12, nullptr, 0, nullptr), 0);
}

TEST_F(ControllerTest, SpiPassThroughReachesTheFlashInstructionByInstruction) {
  Build("vqb713:fw=blank");
  auto spi = [&](Bytes record, bool in = false, const Bytes& data = {}) {
    Bytes block = Block({0xFF, 0x04, 0x20});
    std::copy(record.begin(), record.end(), block.begin() + 3);
    return in ? SendCommandIn(Path(), block.data(), 12, nullptr, 0, nullptr)
              : SendCommandOut(Path(), block.data(), 12, data.empty() ? nullptr : data.data(),
                               static_cast<uint32_t>(data.size()), nullptr);
  };
  auto read = [&](uint16_t length, uint16_t field) {
    Bytes block = Block({0xFF, 0x04, 0x21});
    block[7] = static_cast<uint8_t>(field >> 8);
    block[8] = static_cast<uint8_t>(field);
    Bytes data(length);
    EXPECT_EQ(SendCommandIn(Path(), block.data(), 12, data.data(), length, nullptr), 1);
    return data;
  };
  auto writeData = [&](const Bytes& data) {
    Bytes block = Block({0xFF, 0x04, 0x22});
    block[7] = static_cast<uint8_t>(data.size() >> 8);
    block[8] = static_cast<uint8_t>(data.size());
    return SendCommandOut(Path(), block.data(), 12, data.data(), static_cast<uint32_t>(data.size()),
                          nullptr);
  };
  // Read identification: opcode with the chip select held, then the read.
  ASSERT_EQ(spi({0x01, 0x01, 0x9F}, true), 1);
  EXPECT_EQ(read(4, 0), (Bytes{0xC2, 0x20, 0x10, 0xC2}));
  // Page program: write enable, then the addressed instruction and its data.
  ASSERT_EQ(spi({0x01, 0x00, 0x06}), 1);
  ASSERT_EQ(spi({0x04, 0x01, 0x02, 0x00, 0x10, 0x00}), 1);
  ASSERT_EQ(writeData({1, 2, 3, 4}), 1);
  Bytes back(8);
  ASSERT_EQ(ReadFlashAt(Path(), 0x1000, back.data(), 8), 1);
  EXPECT_EQ(back, (Bytes{1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF}));
  // Without write enable the part ignores the program.
  ASSERT_EQ(spi({0x04, 0x01, 0x02, 0x00, 0x20, 0x00}), 1);
  ASSERT_EQ(writeData({0}), 1);
  ASSERT_EQ(ReadFlashAt(Path(), 0x2000, back.data(), 1), 1);
  EXPECT_EQ(back[0], 0xFF);
  // The controller's own short identification read: opcode, dummy bytes, three bytes.
  Bytes shortId(3);
  ASSERT_EQ(In(Block({0xFF, 0x04, 0x15, 0x03, 0xAB, 0x03}), shortId), 1);
  EXPECT_EQ(shortId[0], 0x05);
  ASSERT_EQ(In(Block({0xFF, 0x04, 0x15, 0x03, 0x9F, 0x00}), shortId), 1);
  EXPECT_EQ(shortId, (Bytes{0xC2, 0x20, 0x10}));
  // A record of more than seven bytes is refused.
  EXPECT_EQ(spi({0x08, 0x00, 0x06}), 0);
}

TEST_F(ControllerTest, ControllersWithoutOwnDetectionNeedTheHostsOpcodes) {
  Build("vqb713:maker=sst:fw=blank");
  const Bytes data = Pattern(512, 5);
  // Default page program: this part takes one byte per instruction.
  ASSERT_EQ(WriteFlashAt(Path(), 0, data.data(), 512), 1);
  Bytes back(512);
  ASSERT_EQ(ReadFlashAt(Path(), 0, back.data(), 512), 1);
  EXPECT_NE(back, data);
  EXPECT_EQ(back[0], data[0]);
  // With the opcodes detection finds for SST (chip 0x60, block 0x52, AAI 0xAF).
  ASSERT_EQ(
      SendCommandIn(Path(), Block({0xFF, 0x04, 0x24, 0x02, 0x60, 0x52, 0xAF, 0x02, 0x01}).data(),
                    12, nullptr, 0, nullptr),
      1);
  ASSERT_EQ(EraseFlashSector(Path(), 0), 1);
  uint8_t status = 1;
  while (status & 1) ASSERT_EQ(ReadFlashStatus(Path(), &status), 1);
  ASSERT_EQ(ReadFlashAt(Path(), 0, back.data(), 512), 1);
  EXPECT_TRUE(std::all_of(back.begin(), back.end(), [](uint8_t b) { return b == 0xFF; }));
  ASSERT_EQ(WriteFlashAt(Path(), 0, data.data(), 512), 1);
  ASSERT_EQ(ReadFlashAt(Path(), 0, back.data(), 512), 1);
  EXPECT_EQ(back, data);
}

TEST_F(ControllerTest, FlashMakerCodeIsWhatTheControllerDetected) {
  const std::pair<const char*, uint8_t> cases[] = {{"vqb719", kMakerMxic},
                                                   {"vqb719:maker=winbond", kMakerWinbond},
                                                   {"vqb719:maker=sst", kMakerSst},
                                                   {"vqb719:maker=pmc", kMakerPmc},
                                                   {"vqb719:maker=st", kMakerSt},
                                                   {"vqb719:maker=atmel", kMakerAtmel},
                                                   {"vqb719:maker=amic", kMakerAmic},
                                                   {"vqb719:maker=eon", kMakerEon},
                                                   {"vqb719:maker=esmt", kMakerEsmt},
                                                   {"vqb719:maker=sanyo", kMakerSanyo},
                                                   {"vqb719:maker=unknown", kMakerUnknown}};
  for (const auto& [description, maker] : cases) {
    Build(description);
    Bytes reply(4);
    ASSERT_EQ(In(Block({0xFF, 0x04, 0x23, 0x04}), reply), 1) << description;
    EXPECT_EQ(reply[0], maker) << description;
  }
}

}  // namespace
}  // namespace fwtool::sim::testing
