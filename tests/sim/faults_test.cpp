// SPDX-License-Identifier: GPL-2.0-or-later
// Each fault, seen only from the transport: a failed call, CHECK CONDITION,
// wrong data, a unit that cannot be opened.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>

#include "clock.h"
#include "disk_commands.h"
#include "enumeration.h"
#include "flash_commands.h"
#include "sim_fixture.h"

namespace fwtool::sim::testing {
namespace {

using Bytes = std::vector<uint8_t>;

class FaultsTest : public SimFixture {
 protected:
  void WaitReady() {
    uint8_t status = 1;
    for (int i = 0; i < 1000 && (status & 1); ++i) ReadFlashStatus(Path(), &status);
  }
};

TEST_F(FaultsTest, TheNthCommandFailsWithHardwareErrorAndHasNoEffect) {
  Build("vqb719:protect=0:fail-command=2");
  Unit().Flash().Load(Bytes(65536, 0x5A));
  const Bytes data(256, 0x00);
  uint8_t status = 0;
  ASSERT_EQ(ReadFlashStatus(Path(), &status), 1);                 // command 1
  EXPECT_EQ(WriteFlash(Path(), 0x8000, data.data(), 256, 0), 0);  // command 2
  EXPECT_EQ(LastCommand().scsiStatus, 2);
  EXPECT_EQ(LastCommand().sense[2], 0x04);
  EXPECT_EQ(LastCommand().sense[12], 0x44);
  EXPECT_EQ(Unit().Flash().Contents()[0x8000], 0x5A) << "the failed write left the flash alone";
  EXPECT_EQ(WriteFlash(Path(), 0x8000, data.data(), 256, 0), 1);  // command 3 works
  WaitReady();
  EXPECT_EQ(Unit().Flash().Contents()[0x8000], 0x00);
}

TEST_F(FaultsTest, BlocksMatchingAPatternAreRefusedAsUnknown) {
  Build("vqb719:fail-match=e0f4e7,chip=1:fail-match=ff0400/ffff0f");
  Bytes info(16);
  EXPECT_EQ(In(Block({0xE0, 0xF4, 0xE7}), info), 0);
  EXPECT_EQ(LastCommand().sense[12], 0x20);
  Bytes word(2);
  EXPECT_EQ(In(Block({0xDF, 0x10, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0xFF}), word), 1);
  // Mask: FF 04 3x is refused, FF 04 12 still answered.
  Bytes id(40);
  EXPECT_EQ(In(Block({0xFF, 0x04, 0x30, 0x08}), id, 1), 0);
  uint8_t status = 0;
  EXPECT_EQ(ReadFlashStatus(Path(1), &status), 1);
  EXPECT_EQ(In(Block({0xFF, 0x04, 0x23, 0x04}), word, 1), 1);
}

TEST_F(FaultsTest, AStuckBusyFlashNeverClearsAndFlashCommandsTimeOut) {
  Build("vqb719:stuck-busy=3");
  Bytes data(512);
  EXPECT_EQ(ReadFlash(Path(), 0, data.data(), 512), 1);  // commands 1, 2 before the fault
  uint8_t status = 0;
  EXPECT_EQ(ReadFlashStatus(Path(), &status), 1);
  EXPECT_EQ(ReadFlashStatus(Path(), &status), 1);
  EXPECT_EQ(status & 1, 1);
  clock->Advance(std::chrono::seconds(60));
  EXPECT_EQ(ReadFlashStatus(Path(), &status), 1);
  EXPECT_EQ(status & 1, 1);
  const Duration before = Now();
  EXPECT_EQ(ReadFlash(Path(), 0, data.data(), 512), 0);
  EXPECT_GE(Now() - before, std::chrono::seconds(10)) << "the host waited out the time-out";
  EXPECT_EQ(LastCommand().scsiStatus, 0);
  // A power cycle clears it.
  farm->PowerCycle(0);
  EXPECT_EQ(ReadFlashStatus(Path(), &status), 1);
  EXPECT_EQ(status & 1, 0);
}

TEST_F(FaultsTest, BitErrorsLeaveOneWrongBitPerProgrammingPass) {
  Build("vqb719:protect=0:bit-error=1");
  const Bytes image(4096, 0x00);
  ASSERT_EQ(WriteFlash(Path(), 0, image.data(), 4096, 1), 1);
  WaitReady();
  Bytes back(4096);
  ASSERT_EQ(ReadFlash(Path(), 0, back.data(), 4096), 1);
  int ones = 0;
  for (uint8_t b : back) ones += std::popcount(b);
  EXPECT_EQ(ones, 1);
  // The fault was for one program operation: a second pass is clean.
  ASSERT_EQ(WriteFlash(Path(), 0, image.data(), 4096, 1), 1);
  WaitReady();
  ASSERT_EQ(ReadFlash(Path(), 0, back.data(), 4096), 1);
  EXPECT_EQ(back, image);
}

TEST_F(FaultsTest, EveryProgrammingPassOfAWeakUnitLeavesABitWrong) {
  Build("vqb719:protect=0:bit-error");
  for (int pass = 0; pass < 3; ++pass) {
    const Bytes image(4096, static_cast<uint8_t>(0x11 * pass));
    ASSERT_EQ(WriteFlash(Path(), 0x2000, image.data(), 4096, 1), 1);
    WaitReady();
    Bytes back(4096);
    ASSERT_EQ(ReadFlash(Path(), 0x2000, back.data(), 4096), 1);
    EXPECT_NE(back, image) << pass;
  }
}

TEST_F(FaultsTest, AVanishingUnitCannotBeOpenedFromItsNthCommand) {
  Build("vqb719:vanish=3");
  auto watcher = farm->Watcher();
  std::vector<DeviceChangeEvent> events;
  watcher->Start([&](const DeviceChangeEvent& e) { events.push_back(e); });
  uint8_t status = 0;
  EXPECT_EQ(ReadFlashStatus(Path(), &status), 1);
  EXPECT_EQ(ReadFlashStatus(Path(), &status), 1);
  uint32_t moved = 12345;
  Bytes info(16);
  EXPECT_EQ(In(Block({0xE0, 0xF4, 0xE7}), info, 0, &moved), 0);
  EXPECT_EQ(moved, 12345u) << "an unopenable device moves nothing";
  EXPECT_EQ(In(Block({0xE0, 0xF4, 0xE7}), info), 0);
  EXPECT_EQ(Unit().Log().size(), 2u) << "nothing reached the unit after it left";
  EXPECT_TRUE(farm->DiskInterfaces().empty());
  watcher->Dispatch();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].event, kDeviceRemoveComplete);
  EXPECT_EQ(events[0].deviceType, kDeviceTypeInterface);
  // Plugged in again it answers.
  farm->Unplug(0);
  farm->Plug(0);
  EXPECT_EQ(In(Block({0xE0, 0xF4, 0xE7}), info), 1);
}

