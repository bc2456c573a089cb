// SPDX-License-Identifier: GPL-2.0-or-later
// The version text of a chip-information reply, whether a controller runs
// firmware from its flash, and the probe of register 0x506A.
#include <gtest/gtest.h>

#include <array>
#include <optional>

#include "capture_backend.h"
#include "chip_info.h"
#include "chip_rows.h"
#include "clock.h"
#include "pass_through.h"
#include "simulated_units.h"
#include "simulator.h"

namespace fwtool {
namespace {

using Reply = std::array<uint8_t, 16>;

// A reply whose bytes 6, 7 and 10..15 are the given numbers.
Reply VersionReply(uint8_t b6, uint8_t b7, std::array<uint8_t, 6> b10to15) {
  Reply reply{0xF4, 0xE7, 0x3A, 0x41, 0x01, 0x75, b6, b7, '1', '7', '5', '0'};
  std::copy(b10to15.begin(), b10to15.end(), reply.begin() + 10);
  return reply;
}

TEST(FirmwareVersionText, EachFormatPrintsItsBytes) {
  struct Case {
    VersionFormat format;
    Reply reply;
    uint32_t length;
    const char* text;
  };
  const Case cases[] = {
      // More than 12 bytes: three numbers of bytes 12..14; 12 or fewer:
      // two numbers of bytes 6 and 7.
      {VersionFormat::Default, VersionReply(4, 5, {0, 0, 1, 2, 3, 9}), 16, "1.02.03"},
      {VersionFormat::Default, VersionReply(4, 5, {0, 0, 1, 2, 3, 9}), 13, "1.02.03"},
      {VersionFormat::Default, VersionReply(4, 5, {0, 0, 1, 2, 3, 9}), 12, "4.05"},
      {VersionFormat::Default, VersionReply(4, 5, {0, 0, 1, 2, 3, 9}), 8, "4.05"},
      {VersionFormat::Default, VersionReply(4, 5, {0, 0, 200, 100, 255, 9}), 16, "200.100.255"},
      {VersionFormat::FiveNumbers, VersionReply(11, 19, {0, 0, 2, 16, 0, 9}), 16, "11.19.02.16.00"},
      {VersionFormat::FiveNumbers, VersionReply(4, 10, {0, 0, 2, 16, 0, 9}), 12, "4.10.02.16.00"},
      // The fifth number is a signed byte.
      {VersionFormat::Register506A, VersionReply(9, 18, {0, 0, 1, 16, 0xFE, 9}), 16,
       "9.18.01.16.-02"},
      {VersionFormat::Register506A, VersionReply(9, 18, {0, 0, 1, 16, 0x80, 9}), 16,
       "9.18.01.16.-128"},
      {VersionFormat::Register506A, VersionReply(9, 18, {0, 0, 1, 16, 0x7F, 9}), 16,
       "9.18.01.16.127"},
      {VersionFormat::TenToFourteen, VersionReply(0, 0, {1, 2, 3, 4, 5, 6}), 16, "01.02.03.04.05"},
      {VersionFormat::TenToFourteen, VersionReply(0, 0, {123, 2, 3, 4, 5, 6}), 16,
       "123.02.03.04.05"},
      {VersionFormat::AtaInfo, VersionReply(0, 0, {7, 1, 3, 0, 22, 6}), 16, "07.01.03.00.22"},
      {VersionFormat::TwelveToFifteen, VersionReply(0, 0, {0, 0, 49, 48, 48, 48}), 16,
       "49.48.48.48"},
      {VersionFormat::TwelveToFifteen, VersionReply(0, 0, {0, 0, 1, 2, 3, 4}), 16, "01.02.03.04"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(FormatFirmwareVersion(c.format, c.reply, c.length), c.text);
  }
}

// Chip type 13 asks again over ATA PASS-THROUGH; when that gives nothing
// usable, the chip information it did give still tells the version.
TEST(FirmwareVersionOverAta, TheAtaReplyOrElseTheFirstReply) {
  struct Case {
    const char* name;
    bool ataAnswers;
    bool ataSigned;
    FirmwareVersionReading::Outcome outcome;
    const char* text;
  };
  const Case cases[] = {
      {"the ATA reply", true, true, FirmwareVersionReading::Outcome::Read, "09.08.07.06.05"},
      {"no ATA reply", false, false, FirmwareVersionReading::Outcome::Read, "3.04.05"},
      {"an ATA reply without F4 E7", true, false, FirmwareVersionReading::Outcome::Read, "3.04.05"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::ScopedCaptureBackend backend;
    backend->responder = [&](const PassThroughRequest& rq) {
      std::vector<uint8_t> data;
      if (rq.cdb[0] == 0xE0) {
        const Reply first = VersionReply(1, 2, {0, 0, 3, 4, 5, 0});
        data.assign(first.begin(), first.end());
      } else if (rq.cdb[0] == 0xA1) {
        if (!c.ataAnswers) return testing::Answered(true, 2);
        const Reply ata = VersionReply(0, 0, {9, 8, 7, 6, 5, 4});
        data.assign(ata.begin(), ata.end());
        if (!c.ataSigned) data[0] = 0x00;
      }
      if (rq.data != nullptr && rq.direction == DataDirection::In)
        std::copy_n(data.begin(), std::min<size_t>(data.size(), rq.length), rq.data);
      PassThroughResult r = testing::Answered();
      r.transferred = std::min<uint32_t>(rq.length, static_cast<uint32_t>(data.size()));
      return r;
    };
    const FirmwareVersionReading reading = ReadFirmwareVersion("/dev/sg9", ChipRowFor(13));
    EXPECT_EQ(reading.outcome, c.outcome);
    EXPECT_EQ(reading.text, c.text);
  }
}

// A controller register at 0x506A behind a scripted backend.
class Register506A : public ::testing::Test {
 protected:
  void SetUp() override {
    backend->responder = [this](const PassThroughRequest& rq) {
      const bool memory = rq.cdb[0] == 0xDF && (rq.cdb[11] == 0xFD || rq.cdb[11] == 0xFE);
      const uint16_t address = static_cast<uint16_t>(rq.cdb[6] << 8 | rq.cdb[7]);
      EXPECT_TRUE(memory && address == 0x506A);
      if (rq.cdb[11] == 0xFD) {
        ++reads;
        if (failReads != 0 && reads >= failReads) return testing::Answered(true, 2);
        rq.data[0] = static_cast<uint8_t>(value | stuckBits);
      } else {
        if (failWrites) return testing::Answered(true, 2);
        writes.push_back(rq.data[0]);
        value = rq.data[0];
      }
      PassThroughResult r = testing::Answered();
      r.transferred = rq.length;
      return r;
    };
  }

  testing::ScopedCaptureBackend backend;
  uint8_t value = 0;
  uint8_t stuckBits = 0;  // bits that always read 1
  int failReads = 0;      // reads fail from this one on (0: never)
  int reads = 0;
  bool failWrites = false;
  std::vector<uint8_t> writes;
};

TEST_F(Register506A, ARegisterThatReadsBackWhatWasWrittenAnswersFalse) {
  value = 0x42;
  EXPECT_FALSE(ProbeRegister506A("/dev/sg9"));
  EXPECT_EQ(writes, (std::vector<uint8_t>{0x00, 0x42}));  // its value put back
}

TEST_F(Register506A, BitZeroStuckAtOneAnswersTrueAndPutsBackTheValueWithBit0Inverted) {
  value = 0x40;
  stuckBits = 0x01;  // reads 0x41, then 0x01 after the 0
  EXPECT_TRUE(ProbeRegister506A("/dev/sg9"));
  EXPECT_EQ(writes, (std::vector<uint8_t>{0x00, 0x40}));
}

TEST_F(Register506A, ARegisterThatCannotBeReadIsNotWritten) {
  value = 0x42;
  failReads = 1;
  EXPECT_FALSE(ProbeRegister506A("/dev/sg9"));
  EXPECT_TRUE(writes.empty());
  EXPECT_EQ(value, 0x42);
}

TEST_F(Register506A, AFailedReadBackStillPutsTheValueBack) {
  value = 0x42;
  failReads = 2;
  EXPECT_FALSE(ProbeRegister506A("/dev/sg9"));
  EXPECT_EQ(writes, (std::vector<uint8_t>{0x00, 0x42}));
}

// The dual-bank chip: with a flash part, its controller information tells
// whether it runs from flash; without that, bank 0's signature block does.
class Type12Updatable : public testing::SimulatedUnitTest {};

TEST_F(Type12Updatable, TheControllerInformationDecidesWhenItAnswers) {
  Build("vqs175");
  EXPECT_TRUE(FirmwareUpdatable(Path(), 12, "49.48.48.50", 5));
  // Versions of the internal code are never the firmware's.
  EXPECT_FALSE(FirmwareUpdatable(Path(), 12, "49.48.48.48", 5));
  EXPECT_FALSE(FirmwareUpdatable(Path(), 12, "49.48.48.49", 5));
}

TEST_F(Type12Updatable, WithoutControllerInformationBank0sSignatureDecides) {
  Build("vqs175:fail-match=ff04a0");
  EXPECT_TRUE(FirmwareUpdatable(Path(), 12, "49.48.48.50", 5));
  // Bank 0's signature block at 0xBFF0 spoiled after the unit booted.
  std::vector<uint8_t> cells = farm->Controller(0).Flash().Contents();
  cells[0xBFF4] = '9';  // "975..." instead of "175..."
  farm->Controller(0).Flash().Load(cells);
  EXPECT_FALSE(FirmwareUpdatable(Path(), 12, "49.48.48.50", 5));
  // Without a flash part nothing more is asked.
  EXPECT_TRUE(FirmwareUpdatable(Path(), 12, "49.48.48.50", 0));
}

TEST_F(Type12Updatable, AClearStatusBitMeansTheInternalCode) {
  Build("vqs175:fw=blank");
  EXPECT_FALSE(FirmwareUpdatable(Path(), 12, "49.48.48.50", 0));
  // Chip types without these tests always run their firmware.
  EXPECT_TRUE(FirmwareUpdatable(Path(), 3, "", 0));
}

}  // namespace
}  // namespace fwtool
