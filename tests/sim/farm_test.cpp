// SPDX-License-Identifier: GPL-2.0-or-later
// The farm: paths and enumeration, hot-plug events, the units' factory
// firmware, fw=embedded, saved state, the command log and the time scale.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "clock.h"
#include "command_block.h"
#include "disk_commands.h"
#include "enumeration.h"
#include "firmware_version_place.h"
#include "flash_commands.h"
#include "pass_through.h"
#include "sim_fixture.h"
#include "transport.h"

namespace fwtool::sim::testing {
namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

fs::path TempDir(const std::string& name) {
  const fs::path dir =
      fs::temp_directory_path() / ("fwtool-sim-" + name + "-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

Bytes ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class FarmTest : public SimFixture {};

TEST_F(FarmTest, PathsNameTheBusAndTheInterfaceAndEnumerationListsThem) {
  Build("vqb719,chip=7:bus=sbp2:cdrom,chip=11");
  EXPECT_EQ(Path(0), "sim:usbsto#disk&ven_talve&prod_vqb719#0");
  EXPECT_EQ(Path(1), "sim:sbp2#disk&ven_talve&prod_vqb717#1");
  EXPECT_EQ(farm->Unit(1).cdromPath, "sim:sbp2#cdrom&ven_talve&prod_vqb717#1");
  EXPECT_EQ(Path(2), "sim:usbsto#disk&ven_talve&prod_vqs118#2");
  auto enumerator = farm->Enumerator();
  EXPECT_EQ(enumerator->DiskInterfaces(), (std::vector<std::string>{Path(0), Path(1), Path(2)}));
  EXPECT_EQ(enumerator->CdromInterfaces(), (std::vector<std::string>{farm->Unit(1).cdromPath}));
  EXPECT_EQ(farm->FindUnit("SIM:USBSTO#DISK&VEN_TALVE&PROD_VQB719#0"), &farm->Unit(0));
  Bytes data(4);
  EXPECT_EQ(SendCommandIn("sim:usbsto#disk&ven_talve&prod_vqb719#9", Block({0x00}).data(), 12,
                          data.data(), 0, nullptr),
            0);
}

TEST_F(FarmTest, PlugUnplugResetAndNewUnitsReachTheWatcher) {
  Build("vqb719:cdrom");
  auto watcher = farm->Watcher();
  std::vector<DeviceChangeEvent> events;
  ASSERT_TRUE(watcher->Start([&](const DeviceChangeEvent& e) { events.push_back(e); }));
  farm->Unplug(0);
  EXPECT_TRUE(farm->DiskInterfaces().empty());
  EXPECT_EQ(SendCommandIn(Path(), Block({0x00}).data(), 12, nullptr, 0, nullptr), 0);
  farm->Plug(0);
  watcher->Dispatch();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[0].event, kDeviceRemoveComplete);
  EXPECT_EQ(events[0].path, Path());
  EXPECT_EQ(events[1].path, farm->Unit(0).cdromPath);
  EXPECT_EQ(events[2].event, kDeviceArrival);
  EXPECT_EQ(events[2].deviceType, kDeviceTypeInterface);
  events.clear();

  // A reset: the unit leaves at once and comes back after its re-attach time.
  ASSERT_EQ(ResetDevice(Path()), 1);
  watcher->Dispatch();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].event, kDeviceRemoveComplete);
  EXPECT_EQ(watcher->Pending(), 2u);
  clock->Advance(Unit().Timings().reattachDelay);
  watcher->Dispatch();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[3].event, kDeviceArrival);
  events.clear();

  std::string error;
  ASSERT_TRUE(farm->AddUnits("chip=12", &error)) << error;
  watcher->Dispatch();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].path, Path(1));
  EXPECT_EQ(farm->DiskInterfaces().size(), 2u);
}

