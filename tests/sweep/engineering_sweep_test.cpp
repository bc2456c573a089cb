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

// What a run must leave in the part: `bytes` over the first `exact` bytes;
// past them every 4 KB sector either as it was or erased (a procedure that
// writes a short image may erase more of the part than the image covers).
struct Expected {
  Bytes bytes;
  size_t exact = 0;
};

constexpr size_t kSector = 4096;

// ---- What each run is asked for, worked out by hand ---------------------

// What a run starts from: the part before it, the file it programs (empty
// for an erase), and the unit's disk as the simulator knows it.
struct Given {
  const Bytes& before;
  const Bytes& file;
  uint64_t diskSectors = 0;
  bool runsFromDisk = false;  // the unit booted the firmware in its disk area
};

Expected Whole(Bytes bytes) {
  const size_t size = bytes.size();
  return {std::move(bytes), size};
}

// Erase only, "Include 4K NVRAM" ticked: everything erased.
Expected AllErased(const Given& g) {
  return Whole(Bytes(g.before.size(), 0xFF));
}

// Erase only with the unit's settings kept: erased but for `length` bytes at
// `at`, which hold what they held.
template <size_t at, size_t length>
Expected ErasedButSettings(const Given& g) {
  Bytes bytes(g.before.size(), 0xFF);
  std::copy_n(g.before.begin() + at, length, bytes.begin() + at);
  return Whole(std::move(bytes));
}

// The file as it is, nothing merged, at the start of the part.
Expected FileAsItIs(const Given& g) {
  return {g.file, g.file.size()};
}

// The parallel part: the file, then erased cells to the part's end.
Expected FileThenErased(const Given& g) {
  Bytes bytes(g.before.size(), 0xFF);
  std::copy(g.file.begin(), g.file.end(), bytes.begin());
  return Whole(std::move(bytes));
}

// The header-area chips keep the unit's first 4 KB (its settings) in front
// of a file that brings none; the file follows them.
Expected SettingsThenFile(const Given& g) {
  Bytes bytes(g.before.begin(), g.before.begin() + 4096);
  bytes.insert(bytes.end(), g.file.begin(), g.file.end());
  return {bytes, bytes.size()};
}

// The 1394 bridge: a file of up to 32 KB fills the first half, zero padded;
// the second half (the unit's settings) is not touched.
Expected FirstHalfPadded(const Given& g) {
  Bytes bytes = g.before;
  std::fill_n(bytes.begin(), 32768, 0);
  std::copy(g.file.begin(), g.file.end(), bytes.begin());
  return Whole(std::move(bytes));
}

// The staged procedure: the unit's first 4 KB in place of the file's, the
// image zero padded to a whole 8 KB.
Expected StagedImage(const Given& g) {
  Bytes bytes((g.file.size() + 8191) / 8192 * 8192, 0);
  std::copy(g.file.begin(), g.file.end(), bytes.begin());
  std::copy_n(g.before.begin(), 4096, bytes.begin());
  return {bytes, bytes.size()};
}

// The disk area: the file, zero padded to whole 64 KB blocks, with the
// location marker at bytes 150..155: 55, the anchor's four bytes most
// significant first, AA. The anchor is the one the controller goes by: that
// of the marker it booted from, else the disk's last sector. Blocks past the
// file are not touched.
Expected AreaProgrammed(const Given& g) {
  Bytes bytes = g.before;
  std::fill_n(bytes.begin(), (g.file.size() + 65535) / 65536 * 65536, 0);
  std::copy(g.file.begin(), g.file.end(), bytes.begin());
  if (g.runsFromDisk) {
    std::copy_n(g.before.begin() + 150, 6, bytes.begin() + 150);
  } else {
    const uint64_t anchor = g.diskSectors - 1;
    bytes[150] = 0x55;
    for (int i = 0; i < 4; ++i) bytes[151 + i] = static_cast<uint8_t>(anchor >> (24 - 8 * i));
    bytes[155] = 0xAA;
  }
  return Whole(std::move(bytes));
}

// The area cleared: its first 64 KB zero but for the location marker, which
// the controller that keeps its firmware there needs to find it again.
Expected AreaCleared(const Given& g) {
  Bytes bytes = g.before;
  std::fill_n(bytes.begin(), 65536, 0);
  std::copy_n(g.before.begin() + 150, 6, bytes.begin() + 150);
  return Whole(std::move(bytes));
}

