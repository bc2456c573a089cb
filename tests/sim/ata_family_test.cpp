// SPDX-License-Identifier: GPL-2.0-or-later
// The ATA PASS-THROUGH family of a simulated unit: information, IDENTIFY
// DEVICE, flash ranges that round-trip, erase with verify, the busy status,
// the flash configuration, and ILLEGAL REQUEST for what the unit lacks (the
// type-13 unit, reached only this way, refuses the FF 04 and DF blocks).
#include <gtest/gtest.h>

#include <algorithm>

#include "ata_commands.h"
#include "serial_flash_commands.h"
#include "sim_fixture.h"

namespace fwtool::sim::testing {
namespace {

using Bytes = std::vector<uint8_t>;

class AtaFamilyTest : public SimFixture {};

TEST_F(AtaFamilyTest, InformationIsTheChipInformationReplyIn512Bytes) {
  for (const char* chip : {"vqs713", "vqs175"}) {
    Build(chip);
    Bytes info(512, 0x55);
    ASSERT_EQ(AtaReadInfo(Path(), info.data(), 512), 1) << chip;
    Bytes chipInfo(16);
    ASSERT_EQ(In(Block({0xE0, 0xF4, 0xE7}), chipInfo), 1) << chip;
    EXPECT_EQ(info[0], 0xF4) << chip;
    EXPECT_EQ(info[1], 0xE7) << chip;
    EXPECT_EQ(Bytes(info.begin(), info.begin() + 16), chipInfo) << chip;
    EXPECT_TRUE(std::all_of(info.begin() + 16, info.end(), [](uint8_t b) { return b == 0; }));
    Bytes first(4);
    EXPECT_EQ(AtaGetChipInfo(Path(), first.data(), 4), 1);
    EXPECT_EQ(first, Bytes(chipInfo.begin(), chipInfo.begin() + 4));
  }
}

TEST_F(AtaFamilyTest, IdentifyReportsTheDisksSectorCount) {
  Build("vqs713");
  // READ CAPACITY(10) names the last block of the same disk.
  Bytes capacity(8);
  ASSERT_EQ(In(Block({0x25}), capacity), 1);
  const uint64_t blocks =
      ((uint64_t{capacity[0]} << 24) | (capacity[1] << 16) | (capacity[2] << 8) | capacity[3]) + 1;
  EXPECT_EQ(AtaDriveSectors(Path()), blocks);
  EXPECT_GT(blocks, 0u);
}

TEST_F(AtaFamilyTest, FlashRangesRoundTripAndEraseVerifies) {
  Build("vqs713:maker=winbond:size=128");
  const uint32_t size = 128 * 1024;
  EXPECT_EQ(AtaEraseAndVerify(Path(), size), kAtaRangeOk);
  const Bytes image = Pattern(size, 11);
  EXPECT_EQ(AtaWriteFlashRange(Path(), 0, image.data(), size), kAtaRangeOk);
  EXPECT_EQ(AtaWaitReady(Path()), 1);
  EXPECT_EQ(Unit().Flash().Contents(), image);
  Bytes back(size);
  EXPECT_EQ(AtaReadFlashRange(Path(), 0, back.data(), size), kAtaRangeOk);
  EXPECT_EQ(back, image);
  EXPECT_EQ(AtaEraseAndVerify(Path(), size), kAtaRangeOk);
  EXPECT_TRUE(std::all_of(Unit().Flash().Contents().begin(), Unit().Flash().Contents().end(),
                          [](uint8_t b) { return b == 0xFF; }));
}

TEST_F(AtaFamilyTest, EachRangeFailureHasItsCode) {
  struct Case {
    const char* fault;
    int erase;
    int write;
    int read;
  };
  const Case cases[] = {
      {"fail-match=a1060be7", kAtaEraseRefused, kAtaRangeOk, kAtaRangeOk},
      {"fail-match=a1080be8", kAtaReadFailed, kAtaRangeOk, kAtaReadFailed},
      {"fail-match=a10a03e9", kAtaRangeOk, kAtaWriteFailed, kAtaRangeOk},
  };
  const Bytes data = Pattern(16384, 5);
  for (const auto& c : cases) {
    Build(std::string("vqs713:") + c.fault);
    EXPECT_EQ(AtaEraseAndVerify(Path(), 65536), c.erase) << c.fault;
    EXPECT_EQ(AtaWriteFlashRange(Path(), 0, data.data(), 16384), c.write) << c.fault;
    Bytes back(16384);
    EXPECT_EQ(AtaReadFlashRange(Path(), 0, back.data(), 16384), c.read) << c.fault;
  }
}

TEST_F(AtaFamilyTest, TheWholeFlashEraseKeepsTheUnitBusyUntilItIsDone) {
  Build("vqs713:maker=st:size=128");
  Bytes status(512);
  ASSERT_EQ(AtaEraseFlash(Path()), 1);
  ASSERT_EQ(AtaVendorStatus(Path(), status.data()), 1);
  EXPECT_EQ(status[0] & 0x01, 0x01);
  EXPECT_EQ(AtaWaitReady(Path()), 1);
  ASSERT_EQ(AtaVendorStatus(Path(), status.data()), 1);
  EXPECT_EQ(status[0] & 0x01, 0x00);
  EXPECT_TRUE(std::all_of(Unit().Flash().Contents().begin(), Unit().Flash().Contents().end(),
                          [](uint8_t b) { return b == 0xFF; }));
}

TEST_F(AtaFamilyTest, OpcodesAndPageSizeConfigureTheControllersOwnWrites) {
  Build("vqs713:fw=blank:maker=sst:size=64");
  FlashProfile profile = FlashProfile::Zeroed();
  ASSERT_EQ(AtaDetectSpiFlash(Path(), profile), 1);
  ASSERT_EQ(AtaSetFlashOpcodes(Path(), profile), 1);
  EXPECT_EQ(Unit().FlashConfig().makerCode, 2);
  EXPECT_EQ(Unit().FlashConfig().chipEraseOpcode, 0x60);
  EXPECT_EQ(Unit().FlashConfig().blockEraseOpcode, 0x52);
  EXPECT_EQ(Unit().FlashConfig().programOpcode, 0xAF);
  // With the AAI opcode the controller programs the SST part byte by byte.
  const Bytes data = Pattern(8192, 9);
  EXPECT_EQ(AtaWriteFlashRange(Path(), 0, data.data(), 8192), kAtaRangeOk);
  EXPECT_EQ(AtaWaitReady(Path()), 1);
  EXPECT_EQ(Bytes(Unit().Flash().Contents().begin(), Unit().Flash().Contents().begin() + 8192),
            data);

  ASSERT_EQ(AtaSetFlashPageSize(Path(), 32), 1);
  EXPECT_EQ(Unit().FlashConfig().pageSize, 32u);
}

TEST_F(AtaFamilyTest, SpiInstructionsReachThePart) {
  Build("vqs713:fw=blank:maker=winbond:size=64");
  // Write enable, then the status read shows the latch.
  ASSERT_EQ(AtaSpiCommand(Path(), SpiRecord::Of(1, 0, 0x06)), 1);
  Bytes id(4);
  ASSERT_EQ(AtaSpiReadId(Path(), 0x05, id.data(), 2), 1);
  EXPECT_EQ(id[0] & 0x02, 0x02);
  ASSERT_EQ(AtaSpiReadId(Path(), 0x9F, id.data(), 4), 1);
  EXPECT_EQ(id, (Bytes{0xEF, 0x30, 0x10, 0xEF}));
}

TEST_F(AtaFamilyTest, WhatTheUnitDoesNotKnowIsAnIllegalRequest) {
  struct Case {
    const char* chip;
    Bytes block;
    uint8_t asc;
  };
  const Case cases[] = {
      {"vqs713", {0xA1, 0x08, 0x0B, 0xEB, 0x01, 0, 0, 0, 0xB0, 0xB0, 0, 0}, 0x24},
      {"vqs713", {0xA1, 0x08, 0x0B, 0x00, 0x01, 0, 0, 0, 0x40, 0xC8, 0, 0}, 0x24},
      // READ SECTORS EXT: the disk moves data with the DMA commands only.
      {"vqs713", {0x85, 0x09, 0x0B, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0x60, 0x24, 0}, 0x24},
      {"vqb719", {0xA1, 0x08, 0x0B, 0xEA, 0x01, 0, 0, 0, 0xB0, 0xB0, 0, 0}, 0x20},
      // The unit reached over ATA PASS-THROUGH knows none of the FF 04 and
      // DF blocks: chip id string, flash maker code, SPI pass-through,
      // configuration word, controller memory.
      {"vqs713", {0xFF, 0x04, 0x30, 0x08, 0, 0, 0, 0, 0, 0, 0, 0}, 0x20},
      {"vqs713", {0xFF, 0x04, 0x23, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0x20},
      {"vqs713", {0xFF, 0x04, 0x20, 0x01, 0x01, 0x9F, 0, 0, 0, 0, 0, 0}, 0x20},
      {"vqs713", {0xDF, 0x10, 0, 0, 0x02, 0, 0, 0, 0, 0, 0, 0xFF}, 0x20},
      {"vqs713", {0xDF, 0x10, 0, 0, 0x04, 0, 0xFD, 0xB0, 0, 0, 0, 0xFD}, 0x20},
  };
  for (const auto& c : cases) {
    Build(c.chip);
    Bytes data(512);
    EXPECT_EQ(In(c.block, data), 0) << c.chip;
    const auto& sense = LastCommand().sense;
    ASSERT_GE(sense.size(), 14u) << c.chip;
    EXPECT_EQ(sense[2], 0x05) << c.chip;
    EXPECT_EQ(sense[12], c.asc) << c.chip;
  }
}

}  // namespace
}  // namespace fwtool::sim::testing
