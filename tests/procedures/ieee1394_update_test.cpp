// SPDX-License-Identifier: GPL-2.0-or-later
// The procedure of chip type 7 over IEEE 1394 on a simulated unit: 256-byte
// writes whose flag erases the half they start, the unit's 1 KB settings at
// 0x8000 kept through a program and an erase, and what a unit that fails at
// any point leads to.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "chip_rows.h"
#include "procedures.h"
#include "sim_unit_fixture.h"

namespace fwtool {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::Refusing;

constexpr size_t kFlash = 65536;
constexpr size_t kHalf = 0x8000;
constexpr size_t kSettings = 0x8000;
constexpr size_t kSettingsSize = 1024;
constexpr const char* kPowerCycleBox = "Message: Please Turn-Off the Power and Turn-On Again!";

Bytes FirmwareFile(size_t size) {
  return testing::Pattern(size, 0x1394);
}

Bytes Range(const Bytes& bytes, size_t from, size_t length) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
               bytes.begin() + static_cast<std::ptrdiff_t>(from + length));
}

bool IsPlainWrite(const sim::LoggedCommand& c) {
  return c[0] == 0xDF && c[11] == 0xFB;
}
uint32_t AddressOf(const sim::LoggedCommand& c) {
  return (static_cast<uint32_t>(c[8]) << 16) | (c[9] << 8) | c[10];
}