TEST_F(FarmTest, AVqb719LeavesTheFactoryWithItsOwnSettingsInTheHeader) {
  Build("vqb719,vqb719:serial=TALVE-0042");
  const Bytes& flash = Unit(0).Flash().Contents();
  EXPECT_EQ(flash[126], 'V');
  EXPECT_EQ(flash[127], 'Q');
  const std::string serial(flash.begin() + kHeaderSerialOffset,
                           flash.begin() + kHeaderSerialOffset + 16);
  EXPECT_EQ(serial, "SN=SIM719-000001");
  const std::string other(Unit(1).Flash().Contents().begin() + kHeaderSerialOffset,
                          Unit(1).Flash().Contents().begin() + kHeaderSerialOffset + 13);
  EXPECT_EQ(other, "SN=TALVE-0042");
  // The serial and the USB texts sit where an update keeps the unit's bytes.
  for (uint8_t position : kImageOwnedHeaderBytes) {
    EXPECT_FALSE(position >= kHeaderSerialOffset &&
                 position < kHeaderSerialOffset + kHeaderSerialLength);
    EXPECT_FALSE(position >= kHeaderUsbTextOffset &&
                 position < kHeaderUsbTextOffset + kHeaderUsbTextLength);
  }
  // Parameter records carry valid checksums.
  for (uint32_t at : {0x100u, 0x114u, 0x140u, 0x1A0u, 0x200u, 0x260u, 0x2C0u, 0x320u, 0x380u}) {
    const uint16_t crc = Crc16OverWords(std::span(flash).subspan(at + 4, 4u * flash[at + 2]));
    EXPECT_EQ(flash[at] | (flash[at + 1] << 8), crc) << std::hex << at;
  }
  EXPECT_EQ(Bytes(flash.begin() + 0x1000, flash.begin() + 0x1007),
            (Bytes{0x55, 0xAA, 0xAA, 0x55, '7', '1', '9'}));
  const auto version = OlderFirmwareVersion(8);
  EXPECT_EQ(
      Bytes(flash.begin() + kFirmwareVersionOffset, flash.begin() + kFirmwareVersionOffset + 6),
      Bytes(version.begin(), version.end()));
  EXPECT_TRUE(Unit(0).RunsFromFlash());
  // Checksum example of the firmware's CRC-16.
  const Bytes abcd = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(Crc16OverWords(abcd), 0x40D7);
}

// The 4 KB settings area of each unit holds bytes of its own: behind the
// header's records at 0, or at 0xC000 of each bank on the dual-bank chip.
TEST_F(FarmTest, EachUnitsSettingsAreaIsItsOwn) {
  struct Case {
    const char* units;
    uint32_t area;
    uint32_t ownFrom;  // the bytes before are the header the update merges
  };
  for (const Case& c : {Case{"vqb719,vqb719", 0, 0x400}, Case{"vqs118,vqs118", 0, 0x400},
                        Case{"vqs175,vqs175", 0xC000, 0xC000}}) {
    SCOPED_TRACE(c.units);
    Build(c.units);
    ASSERT_EQ(NvramAddress(Unit(0).Profile()), c.area);
    const Bytes& first = Unit(0).Flash().Contents();
    const Bytes& second = Unit(1).Flash().Contents();
    const Bytes a(first.begin() + c.ownFrom, first.begin() + c.area + kNvramSize);
    const Bytes b(second.begin() + c.ownFrom, second.begin() + c.area + kNvramSize);
    EXPECT_NE(a, b);
    EXPECT_GT(std::count_if(a.begin(), a.end(), [](uint8_t x) { return x != 0xFF; }), 3000);
    // The same unit is made the same way every time.
    Build(c.units);
    EXPECT_EQ(Bytes(Unit(0).Flash().Contents().begin() + c.ownFrom,
                    Unit(0).Flash().Contents().begin() + c.area + kNvramSize),
              a);
  }
  // The dual-bank unit: its serial in the area, a copy in the second bank,
  // both banks still valid.
  Build("vqs175");
  const Bytes& flash = Unit().Flash().Contents();
  EXPECT_EQ(std::string(flash.begin() + 0xC000 + kHeaderSerialOffset,
                        flash.begin() + 0xC000 + kHeaderSerialOffset + 16),
            "SN=SIM175-000001");
  EXPECT_TRUE(std::equal(flash.begin() + 0xC000, flash.begin() + 0xD000, flash.begin() + 0x1C000));
  EXPECT_TRUE(Unit().RunsFromFlash());
  EXPECT_FALSE(NvramAddress(ChipProfileFor(7, 1)).has_value());
}

