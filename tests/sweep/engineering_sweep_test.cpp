// SPDX-License-Identifier: GPL-2.0-or-later
// "Run" of the engineering face against the faults a unit can show, at
// every command of the run (sampled where the run is long): a refused
// command, a lost status, a unit pulled out, a bit flipped in a read (disk
// reads included), and a power loss in the middle of an erase or program of
// the flash or of a write to the disk. Each of
// the nine procedures runs on one or two units of the chip types the run
// table sends to it, through the form's entry as `fwtool run` drives it.
// Whatever happens:
//   - the run reports success only when the unit's part then holds exactly
//     what was asked;
//   - the copy the run saves before it writes is the part as it was;
//   - a run that saved no copy wrote nothing;
//   - after a failure, the unit power-cycled, a restore of that copy brings
//     the part back byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "Fwupdate.h"
#include "byte_pattern.h"
#include "engineering_expectations.h"
#include "fault_points.h"
#include "flash_restore.h"
#include "recording_operator.h"
#include "simulated_units.h"
#include "simulator.h"
#include "temp_files.h"

namespace fwtool {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Mode = RunRequest::Mode;
using namespace sweep;  // what each run is asked for
using testing::FaultItem;
using testing::FaultKind;
using testing::IsPoll;
using testing::KindName;
using testing::ReadFile;

// Where the part a procedure works on lies in the simulated unit.
enum class Part {
  Flash,     // the serial flash, all of it
  Parallel,  // the 64 KB parallel part
  DiskArea,  // the 256 sectors of the reserved stretch at the end of the disk
  Region,    // type 12's 64 KB region, 2 MB below the disk's last 1 MB boundary
};

// Past what a run was asked to write, each 4 KB sector is kept or erased.
constexpr size_t kSector = 4096;

// Where the faults go: around every turn from one kind of command to the
// next and evenly over the whole run (see FaultPoints), at most this many
// of each kind; power losses evenly over the run's erases and programs (its
// writes, where the part lies on the disk). The whole sweep stays within a
// minute.
constexpr size_t kStretchEnds = 2;
constexpr size_t kSpread = 24;
constexpr size_t kMostPoints = 64;
constexpr size_t kMostPowerLosses = 32;

// ---- The units ----------------------------------------------------------

struct EngineeringCase {
  const char* name;
  const char* unit;        // the simulated unit
  ProcedureTag procedure;  // where the run table sends it
  Part part;
  Mode mode;
  size_t fileSize = 0;  // Program: a file of this many bytes
  Expected (*expected)(const Given& given);
  std::optional<bool> includeNvram = std::nullopt;
  std::optional<int32_t> flashSize = std::nullopt;
  int flashType = -1;        // "Flash Type" item of a parallel part
  bool hddFirmware = false;  // "VQS175 HDD FW"
  // Chip type 13 identifies as type 10; the operator names it.
  bool type13 = false;
  // Program: the file is the firmware the simulator keeps on the disk of a
  // unit of this description (one the unit boots), instead of plain bytes.
  const char* fileFromDiskOf = nullptr;
  // Fault points of each kind at most (fewer on a run of many commands).
  size_t most = kMostPoints;
};

constexpr size_t kRegionSector500G = 1048569856;

// clang-format off
const EngineeringCase kCases[] = {
    {.name = "serial_program_vqb719", .unit = "vqb719", .procedure = ProcedureTag::SerialFlash,
     .part = Part::Flash, .mode = Mode::Program, .fileSize = 65536, .expected = FileAsItIs, .includeNvram = true},
    {.name = "serial_erase_vqs175", .unit = "vqs175", .procedure = ProcedureTag::SerialFlash,
     .part = Part::Flash, .mode = Mode::EraseOnly, .expected = ErasedButSettings<0xC000, 4096>, .includeNvram = false},
    {.name = "basic_program_vq64773", .unit = "vq64773:maker=winbond:size=128", .procedure = ProcedureTag::Basic,
     .part = Part::Flash, .mode = Mode::Program, .fileSize = 65536, .expected = FileAsItIs},
    {.name = "basic_erase_vq64771", .unit = "vq64771:maker=mxic", .procedure = ProcedureTag::Basic,
     .part = Part::Flash, .mode = Mode::EraseOnly, .expected = AllErased, .flashSize = 65536},
    {.name = "header_program_vqb716", .unit = "vqb716", .procedure = ProcedureTag::HeaderHandling,
     .part = Part::Flash, .mode = Mode::Program, .fileSize = 61440, .expected = SettingsThenFile, .includeNvram = false},
    {.name = "header_erase_vqb716", .unit = "vqb716:maker=mxic", .procedure = ProcedureTag::HeaderHandling,
     .part = Part::Flash, .mode = Mode::EraseOnly, .expected = ErasedButSettings<0, 4096>, .includeNvram = false,
     .flashSize = 65536},
    // One 16 KB page byte by byte: some 16,600 commands a run.
    {.name = "paged_program_vqb713", .unit = "vqb713:maker=sst", .procedure = ProcedureTag::Paged,
     .part = Part::Flash, .mode = Mode::Program, .fileSize = 16384, .expected = FileAsItIs, .most = 20},
    {.name = "paged_erase_vqb713", .unit = "vqb713:maker=sst", .procedure = ProcedureTag::Paged,
     .part = Part::Flash, .mode = Mode::EraseOnly, .expected = AllErased, .flashSize = 65536},
    {.name = "ieee1394_program_vqb717", .unit = "vqb717:bus=sbp2", .procedure = ProcedureTag::Ieee1394,
     .part = Part::Flash, .mode = Mode::Program, .fileSize = 20000, .expected = FirstHalfPadded},
    {.name = "ieee1394_erase_vqb717", .unit = "vqb717:bus=sbp2", .procedure = ProcedureTag::Ieee1394,
     .part = Part::Flash, .mode = Mode::EraseOnly, .expected = ErasedButSettings<0x8000, 1024>, .flashSize = 65536},
    {.name = "parallel_program_vq64779", .unit = "vq64779:parallel=pmc", .procedure = ProcedureTag::Parallel,
     .part = Part::Parallel, .mode = Mode::Program, .fileSize = 20000, .expected = FileThenErased, .flashType = 1},
    {.name = "parallel_erase_vq64779u", .unit = "vq64779u:parallel=sst", .procedure = ProcedureTag::Parallel,
     .part = Part::Parallel, .mode = Mode::EraseOnly, .expected = AllErased, .flashType = 2},
    // Two blocks over the firmware the disk holds.
    {.name = "disk_program_vqb145", .unit = "vqb145:disk=64M", .procedure = ProcedureTag::DiskHosted,
     .part = Part::DiskArea, .mode = Mode::Program, .fileSize = 100000, .expected = AreaProgrammed},
    // A blank disk given firmware the unit boots: cut short, it may boot what
    // was written and hide the area from the host.
    {.name = "disk_firmware_vqb145", .unit = "vqb145:fw=blank:disk=64M", .procedure = ProcedureTag::DiskHosted,
     .part = Part::DiskArea, .mode = Mode::Program, .expected = AreaProgrammed, .fileFromDiskOf = "vqb145:disk=64M"},
    {.name = "disk_clear_vq64775e", .unit = "vq64775e:maker=0:disk=64M", .procedure = ProcedureTag::DiskHosted,
     .part = Part::DiskArea, .mode = Mode::EraseOnly, .expected = AreaCleared},
    {.name = "region_program_vqs175", .unit = "vqs175:disk=500G", .procedure = ProcedureTag::Vqs175Disk,
     .part = Part::Region, .mode = Mode::Program, .fileSize = 20000, .expected = RegionProgrammed, .hddFirmware = true},
    {.name = "staged_program_vqs713", .unit = "vqs713:maker=mxic", .procedure = ProcedureTag::Staged,
     .part = Part::Flash, .mode = Mode::Program, .fileSize = 20000, .expected = StagedImage, .type13 = true},
};
// clang-format on

void PrintTo(const EngineeringCase& c, std::ostream* os) {
  *os << c.unit;
}

struct Clean {
  std::vector<sim::LoggedCommand> log;
  uint64_t firstOperation = 0;  // the unit's erases and programs before the run
  uint64_t operations = 0;      // and during it
};

struct Outcome {
  bool success = false;
  bool backupWritten = false;
};

class EngineeringSweep : public ::testing::TestWithParam<std::tuple<EngineeringCase, FaultKind>>,
                         public testing::SimulatedUnits {
 protected:
  RecordingOperator op;
  ClockTimerService timers;
  std::shared_ptr<InterfaceEnumerator> enumerator;
  testing::TempDir dir;
  std::string firmwareFile;
  Bytes file;
  int runs = 0;
  ProcedureTag procedure = ProcedureTag::None;  // what the last run ran

  const EngineeringCase& Case() const { return std::get<0>(GetParam()); }

  void SetUp() override {
    const EngineeringCase& c = Case();
    if (c.mode != Mode::Program) return;
    if (c.fileFromDiskOf != nullptr) {
      if (!Build(c.fileFromDiskOf)) return;
      file = Unit().Disk().Bytes(Unit().ReservedStart(), 65536);
    } else {
      file = testing::Pattern(c.fileSize, 0x5EED0000u + static_cast<uint32_t>(c.fileSize));
    }
    firmwareFile = dir.Write("firmware.bin", file);
  }

  // The part as the simulated unit holds it once its flash has settled.
  Bytes PartNow() {
    auto& unit = Unit();
    switch (Case().part) {
      case Part::Flash: {
        auto& flash = unit.Flash();
        return flash.ContentsAt(std::max(clock->Now(), flash.ReadyAt()));
      }
      case Part::Parallel: {
        auto& parallel = *unit.Parallel();
        return parallel.ContentsAt(std::max(clock->Now(), parallel.ReadyAt()));
      }
      case Part::DiskArea:
        return unit.Disk().Bytes(unit.ReservedStart(), 256 * unit.Disk().SectorSize());
      case Part::Region:
        return unit.Disk().Bytes(kRegionSector500G, 65536);
    }
    return {};
  }

  // What the run must leave, from the part as it was and whether the unit
  // ran the firmware on its disk then.
  Expected ExpectedFrom(const Bytes& before, bool ranFromDisk) {
    return Case().expected({before, file, Unit().Disk().Sectors(), ranFromDisk});
  }

  bool OnDisk() const { return Case().part == Part::DiskArea || Case().part == Part::Region; }

  // The unit's erases and programs so far: of its flash, or the writes to
  // its disk where its part lies there.
  uint64_t Operations() {
    auto& unit = Unit();
    if (OnDisk()) return unit.DiskWrites();
    return unit.Flash().Statistics().operations +
           (unit.Parallel() != nullptr ? unit.Parallel()->Statistics().operations : 0);
  }

  // Every sector written to the disk since the run began lies in the part:
  // the rest of the disk is its user's.
  void ExpectDiskWritesInPart() {
    auto& unit = Unit();
    const uint64_t first = Case().part == Part::Region ? kRegionSector500G : unit.ReservedStart();
    const uint64_t end = first + PartNow().size() / unit.Disk().SectorSize();
    for (const auto& write : unit.Disk().Writes())
      EXPECT_TRUE(write.lba >= first && write.lba + write.count <= end)
          << write.count << " sectors written at " << write.lba << ", outside the part";
  }

  // A power loss in the middle of operation `n`.
  std::string PowerLossAt(uint64_t n) const {
    return OnDisk() ? "power-loss-write=" + std::to_string(n) : FaultItem(FaultKind::PowerLoss, n);
  }

  // A form as `fwtool run` makes it: every recognised controller listed,
  // entry 0 selected and checked, the engineering face shown.
  std::unique_ptr<TV77xFwTool> OpenForm() {
    enumerator = farm->Enumerator();
    auto form = std::make_unique<TV77xFwTool>(
        op, *enumerator, timers, nullptr,
        FormOptions{.scope = DeviceListScope::AllControllers, .bankRepair = false});
    if (form->ListedCount() != 1 || !form->SelectUnit(0)) {
      ADD_FAILURE() << "the unit is not listed";
      return nullptr;
    }
    form->ShowEngineeringFace();
    if (Case().type13) NameType13(*form);
    return form;
  }

  // Identification reports a type-13 unit as type 10; the operator says
  // which it is.
  static void NameType13(TV77xFwTool& form) { form.ChipType = 13; }

  RunRequest Request() const {
    const EngineeringCase& c = Case();
    RunRequest request;
    request.mode = c.mode;
    request.firmwareFile = firmwareFile;
    request.includeNvram = c.includeNvram;
    request.flashSize = c.flashSize;
    if (c.flashType >= 0) request.flashType = c.flashType;
    request.hddFirmware = c.hddFirmware;
    // The sweep's files are patterns made for no chip in particular.
    request.otherChipFile = true;
    return request;
  }

  // "Run" with the case's options; what it said of itself.
  Outcome RunOnce(TV77xFwTool& form, const std::string& backup) {
    form.SetBackupTarget(backup);
    const RunRequest request = Request();
    form.SetRunOptions(request);
    // Loading the file checks the unit again, which names its own type.
    if (Case().type13) NameType13(form);
    // As `fwtool run`, nothing when "Run" is not available.
    procedure = ProcedureTag::None;
    if (!form.RunAvailable()) return {};
    const RunOutcome run = form.Run(request);
    // A unit that did not answer the check at "Load File" runs nothing.
    if (run.procedure != ProcedureTag::None) {
      EXPECT_EQ(run.procedure, Case().procedure);
    }
    procedure = run.procedure;
    Outcome outcome;
    outcome.success = run.ran && run.result == 1;
    outcome.backupWritten = !run.backupFile.empty();
    if (outcome.backupWritten) {
      EXPECT_EQ(run.backupFile, backup);
    }
    return outcome;
  }

  // The clean run: the commands and flash operations the faults are put at.
  Clean CleanRun() {
    const EngineeringCase& c = Case();
    Build(c.unit);
    Clean clean;
    auto form = OpenForm();
    if (!form) return clean;
    const Bytes before = PartNow();
    const bool ranFromDisk = Unit().RunsFromDisk();
    clean.firstOperation = Operations();
    Unit().ClearLog();
    const Outcome outcome = RunOnce(*form, dir.Path("clean.bin"));
    EXPECT_EQ(procedure, c.procedure);
    EXPECT_TRUE(outcome.success) << form->StatusEdit.Text();
    EXPECT_TRUE(outcome.backupWritten);
    EXPECT_TRUE(ReadFile(dir.Path("clean.bin")) == before) << "the copy is not the part as it was";
    ExpectHolds(ExpectedFrom(before, ranFromDisk), before, PartNow());
    EXPECT_NE(PartNow(), before) << "the run changed nothing: no fault could show";
    clean.log = Unit().Log();
    clean.operations = Operations() - clean.firstOperation;
    return clean;
  }

  static void ExpectHolds(const Expected& expected, const Bytes& before, const Bytes& after) {
    ASSERT_EQ(after.size(), before.size());
    ASSERT_LE(expected.exact, after.size());
    const auto exactEnd = after.begin() + static_cast<std::ptrdiff_t>(expected.exact);
    const auto differs = std::mismatch(after.begin(), exactEnd, expected.bytes.begin()).first;
    const auto at = static_cast<size_t>(differs - after.begin());
    EXPECT_TRUE(differs == exactEnd)
        << "the part does not hold what was asked: byte 0x" << std::hex << at << " is 0x"
        << (differs == exactEnd ? 0 : int{*differs}) << ", not 0x"
        << (differs == exactEnd ? 0 : int{expected.bytes[at]});
    for (size_t sector = expected.exact / kSector * kSector; sector < after.size();
         sector += kSector) {
      const size_t from = std::max(sector, expected.exact);
      const size_t to = std::min(sector + kSector, after.size());
      const bool kept = std::equal(after.begin() + from, after.begin() + to, before.begin() + from);
      const bool erased = std::all_of(after.begin() + from, after.begin() + to,
                                      [](uint8_t b) { return b == 0xFF; });
      EXPECT_TRUE(kept || erased) << "the sector at 0x" << std::hex << sector
                                  << " past what was asked is neither kept nor erased";
    }
  }

  // One run of the unit with the fault; checks the rules.
  void RunWith(const std::string& fault) {
    const EngineeringCase& c = Case();
    const std::string description = std::string(c.unit) + ":" + fault;
    SCOPED_TRACE(description);
    Build(description);
    const std::string backup = dir.Path("backup-" + std::to_string(++runs) + ".bin");
    Outcome outcome;
    Bytes before;
    bool ranFromDisk = false;
    {
      auto form = OpenForm();
      ASSERT_TRUE(form);
      before = PartNow();
      ranFromDisk = Unit().RunsFromDisk();
      Unit().Disk().ClearWrites();
      outcome = RunOnce(*form, backup);
    }
    const Bytes after = PartNow();
    ExpectDiskWritesInPart();
    if (outcome.success) ExpectHolds(ExpectedFrom(before, ranFromDisk), before, after);
    if (outcome.backupWritten) {
      EXPECT_TRUE(ReadFile(backup) == before) << "the copy is not the part as it was";
    } else {
      EXPECT_FALSE(fs::exists(backup));
      EXPECT_TRUE(after == before) << "written to without a copy";
      EXPECT_TRUE(Unit().Disk().Writes().empty()) << "the disk written to without a copy";
    }
    if (outcome.success) return;

    // Brought back: off and on (a unit pulled out is plugged in again), a
    // unit that restarted given time to attach, then the copy restored.
    farm->PowerCycle(0);
    clock->Advance(std::chrono::seconds(10));
    if (!outcome.backupWritten) {
      EXPECT_TRUE(PartNow() == before);
      return;
    }
    auto form = OpenForm();
    ASSERT_TRUE(form);
    const Bytes saved = ReadFile(backup);
    RestoreRequest request;
    request.backup = saved;
    if (c.flashType >= 0) request.flashType = c.flashType;
    request.hddFirmware = c.hddFirmware;
    RestoreReport report;
    EXPECT_EQ(form->RestoreBackup(request, &report), 1)
        << "restore outcome " << static_cast<int>(report.outcome) << ": "
        << form->StatusEdit.Text();
    EXPECT_TRUE(PartNow() == before) << "the restore did not bring the part back";
    ExpectDiskWritesInPart();
  }
};

bool AnyCommand(const sim::LoggedCommand&) {
  return true;
}
bool ReturnsData(const sim::LoggedCommand& c) {
  return c.direction == DataDirection::In && c.transferred > 0;
}

TEST_P(EngineeringSweep, NothingLostNothingClaimedFalsely) {
  const auto& [c, kind] = GetParam();
  const Clean clean = CleanRun();
  if (HasFailure()) return;
  std::vector<uint64_t> points;
  switch (kind) {
    case FaultKind::PowerLoss: {
      std::vector<uint64_t> operations;
      for (uint64_t n = 1; n <= clean.operations; ++n)
        operations.push_back(clean.firstOperation + n);
      points = testing::Spread(operations, std::min(c.most, kMostPowerLosses));
      break;
    }
    case FaultKind::ReadFlip:
      points = testing::FaultPoints(clean.log, ReturnsData, kStretchEnds, kSpread, c.most);
      break;
    case FaultKind::FailCommand:
    case FaultKind::StatusLost:
    case FaultKind::Vanish:
      points = testing::FaultPoints(clean.log, AnyCommand, kStretchEnds, kSpread, c.most);
      break;
    case FaultKind::Slow:
      points = {0};
      break;
  }
  const auto start = std::chrono::steady_clock::now();
  for (uint64_t n : points) {
    RunWith(kind == FaultKind::PowerLoss ? PowerLossAt(n) : FaultItem(kind, n));
    if (HasFatalFailure()) return;
  }
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  RecordProperty("runs", static_cast<int>(points.size()));
  std::printf(
      "%s %s: %zu runs (%zu commands, %llu erases, programs or disk writes in the clean run), %lld "
      "ms\n",
      c.name, KindName(kind), points.size(), clean.log.size(),
      static_cast<unsigned long long>(clean.operations), static_cast<long long>(took.count()));
}

INSTANTIATE_TEST_SUITE_P(
    Units, EngineeringSweep,
    ::testing::Combine(::testing::ValuesIn(kCases),
                       ::testing::Values(FaultKind::FailCommand, FaultKind::StatusLost,
                                         FaultKind::ReadFlip, FaultKind::Vanish,
                                         FaultKind::PowerLoss)),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) + "_" + KindName(std::get<1>(info.param));
    });

}  // namespace
}  // namespace fwtool
