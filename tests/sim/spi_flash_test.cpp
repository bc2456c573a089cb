// SPDX-License-Identifier: GPL-2.0-or-later
// The flash part's physics: programming clears bits only, erase sets its
// unit, the part is busy for exactly the time the model gives, protection
// and the write-enable latch gate every change, and the identification
// bytes read the way the program's detection expects.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <vector>

#include "simulator.h"

namespace fwtool::sim {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr Duration kT0 = std::chrono::seconds(1);

class FlashTest : public ::testing::Test {
 protected:
  explicit FlashTest(FlashPartSpec part = FlashPartFor(kMakerMxic, 64)) : flash_(std::move(part)) {}

  // Sends one instruction at time `at`, after making sure the part is idle.
  Bytes Send(Bytes out, size_t read = 0) { return flash_.Transaction(out, read, at_); }
  void Idle() { at_ = std::max(at_, flash_.ReadyAt()); }
  void Program(uint32_t address, const Bytes& data) {
    Idle();
    Send({0x06});
    Bytes out = {0x02, uint8_t(address >> 16), uint8_t(address >> 8), uint8_t(address)};
    out.insert(out.end(), data.begin(), data.end());
    Send(out);
  }
  void Erase(uint8_t opcode, uint32_t address) {
    Idle();
    Send({0x06});
    Send({opcode, uint8_t(address >> 16), uint8_t(address >> 8), uint8_t(address)});
  }