TEST_F(FarmTest, ADualBankUnitBootsTheBankThatIsLeft) {
  const Bytes bank = {0x55, 0xAA, 0xAA, 0x55, '1', '7', '5'};
  Build("vqs175:bank=bad0:version=0.0.1.2.3.4");
  EXPECT_TRUE(Unit().RunsFromFlash());
  EXPECT_EQ(Unit().ReportedVersion(), (std::array<uint8_t, 6>{0, 0, 1, 2, 3, 4}));
  // The spoiled bank keeps its signature block; a 4 KB sector in its middle
  // reads erased.
  const Bytes& flash = Unit().Flash().Contents();
  EXPECT_EQ(Bytes(flash.begin() + 0xBFF0, flash.begin() + 0xBFF7), bank);
  EXPECT_TRUE(std::all_of(flash.begin() + 0x8000, flash.begin() + 0x9000,
                          [](uint8_t b) { return b == 0xFF; }));
  EXPECT_FALSE(std::all_of(flash.begin() + 0x18000, flash.begin() + 0x19000,
                           [](uint8_t b) { return b == 0xFF; }));
  Build("vqs175:bank=bad");
  EXPECT_FALSE(Unit().RunsFromFlash());
  EXPECT_EQ(Unit().ReportedVersion(), Unit().Profile().romVersion);
}

TEST_F(FarmTest, TheRegisterValueOfTheControllerInformation) {
  Build("vq64765,vq64765:reg=207");
  Bytes info(18, 0);
  EXPECT_EQ(ReadControllerInfo(Path(0), info.data(), 18), 208);
  EXPECT_EQ(ReadControllerInfo(Path(1), info.data(), 18), 207);
}

TEST_F(FarmTest, EmbeddedFirmwareIsTheBundledFileByteForByte) {
  Bytes image = Pattern(65056, 719);
  const Bytes signature = {0x55, 0xAA, 0xAA, 0x55, '7', '1', '9', '1', 0, 0, 4, 2, 0, 16, 0, 0};
  std::copy(signature.begin(), signature.end(), image.begin() + 0x1000);
  const fs::path dir = TempDir("embedded");
  {
    std::ofstream out(dir / "VQB719FW.bin", std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.size()));
  }
  SetEmbeddedImagePath((dir / "VQB719FW.bin").string());
  Build("vqb719:maker=winbond:fw=embedded");
  SetEmbeddedImagePath("");
  const Bytes& flash = Unit().Flash().Contents();
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
  EXPECT_TRUE(std::all_of(flash.begin() + 65056, flash.end(), [](uint8_t b) { return b == 0xFF; }));
  EXPECT_EQ(Unit().ReportedVersion(), (std::array<uint8_t, 6>{4, 2, 0, 16, 0, 0}));
  EXPECT_EQ(Unit().Flash().Part().makerCode, kMakerWinbond);
  fs::remove_all(dir);
}

TEST_F(FarmTest, TheBundledImageBootsWithItsOwnVersion) {
  std::string error;
  const auto image = LoadEmbeddedImageFile(&error);
  ASSERT_TRUE(image) << error;
  Build("vqb719:maker=winbond:fw=embedded");
  EXPECT_TRUE(std::equal(image->begin(), image->end(), Unit().Flash().Contents().begin()));
  ASSERT_TRUE(Unit().RunsFromFlash());
  EXPECT_TRUE(std::equal(Unit().ReportedVersion().begin(), Unit().ReportedVersion().end(),
                         image->begin() + kFirmwareVersionOffset));
}

