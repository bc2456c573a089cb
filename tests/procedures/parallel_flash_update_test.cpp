// SPDX-License-Identifier: GPL-2.0-or-later
// The parallel flash procedure of chip types 2 and 21 over simulated units:
// each part programmed, erased and backed up with its own scripts, a foreign
// script that leaves the part untouched, and what a unit that fails at any
// point leads to.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "chip_rows.h"
#include "enumeration.h"
#include "procedures.h"
#include "sim_unit_fixture.h"

namespace fwtool {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::Refusing;

constexpr size_t kFlash = 65536;
constexpr const char* kPowerCycleBox = "Message: Please Turn-Off the Power and Turn-On Again!";
constexpr int kAtmel = 0;
constexpr int kPmc = 1;
constexpr int kSst = 2;

Bytes FirmwareFile(size_t size) {
  return testing::Pattern(size, 0x2468ACE);
}

// The file at the start of the part, the rest of it erased.
Bytes Programmed(const Bytes& file) {
  Bytes flash(kFlash, 0xFF);
  std::copy(file.begin(), file.end(), flash.begin());
  return flash;
}

bool IsFf04(const sim::LoggedCommand& c, uint8_t sub) {
  return c[0] == 0xFF && c[1] == 0x04 && c[2] == sub;
}

sim::BlockPattern Ff04Pattern(uint8_t sub) {
  sim::BlockPattern p;
  p.length = 3;
  p.bytes = {0xFF, 0x04, sub};
  p.mask = {0xFF, 0xFF, 0xFF};
  return p;
}

sim::FaultPlan StuckBusyFrom(uint64_t command) {
  sim::FaultPlan faults;
  faults.stuckBusyFrom = command;
  return faults;
}

class ParallelFlashTest : public testing::SimUnitTest {
 protected:
  Bytes Flash() { return Unit().Parallel()->Contents(); }

  // A fresh unit; returns what its part holds.
  Bytes Prepare(const std::string& description, double timeScale = 1.0) {
    if (!Create(description, timeScale)) return {};
    EXPECT_NE(Unit().Parallel(), nullptr);
    return Flash();
  }

  ProcedureRequest Request(int kind, int type = 2) {
    ProcedureRequest request;
    request.path = farm->Unit(0).diskPath;
    request.chip.type = static_cast<uint8_t>(type);
    request.chip.row = &ChipRowFor(type);
    request.options.flashTypeIndex = kind;
    return request;
  }
  ProcedureRequest ProgramRequest(int kind, const Bytes& file, int type = 2) {
    ProcedureRequest request = Request(kind, type);
    request.options.firmwareFile = dir.Write("firmware.bin", file);
    return request;
  }