// Refuses the flash writes with flag `flag` at `address`.
sim::BlockPattern WriteAt(uint8_t flag, uint32_t address) {
  sim::BlockPattern p;
  p.length = 12;
  p.bytes = {0xDF,
             flag,
             0,
             0,
             0,
             0,
             0,
             0,
             static_cast<uint8_t>(address >> 16),
             static_cast<uint8_t>(address >> 8),
             static_cast<uint8_t>(address),
             0xFB};
  p.mask = {0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  return p;
}

class Ieee1394Test : public testing::SimUnitTest {
 protected:
  // The flash once the unit has finished the work it took (the procedure
  // may return while the last blocks are still being programmed).
  Bytes Flash() { return Unit().Flash().ContentsAt(Unit().Flash().ReadyAt()); }

  Bytes Prepare(double timeScale = 1.0) {
    if (!Create("vqb717:bus=sbp2:serial=UNIT7", timeScale)) return {};
    return Flash();
  }

  ProcedureRequest Request() {
    ProcedureRequest request;
    request.path = farm->Unit(0).diskPath;
    request.chip.type = 7;
    request.chip.subRev = 1;
    request.chip.row = &ChipRowFor(7);
    request.options.rdVersion = true;
    return request;
  }
  ProcedureRequest ProgramRequest(const Bytes& file) {
    ProcedureRequest request = Request();
    request.options.firmwareFile = dir.Write("firmware.bin", file);
    return request;
  }
  std::vector<sim::LoggedCommand> Writes() {
    std::vector<sim::LoggedCommand> writes;
    for (const auto& c : Unit().Log())
      if (IsPlainWrite(c)) writes.push_back(c);
    return writes;
  }
};

TEST_F(Ieee1394Test, UnitKeepsItsOwnSettingsAt0x8000) {
  const Bytes flash = Prepare();
  ASSERT_TRUE(farm->Unit(0).diskPath.find("sbp2") != std::string::npos);
  const std::string serial = "SN=UNIT7";
  EXPECT_EQ(Range(flash, kSettings + 16, serial.size()), Bytes(serial.begin(), serial.end()));
}

// A file that reaches the second half brings the settings area's bytes
// itself: a whole 64 KB copy of a unit goes back as it was saved.
TEST_F(Ieee1394Test, FullFileIsProgrammedWithItsOwnSettingsArea) {
  Prepare();
  const Bytes file = FirmwareFile(kFlash);
  EXPECT_EQ(Run1394Update(ProgramRequest(file), host), 1);
  EXPECT_EQ(host.status, "Programming Success!!");
  EXPECT_EQ(host.boxes, std::vector<std::string>{kPowerCycleBox});
  EXPECT_TRUE(Flash() == file);

  // 256-byte blocks; the flag only on the blocks that start a half.
  const auto writes = Writes();
  ASSERT_EQ(writes.size(), kFlash / 256);
  for (const auto& w : writes) {
    EXPECT_EQ(w.length, 256u);
    EXPECT_EQ(w[1], AddressOf(w) % kHalf == 0 ? 1 : 0) << AddressOf(w);
  }
  EXPECT_EQ(host.settings.TransferBlockSize, 256);
}

TEST_F(Ieee1394Test, ShortFileFillsTheFirstHalfAndLeavesTheSecond) {
  const Bytes before = Prepare();
  const Bytes file = FirmwareFile(16384);
  EXPECT_EQ(Run1394Update(ProgramRequest(file), host), 1);
  Bytes expected = before;
  std::fill_n(expected.begin(), kHalf, 0x00);
  std::copy(file.begin(), file.end(), expected.begin());
  EXPECT_TRUE(Flash() == expected);
  // One dot per 2 KB: 16 after the settings were read.
  EXPECT_EQ(host.status, "Programming Success!!");
  EXPECT_TRUE(StatusWas("Programming................"));
}

// 32,769 bytes: no settings read, a write of 0x8100 bytes (the file, zero
// padded to 256), and the rest of the second half left erased.
TEST_F(Ieee1394Test, FileJustPastTheFirstHalfIsWrittenAsItIs) {
  Prepare();
  const Bytes file = FirmwareFile(kHalf + 1);
  EXPECT_EQ(Run1394Update(ProgramRequest(file), host), 1);
  EXPECT_EQ(host.status, "Programming Success!!");
  Bytes expected(kFlash, 0xFF);
  std::copy(file.begin(), file.end(), expected.begin());
  std::fill_n(expected.begin() + kHalf + 1, 255, 0x00);
  EXPECT_TRUE(Flash() == expected);
  const auto writes = Writes();
  ASSERT_FALSE(writes.empty());
  EXPECT_EQ(AddressOf(writes.back()), 0x8000u);
  EXPECT_EQ(writes.size(), 0x8100u / 256);
  // Nothing is read before the write (the read-back comes after it).
  for (const auto& c : Unit().Log()) {
    if (IsPlainWrite(c)) break;
    EXPECT_FALSE(c[0] == 0xDF && c[11] == 0xFA) << "flash read at " << AddressOf(c);
  }
}

TEST_F(Ieee1394Test, EraseOnlyBlanksAllButTheSettings) {
  const Bytes before = Prepare();
  ProcedureRequest request = Request();
  request.options.eraseOnly = true;
  EXPECT_EQ(Run1394Update(request, host), 1);
  EXPECT_EQ(host.status, "Erase flash all success!");
  EXPECT_EQ(host.boxes, std::vector<std::string>{kPowerCycleBox});
  Bytes expected(kFlash, 0xFF);
  std::copy_n(before.begin() + kSettings, kSettingsSize, expected.begin() + kSettings);
  EXPECT_TRUE(Flash() == expected);
}

TEST_F(Ieee1394Test, BackupOnlySavesTheWholeFlash) {
  const Bytes before = Prepare();
  ProcedureRequest request = Request();
  request.options.backupOnly = true;
  request.options.backupFile = dir.Path("backup.bin");
  EXPECT_EQ(Run1394Update(request, host), 1);
  EXPECT_EQ(host.status, "Read flash and backup success!");
  std::ifstream in(request.options.backupFile, std::ios::binary);
  const Bytes saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(saved == before);
}

// ---- Failures --------------------------------------------------------------------

TEST_F(Ieee1394Test, RefusedWriteIsAFailureWithoutTheBox) {
  Prepare();
  Unit().SetFaults(Refusing(WriteAt(0, 0x1000)));
  EXPECT_EQ(Run1394Update(ProgramRequest(FirmwareFile(kFlash)), host), 0);
  EXPECT_EQ(host.status, "Write Bin File fail!");
  EXPECT_TRUE(host.boxes.empty());
}

TEST_F(Ieee1394Test, MissingOrEmptyFileLeavesTheFlashAlone) {
  for (const bool empty : {false, true}) {
    const Bytes before = Prepare();
    ProcedureRequest request = Request();
    request.options.firmwareFile = empty ? dir.Write("empty.bin", {}) : dir.Path("missing.bin");
    EXPECT_EQ(Run1394Update(request, host), 0);
    EXPECT_EQ(host.status, "Open File Error!!");
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_TRUE(Unit().Log().empty());
  }
}

struct EraseFaultCase {
  const char* name;
  sim::BlockPattern refused;
  const char* status;
  bool erasesTaken;  // both erase commands were taken
};

class EraseFault1394 : public Ieee1394Test, public ::testing::WithParamInterface<EraseFaultCase> {};

TEST_P(EraseFault1394, SettingsGoBackAndNoSuccess) {
  const Bytes before = Prepare();
  Unit().SetFaults(Refusing(GetParam().refused));
  ProcedureRequest request = Request();
  request.options.eraseOnly = true;
  EXPECT_EQ(Run1394Update(request, host), 0);
  EXPECT_EQ(host.status, GetParam().status);
  EXPECT_TRUE(host.boxes.empty());
  EXPECT_TRUE(Range(Flash(), kSettings, kSettingsSize) == Range(before, kSettings, kSettingsSize));
  // When both erase commands were taken, that much is shown before the
  // check.
  EXPECT_EQ(StatusWas("Erase flash all success!"), GetParam().erasesTaken);
}

INSTANTIATE_TEST_SUITE_P(Ieee1394, EraseFault1394,
                         ::testing::Values(
                             // The first half is never erased: the flash does not read blank.
                             EraseFaultCase{"first_half_not_erased", WriteAt(1, 0),
                                            "Data not 0xff !!", true},
                             // The write-back starts the second half with a flagged block too.
                             EraseFaultCase{"second_half_refused", WriteAt(1, 0x8000),
                                            "Write NVRAM back command fail!", false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Ieee1394Test, RefusedSecondEraseStillPutsTheSettingsBack) {
  // The command number of the erase of the second half, from a good run.
  const Bytes before = Prepare();
  ProcedureRequest request = Request();
  request.options.eraseOnly = true;
  ASSERT_EQ(Run1394Update(request, host), 1);
  const auto& log = Unit().Log();
  const auto erase = std::find_if(log.begin(), log.end(), [](const sim::LoggedCommand& c) {
    return IsPlainWrite(c) && c[1] == 1 && AddressOf(c) == 0x8000;
  });
  ASSERT_NE(erase, log.end());
  const uint64_t number = erase->number;

  Prepare();
  sim::FaultPlan faults;
  faults.failCommand = number;
  Unit().SetFaults(faults);
  request.path = farm->Unit(0).diskPath;
  EXPECT_EQ(Run1394Update(request, host), 0);
  EXPECT_EQ(host.status, "Erase flash command fail!");
  EXPECT_FALSE(StatusWas("Erase flash all success!"));
  EXPECT_TRUE(host.boxes.empty());
  EXPECT_TRUE(Range(Flash(), kSettings, kSettingsSize) == Range(before, kSettings, kSettingsSize));
  EXPECT_TRUE(Range(Flash(), 0, kHalf) == Bytes(kHalf, 0xFF));
}

TEST_F(Ieee1394Test, SettingsThatCannotGoBackAreSaid) {
  Prepare();
  Unit().SetFaults(Refusing(WriteAt(0, 0x8100)));
  ProcedureRequest request = Request();
  request.options.eraseOnly = true;
  EXPECT_EQ(Run1394Update(request, host), 0);
  EXPECT_EQ(host.status, "Write NVRAM back command fail!");
  EXPECT_TRUE(host.boxes.empty());
}

TEST_F(Ieee1394Test, FaultSweepNeverSuccessUnlessTheFlashHoldsTheFile) {
  const Bytes file = FirmwareFile(kFlash);
  Prepare(0.0);
  const Bytes& expected = file;
  ASSERT_EQ(Run1394Update(ProgramRequest(file), host), 1);
  const uint64_t commands = Unit().CommandCount();
  ASSERT_GT(commands, 256u);

  int failures = 0;
  for (uint64_t k = 1; k <= commands; ++k) {
    for (const bool vanish : {false, true}) {
      SCOPED_TRACE((vanish ? "vanish from command " : "fail command ") + std::to_string(k));
      Prepare(0.0);
      sim::FaultPlan faults;
      (vanish ? faults.vanishAtCommand : faults.failCommand) = k;
      Unit().SetFaults(faults);
      const int result = Run1394Update(ProgramRequest(file), host);
      EXPECT_EQ(result == 1, StatusWas("Programming Success!!"));
      if (result == 1) {
        EXPECT_TRUE(Flash() == expected);
      } else {
        ++failures;
        EXPECT_TRUE(host.boxes.empty());
      }
    }
  }
  EXPECT_GT(failures, 0);
}

TEST_F(Ieee1394Test, PowerLossAtAnyEraseOrProgramIsNeverASuccess) {
  const Bytes file = FirmwareFile(kFlash);
  Prepare(0.0);
  ASSERT_EQ(Run1394Update(ProgramRequest(file), host), 1);
  const uint64_t operations = Unit().Flash().Statistics().operations;
  ASSERT_GT(operations, 2u);
  for (uint64_t k = 1; k <= operations; ++k) {
    SCOPED_TRACE("power loss in operation " + std::to_string(k));
    Prepare(0.0);
    sim::FaultPlan faults;
    faults.powerLossAtOperation = k;
    Unit().SetFaults(faults);
    EXPECT_EQ(Run1394Update(ProgramRequest(file), host), 0);
    EXPECT_FALSE(StatusWas("Programming Success!!"));
    EXPECT_TRUE(host.boxes.empty());
  }
}

}  // namespace
}  // namespace fwtool