TEST_F(FarmTest, SavedStateComesBackInTheNextRun) {
  const fs::path dir = TempDir("state");
  Build("vqb719,chip=11");
  Bytes head(Unit().Flash().Contents().begin() + 0x1000,
             Unit().Flash().Contents().begin() + 0x2000);
  head[0x0A] = 42;
  ASSERT_EQ(WriteFlash(Path(), 0x1000, head.data(), 4096, 0x81), 1);
  ASSERT_EQ(WriteMemory(Path(), Bytes{0xAB}.data(), 0x3000, 1), 1);
  clock->Advance(std::chrono::seconds(2));
  const Bytes written = Unit().Flash().Contents();
  std::string error;
  ASSERT_TRUE(farm->SaveState(dir.string(), &error)) << error;

  Build("vqb719,chip=11");
  EXPECT_NE(Unit().Flash().Contents(), written);
  ASSERT_TRUE(farm->LoadState(dir.string(), &error)) << error;
  EXPECT_EQ(Unit().Flash().Contents(), written);
  EXPECT_EQ(Unit().ReportedVersion()[0], 42) << "the unit boots what the flash now holds";
  Bytes ram(1);
  ASSERT_EQ(ReadMemory(Path(), ram.data(), 0x3000, 1), 1);
  EXPECT_EQ(ram[0], 0xAB);
  EXPECT_EQ(Unit().Flash().NonVolatileStatus() & kStatusProtectBits,
            Unit().Flash().Part().protectBits)
      << "the boot code protected the part again";

  // State of other units is refused with a reason; an empty place is fine.
  Build("chip=12");
  fs::copy_file(dir / "unit0-vqb719.json", dir / "unit0-vqs175.json");
  EXPECT_FALSE(farm->LoadState(dir.string(), &error));
  EXPECT_NE(error.find("belongs to chip type 8"), std::string::npos) << error;
  EXPECT_TRUE(farm->LoadState((dir / "nothing-here").string(), &error));
  fs::remove_all(dir);
}

// State is loaded only from where it could be saved, and read as every
// file of the user's own: a FIFO would hang the run, a link would read
// another file.
TEST_F(FarmTest, StateIsLoadedOnlyFromWhereItCouldBeSaved) {
  Build("vqb719");
  const fs::path real = TempDir("state-real");
  const fs::path file = real / "unit0-vqb719.json";
  struct Case {
    const char* name;
    std::function<fs::path()> make;  // the folder given
    std::string error;
  };
  const Case cases[] = {
      {"a folder others may write into",
       [&] {
         fs::permissions(real, fs::perms::all);
         return real;
       },
       real.string() +
           " is not a folder of this user's own: other users may write into the folder"},
      {"a link to a folder",
       [&] {
         const fs::path link = real.string() + "-link";
         fs::create_directory_symlink(real, link);
         return link;
       },
       real.string() + "-link is a link or a file, not a folder"},
      {"a FIFO for the unit's file",
       [&] {
         ::mkfifo(file.c_str(), 0600);
         return real;
       },
       "cannot read " + file.string() + ": not a regular file"},
      {"a link for the unit's file",
       [&] {
         std::ofstream(real / "elsewhere.json") << "{}";
         fs::create_symlink(real / "elsewhere.json", file);
         return real;
       },
       "cannot read " + file.string() + ": a link; it is not read through links"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(real);
    fs::remove_all(real.string() + "-link");
    fs::create_directories(real);
    fs::permissions(real, fs::perms::owner_all);
    const fs::path given = c.make();
    std::string error;
    EXPECT_FALSE(farm->LoadState(given.string(), &error));
    EXPECT_EQ(error, c.error);
  }
  fs::remove_all(real);
  fs::remove_all(real.string() + "-link");
}

// The parallel part and the disk are kept too, each in a file of its own
// (0600 like the others): the part's 64 KB as they are, and of the disk only
// the sectors that differ from an unwritten one, each as its number (8
// bytes, least significant first) and its bytes, in order.
TEST_F(FarmTest, TheParallelPartAndTheDisksSectorsComeBackFromFilesOfTheirOwn) {
  const fs::path dir = TempDir("disk-state");
  const std::string units = "vq64779:parallel=sst,vqb145:fw=blank:disk=1000000s:partition";
  Build(units);
  const Bytes parallel = Pattern(65536, 31);
  Unit(0).Parallel()->Load(parallel);
  const Bytes outside = Pattern(512, 32);
  const Bytes inside = Pattern(1024, 33);
  ASSERT_EQ(Write10(Path(1), outside.data(), 5, 512, 512), 1);
  ASSERT_EQ(Write10(Path(1), inside.data(), 2048, 1024, 512), 1);
  // A sector written with what the partition held there takes no room.
  const Bytes same = Unit(1).Disk().Bytes(4096, 512);
  ASSERT_EQ(Write10(Path(1), same.data(), 4096, 512, 512), 1);
  std::string error;
  ASSERT_TRUE(farm->SaveState(dir.string(), &error)) << error;

  Bytes records;
  for (uint64_t lba : {uint64_t{5}, uint64_t{2048}, uint64_t{2049}}) {
    for (int i = 0; i < 8; ++i) records.push_back(static_cast<uint8_t>(lba >> (8 * i)));
    const Bytes& from = lba == 5 ? outside : inside;
    const size_t at = lba == 2049 ? 512 : 0;
    records.insert(records.end(), from.begin() + at, from.begin() + at + 512);
  }
  EXPECT_EQ(ReadBytes(dir / "unit1-vqb145.disk"), records);
  EXPECT_EQ(ReadBytes(dir / "unit0-vq64779.parallel"), parallel);
  for (const char* name : {"unit1-vqb145.disk", "unit0-vq64779.parallel"})
    EXPECT_EQ(fs::status(dir / name).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write)
        << name;

  Build(units);
  ASSERT_TRUE(farm->LoadState(dir.string(), &error)) << error;
  EXPECT_EQ(Unit(0).Parallel()->Contents(), parallel);
  EXPECT_EQ(Unit(1).Disk().Bytes(5, 512), outside);
  EXPECT_EQ(Unit(1).Disk().Bytes(2048, 1024), inside);
  EXPECT_EQ(Unit(1).Disk().Bytes(4096, 512), same);

  // Another disk is refused with a reason.
  Build("vq64779:parallel=sst,vqb145:fw=blank:disk=1000000s");
  EXPECT_FALSE(farm->LoadState(dir.string(), &error));
  EXPECT_NE(error.find("belongs to another disk than this unit's (1000000 sectors of 512 bytes)"),
            std::string::npos)
      << error;
  fs::remove_all(dir);
}

TEST_F(FarmTest, TheCommandLogKeepsEveryBlockInOrderWithItsData) {
  Build("vqb719,chip=11");
  uint8_t status = 0;
  ASSERT_EQ(ReadFlashStatus(Path(1), &status), 1);
  ASSERT_EQ(WriteMemory(Path(0), Bytes{1, 2, 3}.data(), 0x4000, 3), 1);
  Bytes info(16);
  EXPECT_EQ(In(Block({0xC1}), info, 1), 0);
  const auto log = farm->CommandLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].path, Path(1));
  EXPECT_EQ(log[0][2], 0x12);
  EXPECT_EQ(log[0].length, 2u);
  EXPECT_EQ(log[1].path, Path(0));
  EXPECT_EQ(log[1][11], 0xFE);
  EXPECT_EQ(log[1].direction, DataDirection::Out);
  EXPECT_EQ(log[1].dataOut, (Bytes{1, 2, 3}));
  EXPECT_EQ(log[2].scsiStatus, 2);
  EXPECT_EQ(log[2].number, 2u);
  EXPECT_LT(log[0].at, log[1].at);
  farm->ClearCommandLog();
  EXPECT_TRUE(farm->CommandLog().empty());
}

