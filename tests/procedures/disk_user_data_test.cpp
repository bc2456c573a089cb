// SPDX-License-Identifier: GPL-2.0-or-later
// The disk behind the bridge is its user's: where a disk-hosted procedure
// would write sectors the host is shown, and they hold the user's data,
// nothing is written unless the operator says so, before the run or in the
// box that names the sectors. The capacity the host is shown comes from
// READ CAPACITY(16) on disks of 2^32 sectors or more; type 12's region stays
// out of the disk's first megabyte.
#include <gtest/gtest.h>

#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "disk_unit_fixture.h"
#include "whole_part.h"

namespace fwtool {
namespace {

using testing::DiskUnitTest;
using testing::Pattern;
using Bytes = std::vector<uint8_t>;

constexpr double kInstant = 0.0;
const std::string kKept = "Nothing written: the disk's user keeps data in sectors ";

// A blank unit shows its whole disk of 1,000,000 sectors, and the user's
// partition fills it from sector 2048 to the last, 999,999. The firmware
// area lies inside it: 999,680..999,935.
constexpr const char* kUserDisk = "vqb145:fw=blank:disk=1000000s:partition";

// A sector of the user's partition as the simulator's documentation spells
// it: 32-byte rows of "user data sector ", the number in 14 hex digits and
// a line feed.
Bytes UserSector(uint64_t lba, size_t size = 512) {
  char row[33];
  std::snprintf(row, sizeof row, "user data sector %014llx\n",
                static_cast<unsigned long long>(lba));
  Bytes sector;
  while (sector.size() < size) sector.insert(sector.end(), row, row + 32);
  return sector;
}

class DiskUserData : public DiskUnitTest {
 protected:
  uint64_t SectorsWritten() {
    return std::accumulate(Writes().begin(), Writes().end(), uint64_t{0},
                           [](uint64_t sum, const auto& w) { return sum + w.count; });
  }
};

TEST_F(DiskUserData, TheUsersSectorsAreWrittenOnlyWhenTheOperatorSaysSo) {
  const std::string question =
      "Message: The disk's user keeps data in sectors 999680..999935: they lie inside the disk "
      "the computer is shown and hold neither zeros nor a firmware copy. Overwrite them?";
  struct Case {
    const char* name;
    bool clear;
    DiskDataChoice choice;
    bool answer;  // to the box
    int result;
    uint64_t written;  // sectors, from 999,680 on
    bool asked;
    std::string status;
  };
  const Case cases[] = {
      // A 65,537-byte file takes two blocks: the whole 256-sector area.
      {"program, kept", false, DiskDataChoice::Keep, true, 0, 0, false, kKept + "999680..999935"},
      {"program, No in the box", false, DiskDataChoice::Ask, false, 0, 0, true,
       kKept + "999680..999935"},
      {"program, Yes in the box", false, DiskDataChoice::Ask, true, 1, 256, true,
       "Programming Success!!"},
      {"program, overwrite", false, DiskDataChoice::Overwrite, false, 1, 256, false,
       "Programming Success!!"},
      // The clear writes the area's first 64 KB.
      {"clear, kept", true, DiskDataChoice::Keep, true, 0, 0, false, kKept + "999680..999807"},
      {"clear, overwrite", true, DiskDataChoice::Overwrite, false, 1, 128, false,
       "Erase all data in HDD success!!"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(Create(kUserDisk, kInstant)) << c.name;
    ProcedureRequest request = Request(dir.Write("fw.bin", Pattern(65537, 7)));
    request.options.eraseOnly = c.clear;
    request.options.diskData = c.choice;
    host.answer = c.answer;
    EXPECT_EQ(RunDiskHostedUpdate(request, host), c.result) << c.name;
    EXPECT_EQ(host.status, c.status) << c.name;
    EXPECT_EQ(SectorsWritten(), c.written) << c.name;
    if (!Writes().empty()) {
      EXPECT_EQ(Writes()[0].lba, 999'680u) << c.name;
    }
    EXPECT_EQ(host.questions,
              c.asked ? std::vector<std::string>{question} : std::vector<std::string>{})
        << c.name;
    if (c.result == 0) {
      EXPECT_EQ(DiskBytes(999'680, 512), UserSector(999'680)) << c.name;
      EXPECT_EQ(DiskBytes(999'935, 512), UserSector(999'935)) << c.name;
    }
  }
}

// What the controller itself keeps there may be written over: a firmware
// copy with its marker (types 5, 15, 16) or with its CRC-32 (type 12).
TEST_F(DiskUserData, AFirmwareCopyThereIsTheControllersOwn) {
  struct Case {
    const char* description;
    int (*procedure)(const ProcedureRequest&, ProcedureHost&);
    bool hddFirmware;
  };
  const Case cases[] = {
      {kUserDisk, &RunDiskHostedUpdate, false},
      {"vqs175:disk=1000000s:partition", &RunVqs175DiskFirmwareUpdate, true},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(Create(c.description, kInstant)) << c.description;
    ProcedureRequest request = Request(dir.Write("fw.bin", Pattern(30'000, 8)));
    request.options.hddFirmware = c.hddFirmware;
    request.options.diskData = DiskDataChoice::Keep;
    EXPECT_EQ(c.procedure(request, host), 0) << c.description;
    EXPECT_TRUE(Writes().empty()) << c.description;

    request.options.diskData = DiskDataChoice::Overwrite;
    ASSERT_EQ(c.procedure(request, host), 1) << c.description << ": " << host.status;
    const size_t before = Writes().size();
    // The copy now there is the controller's: the next run may replace it,
    // and a clear may clear it.
    request.options.diskData = DiskDataChoice::Keep;
    request.options.firmwareFile = dir.Write("fw.bin", Pattern(30'000, 9));
    EXPECT_EQ(c.procedure(request, host), 1) << c.description << ": " << host.status;
    request.options.eraseOnly = true;
    EXPECT_EQ(c.procedure(request, host), 1) << c.description << ": " << host.status;
    EXPECT_EQ(Writes().size(), before + 2) << c.description;
    EXPECT_TRUE(host.questions.empty()) << c.description;
  }
}

// Type 12's region on a partitioned disk: 2 MB below the last 1 MB
// boundary, 999,424 - 4,096 = 995,328, 128 sectors.
TEST_F(DiskUserData, Type12KeepsTheUsersSectorsToo) {
  ASSERT_TRUE(Create("vqs175:disk=1000000s:partition", kInstant));
  ProcedureRequest request = Request(dir.Write("fw.bin", Pattern(1000, 1)));
  request.options.hddFirmware = true;
  request.options.diskData = DiskDataChoice::Keep;
  EXPECT_EQ(RunVqs175DiskFirmwareUpdate(request, host), 0);
  EXPECT_EQ(host.status, kKept + "995328..995455");
  request.options.includeNvram = false;  // the code area only: 96 sectors
  request.options.eraseOnly = true;
  EXPECT_EQ(RunVqs175DiskFirmwareUpdate(request, host), 0);
  EXPECT_EQ(host.status, kKept + "995328..995423");
  EXPECT_TRUE(Writes().empty());
  EXPECT_EQ(DiskBytes(995'328, 512), UserSector(995'328));
  EXPECT_TRUE(host.boxes.empty());
}

// A backup of the firmware area never needs the user's sectors: writing one
// back keeps them, whatever the request says of the disk's data; over zeros,
// or over what a write cut short left of the copy, it goes in.
TEST_F(DiskUserData, ARestoreKeepsTheUsersSectors) {
  struct Case {
    const char* name;
    const char* unit;
    WholePart part;
    bool hddFirmware;
    uint64_t first;
    size_t bytes;
    std::string status;  // of a refusal
  };
  const Case cases[] = {
      {"disk area", kUserDisk, WholePart::DiskArea, false, 999'680, 131072,
       kKept + "999680..999935"},
      {"type-12 region", "vqs175:disk=1000000s:partition", WholePart::DiskRegion, true, 995'328,
       65536, kKept + "995328..995455"},
  };
  for (const auto& c : cases) {
    for (const DiskDataChoice choice : {DiskDataChoice::Overwrite, DiskDataChoice::Ask}) {
      ASSERT_TRUE(Create(c.unit, kInstant)) << c.name;
      ProcedureRequest request = Request();
      request.options.hddFirmware = c.hddFirmware;
      request.options.diskData = choice;
      host.answer = true;
      const Bytes backup = Pattern(c.bytes, 4);
      EXPECT_EQ(WriteWholePart(request, c.part, host, backup), 0) << c.name;
      EXPECT_EQ(host.status, c.status) << c.name;
      EXPECT_TRUE(Writes().empty()) << c.name;
      EXPECT_TRUE(host.questions.empty()) << c.name;
      EXPECT_EQ(DiskBytes(c.first, 512), UserSector(c.first)) << c.name;
    }
    // What a write from the area's start cut short leaves over the copy:
    // its first sectors changed, the rest still the copy. Written back.
    ASSERT_TRUE(Create(c.unit, kInstant)) << c.name;
    Bytes copy = DiskBytes(c.first, c.bytes);
    const Bytes changed = Pattern(3 * 512, 5);
    std::copy(changed.begin(), changed.end(), copy.begin());
    ProcedureRequest cutShort = Request();
    cutShort.options.hddFirmware = c.hddFirmware;
    EXPECT_EQ(WriteWholePart(cutShort, c.part, host, copy), 1) << c.name << ": " << host.status;
    EXPECT_EQ(DiskBytes(c.first, c.bytes), copy) << c.name;

    // The same disk without the partition holds zeros there: written.
    const std::string unit = c.unit;
    ASSERT_TRUE(Create(unit.substr(0, unit.rfind(":partition")), kInstant)) << c.name;
    ProcedureRequest request = Request();
    request.options.hddFirmware = c.hddFirmware;
    const Bytes backup = Pattern(c.bytes, 4);
    EXPECT_EQ(WriteWholePart(request, c.part, host, backup), 1) << c.name << ": " << host.status;
    EXPECT_EQ(DiskBytes(c.first, c.bytes), backup) << c.name;
  }
}

// A disk of 2^32 + 5 sectors: READ CAPACITY(10) answers FFFFFFFF, and the
// capacity the host is shown comes from READ CAPACITY(16). The area ends at
// the boundary 2^32 below the last sector less one and starts 256 sectors
// before it.
TEST_F(DiskUserData, OnDisksOf2To32SectorsOrMoreTheCapacityComesFromReadCapacity16) {
  struct Case {
    const char* name;
    const char* description;
    std::string status;
  };
  const std::string notFound = "The firmware area on the disk was not found: ";
  const Case cases[] = {
      {"the user's partition fills the disk", "vqb145:fw=blank:disk=4294967301s:partition",
       kKept + "4294967040..4294967167"},
      {"a unit that runs from the disk shows it all", "vqb145:disk=4294967301s:capacity=4294967301",
       notFound + "the firmware area would lie inside the capacity the host is shown"},
      {"a capacity smaller than the drive", "vqb145:fw=blank:disk=4294967301s:capacity=4294967297",
       notFound + "the capacity the controller reports does not match the drive"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(Create(c.description, kInstant)) << c.name;
    ProcedureRequest request = Request(dir.Write("fw.bin", Pattern(1000, 2)));
    request.options.diskData = DiskDataChoice::Keep;
    EXPECT_EQ(RunDiskHostedUpdate(request, host), 0) << c.name;
    EXPECT_EQ(host.status, c.status) << c.name;
    EXPECT_TRUE(Writes().empty()) << c.name;
    EXPECT_TRUE(Sent(0x9E)) << c.name;
  }
  // Without the partition the area there holds zeros: written, with the
  // 16-byte commands.
  ASSERT_TRUE(Create("vqb145:fw=blank:disk=4294967301s", kInstant));
  ProcedureRequest request = Request(dir.Write("fw.bin", Pattern(1000, 2)));
  request.options.diskData = DiskDataChoice::Keep;
  EXPECT_EQ(RunDiskHostedUpdate(request, host), 1) << host.status;
  ASSERT_EQ(Writes().size(), 1u);
  EXPECT_EQ(Writes()[0].lba, 4'294'967'040u);
  EXPECT_TRUE(Sent(0x8A));
}

// 1 MB is 2,048 sectors of 512 bytes or 256 of 4,096. The region lies 2 MB
// below the last 1 MB boundary below the disk's last sector: on a disk
// whose boundary is 2 MB in, that is sector 0, where the partition table
// lives.
TEST_F(DiskUserData, Type12sRegionNeverStartsInTheFirstMegabyte) {
  const std::string tooLow =
      "The firmware area on the disk was not found: the firmware region "
      "would start inside the first 1 MB of the disk";
  struct Case {
    const char* description;
    int64_t start;  // -1: refused
  };
  const Case cases[] = {
      {"vqs175:disk=6144s", -1},  // last sector 6,143: boundary 4,096
      {"vqs175:disk=6145s", 2048},
      {"vqs175:disk=6144s:identify=fail", -1},  // READ CAPACITY(16): 6,143
      {"vqs175:disk=6145s:identify=fail", 2048},
      {"vqs175:disk=768s:sector=4096", -1},
      {"vqs175:disk=769s:sector=4096", 256},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(Create(c.description, kInstant)) << c.description;
    ProcedureRequest request = Request(dir.Write("fw.bin", Pattern(1000, 3)));
    request.options.hddFirmware = true;
    const int result = RunVqs175DiskFirmwareUpdate(request, host);
    if (c.start < 0) {
      EXPECT_EQ(result, 0) << c.description;
      EXPECT_EQ(host.status, tooLow) << c.description;
      EXPECT_TRUE(Writes().empty()) << c.description;
    } else {
      EXPECT_EQ(result, 1) << c.description << ": " << host.status;
      ASSERT_EQ(Writes().size(), 1u) << c.description;
      EXPECT_EQ(Writes()[0].lba, static_cast<uint64_t>(c.start)) << c.description;
    }
  }
}

}  // namespace
}  // namespace fwtool
