// SPDX-License-Identifier: GPL-2.0-or-later
// The serial flash procedure of chip types 8, 9, 11 and 12 over simulated
// units: programming from a file, erase only, backup only, the attempts and
// their write modes, and what a unit that fails at any point leads to.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "byte_pattern.h"
#include "chip_rows.h"
#include "procedures.h"
#include "sim_unit_fixture.h"
#include "simulator.h"

namespace fwtool {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using testing::FakeProcedureHost;
using testing::Pattern;
using testing::ReadFile;
using testing::ScopedDataHome;
using testing::Tagged;
using testing::TempDir;

constexpr size_t kNvram = 4096;
constexpr size_t kBank = 65536;
// Where a type-12 unit keeps its settings: right after the firmware of bank 0.
constexpr size_t kBankSettings = 0xC000;

constexpr const char* kPowerCycleBox = "Message: Please Turn-Off the Power and Turn-On Again!";
constexpr const char* kResetBox = "Message: VQS175 Auto reset, Please wait device re-attached!";

constexpr int kAtmel = 4;
constexpr int kMxic = 5;
constexpr int kWinbond = 6;
constexpr int kEon = 8;

// CRC-16 with the polynomial 0x1021, bit by bit, no reflection, started at
// 0, over the bytes of every group of four taken in the order 3, 2, 1, 0:
// the checksum a type-12 bank carries big-endian at 0xBFFE.
uint16_t WordCrc16(const uint8_t* data, size_t length) {
  uint16_t crc = 0;
  for (size_t group = 0; group + 4 <= length; group += 4) {
    for (int k = 3; k >= 0; --k) {
      crc ^= static_cast<uint16_t>(data[group + k] << 8);
      for (int bit = 0; bit < 8; ++bit)
        crc = static_cast<uint16_t>((crc & 0x8000) != 0 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
  }
  return crc;
}

TEST(BankChecksum, WorkedExample) {
  const uint8_t abcd[] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(WordCrc16(abcd, 4), 0x40D7);
}

// "" when the bytes are equal, else where they first differ.
std::string Differs(const Bytes& actual, const Bytes& expected) {
  if (actual.size() != expected.size())
    return std::to_string(actual.size()) + " bytes instead of " + std::to_string(expected.size());
  const auto [a, e] = std::mismatch(actual.begin(), actual.end(), expected.begin());
  if (a == actual.end()) return "";
  char text[80];
  std::snprintf(text, sizeof text, "byte 0x%zx is 0x%02x instead of 0x%02x",
                static_cast<size_t>(a - actual.begin()), *a, *e);
  return text;
}

size_t RoundUp(size_t value, size_t unit) {
  return (value + unit - 1) / unit * unit;
}

// A firmware file: pseudo-random bytes; files of a bank or more carry a
// type-12 signature block at 0xBFF0 of every bank.
Bytes FirmwareFile(size_t size, uint32_t seed = 0x1234567) {
  Bytes file = Pattern(size, seed);
  const uint8_t signature[] = {0x55, 0xAA, 0xAA, 0x55, '1', '7', '5', 'B', 0, 0};
  for (size_t bank = 0; bank + 0xBFFA <= size; bank += kBank)
    std::copy(std::begin(signature), std::end(signature), file.begin() + bank + 0xBFF0);
  return file;
}

struct UnitCase {
  const char* name;
  const char* description;
  int type;
  int32_t flashKB;
};

const UnitCase kType8{"type8", "vqb719", 8, 64};
const UnitCase kType9{"type9", "chip=9", 9, 64};
const UnitCase kType11{"type11", "vqs118", 11, 64};
const UnitCase kType12{"type12", "vqs175", 12, 128};
const UnitCase kUnits[] = {kType8, kType9, kType11, kType12};

const char* MakerName(int maker) {
  switch (maker) {
    case kAtmel:
      return "atmel";
    case kMxic:
      return "mxic";
    case kWinbond:
      return "winbond";
    case kEon:
      return "eon";
    default:
      return "unknown";
  }
}

// Block and sector of the parts, as their datasheets give them.
void SetEraseUnits(FlashSettings& settings, int maker) {
  const bool bigSectors = maker == kAtmel || maker == kEon;
  settings.LargeEraseUnit = 65536;
  settings.SmallEraseUnit = bigSectors ? 32768 : 4096;
}

size_t SettingsAddress(const UnitCase& unit) {
  return unit.type == 12 ? kBankSettings : 0;
}

// What the flash of a unit must hold after programming `file` over
// `before`: the file in whole 256-byte pages padded with zeros (the transfer
// itself sends whole 512-byte units, zeros again); the unit's
// own settings area where the operator keeps it; the rest of the first
// 64 KB erased by the first attempt's block erase. Type 12: a bank image per
// bank, the checksum over its first 49,148 bytes at 0xBFFE (big-endian) for
// a file of one bank, written through the checksum or the kept settings.
Bytes ExpectedFlash(const UnitCase& unit, const Bytes& file, bool keepNvram, const Bytes& before) {
  Bytes flash = before;
  if (unit.type != 12) {
    const size_t length = RoundUp(RoundUp(file.size(), 256), 512);
    std::fill(flash.begin(), flash.begin() + kBank, 0xFF);
    std::fill(flash.begin(), flash.begin() + length, 0x00);
    std::copy(file.begin(), file.end(), flash.begin());
    if (keepNvram) std::copy_n(before.begin(), kNvram, flash.begin());
    return flash;
  }
  const size_t banks = unit.flashKB >= 128 ? 2 : 1;
  for (size_t bank = 0; bank < banks; ++bank) {
    Bytes image(kBank, 0);
    const size_t from = file.size() >= 2 * kBank ? bank * kBank : 0;
    std::copy(file.begin() + from, file.begin() + std::min(file.size(), from + kBank),
              image.begin());
    if (keepNvram)
      std::copy_n(before.begin() + kBankSettings, kNvram, image.begin() + kBankSettings);
    if (file.size() <= kBank) {
      const uint16_t crc = WordCrc16(image.data(), 0xBFFC);
      image[0xBFFE] = static_cast<uint8_t>(crc >> 8);
      image[0xBFFF] = static_cast<uint8_t>(crc);
    }
    const size_t through = keepNvram ? kBankSettings + kNvram : 0xC000;
    const size_t length = std::min(std::max(RoundUp(file.size(), 256), through), kBank);
    std::fill(image.begin() + static_cast<std::ptrdiff_t>(length), image.end(), 0xFF);
    std::copy(image.begin(), image.end(), flash.begin() + bank * kBank);
  }
  return flash;
}

bool IsFlashWrite(const sim::LoggedCommand& c) {
  return c[0] == 0xDF && c[11] == 0xFB;
}
bool IsFlashRead(const sim::LoggedCommand& c) {
  return c[0] == 0xDF && c[11] == 0xFA;
}
uint32_t AddressOf(const sim::LoggedCommand& c) {
  return (static_cast<uint32_t>(c[8]) << 16) | (c[9] << 8) | c[10];
}

// Refuses every DF flash write whose mode byte is `mode`.
sim::BlockPattern WritesInMode(uint8_t mode) {
  sim::BlockPattern p;
  p.length = 12;
  p.bytes[0] = 0xDF;
  p.mask[0] = 0xFF;
  p.bytes[1] = mode;
  p.mask[1] = 0xFF;
  p.bytes[11] = 0xFB;
  p.mask[11] = 0xFF;
  return p;
}
sim::BlockPattern AllFlashReads() {
  sim::BlockPattern p;
  p.length = 12;
  p.bytes[0] = 0xDF;
  p.mask[0] = 0xFF;
  p.bytes[11] = 0xFA;
  p.mask[11] = 0xFF;
  return p;
}

class SerialFlash : public testing::SimUnitTest {
 protected:
  // FF 04 25 reached the unit before its first flash read or write.
  void ExpectFlashAccessSetUpFirst() {
    EXPECT_TRUE(Unit().FlashAccessSetUp());
    const auto& log = Unit().Log();
    const auto setUp = std::find_if(log.begin(), log.end(), [](const sim::LoggedCommand& l) {
      return l[0] == 0xFF && l[1] == 0x04 && l[2] == 0x25;
    });
    const auto firstFlash = std::find_if(log.begin(), log.end(), [](const sim::LoggedCommand& l) {
      return IsFlashRead(l) || IsFlashWrite(l);
    });
    EXPECT_LT(setUp - log.begin(), firstFlash - log.begin());
  }
  Bytes FlashRange(size_t from, size_t length) {
    const Bytes& cells = Unit().Flash().Contents();
    return Bytes(cells.begin() + static_cast<std::ptrdiff_t>(from),
                 cells.begin() + static_cast<std::ptrdiff_t>(from + length));
  }

  // A fresh unit of the case with the maker's part, its settings area
  // holding recognisable bytes (type 12: bank 1's area others again).
  // Returns its flash.
  Bytes Prepare(const UnitCase& unit, int maker = kMxic, double timeScale = 1.0) {
    if (!Create(std::string(unit.description) + ":maker=" + MakerName(maker), timeScale)) return {};
    Bytes cells = Flash();
    const Bytes settings = Tagged("UNIT SETTINGS ", kNvram);
    std::copy(settings.begin(), settings.end(), cells.begin() + SettingsAddress(unit));
    if (unit.type == 12 && cells.size() >= 2 * kBank) {
      const Bytes other = Tagged("BANK 1 OWN AREA ", kNvram);
      std::copy(other.begin(), other.end(), cells.begin() + kBank + kBankSettings);
    }
    Unit().Flash().Load(cells);
    host = FakeProcedureHost{};
    host.flashMaker = maker;
    SetEraseUnits(host.settings, maker);
    return cells;
  }

  ProcedureRequest Request(const UnitCase& unit, int maker = kMxic) {
    ProcedureRequest request;
    request.path = farm->Unit(0).diskPath;
    request.chip.type = static_cast<uint8_t>(unit.type);
    request.chip.flashMaker = maker;
    request.chip.flashSizeKB = unit.flashKB;
    request.chip.row = &ChipRowFor(unit.type);
    request.options.rdVersion = true;
    return request;
  }
  ProcedureRequest ProgramRequest(const UnitCase& unit, const Bytes& file, bool keepNvram,
                                  int maker = kMxic) {
    ProcedureRequest request = Request(unit, maker);
    request.options.includeNvram = !keepNvram;
    request.options.firmwareFile = dir.Write("firmware.bin", file);
    return request;
  }

  bool StatusWas(const std::string& text) const {
    return std::find(host.statusHistory.begin(), host.statusHistory.end(), text) !=
           host.statusHistory.end();
  }
  std::vector<sim::LoggedCommand> Writes() {
    std::vector<sim::LoggedCommand> writes;
    for (const auto& c : Unit().Log())
      if (IsFlashWrite(c)) writes.push_back(c);
    return writes;
  }
  // Mode bytes of the writes that start the flash, in order.
  std::vector<uint8_t> ModesAtZero() {
    std::vector<uint8_t> modes;
    for (const auto& c : Writes())
      if (AddressOf(c) == 0) modes.push_back(c[1]);
    return modes;
  }
  bool ResetSent() {
    return std::any_of(Unit().Log().begin(), Unit().Log().end(), [](const sim::LoggedCommand& c) {
      return c[0] == 0xFF && c[1] == 0x04 && c[2] == 0x26;
    });
  }
  std::vector<std::string> SuccessBox(const UnitCase& unit) {
    return {unit.type == 12 ? kResetBox : kPowerCycleBox};
  }
};

// ---- Programming from a file ------------------------------------------------

struct ProgramCase {
  const char* name;
  UnitCase unit;
  size_t fileSize;
  bool keepNvram;
};

class ProgramFromFile : public SerialFlash, public ::testing::WithParamInterface<ProgramCase> {};

TEST_P(ProgramFromFile, FlashHoldsTheFileAndTheSettingsAsAsked) {
  const ProgramCase& c = GetParam();
  const Bytes before = Prepare(c.unit);
  const Bytes file = FirmwareFile(c.fileSize);

  EXPECT_EQ(RunFlashUpdate(ProgramRequest(c.unit, file, c.keepNvram), host), 1);
  EXPECT_EQ(host.status, "Programming Success!!");
  EXPECT_EQ(host.boxes, SuccessBox(c.unit));
  EXPECT_EQ(ResetSent(), c.unit.type == 12);
  EXPECT_EQ(Differs(Flash(), ExpectedFlash(c.unit, file, c.keepNvram, before)), "");
  EXPECT_EQ(host.settings.TransferBlockSize, 8192);
  // Type 11 is told to set up its flash access before the flash is touched.
  if (c.unit.type == 11) ExpectFlashAccessSetUpFirst();
}

INSTANTIATE_TEST_SUITE_P(
    SerialFlash, ProgramFromFile,
    ::testing::Values(ProgramCase{"type8_kept", kType8, 40000, true},
                      ProgramCase{"type8_replaced", kType8, 40000, false},
                      ProgramCase{"type9_kept", kType9, 65536, true},
                      ProgramCase{"type9_replaced", kType9, 65536, false},
                      ProgramCase{"type11_kept", kType11, 40000, true},
                      ProgramCase{"type11_replaced", kType11, 65536, false},
                      // Just past the settings area: one byte of firmware.
                      ProgramCase{"type8_one_byte_after_settings", kType8, 4097, true},
                      ProgramCase{"type8_settings_only_replaced", kType8, 4096, false},
                      ProgramCase{"type12_bank_kept", kType12, 65536, true},
                      ProgramCase{"type12_bank_replaced", kType12, 65536, false},
                      ProgramCase{"type12_two_banks_kept", kType12, 131072, true},
                      ProgramCase{"type12_two_banks_replaced", kType12, 131072, false},
                      // Shorter than the checksum: the bank is still whole.
                      ProgramCase{"type12_short_kept", kType12, 20000, true},
                      ProgramCase{"type12_short_replaced", kType12, 20000, false},
                      ProgramCase{"type12_64k_flash", {"", "vqs175:size=64", 12, 64}, 65536, true}),
    [](const auto& info) { return std::string(info.param.name); });

// "Flash PgSz" set to 4 KB does not reach this procedure: it moves the flash
// in 8 KB blocks and leaves the setting at 8 KB for the runs after it.
TEST_F(SerialFlash, ProgramsIn8KBlocksWhateverTheBlockSizeWas) {
  const Bytes before = Prepare(kType8);
  host.settings.TransferBlockSize = 4096;
  const Bytes file = FirmwareFile(65536);
  EXPECT_EQ(RunFlashUpdate(ProgramRequest(kType8, file, true), host), 1);
  EXPECT_EQ(host.status, "Programming Success!!");
  EXPECT_EQ(Differs(Flash(), ExpectedFlash(kType8, file, true, before)), "");
  size_t blocks = 0;
  for (const auto& c : Unit().Log()) {
    if (!IsFlashRead(c) && !IsFlashWrite(c)) continue;
    EXPECT_LE(c.length, 8192u) << AddressOf(c);
    blocks += c.length == 8192 ? 1 : 0;
  }
  EXPECT_GT(blocks, 0u);  // 4 KB blocks only would leave none
  EXPECT_EQ(host.settings.TransferBlockSize, 8192);
}

// The checksum of a worked bank, computed here by hand: every byte of the
// firmware 0x11 except one word, all settings bytes 0x22.
TEST_F(SerialFlash, BankChecksumOfAHandMadeImage) {
  Prepare(kType12);
  Bytes file(kBank, 0x11);
  file[0x100] = 0x01;  // the word 11 11 11 01 enters as 0x01111111
  std::fill(file.begin() + kBankSettings, file.begin() + kBankSettings + kNvram, 0x22);
  ASSERT_EQ(RunFlashUpdate(ProgramRequest(kType12, file, false), host), 1);
  const uint16_t crc = WordCrc16(file.data(), 0xBFFC);
  EXPECT_EQ(FlashRange(0xBFFE, 2), (Bytes{static_cast<uint8_t>(crc >> 8), uint8_t(crc)}));
  EXPECT_EQ(FlashRange(kBank + 0xBFFE, 2), FlashRange(0xBFFE, 2));
  EXPECT_EQ(Differs(FlashRange(kBankSettings, kNvram), Bytes(kNvram, 0x22)), "");
  // The covered bytes as they were, the four uncovered ones at 0xBFFC too.
  EXPECT_EQ(Differs(FlashRange(0, 0xBFFE), Bytes(file.begin(), file.begin() + 0xBFFE)), "");
}

// ---- The file is refused before anything is erased --------------------------

struct RefusedCase {
  const char* name;
  UnitCase unit;
  int fileSize;  // -1: no file there
  bool keepNvram;
};

class RefusedFile : public SerialFlash, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedFile, OpenFileErrorAndTheFlashUntouched) {
  const RefusedCase& c = GetParam();
  const Bytes before = Prepare(c.unit);
  ProcedureRequest request = Request(c.unit);
  request.options.includeNvram = !c.keepNvram;
  request.options.firmwareFile =
      c.fileSize < 0 ? dir.Path("missing.bin")
                     : dir.Write("firmware.bin", FirmwareFile(static_cast<size_t>(c.fileSize)));
  EXPECT_EQ(RunFlashUpdate(request, host), 0);
  EXPECT_EQ(host.status, "Open File Error!!");
  EXPECT_TRUE(host.boxes.empty());
  EXPECT_TRUE(Writes().empty());
  EXPECT_EQ(Flash(), before);
}

INSTANTIATE_TEST_SUITE_P(SerialFlash, RefusedFile,
                         ::testing::Values(RefusedCase{"empty_kept", kType8, 0, true},
                                           RefusedCase{"empty_replaced", kType8, 0, false},
                                           RefusedCase{"type12_empty", kType12, 0, true},
                                           RefusedCase{"settings_only", kType11, 4096, true},
                                           RefusedCase{"shorter_than_settings", kType9, 1000, true},
                                           RefusedCase{"missing", kType8, -1, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Attempts and write modes -------------------------------------------------

TEST_F(SerialFlash, FailedFirstAttemptIsFollowedBySectorErase) {
  // A weak cell in the first program operation spoils the first attempt.
  const Bytes before = Prepare(kType8, kWinbond);
  sim::FaultPlan faults;
  faults.programBitErrors = 1;
  Unit().SetFaults(faults);
  const Bytes file = FirmwareFile(65536);
  EXPECT_EQ(RunFlashUpdate(ProgramRequest(kType8, file, true, kWinbond), host), 1);
  EXPECT_TRUE(StatusWas("Data compare fail !!"));
  EXPECT_EQ(host.status, "Programming Success!!");
  EXPECT_EQ(ModesAtZero(), (std::vector<uint8_t>{0x02, 0x01}));
  EXPECT_EQ(Differs(Flash(), ExpectedFlash(kType8, file, true, before)), "");
  EXPECT_EQ(host.boxes, SuccessBox(kType8));
}

TEST_F(SerialFlash, ThirdAttemptErasesTheWholeChip) {
  // MXIC: the first block carries bit 7; the block-erase and sector-erase
  // first blocks are refused.
  const Bytes before = Prepare(kType8, kMxic);
  sim::FaultPlan faults;
  faults.failMatching = {WritesInMode(0x82), WritesInMode(0x81)};
  Unit().SetFaults(faults);
  const Bytes file = FirmwareFile(65536);
  EXPECT_EQ(RunFlashUpdate(ProgramRequest(kType8, file, true), host), 1);
  // The MXIC first block (mode 2, no flag), then attempts in modes 2, 1, 3.
  EXPECT_EQ(ModesAtZero(), (std::vector<uint8_t>{0x02, 0x82, 0x81, 0x83}));
  EXPECT_EQ(host.status, "Programming Success!!");
  EXPECT_EQ(Differs(Flash(), ExpectedFlash(kType8, file, true, before)), "");
}

TEST_F(SerialFlash, ThreeFailedAttemptsAreAFailure) {
  Prepare(kType9, kMxic);
  sim::FaultPlan faults;
  faults.failMatching = {WritesInMode(0x82), WritesInMode(0x81), WritesInMode(0x83)};
  Unit().SetFaults(faults);
  EXPECT_EQ(RunFlashUpdate(ProgramRequest(kType9, FirmwareFile(65536), true), host), 0);
  EXPECT_EQ(ModesAtZero(), (std::vector<uint8_t>{0x02, 0x82, 0x81, 0x83}));
  EXPECT_EQ(host.status, "Data compare fail !!");
  EXPECT_FALSE(StatusWas("Programming Success!!"));
  EXPECT_TRUE(host.boxes.empty());
}

TEST_F(SerialFlash, ReadBackThatFailsNeverPasses) {
  // A file of zeros: bytes that were never read are zero as well.
  Prepare(kType8);
  sim::FaultPlan faults;
  faults.failMatching = {AllFlashReads()};
  Unit().SetFaults(faults);
  EXPECT_EQ(RunFlashUpdate(ProgramRequest(kType8, Bytes(8192, 0x00), false), host), 0);
  EXPECT_EQ(host.status, "Read command fail!");
  EXPECT_FALSE(StatusWas("Data compare fail !!"));
  EXPECT_FALSE(StatusWas("Programming Success!!"));
  EXPECT_TRUE(host.boxes.empty());
}

// Type 12, two banks: bank 0 passes in its second attempt (sector erase), so
// bank 1 starts in sector erase too; its first attempt fails at the first
// command, and its second must erase the sectors again.
TEST_F(SerialFlash, EveryAttemptErasesItsRangeAgain) {
  const Bytes file = FirmwareFile(65536);
  sim::FaultPlan faults;
  faults.failMatching = {WritesInMode(0x82)};
  // Where bank 1's first write falls in a run with only bank 0's fault.
  Prepare(kType12, kMxic, 0.0);
  Unit().SetFaults(faults);
  ASSERT_EQ(RunFlashUpdate(ProgramRequest(kType12, file, true), host), 1);
  uint64_t bank1First = 0;
  for (const auto& c : Writes())
    if (AddressOf(c) == kBank && bank1First == 0) bank1First = c.number;
  ASSERT_NE(bank1First, 0u);

  const Bytes before = Prepare(kType12, kMxic, 0.0);
  faults.failCommand = bank1First;
  Unit().SetFaults(faults);
  EXPECT_EQ(RunFlashUpdate(ProgramRequest(kType12, file, true), host), 1);
  std::vector<uint8_t> bank1Modes;
  for (const auto& c : Writes())
    if (AddressOf(c) == kBank) bank1Modes.push_back(c[1]);
  EXPECT_EQ(bank1Modes, (std::vector<uint8_t>{0x01, 0x01}));
  EXPECT_EQ(host.status, "Programming Success!!");
  EXPECT_EQ(Differs(Flash(), ExpectedFlash(kType12, file, true, before)), "");
}

// Bank 0 fails in all three attempts: its second block is refused every
// time. The third attempt's chip erase leaves bank 1 blank, so bank 1 (in
// that mode, which does not erase there) takes the image.
TEST_F(SerialFlash, FailedBankZeroIsAFailureWhateverBankOneDoes) {
  const Bytes before = Prepare(kType12);
  sim::BlockPattern secondBlock;
  secondBlock.length = 12;
  secondBlock.bytes = {0xDF, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x10, 0x00, 0xFB};
  secondBlock.mask = {0xFF, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  sim::FaultPlan faults;
  faults.failMatching = {secondBlock};
  Unit().SetFaults(faults);
  const Bytes file = FirmwareFile(65536);
  EXPECT_EQ(RunFlashUpdate(ProgramRequest(kType12, file, true), host), 0);
  EXPECT_EQ(ModesAtZero(), (std::vector<uint8_t>{0x02, 0x82, 0x81, 0x83}));
  EXPECT_EQ(host.status, "Data compare fail !!");
  EXPECT_FALSE(StatusWas("Programming Success!!"));
  EXPECT_TRUE(host.boxes.empty());
  EXPECT_FALSE(ResetSent());
  const Bytes expected = ExpectedFlash(kType12, file, true, before);
  EXPECT_EQ(Differs(FlashRange(kBank, kBank), Bytes(expected.begin() + kBank, expected.end())), "");
}

TEST_F(SerialFlash, UnitThatIgnoresTheResetIsPowerCycled) {
  Prepare(kType12);
  sim::FaultPlan faults;
  sim::BlockPattern reset;
  reset.length = 3;
  reset.bytes = {0xFF, 0x04, 0x26};
  reset.mask = {0xFF, 0xFF, 0xFF};
  faults.failMatching = {reset};
  Unit().SetFaults(faults);
  EXPECT_EQ(RunFlashUpdate(ProgramRequest(kType12, FirmwareFile(65536), true), host), 1);
  EXPECT_EQ(host.boxes, std::vector<std::string>{kPowerCycleBox});
}

// ---- Erase only ----------------------------------------------------------------

struct EraseCase {
  const char* name;
  UnitCase unit;
  bool keepNvram;
};

class EraseOnly : public SerialFlash, public ::testing::WithParamInterface<EraseCase> {};

TEST_P(EraseOnly, BlankButTheKeptSettings) {
  const EraseCase& c = GetParam();
  const Bytes before = Prepare(c.unit);
  ProcedureRequest request = Request(c.unit);
  request.options.eraseOnly = true;
  request.options.includeNvram = !c.keepNvram;
  EXPECT_EQ(RunFlashUpdate(request, host), 1);
  EXPECT_EQ(host.status, "Erase flash all success!");
  EXPECT_EQ(host.boxes, SuccessBox(c.unit));
  Bytes expected(before.size(), 0xFF);
  const size_t at = SettingsAddress(c.unit);
  if (c.keepNvram) std::copy_n(before.begin() + at, kNvram, expected.begin() + at);
  EXPECT_EQ(Differs(Flash(), expected), "");
  // One erase command: the whole chip, with the MXIC flag.
  ASSERT_FALSE(Writes().empty());
  EXPECT_EQ(Writes().front()[1], 0x83);
}

INSTANTIATE_TEST_SUITE_P(SerialFlash, EraseOnly,
                         ::testing::Values(EraseCase{"type8_kept", kType8, true},
                                           EraseCase{"type8_included", kType8, false},
                                           EraseCase{"type9_kept", kType9, true},
                                           EraseCase{"type11_kept", kType11, true},
                                           EraseCase{"type11_included", kType11, false},
                                           EraseCase{"type12_kept", kType12, true},
                                           EraseCase{"type12_included", kType12, false}),
                         [](const auto& info) { return std::string(info.param.name); });

struct EraseMakerCase {
  const char* name;
  UnitCase unit;
  int maker;
  // (address, mode) of the erase commands before the flash is read.
  std::vector<std::pair<uint32_t, uint8_t>> commands;
  bool erasedAgain;  // not blank after them: erased sector by sector
};

class EraseByMaker : public SerialFlash, public ::testing::WithParamInterface<EraseMakerCase> {};

TEST_P(EraseByMaker, EraseCommandsOfThePart) {
  const EraseMakerCase& c = GetParam();
  Prepare(c.unit, c.maker);
  ProcedureRequest request = Request(c.unit, c.maker);
  request.options.eraseOnly = true;
  request.options.includeNvram = true;
  EXPECT_EQ(RunFlashUpdate(request, host), 1);
  std::vector<std::pair<uint32_t, uint8_t>> commands;
  for (const auto& l : Unit().Log()) {
    if (IsFlashRead(l)) break;
    if (IsFlashWrite(l)) commands.emplace_back(AddressOf(l), l[1]);
  }
  EXPECT_EQ(commands, c.commands);
  EXPECT_EQ(StatusWas("Erase..."), c.erasedAgain);
  EXPECT_EQ(host.status, "Erase flash all success!");
  // The second erase tells its success before the flash is read again.
  EXPECT_EQ(
      std::count(host.statusHistory.begin(), host.statusHistory.end(), "Erase flash all success!"),
      c.erasedAgain ? 2 : 1);
  EXPECT_EQ(Differs(Flash(), Bytes(Flash().size(), 0xFF)), "");
}

INSTANTIATE_TEST_SUITE_P(
    SerialFlash, EraseByMaker,
    ::testing::Values(EraseMakerCase{"mxic", kType8, kMxic, {{0, 0x83}}, false},
                      EraseMakerCase{"winbond", kType8, kWinbond, {{0, 0x03}}, false},
                      EraseMakerCase{"eon", kType9, kEon, {{0, 0x02}}, false},
                      EraseMakerCase{"atmel", kType8, kAtmel, {{0, 0x02}, {0x8000, 0x02}}, false},
                      // A block erase leaves bank 1 as it was.
                      EraseMakerCase{
                          "atmel_two_banks", kType12, kAtmel, {{0, 0x02}, {0x8000, 0x02}}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SerialFlash, SettingsThatCannotBeWrittenBackAreAFailure) {
  for (const bool bitError : {false, true}) {
    SCOPED_TRACE(bitError ? "weak cell" : "write refused");
    Prepare(kType8);
    sim::FaultPlan faults;
    if (bitError)
      faults.programBitErrors = 1;  // the erase programs nothing but 0xFF
    else
      faults.failMatching = {WritesInMode(0x00)};
    Unit().SetFaults(faults);
    ProcedureRequest request = Request(kType8);
    request.options.eraseOnly = true;
    request.options.includeNvram = false;
    EXPECT_EQ(RunFlashUpdate(request, host), 0);
    EXPECT_EQ(host.status, "Write NVRAM back command fail!");
    EXPECT_FALSE(StatusWas("Erase flash all success!"));
    EXPECT_TRUE(host.boxes.empty());
  }
}

TEST_F(SerialFlash, SettingsGoBackAfterARefusedErase) {
  const Bytes before = Prepare(kType11);
  sim::FaultPlan faults;
  faults.failMatching = {WritesInMode(0x83)};
  Unit().SetFaults(faults);
  ProcedureRequest request = Request(kType11);
  request.options.eraseOnly = true;
  request.options.includeNvram = false;
  EXPECT_EQ(RunFlashUpdate(request, host), 0);
  EXPECT_EQ(host.status, "Erase command fail!!");
  EXPECT_TRUE(host.boxes.empty());
  // The saved area went back with a plain program.
  const auto writes = Writes();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[1][1], 0x00);
  EXPECT_EQ(AddressOf(writes[1]), 0u);
  EXPECT_EQ(writes[1].dataOut, Bytes(before.begin(), before.begin() + kNvram));
  EXPECT_EQ(Differs(FlashRange(0, kNvram), Bytes(before.begin(), before.begin() + kNvram)), "");
}

TEST_F(SerialFlash, SettingsGoBackAfterAFlashThatStaysUnblank) {
  // ATMEL on two banks: the block erase clears bank 0 (settings included),
  // the sector-by-sector erase that should clear bank 1 is refused.
  const Bytes before = Prepare(kType12, kAtmel);
  sim::FaultPlan faults;
  faults.failMatching = {WritesInMode(0x01)};
  Unit().SetFaults(faults);
  ProcedureRequest request = Request(kType12, kAtmel);
  request.options.eraseOnly = true;
  request.options.includeNvram = false;
  EXPECT_EQ(RunFlashUpdate(request, host), 0);
  EXPECT_EQ(host.status, "Data not 0xff !!");
  EXPECT_TRUE(host.boxes.empty());
  EXPECT_FALSE(ResetSent());
  EXPECT_EQ(FlashRange(kBankSettings, kNvram),
            Bytes(before.begin() + kBankSettings, before.begin() + kBankSettings + kNvram));
}

TEST_F(SerialFlash, EraseThatCannotBeReadBackIsAFailure) {
  Prepare(kType9);
  sim::FaultPlan faults;
  faults.failMatching = {AllFlashReads()};
  Unit().SetFaults(faults);
  ProcedureRequest request = Request(kType9);
  request.options.eraseOnly = true;
  request.options.includeNvram = true;
  EXPECT_EQ(RunFlashUpdate(request, host), 0);
  EXPECT_EQ(host.status, "Read command fail!");
  EXPECT_FALSE(StatusWas("Erase flash all success!"));
  EXPECT_TRUE(host.boxes.empty());
}

// ---- Backup only -----------------------------------------------------------------

struct BackupCase {
  const char* name;
  UnitCase unit;
  bool includeNvram;
  size_t from;    // first flash byte in the file
  size_t length;  // bytes in the file
};

class BackupOnly : public SerialFlash, public ::testing::WithParamInterface<BackupCase> {};

TEST_P(BackupOnly, FileHoldsTheFlash) {
  const BackupCase& c = GetParam();
  const Bytes before = Prepare(c.unit);
  ProcedureRequest request = Request(c.unit);
  request.options.backupOnly = true;
  request.options.includeNvram = c.includeNvram;
  request.options.backupFile = dir.Path("backup.bin");
  EXPECT_EQ(RunFlashUpdate(request, host), 1);
  EXPECT_EQ(host.status, "Read flash and backup success!");
  EXPECT_TRUE(host.boxes.empty());
  EXPECT_TRUE(Writes().empty());
  std::ifstream in(request.options.backupFile, std::ios::binary);
  const Bytes saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(saved.size(), c.length);
  EXPECT_EQ(saved, Bytes(before.begin() + static_cast<std::ptrdiff_t>(c.from),
                         before.begin() + static_cast<std::ptrdiff_t>(c.from + c.length)));
  // Its reads come after the flash access is set up, as its writes do.
  if (c.unit.type == 11) ExpectFlashAccessSetUpFirst();
}

INSTANTIATE_TEST_SUITE_P(
    SerialFlash, BackupOnly,
    ::testing::Values(BackupCase{"type8_whole", kType8, true, 0, 65536},
                      BackupCase{"type8_without_settings", kType8, false, 4096, 61440},
                      BackupCase{"type9_without_settings", kType9, false, 4096, 61440},
                      BackupCase{"type11_whole", kType11, true, 0, 65536},
                      BackupCase{"type12_both_banks", kType12, true, 0, 131072},
                      BackupCase{"type12_bank0_firmware", kType12, false, 0, 49152}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SerialFlash, BackupWithoutANameGoesToOldFlashBakInTheBackupFolder) {
  const Bytes before = Prepare(kType8);
  ProcedureRequest request = Request(kType8);
  request.options.backupOnly = true;
  const ScopedDataHome home(dir.Path("data"));
  const fs::path folder = fs::path(dir.Path("data")) / "fwtool" / "backups";
  for (const char* name : {"oldFlash.bak", "oldFlash-2.bak", "oldFlash-3.bak"}) {
    SCOPED_TRACE(name);
    host.boxes.clear();
    EXPECT_EQ(RunFlashUpdate(request, host), 1);
    EXPECT_EQ(host.boxes,
              std::vector<std::string>{"Message: Default backup firmware as OldFalsh.bak!"});
    std::ifstream in(folder / name, std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), {}), before);
  }
}

// The operator's file is never written through or over: a file that is
// there already, or a link planted under the name, is left as it is and the
// backup fails; a name that is free gets the complete copy.
TEST_F(SerialFlash, ANamedBackupTakesNoExistingFileOrLinksPlace) {
  const Bytes before = Prepare(kType11);
  ProcedureRequest request = Request(kType11);
  request.options.backupOnly = true;
  const std::string victim = dir.Write("victim.bin", Bytes{'o', 'l', 'd'});
  const std::string link = dir.Path("linked.bin");
  fs::create_symlink(victim, link);
  for (const std::string& taken : {victim, link}) {
    SCOPED_TRACE(taken);
    request.options.backupFile = taken;
    EXPECT_EQ(RunFlashUpdate(request, host), 0);
    EXPECT_EQ(host.status, "Open Backup File Error!!");
    EXPECT_EQ(ReadFile(victim), (Bytes{'o', 'l', 'd'}));
  }
  EXPECT_TRUE(fs::is_symlink(link));

  // A flash that cannot be read leaves no file behind.
  request.options.backupFile = dir.Path("named.bin");
  sim::FaultPlan faults;
  faults.failMatching = {AllFlashReads()};
  Unit().SetFaults(faults);
  EXPECT_EQ(RunFlashUpdate(request, host), 0);
  EXPECT_EQ(host.status, "Read Back to Backup Error!!");
  Unit().SetFaults({});
  EXPECT_EQ(RunFlashUpdate(request, host), 1);
  EXPECT_EQ(ReadFile(request.options.backupFile), before);
  // Nothing else was left beside them.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Root()), fs::directory_iterator()), 3);
}

TEST_F(SerialFlash, BackupFileThatCannotBeCreated) {
  Prepare(kType8);
  ProcedureRequest request = Request(kType8);
  request.options.backupOnly = true;
  // Its folder would have to be where a file is.
  request.options.backupFile = dir.Write("plain-file", Bytes{1}) + "/backup.bin";
  EXPECT_EQ(RunFlashUpdate(request, host), 0);
  EXPECT_EQ(host.status, "Open Backup File Error!!");
}

// ---- Every command of a good run fails, or the unit vanishes there -----------

class FaultSweep : public SerialFlash, public ::testing::WithParamInterface<UnitCase> {};

TEST_P(FaultSweep, NeverSuccessUnlessTheFlashHoldsTheFile) {
  const UnitCase& unit = GetParam();
  const Bytes file = FirmwareFile(65536);
  // The units answer at once: no busy polls, the same commands every run.
  const Bytes before = Prepare(unit, kMxic, 0.0);
  const Bytes expected = ExpectedFlash(unit, file, true, before);
  const ProcedureRequest good = ProgramRequest(unit, file, true);
  ASSERT_EQ(RunFlashUpdate(good, host), 1);
  ASSERT_EQ(Differs(Flash(), expected), "");
  const uint64_t commands = Unit().CommandCount();
  ASSERT_GT(commands, 20u);

  int failures = 0;
  for (uint64_t k = 1; k <= commands; ++k) {
    for (const bool vanish : {false, true}) {
      SCOPED_TRACE((vanish ? "vanish from command " : "fail command ") + std::to_string(k));
      Prepare(unit, kMxic, 0.0);
      sim::FaultPlan faults;
      (vanish ? faults.vanishAtCommand : faults.failCommand) = k;
      Unit().SetFaults(faults);
      ProcedureRequest request = good;
      request.path = farm->Unit(0).diskPath;
      const int result = RunFlashUpdate(request, host);
      const bool saysSuccess = StatusWas("Programming Success!!");
      EXPECT_EQ(result == 1, saysSuccess);
      if (result == 1 || saysSuccess) {
        EXPECT_EQ(Differs(Flash(), expected), "");
      } else {
        ++failures;
        EXPECT_TRUE(host.boxes.empty());
      }
    }
  }
  EXPECT_GT(failures, 0);
}

INSTANTIATE_TEST_SUITE_P(SerialFlash, FaultSweep, ::testing::ValuesIn(kUnits),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace fwtool