TEST_F(FarmTest, TheTimeScaleShortensBusAndFlashTime) {
  Build("vqb719:protect=0");
  farm->SetTimeScale(0.1);
  const Bytes block(4096, 0);
  const Duration before = Now();
  ASSERT_EQ(WriteFlash(Path(), 0x1000, block.data(), 4096, 1), 1);
  const auto& part = Unit().Flash().Part();
  const FloorOp ops[] = {{FloorOpKind::Command, 4096, 1},
                         {FloorOpKind::Erase, 4096, 1},
                         {FloorOpKind::Program, 4096, 1}};
  const Duration floor = PhysicalFloor(Unit().Timings(), part, ops);
  const Duration spent = Unit().Flash().ReadyAt() - before;
  EXPECT_NEAR(std::chrono::duration<double>(spent).count(),
              std::chrono::duration<double>(floor).count() * 0.1, 1e-6);
}

TEST_F(FarmTest, DescribeListsEachUnit) {
  Build("vqb719,chip=12:fw=blank:cdrom");
  const std::string text = farm->Describe();
  EXPECT_NE(text.find("sim:usbsto#disk&ven_talve&prod_vqb719#0  chip 8 rev 0 (VQB711/719 Series), "
                      "MXIC serial flash 64 KB (mxic), firmware 5.3.1.16.0.0"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("internal code, with a CD-ROM interface"), std::string::npos) << text;
}

}  // namespace
}  // namespace fwtool::sim::testing