  SpiFlash flash_;
  Duration at_ = kT0;
};

TEST_F(FlashTest, ProgrammingWithoutEraseLeavesTheAndOfOldAndNewData) {
  flash_.Load(Bytes(65536, 0xF0));
  Program(0x100, {0x0F, 0x3C, 0xFF, 0x00});
  const auto& cells = flash_.Contents();
  EXPECT_EQ(Bytes(cells.begin() + 0x100, cells.begin() + 0x104), (Bytes{0x00, 0x30, 0xF0, 0x00}));
  EXPECT_EQ(cells[0xFF], 0xF0);
  EXPECT_EQ(cells[0x104], 0xF0);
}

TEST_F(FlashTest, EraseSetsExactlyItsUnitToFF) {
  flash_.Load(Bytes(65536, 0x00));
  Erase(0x20, 0x1234);  // 4 KB sector holding 0x1234
  const auto& cells = flash_.Contents();
  EXPECT_EQ(cells[0x0FFF], 0x00);
  EXPECT_TRUE(std::all_of(cells.begin() + 0x1000, cells.begin() + 0x2000,
                          [](uint8_t b) { return b == 0xFF; }));
  EXPECT_EQ(cells[0x2000], 0x00);
  Erase(0xD8, 0x8000);  // 64 KB block: the whole part
  const auto& after = flash_.ContentsAt(flash_.ReadyAt());
  EXPECT_TRUE(std::all_of(after.begin(), after.end(), [](uint8_t b) { return b == 0xFF; }));
}

TEST_F(FlashTest, ChangesNeedTheWriteEnableLatchWhichEachChangeClears) {
  flash_.Load(Bytes(65536, 0xFF));
  Send({0x02, 0x00, 0x00, 0x00, 0x00});  // no write enable: ignored
  EXPECT_EQ(flash_.Contents()[0], 0xFF);
  Send({0x06});
  EXPECT_EQ(flash_.ReadStatus(at_) & kStatusWriteEnable, kStatusWriteEnable);
  Send({0x02, 0x00, 0x00, 0x00, 0x00});
  EXPECT_EQ(flash_.Contents()[0], 0x00);
  Idle();
  EXPECT_EQ(flash_.ReadStatus(at_) & kStatusWriteEnable, 0);
  Send({0x02, 0x00, 0x00, 0x01, 0x00});  // latch cleared by the program
  EXPECT_EQ(flash_.Contents()[1], 0xFF);
}

TEST_F(FlashTest, BusyLastsExactlyTheModelTimeAndIgnoresInstructionsMeanwhile) {
  flash_.Load(Bytes(65536, 0x00));
  Erase(0x20, 0);
  const Duration eraseEnd = at_ + flash_.Part().EraseTime(4096);
  EXPECT_EQ(flash_.ReadyAt(), eraseEnd);
  EXPECT_EQ(flash_.ReadStatus(eraseEnd - Duration(1)) & kStatusBusy, kStatusBusy);
  EXPECT_EQ(flash_.ReadStatus(eraseEnd) & kStatusBusy, 0);
  // A program sent while busy is dropped.
  at_ = eraseEnd - Duration(1);
  Send({0x06});
  Send({0x02, 0x00, 0x00, 0x00, 0x12});
  EXPECT_EQ(flash_.Contents()[0], 0xFF);
  // After the erase a full page takes the page-program time.
  at_ = eraseEnd;
  Program(0, Bytes(256, 0x12));
  EXPECT_EQ(flash_.ReadyAt(), eraseEnd + flash_.Part().ProgramTime(256));
  EXPECT_EQ(flash_.Contents()[255], 0x12);
}

TEST_F(FlashTest, TimeScaleShortensEveryBusyWindow) {
  flash_.SetTimeScale(0.25);
  Erase(0x20, 0);
  EXPECT_EQ(flash_.ReadyAt() - at_, flash_.Part().EraseTime(4096) / 4);
}

TEST_F(FlashTest, ProtectionBitsBlockChangesUntilTheStatusRegisterIsCleared) {
  flash_.Load(Bytes(65536, 0x00));
  flash_.SetNonVolatileStatus(0x0C);
  Erase(0x20, 0);
  Program(0x2000, {0x00});
  EXPECT_EQ(flash_.Contents()[0], 0x00);
  Idle();
  Send({0xC7});
  EXPECT_EQ(flash_.Contents()[0], 0x00);
  // Write enable, then the status write clears BP bits and the latch.
  Send({0x06});
  Send({0x01, 0x00});
  Idle();
  EXPECT_EQ(flash_.ReadStatus(at_) & 0x06, 0);
  Erase(0x20, 0);
  EXPECT_EQ(flash_.Contents()[0], 0xFF);
}

TEST_F(FlashTest, PageProgramWrapsInsideThePage) {
  Bytes data(8);
  for (int i = 0; i < 8; ++i) data[i] = static_cast<uint8_t>(0x10 + i);
  Program(0x01FC, data);  // four bytes reach the page end, four wrap to 0x0100
  const auto& cells = flash_.Contents();
  EXPECT_EQ(cells[0x01FF], 0x13);
  EXPECT_EQ(cells[0x0100], 0x14);
  EXPECT_EQ(cells[0x0103], 0x17);
  EXPECT_EQ(cells[0x0200], 0xFF);
}

TEST(FlashPartTest, ThirtyTwoBytePagesOfTheseMxicPartsWrapEarlier) {
  SpiFlash flash(WithJedecId(FlashPartFor(kMakerMxic, 64), {0xC2, 0x22, 0x10}));
  Bytes out = {0x06};
  flash.Transaction(out, 0, kT0);
  out = {0x02, 0x00, 0x00, 0x00};
  for (int i = 0; i < 64; ++i) out.push_back(static_cast<uint8_t>(i));
  flash.Transaction(out, 0, kT0);
  // Only the last 32 bytes sent stay, in the first page.
  EXPECT_EQ(flash.Contents()[0], 32);
  EXPECT_EQ(flash.Contents()[31], 63);
  EXPECT_EQ(flash.Contents()[32], 0xFF);
}

TEST(FlashPartTest, SstAaiByteAndWordProgrammingAdvanceTheAddress) {
  SpiFlash byteMode(FlashPartFor(kMakerSst, 64));
  Duration at = kT0;
  auto send = [&](SpiFlash& f, Bytes out) {
    at = std::max(at, f.ReadyAt());
    f.Transaction(out, 0, at);
  };
  send(byteMode, {0x06});
  send(byteMode, {0xAF, 0x00, 0x10, 0x00, 0xA1, 0x00});  // the extra byte is ignored
  send(byteMode, {0xAF, 0xA2});
  send(byteMode, {0x20, 0x00, 0x00, 0x00});  // not an AAI instruction: ignored in AAI mode
  send(byteMode, {0xAF, 0xA3});
  send(byteMode, {0x04});
  EXPECT_EQ(Bytes(byteMode.Contents().begin() + 0x1000, byteMode.Contents().begin() + 0x1004),
            (Bytes{0xA1, 0xA2, 0xA3, 0xFF}));
  EXPECT_EQ(byteMode.ReadStatus(at) & kStatusAai, 0);
  // 0x02 programs a single byte on these parts.
  send(byteMode, {0x06});
  send(byteMode, {0x02, 0x00, 0x20, 0x00, 0x11, 0x22});
  EXPECT_EQ(byteMode.Contents()[0x2000], 0x11);
  EXPECT_EQ(byteMode.Contents()[0x2001], 0xFF);

  SpiFlash wordMode(FlashPartFor(kMakerSst, 2048));
  send(wordMode, {0x06});
  send(wordMode, {0xAD, 0x00, 0x40, 0x00, 0x01, 0x02});
  send(wordMode, {0xAD, 0x03, 0x04});
  send(wordMode, {0x04});
  EXPECT_EQ(Bytes(wordMode.Contents().begin() + 0x4000, wordMode.Contents().begin() + 0x4005),
            (Bytes{0x01, 0x02, 0x03, 0x04, 0xFF}));
}

TEST(FlashPartTest, IrregularAmicSectorsEraseTheSectorHoldingTheAddress) {
  SpiFlash flash(WithJedecId(FlashPartFor(kMakerAmic, 64), {0x7F, 0x37, 0x20, 0x10}));
  flash.Load(Bytes(65536, 0x00));
  Duration at = kT0;
  flash.Transaction(Bytes{0x06}, 0, at);
  flash.Transaction(Bytes{0xD8, 0x00, 0x20, 0x00}, 0, at);  // inside the 8 KB sector at 0x1000
  const auto& cells = flash.Contents();
  EXPECT_EQ(cells[0x0FFF], 0x00);
  EXPECT_EQ(cells[0x1000], 0xFF);
  EXPECT_EQ(cells[0x2FFF], 0xFF);
  EXPECT_EQ(cells[0x3000], 0x00);
}

// What the program's serial-flash detection concludes from a part's
// answers: its probes and its size rules, restated from the bytes alone.
struct Detected {
  int maker = 0;
  int sizeKB = 64;
};

Detected Detect(SpiFlash& flash) {
  auto read = [&](uint8_t opcode, size_t n) { return flash.Transaction(Bytes{opcode}, n, kT0); };
  Detected d;
  const Bytes id = read(0x9F, 4);
  if ((id[0] == 0x7F && id[1] == 0x37) || (id[0] == 0x37 && id[1] == 0x30))
    d.maker = 7;
  else if (id[0] == 0x1F)
    d.maker = 4;
  else if (id[0] == 0xC2)
    d.maker = 5;
  else if (id[0] == 0xEF)
    d.maker = 6;
  else if (id[0] == 0x20)
    d.maker = 3;
  else if (id[0] == 0x1C)
    d.maker = 8;
  else if (id[0] == 0x8C)
    d.maker = 9;
  else if (id[0] == 0x7F && id[1] == 0x9D)
    d.maker = 1;
  else if (id[0] == 0x62)
    d.maker = 10;
  if (d.maker == 0 && read(0x90, 4)[3] == 0xBF) d.maker = 2;
  if (d.maker == 0) {
    const Bytes ab = read(0xAB, 4);
    if (ab[3] == 0x9D)
      d.maker = 1;
    else if (ab[3] == 0x05)
      d.maker = 3;
  }
  if (d.maker == 0 && read(0x15, 4)[0] == 0x1F) d.maker = 4;
  auto power = [](uint8_t b, uint8_t max) { return b >= 0x10 && b <= max ? 64 << (b - 0x10) : 64; };
  const Bytes ab6 = read(0xAB, 6);
  switch (d.maker) {
    case 1:
      if (id[0] == 0x7F && id[1] == 0x9D)
        d.sizeKB = id[2] == 0x21 || id[2] == 0x7C ? 128 : id[2] == 0x22 || id[2] == 0x7D ? 256 : 64;
      break;
    case 2:
      if (id[0] == 0xBF)
        d.sizeKB = id[2] == 0x41 ? 2048 : id[2] == 0x4A ? 4096 : 64;
      else if (ab6[3] == 0xBF && ab6[4] == 0x49)
        d.sizeKB = 128;
      break;
    case 3:
    case 5:
    case 8:
      d.sizeKB = power(id[2], d.maker == 3 ? 0x16 : 0x17);
      break;
    case 4:
      d.sizeKB = id[1] == 0x66 ? 128 : 64;
      break;
    case 6:
      d.sizeKB = id[2] >= 0x11 && id[2] <= 0x14 ? 64 << (id[2] - 0x10) : 64;
      break;
    case 7:
      d.sizeKB = id[0] == 0x37 ? power(id[2], 0x16) : 64;
      break;
    case 9:
      d.sizeKB = id[0] == 0x8C && id[1] == 0x30 && id[2] == 0x11 ? 128 : 64;
      break;
    case 10:
      d.sizeKB = read(0xAB, 4)[3] == 0x44 ? 256 : 64;
      break;
  }
  return d;
}

TEST(FlashPartTest, IdentificationBytesLeadTheDetectionToMakerAndSize) {
  struct Case {
    uint8_t maker;
    uint32_t sizeKB;
  };
  const Case cases[] = {
      {kMakerPmc, 64},    {kMakerPmc, 128},    {kMakerPmc, 256},      {kMakerSst, 64},
      {kMakerSst, 128},   {kMakerSst, 2048},   {kMakerSst, 4096},     {kMakerSt, 64},
      {kMakerSt, 512},    {kMakerAtmel, 64},   {kMakerAtmel, 128},    {kMakerMxic, 64},
      {kMakerMxic, 8192}, {kMakerWinbond, 64}, {kMakerWinbond, 1024}, {kMakerAmic, 64},
      {kMakerAmic, 256},  {kMakerEon, 64},     {kMakerEon, 2048},     {kMakerEsmt, 64},
      {kMakerEsmt, 128},  {kMakerSanyo, 64},   {kMakerSanyo, 256}};
  for (const auto& c : cases) {
    SpiFlash flash(FlashPartFor(c.maker, c.sizeKB));
    const Detected d = Detect(flash);
    EXPECT_EQ(d.maker, c.maker) << flash.Part().name << " " << c.sizeKB;
    EXPECT_EQ(d.sizeKB, static_cast<int>(c.sizeKB)) << flash.Part().name;
  }
  SpiFlash unknown(FlashPartFor(kMakerUnknown, 64));
  EXPECT_EQ(Detect(unknown).maker, 0);
}

TEST(FlashPartTest, PowerLossLeavesTheEraseHalfDoneAndThePartDead) {
  SpiFlash flash(FlashPartFor(kMakerMxic, 64));
  flash.Load(Bytes(65536, 0x00));
  flash.SetPowerLossAtOperation(1);
  flash.Transaction(Bytes{0x06}, 0, kT0);
  flash.Transaction(Bytes{0x20, 0x00, 0x10, 0x00}, 0, kT0);
  EXPECT_TRUE(flash.PowerLost());
  const Duration drop = kT0 + flash.Part().EraseTime(4096) / 2;
  ASSERT_TRUE(flash.PowerDropAt());
  EXPECT_EQ(*flash.PowerDropAt(), drop);
  // Nothing reaches the part once the power is gone.
  EXPECT_EQ(flash.Transaction(Bytes{0x9F}, 1, drop)[0], 0xFF);
  flash.PowerOff(drop + std::chrono::seconds(5));
  EXPECT_FALSE(flash.Powered());
  const auto& cells = flash.ContentsAt(drop + std::chrono::seconds(10));
  EXPECT_EQ(cells[0x1000], 0xFF);
  EXPECT_EQ(cells[0x17FF], 0xFF);
  EXPECT_EQ(cells[0x1800], 0x00);
  EXPECT_EQ(cells[0x1FFF], 0x00);
}

TEST(FlashPartTest, WorkTakesEffectCellByCellOverItsBusyTime) {
  SpiFlash flash(FlashPartFor(kMakerMxic, 64));
  flash.Load(Bytes(65536, 0x00));
  flash.Transaction(Bytes{0x06}, 0, kT0);
  flash.Transaction(Bytes{0x20, 0x00, 0x10, 0x00}, 0, kT0);
  const Duration time = flash.Part().EraseTime(4096);
  // A quarter of the time: the first 1 KB of the sector is erased.
  const auto& quarter = flash.ContentsAt(kT0 + time / 4);
  EXPECT_EQ(quarter[0x1000], 0xFF);
  EXPECT_EQ(quarter[0x13FF], 0xFF);
  EXPECT_EQ(quarter[0x1400], 0x00);
  // Power off there: the rest never happens.
  flash.PowerOff(kT0 + time / 4);
  const auto& after = flash.ContentsAt(kT0 + 2 * time);
  EXPECT_EQ(after[0x13FF], 0xFF);
  EXPECT_EQ(after[0x1400], 0x00);

  // A page program cut off after half its time leaves its first half done.
  SpiFlash part(FlashPartFor(kMakerMxic, 64));
  part.Transaction(Bytes{0x06}, 0, kT0);
  Bytes out = {0x02, 0x00, 0x01, 0x00};
  out.insert(out.end(), 256, 0x00);
  part.Transaction(out, 0, kT0);
  part.PowerOff(kT0 + part.Part().ProgramTime(256) / 2);
  const auto& page = part.ContentsAt(kT0 + std::chrono::seconds(1));
  EXPECT_EQ(page[0x100], 0x00);
  EXPECT_EQ(page[0x17F], 0x00);
  EXPECT_EQ(page[0x180], 0xFF);
  EXPECT_EQ(page[0x1FF], 0xFF);
}

TEST(FlashPartTest, ASlowPartTakesTheMaximumTimes) {
  const FlashPartSpec part = FlashPartFor(kMakerMxic, 512);
  SpiFlash flash(part);
  flash.SetSlow(true);
  flash.Transaction(Bytes{0x06}, 0, kT0);
  flash.Transaction(Bytes{0xC7}, 0, kT0);
  EXPECT_EQ(flash.ReadyAt() - kT0, part.chipEraseMaxTime);
  // Longer than the host's ready wait of 500 re-reads 10 ms apart.
  EXPECT_GT(part.chipEraseMaxTime, std::chrono::milliseconds(5500));
  EXPECT_LT(part.chipEraseTime, std::chrono::milliseconds(5000));
}

TEST(FlashPartTest, ASlowEonPartOutlastsTheHostsReadyWaitToo) {
  const FlashPartSpec part = FlashPartFor(kMakerEon, 512);
  SpiFlash flash(part);
  flash.SetSlow(true);
  flash.Transaction(Bytes{0x06}, 0, kT0);
  flash.Transaction(Bytes{0xC7}, 0, kT0);
  // Longer than the host's ready wait of 500 re-reads 10 ms apart.
  EXPECT_GT(flash.ReadyAt() - kT0, std::chrono::milliseconds(5500));
}

TEST(FlashPartTest, AChipEraseFigureKeepsTheDensityItWasGivenFor) {
  // The M25P05-A datasheet (Rev 11, April 2008) gives the bulk erase of the
  // 512 Kbit part: 0.85 s typical. Scaling it to 4 Mbit and back to the
  // 64 KB part must land on it again.
  const auto bulk = FlashPartFor(kMakerSt, 64).chipEraseTime;
  EXPECT_GT(bulk, std::chrono::milliseconds(849));
  EXPECT_LT(bulk, std::chrono::milliseconds(851));
  // The 2 Mbit EN25F20 datasheet (Rev. B, 2007/05/15): chip erase 3 s.
  const auto eon = FlashPartFor(kMakerEon, 256).chipEraseTime;
  EXPECT_GT(eon, std::chrono::milliseconds(2999));
  EXPECT_LT(eon, std::chrono::milliseconds(3001));
}

// Typical busy times as the parts' datasheets print them: one erase of the
// named unit at 0x8000, then one program of `programBytes` there (a full
// page, or the single byte of a byte-programmed part).
struct DatasheetTiming {
  const char* source;
  uint8_t maker;
  uint32_t sizeKB;
  uint8_t eraseOpcode;
  std::chrono::microseconds erase;
  uint32_t programBytes;
  std::chrono::microseconds program;
};

TEST(FlashPartTest, BusyTimesAreTheDatasheetsTypicalFigures) {
  using std::chrono::microseconds;
  using std::chrono::milliseconds;
  const DatasheetTiming cases[] = {
      {"Pm25LV080B/016B: 40 ms erase, 2 ms page", kMakerPmc, 64, 0xD7, milliseconds(40), 256,
       microseconds(2000)},
      {"SST25VF512: 18 ms sector, 14 us byte", kMakerSst, 64, 0x20, milliseconds(18), 1,
       microseconds(14)},
      {"SST25VF040B: 18 ms sector, 7 us byte", kMakerSst, 512, 0x20, milliseconds(18), 1,
       microseconds(7)},
      {"M25P05-A: 0.65 s sector, 1.4 ms page", kMakerSt, 64, 0xD8, milliseconds(650), 256,
       microseconds(1400)},
      {"AT25DF041A: 400 ms 64 KB block, 1.2 ms page", kMakerAtmel, 512, 0xD8, milliseconds(400),
       256, microseconds(1200)},
      {"KH25L8005: 60 ms sector, 1.4 ms page", kMakerMxic, 1024, 0x20, milliseconds(60), 256,
       microseconds(1400)},
      {"A25L020: 0.2 s sector, 2 ms page", kMakerAmic, 256, 0x20, milliseconds(200), 256,
       microseconds(2000)},
      {"A25L020: 0.5 s 64 KB block", kMakerAmic, 256, 0xD8, milliseconds(500), 256,
       microseconds(2000)},
      {"EN25F20: 150 ms sector, 1.5 ms page", kMakerEon, 256, 0x20, milliseconds(150), 256,
       microseconds(1500)},
      {"EN25F20: 800 ms 64 KB block", kMakerEon, 256, 0xD8, milliseconds(800), 256,
       microseconds(1500)},
      {"F25L004A: 60 ms sector, 1 s block; F25L01PA: 1.5 ms page", kMakerEsmt, 512, 0x20,
       milliseconds(60), 256, microseconds(1500)},
      {"LE25FW406: 25 ms 64 KB sector, 1.5 ms page", kMakerSanyo, 512, 0xD8, milliseconds(25), 256,
       microseconds(1500)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    SpiFlash flash(FlashPartFor(c.maker, c.sizeKB));
    flash.Transaction(Bytes{0x06}, 0, kT0);
    flash.Transaction(Bytes{c.eraseOpcode, 0x00, 0x80, 0x00}, 0, kT0);
    EXPECT_EQ(flash.ReadyAt() - kT0, c.erase);
    const Duration start = flash.ReadyAt();
    flash.Transaction(Bytes{0x06}, 0, start);
    Bytes program = {0x02, 0x00, 0x80, 0x00};
    program.resize(program.size() + c.programBytes, 0x5A);
    flash.Transaction(program, 0, start);
    EXPECT_EQ(flash.ReadyAt() - start, c.program);
    EXPECT_EQ(flash.ContentsAt(flash.ReadyAt())[0x8000], 0x5A);
  }
}

TEST(FlashPartTest, AWeakCellLeavesExactlyOneBitUnprogrammed) {
  SpiFlash flash(FlashPartFor(kMakerMxic, 64));
  flash.SetProgramBitErrors(1);
  Bytes out = {0x02, 0x00, 0x00, 0x00};
  out.insert(out.end(), 256, 0x00);
  flash.Transaction(Bytes{0x06}, 0, kT0);
  flash.Transaction(out, 0, kT0);
  int ones = 0;
  for (int i = 0; i < 256; ++i) ones += std::popcount(flash.Contents()[i]);
  EXPECT_EQ(ones, 1);
  // Only the first program was weak.
  const Duration later = flash.ReadyAt();
  flash.Transaction(Bytes{0x06}, 0, later);
  flash.Transaction(out, 0, later);
  ones = 0;
  for (int i = 0; i < 256; ++i) ones += std::popcount(flash.Contents()[i]);
  EXPECT_EQ(ones, 0);
}

TEST(TimingTest, PhysicalFloorAddsBusEraseAndProgramFigures) {
  const BusTimings bus;
  const FlashPartSpec part = FlashPartFor(kMakerMxic, 64);
  const FloorOp ops[] = {{FloorOpKind::Command, 4096, 2},
                         {FloorOpKind::Erase, 4096, 1},
                         {FloorOpKind::Program, 4096, 1},
                         {FloorOpKind::ChipErase, 0, 1}};
  const Duration expected = 2 * CommandTime(bus, 4096) + part.EraseTime(4096) +
                            16 * part.ProgramTime(256) + part.chipEraseTime;
  EXPECT_EQ(PhysicalFloor(bus, part, ops), expected);
  EXPECT_EQ(CommandTime(bus, 0), bus.commandLatency);
  EXPECT_GT(CommandTime(bus, 32000), bus.commandLatency + std::chrono::microseconds(999));
}

}  // namespace
}  // namespace fwtool::sim