  bool Sent(uint8_t sub) {
    return std::any_of(Unit().Log().begin(), Unit().Log().end(),
                       [&](const sim::LoggedCommand& c) { return IsFf04(c, sub); });
  }
};

// ---- Each part with its own scripts and with the others' ---------------------

struct PartCase {
  const char* name;
  const char* description;
  int type;
  int kind;   // "Flash Type" index chosen
  bool fits;  // the chosen scripts are the part's own
};

const PartCase kParts[] = {
    {"atmel_part_atmel_scripts", "vq64779:parallel=atmel", 2, kAtmel, true},
    {"pmc_part_pmc_scripts", "vq64779:parallel=pmc", 2, kPmc, true},
    {"sst_part_sst_scripts", "vq64779:parallel=sst", 2, kSst, true},
    {"type21_sst_part", "vq64779u:parallel=sst", 21, kSst, true},
    // ATMEL and SST parts share their unlock addresses.
    {"sst_part_atmel_scripts", "vq64779:parallel=sst", 2, kAtmel, true},
    {"atmel_part_sst_scripts", "vq64779:parallel=atmel", 2, kSst, true},
    {"pmc_part_sst_scripts", "vq64779:parallel=pmc", 2, kSst, false},
    {"pmc_part_atmel_scripts", "vq64779:parallel=pmc", 2, kAtmel, false},
    {"sst_part_pmc_scripts", "vq64779:parallel=sst", 2, kPmc, false},
    {"atmel_part_pmc_scripts", "vq64779u:parallel=atmel", 21, kPmc, false},
};

class PartScripts : public ParallelFlashTest, public ::testing::WithParamInterface<PartCase> {};

TEST_P(PartScripts, OwnScriptsProgramForeignScriptsLeaveThePartAlone) {
  const PartCase& c = GetParam();
  const Bytes before = Prepare(c.description);
  const Bytes file = FirmwareFile(40000);
  const int result = RunParallelFlashUpdate(ProgramRequest(c.kind, file, c.type), host);
  if (c.fits) {
    EXPECT_EQ(result, 1);
    EXPECT_EQ(host.status, "Programming & Compare Success!!");
    EXPECT_EQ(host.boxes, std::vector<std::string>{kPowerCycleBox});
    EXPECT_TRUE(Flash() == Programmed(file));
  } else {
    EXPECT_EQ(result, 0);
    EXPECT_EQ(host.status, "Not Erase correctly!");
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_TRUE(Flash() == before);
  }
}

INSTANTIATE_TEST_SUITE_P(ParallelFlash, PartScripts, ::testing::ValuesIn(kParts),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ParallelFlashTest, ProgramSendsTheStepsInOrder) {
  Prepare("vq64779:parallel=pmc");
  const Bytes file = FirmwareFile(kFlash);
  ASSERT_EQ(RunParallelFlashUpdate(ProgramRequest(kPmc, file), host), 1);
  // Select, erase script, erase start, polls, read, polls, program, polls, read.
  std::vector<uint8_t> steps;
  for (const auto& c : Unit().Log())
    if (c[0] == 0xFF && c[1] == 0x04 && (steps.empty() || steps.back() != c[2]))
      steps.push_back(c[2]);
  EXPECT_EQ(steps, (std::vector<uint8_t>{0x05, 0x04, 0x01, 0x00, 0x03, 0x00, 0x02, 0x00, 0x03}));
  const auto program = std::find_if(Unit().Log().begin(), Unit().Log().end(),
                                    [](const auto& c) { return IsFf04(c, 0x02); });
  ASSERT_NE(program, Unit().Log().end());
  EXPECT_EQ(program->dataOut, file);
  const Bytes block(program->cdb.begin(), program->cdb.begin() + 12);
  EXPECT_EQ(block, (Bytes{0xFF, 0x04, 0x02, 0x55, 0x05, 0xAA, 0x02, 0x55, 0x05, 0xAA, 0x55, 0xA0}));
  EXPECT_TRUE(StatusWas("Erase command ok!!"));
  EXPECT_TRUE(StatusWas("Programming Success!!"));
}

TEST_F(ParallelFlashTest, A1ChipIsProgrammedWithoutTheSwitch) {
  const Bytes before = Prepare("vq64779:parallel=sst:a1");
  const Bytes file = FirmwareFile(1000);
  ProcedureRequest request = ProgramRequest(kSst, file);
  EXPECT_EQ(RunParallelFlashUpdate(request, host), 0);
  EXPECT_EQ(host.status, "Can't switch to internal ROM");
  EXPECT_TRUE(Flash() == before);

  Unit().ClearLog();
  request.options.a1Chip = true;
  EXPECT_EQ(RunParallelFlashUpdate(request, host), 1);
  EXPECT_FALSE(Sent(0x05));
  EXPECT_TRUE(Flash() == Programmed(file));
}

TEST_F(ParallelFlashTest, EraseOnlyBlanksThePart) {
  Prepare("vq64779:parallel=atmel");
  ProcedureRequest request = Request(kAtmel);
  request.options.eraseOnly = true;
  EXPECT_EQ(RunParallelFlashUpdate(request, host), 1);
  EXPECT_EQ(host.statusHistory, (std::vector<std::string>{"Start Erase only!", "Erase command ok!!",
                                                          "Erase All success!!"}));
  EXPECT_EQ(host.boxes, std::vector<std::string>{kPowerCycleBox});
  EXPECT_TRUE(Flash() == Bytes(kFlash, 0xFF));
  EXPECT_FALSE(Sent(0x02));
}

TEST_F(ParallelFlashTest, BackupOnlyWritesThePartToTheFile) {
  const Bytes before = Prepare("vq64779u:parallel=pmc");
  ProcedureRequest request = Request(-1, 21);  // no part needed to read it
  request.options.backupOnly = true;
  request.options.backupFile = dir.Path("backup.bin");
  EXPECT_EQ(RunParallelFlashUpdate(request, host), 1);
  EXPECT_EQ(host.status, "Read flash and backup success!");
  EXPECT_TRUE(host.boxes.empty());
  std::ifstream in(request.options.backupFile, std::ios::binary);
  const Bytes saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(saved == before);
  EXPECT_TRUE(Flash() == before);
}

TEST_F(ParallelFlashTest, BackupThatCannotBeReadSavesNothing) {
  Prepare("vq64779");
  Unit().SetFaults(Refusing(Ff04Pattern(0x03)));
  ProcedureRequest request = Request(kSst);
  request.options.backupOnly = true;
  request.options.backupFile = dir.Path("backup.bin");
  EXPECT_EQ(RunParallelFlashUpdate(request, host), 0);
  EXPECT_EQ(host.status, "Read ROM fail!!");
  EXPECT_FALSE(std::filesystem::exists(request.options.backupFile));
}

// ---- Refused before the part is touched --------------------------------------

struct RefusedCase {
  const char* name;
  int kind;
  long fileSize;  // -1: no file
  const char* status;
};

class Refused : public ParallelFlashTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(Refused, NothingIsSentAndThePartStaysAsItWas) {
  const RefusedCase& c = GetParam();
  const Bytes before = Prepare("vq64779:parallel=sst");
  ProcedureRequest request = Request(c.kind);
  request.options.firmwareFile =
      c.fileSize < 0 ? dir.Path("missing.bin")
                     : dir.Write("firmware.bin", FirmwareFile(static_cast<size_t>(c.fileSize)));
  EXPECT_EQ(RunParallelFlashUpdate(request, host), 0);
  EXPECT_EQ(host.status, c.status);
  EXPECT_TRUE(host.boxes.empty());
  EXPECT_TRUE(Unit().Log().empty());
  EXPECT_TRUE(Flash() == before);
}

INSTANTIATE_TEST_SUITE_P(
    ParallelFlash, Refused,
    ::testing::Values(RefusedCase{"missing_file", kSst, -1, "Open New ROM File Error!!"},
                      RefusedCase{"empty_file", kSst, 0, "Open New ROM File Error!!"},
                      RefusedCase{"file_over_64k", kSst, 65537,
                                  "The firmware file size is bigger than the flash size!"},
                      RefusedCase{"no_flash_type", -1, 1000,
                                  "Choose the flash part in \"Flash Type\" first!"},
                      RefusedCase{"unknown_flash_type", 3, 1000,
                                  "Choose the flash part in \"Flash Type\" first!"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Erase only that does not get through --------------------------------------

struct EraseFaultCase {
  const char* name;
  sim::FaultPlan faults;
  const char* status;
};

class EraseFault : public ParallelFlashTest,
                   public ::testing::WithParamInterface<EraseFaultCase> {};

TEST_P(EraseFault, FailureWithoutTheSuccessBox) {
  Prepare("vq64779:parallel=sst");
  Unit().SetFaults(GetParam().faults);
  ProcedureRequest request = Request(kSst);
  request.options.eraseOnly = true;
  EXPECT_EQ(RunParallelFlashUpdate(request, host), 0);
  EXPECT_EQ(host.status, GetParam().status);
  EXPECT_TRUE(host.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    ParallelFlash, EraseFault,
    ::testing::Values(
        EraseFaultCase{"script_refused", Refusing(Ff04Pattern(0x04)), "Error pre-erase command!!"},
        EraseFaultCase{"start_refused", Refusing(Ff04Pattern(0x01)), "Erase command fail!!"},
        EraseFaultCase{"stays_busy", StuckBusyFrom(4), "Erase command ok,status fail!!"},
        EraseFaultCase{"read_back_refused", Refusing(Ff04Pattern(0x03)),
                       "Read Back after Erase fail!!"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Every command of a good run fails, or the unit vanishes there -----------

TEST_F(ParallelFlashTest, FaultSweepNeverSuccessUnlessThePartHoldsTheFile) {
  const Bytes file = FirmwareFile(30000);
  const Bytes expected = Programmed(file);
  // The unit answers at once: one poll per wait, the same commands every run.
  Prepare("vq64779:parallel=sst", 0.0);
  ASSERT_EQ(RunParallelFlashUpdate(ProgramRequest(kSst, file), host), 1);
  const uint64_t commands = Unit().CommandCount();
  ASSERT_GE(commands, 9u);

  int failures = 0;
  for (uint64_t k = 1; k <= commands; ++k) {
    for (const bool vanish : {false, true}) {
      SCOPED_TRACE((vanish ? "vanish from command " : "fail command ") + std::to_string(k));
      Prepare("vq64779:parallel=sst", 0.0);
      sim::FaultPlan faults;
      (vanish ? faults.vanishAtCommand : faults.failCommand) = k;
      Unit().SetFaults(faults);
      const int result = RunParallelFlashUpdate(ProgramRequest(kSst, file), host);
      const bool saysSuccess = StatusWas("Programming & Compare Success!!");
      EXPECT_EQ(result == 1, saysSuccess);
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

TEST_F(ParallelFlashTest, PowerLossInTheEraseOrAnyByteIsNeverASuccess) {
  const Bytes file = FirmwareFile(30000);
  Prepare("vq64779:parallel=sst", 0.0);
  ASSERT_EQ(RunParallelFlashUpdate(ProgramRequest(kSst, file), host), 1);
  // The chip erase, then one program per byte of the part.
  ASSERT_EQ(Unit().Parallel()->Statistics().operations, 1 + kFlash);
  for (const uint64_t k : {1ull, 2ull, 3ull, 20000ull, 30001ull, 65536ull, 65537ull}) {
    SCOPED_TRACE("power loss in operation " + std::to_string(k));
    Prepare("vq64779:parallel=sst", 0.0);
    sim::FaultPlan faults;
    faults.powerLossAtOperation = k;
    Unit().SetFaults(faults);
    EXPECT_EQ(RunParallelFlashUpdate(ProgramRequest(kSst, file), host), 0);
    EXPECT_FALSE(StatusWas("Programming & Compare Success!!"));
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_FALSE(Unit().Present());
  }
}

}  // namespace
}  // namespace fwtool
