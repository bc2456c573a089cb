// SPDX-License-Identifier: GPL-2.0-or-later
// The disk-hosted procedure of chip types 5, 15 and 16 against simulated
// units with disks behind them: backup, clear and program of the firmware
// area, where the area lies, and every refusal that keeps a write from
// landing outside it.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "capture_backend.h"
#include "disk_unit_fixture.h"
#include "fake_procedure_host.h"

namespace fwtool {
namespace {

using testing::DiskUnitTest;
using testing::Pattern;
using testing::ReadFile;
using Bytes = std::vector<uint8_t>;
using Write = sim::SimDisk::WriteRecord;

constexpr double kInstant = 0.0;
constexpr const char* kPowerCycle = "Message: Please Turn-Off the Power and Turn-On Again!";

// A 64 MB disk of 512-byte sectors holds 131,072 sectors. The controller's
// anchor is the last sector, 131,071; the area ends at the 256-sector
// boundary below 131,070 (130,816) and starts 256 sectors earlier.
constexpr uint64_t k64MStart = 130'560;
// The marker of the unit's own firmware points just past that boundary:
// 130,817 = 0x0001FF01.
const Bytes k64MMarker = {0x55, 0x00, 0x01, 0xFF, 0x01, 0xAA};

bool SameWrites(const std::vector<Write>& got, const std::vector<Write>& expected) {
  if (got.size() != expected.size()) return false;
  for (size_t i = 0; i < got.size(); ++i)
    if (got[i].lba != expected[i].lba || got[i].count != expected[i].count) return false;
  return true;
}

class DiskHostedUpdate : public DiskUnitTest {};

TEST_F(DiskHostedUpdate, BackupClearAndProgramTheAreaBehindTheCapacity) {
  ASSERT_TRUE(Create("vqb145:disk=64M", kInstant));
  ASSERT_TRUE(Unit().RunsFromDisk());
  EXPECT_EQ(Unit().VisibleSectors(), k64MStart);

  ProcedureRequest request = Request();
  request.options.backupOnly = true;
  EXPECT_EQ(RunDiskHostedUpdate(request, host), 1);
  EXPECT_EQ(host.status, "Read flash and backup success!");
  const Bytes backup = ReadFile(request.options.backupFile);
  EXPECT_EQ(backup, DiskBytes(k64MStart, 65536));
  EXPECT_EQ(Bytes(backup.begin() + 150, backup.begin() + 156), k64MMarker);
  EXPECT_TRUE(host.boxes.empty());

  // Clear: the marker stays, everything else of the first 64 KB is zero.
  request.options.backupOnly = false;
  request.options.eraseOnly = true;
  EXPECT_EQ(RunDiskHostedUpdate(request, host), 1);
  EXPECT_EQ(host.status, "Erase all data in HDD success!!");
  Bytes cleared(65536, 0);
  std::copy(k64MMarker.begin(), k64MMarker.end(), cleared.begin() + 150);
  EXPECT_EQ(DiskBytes(k64MStart, 65536), cleared);
  EXPECT_EQ(host.boxes, std::vector<std::string>{kPowerCycle});

  // Program 100,000 bytes: two blocks, the marker in place of the file's
  // bytes 150..155, zeros after the file.
  Unit().Disk().ClearWrites();
  const Bytes file = Pattern(100'000, 7);
  request = Request(dir.Write("firmware.bin", file));
  EXPECT_EQ(RunDiskHostedUpdate(request, host), 1);
  EXPECT_EQ(host.status, "Programming Success!!");
  Bytes expected = file;
  expected.resize(131072, 0);
  std::copy(k64MMarker.begin(), k64MMarker.end(), expected.begin() + 150);
  EXPECT_EQ(DiskBytes(k64MStart, 131072), expected);
  EXPECT_TRUE(SameWrites(Writes(), {{k64MStart, 128}, {k64MStart + 128, 128}}));
  EXPECT_FALSE(Sent(0x8A));
}

// The backup takes the size chosen in "Firmware size" up to the area's
// 128 KB, and says so when it saved less than was asked.
TEST_F(DiskHostedUpdate, ABackupLargerThanTheAreaIsCutAndSaysItsSize) {
  struct Case {
    int32_t chosen;
    size_t saved;
    std::string status;
  };
  const Case cases[] = {
      {65536, 65536, "Read flash and backup success!"},
      {131072, 131072, "Read flash and backup success!"},
      {524288, 131072,
       "Read flash and backup success! 131072 of 524288 bytes saved: the firmware area on the "
       "disk holds no more."},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(Create("vqb145:disk=64M", kInstant));
    host.settings.SelectedFlashSize = c.chosen;
    ProcedureRequest request = Request();
    request.options.backupOnly = true;
    std::filesystem::remove(request.options.backupFile);
    EXPECT_EQ(RunDiskHostedUpdate(request, host), 1) << c.chosen;
    EXPECT_EQ(host.status, c.status);
    EXPECT_EQ(ReadFile(request.options.backupFile), DiskBytes(k64MStart, c.saved)) << c.chosen;
  }
}

// The 32-bit start from the anchor: A = 1,000 gives 512 with or without the
// flag; A = 768 gives 256 without it and 512 with it. Blank units show
// their whole disk, so the anchor is the last sector (the sector count with
// the flag).
TEST_F(DiskHostedUpdate, TheStartFollowsTheAnchorAndTheControllerFlag) {
  struct Case {
    const char* description;
    uint64_t start;
    Bytes marker;
  };
  const Case cases[] = {
      {"vqb145:fw=blank:disk=1001s", 512, {0x55, 0, 0, 0x03, 0xE8, 0xAA}},
      {"vqb145:fw=blank:disk=1000s:flag17", 512, {0x55, 0, 0, 0x03, 0xE8, 0xAA}},
      {"vqb145:fw=blank:disk=769s", 256, {0x55, 0, 0, 0x03, 0x00, 0xAA}},
      {"vqb145:fw=blank:disk=768s:flag17", 512, {0x55, 0, 0, 0x03, 0x00, 0xAA}},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(Create(c.description, kInstant));
    EXPECT_EQ(RunDiskHostedUpdate(Request(dir.Write("fw.bin", Pattern(1000, 3))), host), 1)
        << c.description << ": " << host.status;
    EXPECT_TRUE(SameWrites(Writes(), {{c.start, 128}})) << c.description;
    const Bytes first = DiskBytes(c.start, 512);
    EXPECT_EQ(Bytes(first.begin() + 150, first.begin() + 156), c.marker) << c.description;
  }
}

TEST_F(DiskHostedUpdate, AFileOneByteOverABlockTakesASecondBlockOfZeros) {
  ASSERT_TRUE(Create("vqb145:disk=64M", kInstant));
  const Bytes file = Pattern(65537, 11);
  EXPECT_EQ(RunDiskHostedUpdate(Request(dir.Write("fw.bin", file)), host), 1);
  Bytes second(65536, 0);
  second[0] = file[65536];
  EXPECT_EQ(DiskBytes(k64MStart + 128, 65536), second);
}

TEST_F(DiskHostedUpdate, ClearWithoutFirmwareOnTheDiskZerosTheWholeBlock) {
  // A blank unit shows its whole disk: the area starts 512 sectors before
  // its end (131,072 - 512).
  ASSERT_TRUE(Create("vqb145:fw=blank:disk=64M", kInstant));
  constexpr uint64_t start = 130'560;
  Unit().Disk().Load(start, Bytes(65536, 0x77));
  ProcedureRequest request = Request();
  request.options.eraseOnly = true;
  // The area lies inside the disk the host sees and holds data: only the
  // operator's word lets the clear through.
  request.options.diskData = DiskDataChoice::Overwrite;
  EXPECT_EQ(RunDiskHostedUpdate(request, host), 1);
  EXPECT_EQ(DiskBytes(start, 65536), Bytes(65536, 0));
}

TEST_F(DiskHostedUpdate, DisksOfMoreThan2To32SectorsUseTheSixteenByteCommands) {
  // 3 TB of 512-byte sectors: 6,442,450,944 sectors; the area starts 512
  // sectors before the end.
  ASSERT_TRUE(Create("vqb145:disk=3T", kInstant));
  constexpr uint64_t start = 6'442'450'432;
  EXPECT_EQ(Unit().VisibleSectors(), start);
  const Bytes file = Pattern(4096, 5);
  EXPECT_EQ(RunDiskHostedUpdate(Request(dir.Write("fw.bin", file)), host), 1) << host.status;
  EXPECT_TRUE(SameWrites(Writes(), {{start, 128}}));
  EXPECT_TRUE(Sent(0x8A));
  EXPECT_FALSE(Sent(0x2A));
}

// A controller that hides 517 sectors of a drive of 2^32 + 5 sectors: its
// firmware starts at the capacity it shows, 4,294,966,784 (0xFFFFFE00),
// below 2^32, where the marker is read, and not 256 sectors before the
// drive's end.
TEST_F(DiskHostedUpdate, OnABigDiskTheMarkerIsReadRightBehindTheCapacity) {
  ASSERT_TRUE(Create("vqb145:disk=4294967301s:visible=4294966784", kInstant));
  ASSERT_TRUE(Unit().RunsFromDisk());
  const Bytes file = Pattern(65536, 6);
  EXPECT_EQ(RunDiskHostedUpdate(Request(dir.Write("fw.bin", file)), host), 1) << host.status;
  EXPECT_TRUE(SameWrites(Writes(), {{4'294'966'784, 128}}));
  bool markerRead = false;
  for (const auto& entry : Unit().Log()) {
    const Bytes lba(entry.cdb.begin() + 2, entry.cdb.begin() + 10);
    if (entry.cdb[0] == 0x88 && lba == Bytes{0, 0, 0, 0, 0xFF, 0xFF, 0xFE, 0x00}) markerRead = true;
  }
  EXPECT_TRUE(markerRead);
  EXPECT_EQ(DiskBytes(4'294'966'784, 150), Bytes(file.begin(), file.begin() + 150));
}

// A drive of exactly 2^32 sectors: its last sector is 2^32 - 1, and the
// area ends at the boundary below it, not 2^32 sectors further on.
TEST_F(DiskHostedUpdate, TheLastSectorOfALargeDiskIsFoundWithoutWrapping) {
  ASSERT_TRUE(Create("vqb145:fw=blank:disk=4294967296s", kInstant));
  EXPECT_EQ(RunDiskHostedUpdate(Request(dir.Write("fw.bin", Pattern(512, 1))), host), 1)
      << host.status;
  EXPECT_TRUE(SameWrites(Writes(), {{4'294'966'784, 128}}));
}

TEST_F(DiskHostedUpdate, FourKilobyteSectorsMoveSixteenSectorsPerBlock) {
  // 64 MB of 4096-byte sectors: 16,384 sectors; the area starts at
  // 16,128 - 256 = 15,872.
  ASSERT_TRUE(Create("vqb145:disk=64M:sector=4096", kInstant));
  const Bytes file = Pattern(70'000, 9);
  EXPECT_EQ(RunDiskHostedUpdate(Request(dir.Write("fw.bin", file)), host), 1) << host.status;
  EXPECT_TRUE(SameWrites(Writes(), {{15'872, 16}, {15'888, 16}}));
  Bytes expected = file;
  expected.resize(131072, 0);
  std::copy_n(DiskBytes(15'872, 4096).begin() + 150, 6, expected.begin() + 150);
  EXPECT_EQ(DiskBytes(15'872, 131072), expected);
}

// Each situation in which the area cannot be placed or the file cannot be
// written whole: nothing reaches the disk and the status says why.
TEST_F(DiskHostedUpdate, RefusalsWriteNothingAndSayWhy) {
  const std::string notFound = "The firmware area on the disk was not found: ";
  enum class Mode { Program, Clear, Backup };
  struct Case {
    const char* name;
    const char* description;
    Mode mode;
    size_t fileSize;  // 0: an empty file; SIZE_MAX: no file
    std::function<void(sim::SimController&)> before;
    std::string status;
  };
  const Case cases[] = {
      {"READ CAPACITY fails", "vqb145:disk=64M:capacity=fail", Mode::Program, 1000, nullptr,
       notFound + "the disk's capacity cannot be read"},
      {"READ CAPACITY answers FFFFFFFF", "vqb145:disk=64M:capacity=ff", Mode::Clear, 1000, nullptr,
       notFound + "the disk reports no 32-bit capacity"},
      {"a tiny disk", "vqb145:disk=300s", Mode::Program, 1000, nullptr,
       notFound + "the disk is too small to hold a firmware area"},
      {"the marker sector holds zeros", "vqb145:disk=64M", Mode::Clear, 1000,
       [](sim::SimController& unit) { unit.Disk().Load(k64MStart, Bytes(512, 0)); },
       notFound + "the marker sector holds no location marker"},
      {"the marker cannot be read", "vqb145:disk=64M:fail-match=28", Mode::Program, 1000, nullptr,
       notFound + "the firmware area would lie inside the capacity the host is shown"},
      {"a capacity smaller than the drive", "vqb145:fw=blank:disk=64M:capacity=100000",
       Mode::Program, 1000, nullptr,
       notFound + "the capacity the controller reports does not match the drive"},
      {"a capacity beyond the drive", "vqb145:fw=blank:disk=64M:capacity=200000", Mode::Clear, 1000,
       nullptr, notFound + "the capacity lies beyond the drive"},
      // The area lies beyond the capacity, and without IDENTIFY nothing
      // says where the disk ends.
      {"no drive size", "vqb145:disk=64M:identify=fail", Mode::Program, 1000, nullptr,
       notFound + "the drive's size is unknown: it does not answer IDENTIFY DEVICE"},
      {"an empty file", "vqb145:disk=64M", Mode::Program, 0, nullptr,
       "The firmware file is empty!!"},
      {"no file", "vqb145:disk=64M", Mode::Program, SIZE_MAX, nullptr, "Open File Error!!"},
      {"a file longer than the area", "vqb145:disk=64M", Mode::Program, 131073, nullptr,
       "The firmware file is larger than the firmware area on the disk!!"},
      {"the write is refused", "vqb145:disk=64M:fail-match=2a", Mode::Program, 1000, nullptr,
       "Write Data To HDD FAIL!!"},
      {"the write is refused on a large disk", "vqb145:disk=3T:fail-match=8a", Mode::Program, 1000,
       nullptr, "Write Data SCSI16 To HDD FAIL!!"},
      {"the backup cannot be read", "vqb145:fw=blank:disk=64M:fail-match=28", Mode::Backup, 1000,
       nullptr, "Read Back to Backup Error!!"},
      // On a big disk the drive's own end lies beyond what the host is
      // shown, so a place taken from it would pass every later check.
      {"the marker cannot be read on a large disk", "vqb145:disk=3T:fail-match=88", Mode::Program,
       1000, nullptr, notFound + "the marker sector cannot be read"},
      {"READ CAPACITY(16) fails on a large disk", "vqb145:disk=3T:fail-match=9e", Mode::Clear, 1000,
       nullptr, notFound + "the disk's 64-bit capacity cannot be read"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(Create(c.description, kInstant)) << c.name;
    if (c.before) c.before(Unit());
    std::string file = dir.Path("missing.bin");
    if (c.fileSize != SIZE_MAX) file = dir.Write("fw.bin", Pattern(c.fileSize, 2));
    ProcedureRequest request = Request(file);
    request.options.eraseOnly = c.mode == Mode::Clear;
    request.options.backupOnly = c.mode == Mode::Backup;
    std::filesystem::remove(request.options.backupFile);
    EXPECT_EQ(RunDiskHostedUpdate(request, host), 0) << c.name;
    EXPECT_EQ(host.status, c.status) << c.name;
    EXPECT_TRUE(Writes().empty()) << c.name;
    EXPECT_TRUE(host.boxes.empty()) << c.name;
    EXPECT_FALSE(std::filesystem::exists(request.options.backupFile)) << c.name;
  }
}

// The n-th block of an opcode fails once (a command the unit refuses by
// number): the step stops there with the text of what failed.
TEST_F(DiskHostedUpdate, AFailedMarkerReadOrReadBackEndsTheStep) {
  struct Case {
    const char* name;
    bool clear;
    uint8_t opcode;
    int occurrence;  // which block of that opcode fails, from 1
    std::string status;
    size_t writes;
  };
  const Case cases[] = {
      {"the clear's marker read", true, 0x28, 2, "Read Data From HDD FAIL!!", 0},
      {"the clear's second marker read", true, 0x28, 3, "Read Data From HDD FAIL!!", 0},
      {"the clear's read-back", true, 0x28, 4, "Read Data From HDD FAIL!!", 1},
      // The program asks for the anchor twice, each time from the marker;
      // without the second answer the unit's own capacity would place the
      // area where the host sees the disk.
      {"the program's second marker read", false, 0x28, 2,
       "The firmware area on the disk was not found: the firmware area would lie inside the "
       "capacity the host is shown",
       0},
      {"the program's read-back", false, 0x28, 3, "Read Data From HDD FAIL!!", 1},
  };
  const Bytes file = Pattern(1000, 4);
  for (const auto& c : cases) {
    auto run = [&] {
      ProcedureRequest request = Request(dir.Write("fw.bin", file));
      request.options.eraseOnly = c.clear;
      return RunDiskHostedUpdate(request, host);
    };
    // A first run finds the number of the block.
    ASSERT_TRUE(Create("vqb145:disk=64M", kInstant));
    ASSERT_EQ(run(), 1) << c.name;
    uint64_t number = 0;
    int seen = 0;
    for (const auto& entry : Unit().Log())
      if (entry.cdb[0] == c.opcode && ++seen == c.occurrence) number = entry.number;
    ASSERT_NE(number, 0u) << c.name;

    ASSERT_TRUE(Create("vqb145:disk=64M:fail-command=" + std::to_string(number), kInstant));
    EXPECT_EQ(run(), 0) << c.name;
    EXPECT_EQ(host.status, c.status) << c.name;
    EXPECT_EQ(Writes().size(), c.writes) << c.name;
    EXPECT_TRUE(host.boxes.empty()) << c.name;
  }
}

// A hand-made type-15 unit whose marker names another anchor the second
// time it is read (131,071 instead of 130,817; both place the area at
// 130,560): the program writes nothing.
// A type-15 unit answered by hand: READ CAPACITY(10) ends at sector 130,559
// (512-byte sectors), IDENTIFY counts 131,072 sectors, the controller's
// memory at 0xC000 holds 55 AA. Every READ(10) finds the location marker
// 55 00 01 FF xx AA at byte 150, xx given by `markerLow` for that read.
std::function<PassThroughResult(const PassThroughRequest&)> ScriptedType15Unit(
    std::function<uint8_t(const PassThroughRequest&)> markerLow) {
  return [markerLow](const PassThroughRequest& rq) {
    std::vector<uint8_t> data;
    if (rq.cdb[0] == 0x25) {
      data = {0x00, 0x01, 0xFD, 0xFF, 0x00, 0x00, 0x02, 0x00};
    } else if (rq.cdb[0] == 0xDF && rq.cdb[11] == 0xEC) {
      data.assign(512, 0);
      data[122] = 0x02;
    } else if (rq.cdb[0] == 0xDF && rq.cdb[11] == 0xFD) {
      data = {0x55, 0xAA, 0x00, 0x00};
    } else if (rq.cdb[0] == 0x28) {
      data.assign(std::max<size_t>(rq.length, 156), 0);
      const uint8_t marker[] = {0x55, 0x00, 0x01, 0xFF, markerLow(rq), 0xAA};
      std::copy(std::begin(marker), std::end(marker), data.begin() + 150);
    }
    if (rq.direction == DataDirection::In && rq.data != nullptr)
      std::copy_n(data.begin(), std::min<size_t>(data.size(), rq.length), rq.data);
    PassThroughResult r = fwtool::testing::Answered();
    r.transferred = rq.length;
    return r;
  };
}

// A request of the engineering face for that unit.
ProcedureRequest ScriptedType15Request() {
  ProcedureRequest request;
  request.path = "usbsto#disk&ven_talve&prod_vqb145#0";
  request.chip.type = 15;
  request.chip.row = &ChipRowFor(15);
  request.options.rdVersion = true;
  return request;
}

// The clear keeps the marker of the area's first sector and reads that
// sector twice: a marker that reads differently the second time (one bit
// turned on the bus) is written nowhere.
TEST(DiskHostedScripted, AClearWhoseMarkerReadsDifferentlyWritesNothing) {
  auto clock = std::make_shared<VirtualClock>();
  ScopedClock scopedClock(clock);
  fwtool::testing::ScopedCaptureBackend backend;
  int sectorReads = 0;
  // Sector 130,560: behind the capacity, and the area's first. Four sectors
  // when the area is placed, one when the clear keeps its marker; that one
  // reads 0x03 in place of 0x01 the second time.
  backend->responder = ScriptedType15Unit([&sectorReads](const PassThroughRequest& rq) {
    return rq.length == 512 && ++sectorReads == 2 ? 0x03 : 0x01;
  });
  fwtool::testing::FakeProcedureHost host;
  ProcedureRequest request = ScriptedType15Request();
  request.options.eraseOnly = true;
  EXPECT_EQ(RunDiskHostedUpdate(request, host), 0);
  EXPECT_EQ(sectorReads, 2);
  EXPECT_EQ(host.status, "Nothing written: the location marker read differently twice");
  for (const auto& command : backend->commands) EXPECT_NE(command.request.cdb[0], 0x2A);
  EXPECT_TRUE(host.boxes.empty());
}

TEST(DiskHostedScripted, TwoDifferentAnchorsWriteNothing) {
  auto clock = std::make_shared<VirtualClock>();
  ScopedClock scopedClock(clock);
  fwtool::testing::ScopedCaptureBackend backend;
  int markerReads = 0;
  // The marker sector past the capacity names 130,817, then 131,071.
  backend->responder = ScriptedType15Unit(
      [&markerReads](const PassThroughRequest&) { return ++markerReads == 1 ? 0x01 : 0xFF; });
  fwtool::testing::TempDir dir;
  fwtool::testing::FakeProcedureHost host;
  ProcedureRequest request = ScriptedType15Request();
  request.options.firmwareFile = dir.Write("fw.bin", Pattern(1000, 6));
  EXPECT_EQ(RunDiskHostedUpdate(request, host), 0);
  EXPECT_EQ(markerReads, 2);
  EXPECT_EQ(host.status,
            "The firmware area on the disk was not found: the controller named two different "
            "places for it");
  for (const auto& command : backend->commands) EXPECT_NE(command.request.cdb[0], 0x2A);
  EXPECT_TRUE(host.boxes.empty());
}

TEST_F(DiskHostedUpdate, AType16UnitWithoutAFlashPartKeepsItsFirmwareOnTheDisk) {
  ASSERT_TRUE(Create("vq64775e:maker=unknown:disk=64M", kInstant));
  ASSERT_TRUE(Unit().RunsFromDisk());
  const Bytes file = Pattern(2000, 8);
  EXPECT_EQ(RunDiskHostedUpdate(Request(dir.Write("fw.bin", file)), host), 1) << host.status;
  Bytes expected = file;
  expected.resize(65536, 0);
  std::copy(k64MMarker.begin(), k64MMarker.end(), expected.begin() + 150);
  EXPECT_EQ(DiskBytes(k64MStart, 65536), expected);
}

}  // namespace
}  // namespace fwtool