TEST_F(FaultsTest, PowerLossDuringAnEraseLeavesTheUnitHalfErasedAndGone) {
  // Operation 1 is the erase of the 4 KB unit at 0x1000.
  Build("vqb719:protect=0:power-loss=1");
  const Bytes old = Unit().Flash().Contents();
  const Bytes image(4096, 0x00);
  EXPECT_EQ(WriteFlash(Path(), 0x1000, image.data(), 4096, 1), 1);
  uint8_t status = 0;
  EXPECT_EQ(ReadFlashStatus(Path(), &status), 0);
  farm->PowerCycle(0);
  Bytes back(4096);
  ASSERT_EQ(ReadFlash(Path(), 0x1000, back.data(), 4096), 1);
  EXPECT_TRUE(std::all_of(back.begin(), back.begin() + 2048, [](uint8_t b) { return b == 0xFF; }));
  EXPECT_TRUE(std::equal(back.begin() + 2048, back.end(), old.begin() + 0x1800));
  // The firmware's signature block was in that unit: the unit now runs its
  // internal code.
  EXPECT_FALSE(Unit().RunsFromFlash());
}

TEST_F(FaultsTest, PowerLossDuringAProgramLeavesThePagePartlyProgrammed) {
  // Operation 1 is the erase of the 4 KB unit at 0x3000, 2 the first page.
  Build("vqb719:protect=0:power-loss=2");
  const Bytes image(4096, 0x00);
  EXPECT_EQ(WriteFlash(Path(), 0x3000, image.data(), 4096, 1), 1);
  farm->PowerCycle(0);
  Bytes back(512);
  ASSERT_EQ(ReadFlash(Path(), 0x3000, back.data(), 512), 1);
  EXPECT_TRUE(std::all_of(back.begin(), back.begin() + 128, [](uint8_t b) { return b == 0x00; }));
  EXPECT_TRUE(std::all_of(back.begin() + 128, back.end(), [](uint8_t b) { return b == 0xFF; }))
      << "the second half of the page and the pages queued after it were never programmed";
}