// Type 12's region: the file, zero padded to 64 KB, with the CRC-32 of its
// code area (polynomial 04C11DB7, most significant bit first, start value
// 52325032, no final inversion, fed the 32-bit little-endian words of
// 0..BFFB most significant byte first) stored little-endian at BFFC.
uint32_t RegionCrc(const Bytes& region) {
  uint32_t crc = 0x52325032;
  for (size_t at = 0; at < 0xBFFC; at += 4) {
    for (int b = 3; b >= 0; --b) {
      crc ^= static_cast<uint32_t>(region[at + static_cast<size_t>(b)]) << 24;
      for (int bit = 0; bit < 8; ++bit)
        crc = (crc & 0x80000000u) != 0 ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
  }
  return crc;
}

Expected RegionProgrammed(const Given& g) {
  Bytes bytes(65536, 0);
  std::copy(g.file.begin(), g.file.end(), bytes.begin());
  const uint32_t crc = RegionCrc(bytes);
  for (int i = 0; i < 4; ++i)
    bytes[0xBFFC + static_cast<size_t>(i)] = static_cast<uint8_t>(crc >> (8 * i));
  return Whole(std::move(bytes));
}

// ---- The units ----------------------------------------------------------

struct EngineeringCase {
  const char* name;
  const char* unit;        // the simulated unit
  ProcedureTag procedure;  // where the run table sends it
  Part part;
  Mode mode;
  size_t fileSize;  // Program: a file of this many bytes
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
};

constexpr size_t kRegionSector500G = 1048569856;

// clang-format off
const EngineeringCase kCases[] = {
    {"serial_program_vqb719", "vqb719", ProcedureTag::SerialFlash, Part::Flash, Mode::Program, 65536, FileAsItIs, true},
    {"serial_erase_vqs175", "vqs175", ProcedureTag::SerialFlash, Part::Flash, Mode::EraseOnly, 0, ErasedButSettings<0xC000, 4096>, false},
    {"basic_program_vq64773", "vq64773:maker=winbond:size=128", ProcedureTag::Basic, Part::Flash, Mode::Program, 65536, FileAsItIs},
    {"basic_erase_vq64771", "vq64771:maker=mxic", ProcedureTag::Basic, Part::Flash, Mode::EraseOnly, 0, AllErased, std::nullopt, 65536},
    {"header_program_vqb716", "vqb716", ProcedureTag::HeaderHandling, Part::Flash, Mode::Program, 61440, SettingsThenFile, false},
    {"header_erase_vqb716", "vqb716:maker=mxic", ProcedureTag::HeaderHandling, Part::Flash, Mode::EraseOnly, 0, ErasedButSettings<0, 4096>, false, 65536},
    {"paged_program_vqb713", "vqb713:maker=sst", ProcedureTag::Paged, Part::Flash, Mode::Program, 16384, FileAsItIs},
    {"paged_erase_vqb713", "vqb713:maker=sst", ProcedureTag::Paged, Part::Flash, Mode::EraseOnly, 0, AllErased, std::nullopt, 65536},
    {"ieee1394_program_vqb717", "vqb717:bus=sbp2", ProcedureTag::Ieee1394, Part::Flash, Mode::Program, 20000, FirstHalfPadded},
    {"ieee1394_erase_vqb717", "vqb717:bus=sbp2", ProcedureTag::Ieee1394, Part::Flash, Mode::EraseOnly, 0, ErasedButSettings<0x8000, 1024>, std::nullopt, 65536},
    {"parallel_program_vq64779", "vq64779:parallel=pmc", ProcedureTag::Parallel, Part::Parallel, Mode::Program, 20000, FileThenErased, std::nullopt, std::nullopt, 1},
    {"parallel_erase_vq64779u", "vq64779u:parallel=sst", ProcedureTag::Parallel, Part::Parallel, Mode::EraseOnly, 0, AllErased, std::nullopt, std::nullopt, 2},
    {"disk_program_vqb145", "vqb145:disk=64M", ProcedureTag::DiskHosted, Part::DiskArea, Mode::Program, 100000, AreaProgrammed},
    // A blank disk given firmware the unit boots: cut short, it may boot what
    // was written and hide the area from the host.
    {"disk_firmware_vqb145", "vqb145:fw=blank:disk=64M", ProcedureTag::DiskHosted, Part::DiskArea, Mode::Program, 0, AreaProgrammed, std::nullopt, std::nullopt, -1, false, false, "vqb145:disk=64M"},
    {"disk_clear_vq64775e", "vq64775e:maker=0:disk=64M", ProcedureTag::DiskHosted, Part::DiskArea, Mode::EraseOnly, 0, AreaCleared},
    {"region_program_vqs175", "vqs175:disk=500G", ProcedureTag::Vqs175Disk, Part::Region, Mode::Program, 20000, RegionProgrammed, std::nullopt, std::nullopt, -1, true},
    {"staged_program_vqs713", "vqs713:maker=mxic", ProcedureTag::Staged, Part::Flash, Mode::Program, 20000, StagedImage, std::nullopt, std::nullopt, -1, false, true},
};
// clang-format on

void PrintTo(const EngineeringCase& c, std::ostream* os) {
  *os << c.unit;
}

// Where the faults go: around every turn from one kind of command to the
// next and evenly over the whole run (see FaultPoints), at most this many
// of each kind; power losses evenly over the run's erases and programs (its
// writes, where the part lies on the disk).
// The whole sweep stays within a minute.
constexpr size_t kStretchEnds = 2;
constexpr size_t kSpread = 24;
constexpr size_t kMostPoints = 64;
constexpr size_t kMostPowerLosses = 32;

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
    return request;
  }

  // "Run" with the case's options; what it said of itself.
  Outcome RunOnce(TV77xFwTool& form, const std::string& backup) {
    form.SetBackupTarget(backup);
    const RunRequest request = Request();
    form.SetRunOptions(request);
    // Loading the file checks the unit again, which names its own type.
    if (Case().type13) NameType13(form);
    EXPECT_TRUE(form.RunAvailable());
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
    for (size_t at = expected.exact / kSector * kSector; at < after.size(); at += kSector) {
      const size_t from = std::max(at, expected.exact);
      const size_t to = std::min(at + kSector, after.size());
      const bool kept = std::equal(after.begin() + from, after.begin() + to, before.begin() + from);
      const bool erased = std::all_of(after.begin() + from, after.begin() + to,
                                      [](uint8_t b) { return b == 0xFF; });
      EXPECT_TRUE(kept || erased) << "the sector at 0x" << std::hex << at
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
      points = testing::Spread(operations, kMostPowerLosses);
      break;
    }
    case FaultKind::ReadFlip:
      points = testing::FaultPoints(clean.log, ReturnsData, kStretchEnds, kSpread, kMostPoints);
      break;
    case FaultKind::FailCommand:
    case FaultKind::StatusLost:
    case FaultKind::Vanish:
      points = testing::FaultPoints(clean.log, AnyCommand, kStretchEnds, kSpread, kMostPoints);
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
