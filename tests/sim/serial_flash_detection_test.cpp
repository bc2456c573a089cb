// SPDX-License-Identifier: GPL-2.0-or-later
// Recognising the flash part of a simulated unit by its own identification
// instructions, through the controller's SPI pass-through and through ATA
// PASS-THROUGH: maker code, opcodes and size for every maker's parts, the
// AMIC and Atmel kind reads, and units that answer nothing or refuse.
#include <gtest/gtest.h>

#include <string>

#include "ata_commands.h"
#include "serial_flash_commands.h"
#include "sim_fixture.h"

namespace fwtool::sim::testing {
namespace {

// The route the identification instructions take.
struct Route {
  const char* chip;  // a chip of the family that has the route
  int (*detect)(std::string_view, FlashProfile&);
  int (*detectSize)(std::string_view, FlashProfile&);
};

const Route kSpiRoute = {"vqb713", DetectSpiFlash, DetectSpiFlashSize};
const Route kAtaRoute = {"vqs713", AtaDetectSpiFlash, AtaDetectSpiFlashSize};

FlashProfile Expected(uint8_t maker, int32_t kb) {
  FlashProfile p;
  p.makerCode = maker;
  p.sizeKB = kb;
  return p;
}

FlashProfile WithOpcodes(FlashProfile p, uint8_t chipErase, uint8_t blockErase, uint8_t program,
                         uint8_t sectorErase = 0x20) {
  p.chipEraseOpcode = chipErase;
  p.blockEraseOpcode = blockErase;
  p.programOpcode = program;
  p.sectorEraseOpcode = sectorErase;
  return p;
}

void ExpectProfile(const FlashProfile& actual, const FlashProfile& expected,
                   const std::string& name) {
  EXPECT_EQ(actual.makerCode, expected.makerCode) << name;
  EXPECT_EQ(actual.sizeKB, expected.sizeKB) << name;
  EXPECT_EQ(actual.chipEraseOpcode, expected.chipEraseOpcode) << name;
  EXPECT_EQ(actual.blockEraseOpcode, expected.blockEraseOpcode) << name;
  EXPECT_EQ(actual.programOpcode, expected.programOpcode) << name;
  EXPECT_EQ(actual.sectorEraseOpcode, expected.sectorEraseOpcode) << name;
}

struct DetectionCase {
  const char* part;  // the unit's flash items
  FlashProfile expected;
  int detected = 1;  // what the detection returns
};

// Every maker's parts as the datasheets have them answer, and the older
// parts that answer only the older instructions.
const DetectionCase kMakerCases[] = {
    {"maker=pmc:size=64", Expected(1, 64)},  // 7F 9D 20
    {"maker=pmc:size=256", Expected(1, 256)},
    {"maker=pmc:jedec=ff", Expected(1, 64)},                                // 0xAB: 9D 7B
    {"maker=sst:size=64", WithOpcodes(Expected(2, 64), 0x60, 0x52, 0xAF)},  // 0x90: BF 48
    {"maker=sst:size=128", WithOpcodes(Expected(2, 128), 0x60, 0x52, 0xAF)},
    {"maker=sst:size=2048", WithOpcodes(Expected(2, 2048), 0x60, 0x52, 0xAF)},  // BF 25 41
    {"maker=sst:size=4096", WithOpcodes(Expected(2, 4096), 0x60, 0x52, 0xAF)},  // BF 25 4A
    {"maker=st:size=64", Expected(3, 64)},                                      // 20 20 10
    {"maker=st:size=1024", Expected(3, 1024)},
    {"maker=st:jedec=ff", Expected(3, 64)},  // 0xAB: 05
    {"maker=atmel:size=64", Expected(4, 64)},
    {"maker=atmel:size=128", Expected(4, 128)},                                          // 1F 66
    {"maker=atmel:size=128:jedec=ff", WithOpcodes(Expected(4, 128), 0x62, 0x52, 0x02)},  // 0x15
    {"maker=mxic:size=64", Expected(5, 64)},                                             // C2 20 10
    {"maker=mxic:size=8192", Expected(5, 8192)},
    {"maker=mxic:jedec=c22211", Expected(5, 128)},
    {"maker=winbond:size=128", Expected(6, 128)},  // EF 30 11
    {"maker=winbond:size=1024", Expected(6, 1024)},
    {"maker=amic:size=64", Expected(7, 64)},  // 37 30 10
    {"maker=amic:size=4096", Expected(7, 4096)},
    {"maker=amic:jedec=7f372021", Expected(7, 128)},
    {"maker=eon:size=256", Expected(8, 256)},                                          // 1C 31 12
    {"maker=esmt:size=128", Expected(9, 128)},                                         // 8C 30 11
    {"maker=sanyo:size=256", WithOpcodes(Expected(10, 256), 0xC7, 0xD8, 0x02, 0xD7)},  // AB: 44
    // Identification bytes of the worked examples.
    {"maker=pmc:jedec=7f9d7c", Expected(1, 128)},
    {"maker=mxic:jedec=c22017", Expected(5, 8192)},
    {"maker=winbond:jedec=ef4015", Expected(6, 64)},
    // A part that answers no identification instruction.
    {"maker=unknown", Expected(0, 64), 0},
};

class DetectionTest : public SimFixture {
 protected:
  void RunTable(const Route& route) {
    for (const auto& c : kMakerCases) {
      const std::string description = std::string(route.chip) + ":fw=blank:" + c.part;
      Build(description);
      FlashProfile profile = FlashProfile::Zeroed();
      EXPECT_EQ(route.detect(Path(), profile), c.detected) << description;
      EXPECT_EQ(route.detectSize(Path(), profile), 1) << description;
      ExpectProfile(profile, c.expected, description);
    }
  }
};

TEST_F(DetectionTest, EveryMakersPartGivesItsMakerOpcodesAndSize) {
  RunTable(kSpiRoute);
}

TEST_F(DetectionTest, TheSameOverAtaPassThrough) {
  RunTable(kAtaRoute);
}

TEST_F(DetectionTest, SizeAloneDetectsFirstWhenTheProfileHasNoMaker) {
  Build("vqb713:fw=blank:maker=eon:size=512");
  FlashProfile profile = FlashProfile::Zeroed();
  EXPECT_EQ(DetectSpiFlashSize(Path(), profile), 1);
  EXPECT_EQ(profile.makerCode, 8);
  EXPECT_EQ(profile.sizeKB, 512);
}

TEST_F(DetectionTest, AMakerAlreadyInTheProfileSelectsTheSizeRule) {
  // An SST answer BF 25 41 on a unit whose profile already says SST.
  Build("vqb713:fw=blank:maker=mxic:jedec=bf2541");
  FlashProfile profile;
  profile.makerCode = 2;
  EXPECT_EQ(DetectSpiFlashSize(Path(), profile), 1);
  EXPECT_EQ(profile.makerCode, 2);
  EXPECT_EQ(profile.sizeKB, 2048);
}

TEST_F(DetectionTest, AUnitThatRefusesTheFirstProbeIsLookedAtWithMakerZero) {
  for (const Route& route : {kSpiRoute, kAtaRoute}) {
    const std::string chip = route.chip;
    const std::string pattern = chip == "vqb713" ? "ff042001019f" : "a1060be1819f";
    Build(chip + ":fw=blank:maker=mxic:fail-match=" + pattern);
    Unit().ClearLog();
    FlashProfile profile;
    profile.makerCode = 9;
    EXPECT_EQ(route.detect(Path(), profile), 1) << chip;
    EXPECT_EQ(profile.makerCode, 0) << chip;
    EXPECT_EQ(Unit().Log().size(), 1u) << chip;
  }
}

TEST_F(DetectionTest, TheShortFormsAnswerWhenTheLongInstructionIsRefused) {
  struct Case {
    const char* description;
    FlashProfile expected;
    int detected;
  };
  const Case cases[] = {
      // 0x15 refused: the short 0x15 finds the Atmel part.
      {"vqb713:fw=blank:maker=atmel:size=128:jedec=ff:fail-match=ff0420010115",
       WithOpcodes(Expected(4, 0), 0x62, 0x52, 0x02), 1},
      // 0xAB refused: the short 0xAB with its dummy bytes finds the ST part.
      {"vqb713:fw=blank:maker=st:jedec=ff:fail-match=ff04200101ab", Expected(3, 0), 1},
      // Over ATA there are no short forms.
      {"vqs713:fw=blank:maker=atmel:size=128:jedec=ff:fail-match=a1060be18115", Expected(0, 0), 0},
  };
  for (const auto& c : cases) {
    Build(c.description);
    FlashProfile profile = FlashProfile::Zeroed();
    const bool ata = std::string(c.description).starts_with("vqs713");
    EXPECT_EQ((ata ? AtaDetectSpiFlash : DetectSpiFlash)(Path(), profile), c.detected)
        << c.description;
    ExpectProfile(profile, c.expected, c.description);
  }
}

TEST_F(DetectionTest, KindReadsNameTheAmicAndAtmelParts) {
  struct Case {
    const char* part;
    int amic;
    int atmel;
  };
  const Case cases[] = {
      {"maker=amic:jedec=7f372012", 1, -1},
      {"maker=amic:jedec=7f372011", 3, -1},
      {"maker=amic:jedec=7f372020", 4, -1},
      {"maker=amic:jedec=7f372010", 5, -1},
      {"maker=amic:jedec=7f372021", -1, -1},
      {"maker=amic:jedec=7f372022", -1, -1},
      {"maker=amic:size=64", -1, -1},  // 37 30 10
      {"maker=atmel:size=64", -1, 1},  // 1F 65
      {"maker=atmel:size=128", -1, 2},
      {"maker=atmel:jedec=1f4401", -1, 0},
      {"maker=unknown", -1, -1},
      {"maker=amic:jedec=7f372012:fail-match=ff042001019f", -1, -1},
      {"maker=atmel:fail-match=ff0421", -1, -1},
  };
  for (const auto& c : cases) {
    const std::string description = std::string("vqb713:fw=blank:") + c.part;
    Build(description);
    EXPECT_EQ(ReadAmicFlashKind(Path()), c.amic) << description;
    EXPECT_EQ(ReadAtmelFlashKind(Path()), c.atmel) << description;
  }
}

}  // namespace
}  // namespace fwtool::sim::testing
