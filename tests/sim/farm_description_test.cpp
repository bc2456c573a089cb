// SPDX-License-Identifier: GPL-2.0-or-later
// The farm description: what good descriptions set, and what bad ones say.
#include <gtest/gtest.h>

#include <cstdio>

#include "simulator.h"

namespace fwtool::sim {
namespace {

TEST(FarmDescriptionTest, GoodDescriptionsSetTheUnits) {
  std::string error;
  auto units = ParseFarmDescription(
      " vqb719 , vqb719:maker=winbond:fw=embedded, chip=11:rev=5:bus=sbp2:cdrom,"
      "VQB717:size=128:jedec=C22210:protect=0:serial=AB12,"
      "chip=vqs175:fw=blank:fail-command=7:fail-match=ff0430:fail-match=df/ff,"
      "chip=8:stuck-busy:bit-error=2:vanish=40:power-loss=3:version=1.2.3,"
      "chip=8:stuck-busy=9:bit-error:fw=/tmp/x.bin,"
      "vqb719:slow:status-lost=12:read-flip=30",
      &error);
  ASSERT_TRUE(units) << error;
  ASSERT_EQ(units->size(), 8u);
  const auto& u = *units;
  EXPECT_EQ(u[0].chipType, 8);
  EXPECT_EQ(u[0].chipName, "vqb719");
  EXPECT_EQ(u[0].firmware, FirmwareSource::Older);
  EXPECT_EQ(u[0].bus, BusKind::Usb);
  EXPECT_EQ(u[1].maker, kMakerWinbond);
  EXPECT_EQ(u[1].firmware, FirmwareSource::Embedded);
  EXPECT_EQ(u[2].chipType, 11);
  EXPECT_EQ(u[2].subRev, 5);
  EXPECT_EQ(u[2].bus, BusKind::Sbp2);
  EXPECT_TRUE(u[2].cdrom);
  EXPECT_EQ(u[3].chipType, 7);
  EXPECT_EQ(u[3].flashKB, 128u);
  EXPECT_EQ(u[3].jedecId, (std::vector<uint8_t>{0xC2, 0x22, 0x10}));
  EXPECT_EQ(u[3].protect, false);
  EXPECT_EQ(u[3].serial, "AB12");
  EXPECT_EQ(u[4].chipType, 12);
  EXPECT_EQ(u[4].firmware, FirmwareSource::Blank);
  EXPECT_EQ(u[4].faults.failCommand, 7u);
  ASSERT_EQ(u[4].faults.failMatching.size(), 2u);
  EXPECT_EQ(u[4].faults.failMatching[0].length, 3);
  EXPECT_EQ(u[4].faults.failMatching[1].mask[0], 0xFF);
  EXPECT_EQ(u[5].faults.stuckBusyFrom, 1u);
  EXPECT_EQ(u[5].faults.programBitErrors, 2);
  EXPECT_EQ(u[5].faults.vanishAtCommand, 40u);
  EXPECT_EQ(u[5].faults.powerLossAtOperation, 3u);
  EXPECT_FALSE(u[5].faults.slowFlash);
  EXPECT_TRUE(u[7].faults.slowFlash);
  EXPECT_EQ(u[7].faults.statusLostAtCommand, 12u);
  EXPECT_EQ(u[7].faults.flipReadBitFrom, 30u);
  EXPECT_EQ(u[5].olderVersion, (std::array<uint8_t, 6>{1, 2, 3, 0, 0, 0}));
  EXPECT_EQ(u[6].faults.stuckBusyFrom, 9u);
  EXPECT_EQ(u[6].faults.programBitErrors, -1);
  EXPECT_EQ(u[6].firmware, FirmwareSource::File);
  EXPECT_EQ(u[6].firmwareFile, "/tmp/x.bin");
}

TEST(FarmDescriptionTest, BankAndRegisterItems) {
  std::string error;
  auto units = ParseFarmDescription(
      "vqs175:bank=bad0,vqs175:bank=bad1,vqs175:bank=bad,vqs175:bank=bad:bank=good,"
      "vq64765:reg=207",
      &error);
  ASSERT_TRUE(units) << error;
  const auto& u = *units;
  EXPECT_EQ(u[0].badBanks, (std::array<bool, 2>{true, false}));
  EXPECT_EQ(u[1].badBanks, (std::array<bool, 2>{false, true}));
  EXPECT_EQ(u[2].badBanks, (std::array<bool, 2>{true, true}));
  EXPECT_EQ(u[3].badBanks, (std::array<bool, 2>{false, false}));
  EXPECT_FALSE(u[3].regValue);
  EXPECT_EQ(u[4].regValue, 207);
}

TEST(FarmDescriptionTest, DiskItems) {
  std::string error;
  auto units = ParseFarmDescription(
      "vqb145:disk=500G:sector=4096:visible=1024:flag17,vqb145:disk=4294967301s:capacity=fail,"
      "vqb145:disk=64M:capacity=ff:identify=fail,vqs175:capacity=1000",
      &error);
  ASSERT_TRUE(units) << error;
  const auto& u = *units;
  EXPECT_EQ(u[0].diskBytes, 500ull << 30);
  EXPECT_EQ(u[0].sectorSize, 4096u);
  EXPECT_EQ(u[0].visibleSectors, 1024u);
  EXPECT_TRUE(u[0].flag17);
  EXPECT_EQ(u[1].diskSectors, 4'294'967'301ull);
  EXPECT_EQ(u[1].faults.capacity, CapacityAnswer::Fail);
  EXPECT_EQ(u[2].diskBytes, 64ull << 20);
  EXPECT_EQ(u[2].faults.capacity, CapacityAnswer::AllOnes);
  EXPECT_TRUE(u[2].faults.identifyFails);
  EXPECT_EQ(u[3].faults.capacity, CapacityAnswer::Lie);
  EXPECT_EQ(u[3].faults.capacityLie, 1000u);
  EXPECT_FALSE(u[3].diskBytes);
  EXPECT_EQ(u[3].sectorSize, 512u);
}

// A disk of the description: its size in sectors, the capacity shown while
// the unit runs firmware from it, and the firmware with its marker.
TEST(FarmDescriptionTest, DiskHostedUnitsKeepTheirFirmwareBehindTheCapacity) {
  std::string error;
  auto farm = SimFarm::Create(
      "vqb145:disk=1M:sector=4096,vqb145:disk=1M:fw=blank,"
      "vqb145:disk=1000s:visible=512",
      &error);
  ASSERT_TRUE(farm) << error;
  // 256 sectors of 4096 bytes: too small for a stretch, nothing hidden.
  EXPECT_EQ(farm->Controller(0).Disk().Sectors(), 256u);
  EXPECT_FALSE(farm->Controller(0).RunsFromDisk());
  EXPECT_EQ(farm->Controller(0).VisibleSectors(), 256u);
  // 2048 sectors of 512 bytes: the stretch from 1536 on, shown only while
  // the unit runs its firmware from there.
  EXPECT_EQ(farm->Controller(1).ReservedStart(), 1536u);
  EXPECT_FALSE(farm->Controller(1).RunsFromDisk());
  EXPECT_EQ(farm->Controller(1).VisibleSectors(), 2048u);
  EXPECT_TRUE(farm->Controller(2).RunsFromDisk());
  EXPECT_EQ(farm->Controller(2).VisibleSectors(), 512u);
  // The marker of sector 512 holds 512 + 257 = 769.
  const auto first = farm->Controller(2).Disk().Bytes(512, 512);
  EXPECT_EQ(std::vector<uint8_t>(first.begin() + 150, first.begin() + 156),
            (std::vector<uint8_t>{0x55, 0x00, 0x00, 0x03, 0x01, 0xAA}));
  EXPECT_TRUE(farm->Controller(2).Disk().Writes().empty());

  EXPECT_FALSE(SimFarm::Create("vqb145:disk=1000s:visible=600", &error));
  EXPECT_NE(error.find("visible= needs a multiple of 256 sectors"), std::string::npos) << error;
}

// A user's partition: an MBR in sector 0 with one entry (LBA-only CHS
// fields, type 83, first sector 2048, sector count little-endian, 55 AA at
// the end), and the partition's sectors in 32-byte rows that name them.
TEST(FarmDescriptionTest, APartitionFillsWhatTheHostIsShown) {
  std::string error;
  auto farm = SimFarm::Create(
      "vqb145:fw=blank:disk=1000000s:partition,vqb145:disk=1000000s:partition", &error);
  ASSERT_TRUE(farm) << error;
  auto row = [](uint64_t lba) {
    char text[33];
    std::snprintf(text, sizeof text, "user data sector %014llx\n",
                  static_cast<unsigned long long>(lba));
    return std::vector<uint8_t>(text, text + 32);
  };
  // The blank unit shows all 1,000,000 sectors: 997,952 = 0x000F3A40 in
  // the partition. The unit that runs from its disk shows 999,680:
  // 997,632 = 0x000F3900.
  const std::vector<uint8_t> counts[] = {{0x40, 0x3A, 0x0F, 0x00}, {0x00, 0x39, 0x0F, 0x00}};
  const uint64_t lastShown[] = {999'999, 999'679};
  for (size_t u = 0; u < 2; ++u) {
    const SimDisk& disk = farm->Controller(u).Disk();
    std::vector<uint8_t> mbr(512, 0);
    const std::vector<uint8_t> entry = {0x00, 0xFE, 0xFF, 0xFF, 0x83, 0xFE,
                                        0xFF, 0xFF, 0x00, 0x08, 0x00, 0x00};
    std::copy(entry.begin(), entry.end(), mbr.begin() + 446);
    std::copy(counts[u].begin(), counts[u].end(), mbr.begin() + 458);
    mbr[510] = 0x55;
    mbr[511] = 0xAA;
    EXPECT_EQ(disk.Bytes(0, 512), mbr) << "unit " << u;
    EXPECT_EQ(disk.Bytes(2047, 512), std::vector<uint8_t>(512, 0)) << "unit " << u;
    for (uint64_t lba : {uint64_t{2048}, uint64_t{654'321}, lastShown[u]}) {
      const auto sector = disk.Bytes(lba, 512);
      for (size_t at = 0; at < 512; at += 32)
        ASSERT_EQ(std::vector<uint8_t>(sector.begin() + at, sector.begin() + at + 32), row(lba))
            << "unit " << u << " sector " << lba;
    }
    EXPECT_NE(disk.Bytes(lastShown[u] + 1, 32), row(lastShown[u] + 1)) << "unit " << u;
    EXPECT_TRUE(disk.Writes().empty()) << "unit " << u;
  }
  EXPECT_FALSE(farm->Controller(0).RunsFromDisk());
  EXPECT_TRUE(farm->Controller(1).RunsFromDisk()) << "its firmware lies beyond the partition";

  EXPECT_FALSE(SimFarm::Create("vqb145:disk=2000s:partition", &error));
  EXPECT_NE(error.find("partition needs a disk the host is shown beyond sector 2048"),
            std::string::npos)
      << error;
}

TEST(FarmDescriptionTest, BadDescriptionsSayWhatIsWrongAndWhere) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "the description names no unit"},
      {"vqb719,,chip=3", "unit 2 is empty"},
      {"vqb7", "unit 1 (\"vqb7\") has \"vqb7\", which is neither a chip name nor an option"},
      {"maker=mxic", "unit 1 (\"maker=mxic\") names no chip"},
      {"chip=22", "has chip=\"22\": give a chip type 1 to 21 or a chip name"},
      {"chip=0", "has chip=\"0\": give a chip type 1 to 21 or a chip name"},
      {"vqb719:chip=11", "names its chip twice"},
      {"vqb719:rev=256", "has rev=\"256\": rev needs a number 0 to 255"},
      {"vqb719:maker=intel", "has maker=\"intel\": give pmc, sst"},
      {"vqb719:size=100", "has size=\"100\": size needs a number of KB, a power of two"},
      {"vqb719:jedec=c2z0", "has jedec=\"c2z0\": give 1 to 6 bytes in hex"},
      {"vqb719:bus=scsi", "has bus=\"scsi\": give usb or sbp2"},
      {"vqb719:cdrom=yes", "has cdrom=\"yes\": cdrom takes no value, 0 or 1"},
      {"vqb719:fail-command=0", "has fail-command=\"0\": fail-command needs a number from 1"},
      {"vqb719:vanish", "has \"vanish\" without a value (vanish=...)"},
      {"vqb719:fail-match=ff04/ffff00", "has fail-match=\"ff04/ffff00\": give the block's"},
      {"vqb719:version=1.2.3.4.5.6.7", "has version=\"1.2.3.4.5.6.7\": give up to six numbers"},
      {"vqb719::cdrom", "unit 1 (\"vqb719::cdrom\") has an empty item"},
      {"vqb719,chip=5:serial=", "unit 2 (\"chip=5:serial=\") has a serial that is empty"},
      {"vqs175:bank=bad2", "has bank=\"bad2\": give good, bad0, bad1 or bad (both)"},
      {"vqs175:bank", "has \"bank\" without a value (bank=...)"},
      {"vq64765:reg=256", "has reg=\"256\": reg needs a number 0 to 255"},
      {"vq64779:parallel=intel", "has parallel=\"intel\": give atmel, pmc or sst"},
      {"vqb145:disk=12X", "has disk=\"12X\": give a size such as 500G"},
      {"vqb145:disk=0", "has disk=\"0\": give a size"},
      {"vqb145:sector=520", "has sector=\"520\": sector needs a number of bytes, a power of two"},
      {"vqb145:capacity=some", "has capacity=\"some\": give fail, ff or the number of sectors"},
      {"vqb145:identify=slow", "has identify=\"slow\": give fail"},
      {"vqb145:visible=0", "has visible=\"0\": visible needs a number from 1"},
  };
  for (const auto& [text, expected] : cases) {
    std::string error;
    EXPECT_FALSE(ParseFarmDescription(text, &error)) << text;
    EXPECT_NE(error.find(expected), std::string::npos) << text << " -> " << error;
  }
}

TEST(FarmDescriptionTest, FarmSetUpFailuresNameTheUnit) {
  std::string error;
  EXPECT_FALSE(SimFarm::Create("vqb719,vqb719:fw=/nonexistent/image.bin", &error));
  EXPECT_NE(error.find("unit 2 (\"vqb719:fw=/nonexistent/image.bin\"): fw=/nonexistent/image.bin: "
                       "cannot open /nonexistent/image.bin"),
            std::string::npos)
      << error;
  SetEmbeddedImagePath("/nonexistent/VQB719FW.bin");
  EXPECT_FALSE(SimFarm::Create("vqb719:fw=embedded", &error));
  EXPECT_NE(error.find("fw=embedded: the bundled firmware image is missing"), std::string::npos)
      << error;
  SetEmbeddedImagePath("");
  EXPECT_FALSE(SimFarm::Create("vqb719:bank=bad1", &error));
  EXPECT_NE(error.find("bank= needs a chip whose flash holds two banks (vqs175)"),
            std::string::npos)
      << error;
  EXPECT_FALSE(SimFarm::Create("vqs175:size=64:bank=bad0", &error));
  EXPECT_NE(error.find("bank= needs a flash of two banks, 128 KB or more (this one has 64 KB)"),
            std::string::npos)
      << error;
}

// A firmware path that never ends (a character device) or a file larger than
// any flash: reading stops past 16 MB with a reason, not when memory runs out.
TEST(FarmDescriptionTest, EndlessOrOversizedFirmwareFileIsRefused) {
  std::string error;
  EXPECT_EQ(SimFarm::Create("vqb719:fw=/dev/zero", &error), nullptr);
  EXPECT_EQ(error,
            "unit 1 (\"vqb719:fw=/dev/zero\"): fw=/dev/zero: /dev/zero holds more than 16384 KB, "
            "more than any simulated flash")
      << error;
}

}  // namespace
}  // namespace fwtool::sim