TEST_F(FaultsTest, PowerLossDuringADiskWriteLeavesHalfItsSectorsAndTheUnitGone) {
  // Write 1 goes through; the power drops in write 2, of eight sectors.
  Build("vqb145:disk=64M:power-loss-write=2");
  const Bytes first(512, 0x11);
  const Bytes second(8 * 512, 0x22);
  EXPECT_EQ(Write10(Path(), first.data(), 100, 512, 512), 1);
  EXPECT_EQ(Write10(Path(), second.data(), 200, 8 * 512, 512), 0) << "the command never ends";
  EXPECT_FALSE(Unit().Present());
  EXPECT_EQ(Unit().DiskWrites(), 2u);
  farm->PowerCycle(0);
  EXPECT_EQ(Unit().Disk().Bytes(100, 512), first);
  EXPECT_EQ(Unit().Disk().Bytes(200, 4 * 512), Bytes(4 * 512, 0x22));
  EXPECT_EQ(Unit().Disk().Bytes(204, 4 * 512), Bytes(4 * 512, 0x00))
      << "the second half of the write never reached the disk";
}

TEST_F(FaultsTest, AUnitPulledOutWhileItErasesKeepsThePartDone) {
  // Command 1 starts the erase and program of 0x4000..0x4FFF; command 2
  // finds the unit gone a quarter into the erase.
  Build("vqb719:protect=0:vanish=2");
  const Bytes old = Unit().Flash().Contents();
  const Bytes image(4096, 0x00);
  const Duration start = Now();
  EXPECT_EQ(WriteFlash(Path(), 0x4000, image.data(), 4096, 1), 1);
  const Duration erase = Unit().Flash().Part().EraseTime(4096);
  clock->Advance(start + erase / 4 - Now());
  uint8_t status = 0;
  EXPECT_EQ(ReadFlashStatus(Path(), &status), 0);
  farm->Unplug(0);
  farm->Plug(0);
  const Bytes after = Unit().Flash().Contents();
  const auto firstOld = std::find_if(after.begin() + 0x4000, after.begin() + 0x5000,
                                     [](uint8_t b) { return b != 0xFF; });
  const size_t erased = static_cast<size_t>(firstOld - (after.begin() + 0x4000));
  EXPECT_GT(erased, 0u);
  EXPECT_LT(erased, 4096u);
  EXPECT_TRUE(std::equal(after.begin() + 0x4000 + erased, after.begin() + 0x5000,
                         old.begin() + 0x4000 + erased))
      << "the rest of the sector keeps its old bytes";
}

TEST_F(FaultsTest, ALostStatusLeavesTheWorkDoneAndTheHostSeeingAFailure) {
  Build("vqb719:protect=0:status-lost=1");
  const Bytes image(4096, 0x00);
  const Duration start = Now();
  EXPECT_EQ(WriteFlash(Path(), 0x6000, image.data(), 4096, 1), 0);
  EXPECT_GE(Now() - start, std::chrono::seconds(50)) << "the host waited out the time-out";
  WaitReady();
  const Bytes after = Unit().Flash().Contents();
  EXPECT_TRUE(std::equal(image.begin(), image.end(), after.begin() + 0x6000));
}

TEST_F(FaultsTest, AFlippedReadBitShowsOnceInTheDataNotInTheFlash) {
  Build("vqb719:read-flip=2");
  const Bytes flash = Unit().Flash().Contents();
  uint8_t status = 0;
  ASSERT_EQ(ReadFlashStatus(Path(), &status), 1);  // command 1
  Bytes first(8192);
  ASSERT_EQ(ReadFlash(Path(), 0, first.data(), 8192), 1);  // command 2
  int differing = 0;
  for (size_t i = 0; i < first.size(); ++i)
    differing += std::popcount(uint8_t(first[i] ^ flash[i]));
  EXPECT_EQ(differing, 1);
  Bytes second(8192);
  ASSERT_EQ(ReadFlash(Path(), 0, second.data(), 8192), 1);
  EXPECT_TRUE(std::equal(second.begin(), second.end(), flash.begin()));
}

TEST_F(FaultsTest, ASlowPartKeepsAChipEraseBusyPastTheHostsReadyWait) {
  Build("vqb719:size=512:protect=0:slow");
  const Bytes image(4096, 0x00);
  const Duration start = Now();
  ASSERT_EQ(WriteFlash(Path(), 0, image.data(), 4096, 3), 1);
  // The host's wait: 500 re-reads 10 ms apart.
  uint8_t status = 0;
  for (int i = 0; i < 500; ++i) {
    ASSERT_EQ(ReadFlashStatus(Path(), &status), 1);
    clock->Advance(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(ReadFlashStatus(Path(), &status), 1);
  EXPECT_EQ(status & 1, 1) << "still erasing when the host gives up waiting";
  EXPECT_GT(Unit().Flash().ReadyAt() - start, std::chrono::milliseconds(7000));
}

}  // namespace
}  // namespace fwtool::sim::testing
