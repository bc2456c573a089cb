// SPDX-License-Identifier: GPL-2.0-or-later
// Over many disks (a few hundred sectors to beyond 2^32, 512- and 4096-byte
// sectors) and capacity answers that fail or lie: every sector a
// disk-hosted procedure writes lies inside the stretch the controller
// reserves at the end of its disk, or nothing is written and the status
// says why.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "disk_unit_fixture.h"

namespace fwtool {
namespace {

using testing::DiskUnitTest;
using testing::Pattern;

struct Disk {
  uint64_t sectors;
  uint32_t sectorSize;
};

constexpr Disk kDisks[] = {
    {300, 512},
    {1'000, 512},
    {5'000, 4096},
    {131'072, 512},
    {1'000'003, 4096},
    {0xFFFFFFFF, 512},
    {uint64_t{1} << 32, 512},
    {(uint64_t{1} << 32) + 5, 4096},
    {6'442'450'944, 512},
};

// The capacity answers: true, failing, all ones, and two lies.
std::vector<std::string> CapacityItems(const Disk& disk) {
  return {"",
          ":capacity=fail",
          ":capacity=ff",
          ":capacity=" + std::to_string(disk.sectors / 2 + 1),
          ":capacity=" + std::to_string(disk.sectors + 1000),
          ":identify=fail"};
}

class DiskWriteBounds : public DiskUnitTest {
 protected:
  // Runs clear and program on every variant of `chip`; `stretchStart` gives
  // the first sector the unit may have written (the disk's size when none).
  void Sweep(const std::string& chip,
             const std::function<uint64_t(sim::SimController&)>& stretchStart,
             int (*procedure)(const ProcedureRequest&, ProcedureHost&)) {
    const std::string file = dir.Write("fw.bin", Pattern(40'000, 21));
    int wrote = 0;
    for (const Disk& disk : kDisks) {
      for (const std::string& capacity : CapacityItems(disk)) {
        for (const char* variant : {"", ":flag17", ":fw=blank", ":flag17:fw=blank"}) {
          for (bool clear : {false, true}) {
            const std::string description = chip + ":disk=" + std::to_string(disk.sectors) +
                                            "s:sector=" + std::to_string(disk.sectorSize) +
                                            capacity + variant;
            ASSERT_TRUE(Create(description, 0.0)) << description;
            const uint64_t first = stretchStart(Unit());
            ProcedureRequest request = Request(file);
            request.options.eraseOnly = clear;
            const int result = procedure(request, host);
            const std::string what =
                description + (clear ? " clear: " : " program: ") + host.status;
            for (const auto& w : Writes()) {
              EXPECT_GE(w.lba, first) << what;
              EXPECT_LE(w.lba + w.count, disk.sectors) << what;
            }
            if (Writes().empty()) {
              EXPECT_EQ(result, 0) << what;
              EXPECT_FALSE(host.status.empty()) << what;
            } else {
              ++wrote;
            }
            if (result == 1) {
              EXPECT_FALSE(Writes().empty()) << what;
            }
          }
        }
      }
    }
    // The sweep is worth something only if many units were written. (A unit
    // on a disk of 2^32 sectors or more whose capacity cannot be read, or
    // reads where no marker is, is refused as on a smaller disk.)
    EXPECT_GT(wrote, 80);
  }
};

TEST_F(DiskWriteBounds, TheDiskHostedChipsWriteOnlyTheirReservedStretch) {
  auto start = [](sim::SimController& unit) { return unit.ReservedStart(); };
  Sweep("vqb145", start, &RunDiskHostedUpdate);
  Sweep("vq64775e:maker=unknown", start, &RunDiskHostedUpdate);
}

// Chip type 12 keeps its region in the last 3 MB of the disk.
TEST_F(DiskWriteBounds, ChipType12WritesOnlyTheLastThreeMegabytes) {
  Sweep(
      "vqs175",
      [](sim::SimController& unit) {
        const uint64_t tail = 3 * 1048576 / unit.Disk().SectorSize();
        const uint64_t sectors = unit.Disk().Sectors();
        return sectors > tail ? sectors - tail : sectors;
      },
      &RunVqs175DiskFirmwareUpdate);
}

}  // namespace
}  // namespace fwtool
