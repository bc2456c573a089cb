// SPDX-License-Identifier: GPL-2.0-or-later
// What the helper lets through to a unit, as a peer that holds its socket
// meets it: the unit is identified when a session opens, only the blocks of
// firmware work go to it, and disk sectors only inside the place where the
// controller keeps its firmware, written there only over zeros or the
// controller's own copy. A refused block never reaches the unit.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "helper_rig.h"

namespace fwtool::helper::testing {
namespace {

using Bytes = std::vector<uint8_t>;

// A blank unit that shows its whole disk of 1,000,000 sectors, with the
// user's partition from sector 2048 to the last; the firmware area
// (999,680..999,935) lies inside it.
constexpr const char* kUserDisk = "vqb145:fw=blank:disk=1000000s:partition";
// The same disk without the user's data: every sector holds zeros.
constexpr const char* kEmptyDisk = "vqb145:fw=blank:disk=1000000s";

Command Block(uint32_t session, std::initializer_list<uint8_t> cdb, DataDirection direction,
              uint32_t length) {
  Command c;
  c.session = session;
  c.direction = direction;
  c.exclusive = direction == DataDirection::Out;
  c.cdbLength = static_cast<uint8_t>(cdb.size());
  std::copy(cdb.begin(), cdb.end(), c.cdb.begin());
  c.length = length;
  c.timeoutSeconds = direction == DataDirection::Out ? 50 : 10;
  if (direction == DataDirection::Out) c.data.assign(length, 'X');
  return c;
}

Command Write10(uint32_t session, uint32_t lba, uint16_t sectors) {
  return Block(session,
               {0x2A, 0, static_cast<uint8_t>(lba >> 24), static_cast<uint8_t>(lba >> 16),
                static_cast<uint8_t>(lba >> 8), static_cast<uint8_t>(lba), 0,
                static_cast<uint8_t>(sectors >> 8), static_cast<uint8_t>(sectors), 0},
               DataDirection::Out, sectors * 512u);
}

class HelperGuard : public ::testing::Test {
 protected:
  void Start(const char* units) {
    rig = std::make_unique<HelperRig>(units);
    link = std::make_unique<FrameLink>(rig->programEnd, rig->programEnd);
    ASSERT_EQ(link->Receive(5000).kind, Incoming::Kind::Message);  // hello
  }
  Message Ask(const Message& request) {
    EXPECT_TRUE(link->Send(request));
    Incoming reply = link->Receive(5000);
    EXPECT_EQ(reply.kind, Incoming::Kind::Message);
    return reply.message;
  }
  uint32_t Open(size_t unit, bool exclusive) {
    const Message reply = Ask(helper::Open{rig->farm->Unit(unit).diskPath, exclusive});
    const auto* opened = std::get_if<Opened>(&reply);
    EXPECT_TRUE(opened) << (std::holds_alternative<Refused>(reply) ? std::get<Refused>(reply).text
                                                                   : std::string("no reply"));
    return opened != nullptr ? opened->session : 0;
  }
  const std::vector<sim::LoggedCommand>& Log(size_t unit = 0) {
    return rig->farm->Controller(unit).Log();
  }
  // Whether a block with these first bytes reached the unit.
  bool Reached(const Command& command, size_t unit = 0) {
    return std::any_of(Log(unit).begin(), Log(unit).end(), [&](const sim::LoggedCommand& e) {
      return std::equal(command.cdb.begin(), command.cdb.begin() + command.cdbLength,
                        e.cdb.begin());
    });
  }
  bool AnyDataOut(size_t unit = 0) {
    return std::any_of(Log(unit).begin(), Log(unit).end(), [](const sim::LoggedCommand& e) {
      return e.direction == DataDirection::Out;
    });
  }
  Bytes DiskBytes(uint64_t lba, size_t length) {
    return rig->farm->Controller(0).Disk().Bytes(lba, length);
  }

  std::unique_ptr<HelperRig> rig;
  std::unique_ptr<FrameLink> link;
};

TEST_F(HelperGuard, OpeningASessionIdentifiesTheUnitWithDataInCommandsOnly) {
  Start("vqb719");
  ASSERT_NE(Open(0, true), 0u);
  ASSERT_FALSE(Log().empty());
  EXPECT_EQ(Log()[0].cdb[0], 0x12) << "INQUIRY first";
  EXPECT_FALSE(AnyDataOut());
}

TEST_F(HelperGuard, ANodeThatIsNoUnitOfTheFamilyIsNotServed) {
  // INQUIRY and the chip information both refused: identification finds
  // no chip type.
  Start("vqb719:fail-match=12,vqb717:fail-match=e0f4e7");
  const Message reply = Ask(helper::Open{rig->farm->Unit(0).diskPath, true});
  ASSERT_TRUE(std::holds_alternative<Refused>(reply));
  EXPECT_EQ(std::get<Refused>(reply).reason, RefusalReason::NotIdentified);
  EXPECT_EQ(std::get<Refused>(reply).text,
            rig->farm->Unit(0).diskPath + " is not a controller of the family fwtool updates");
  EXPECT_FALSE(AnyDataOut());
}

// The blocks a peer sent in the reproductions, and a few more of the kind.
TEST_F(HelperGuard, BlocksThatAreNotFirmwareWorkNeverReachTheUnit) {
  Start(kUserDisk);
  const uint32_t session = Open(0, true);
  const Bytes sector0 = DiskBytes(0, 512);
  using enum DataDirection;
  struct Case {
    const char* name;
    Command command;
  };
  const std::vector<Case> cases = {
      {"WRITE(10) of the user's sector 0", Write10(session, 0, 1)},
      {"WRITE(16) of the user's sector 0",
       Block(session, {0x8A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, Out, 512)},
      {"READ(10) of the user's sector 0",
       Block(session, {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, In, 512)},
      {"ATA PASS-THROUGH(12), SECURITY ERASE UNIT",
       Block(session, {0xA1, 0x0A, 0x03, 0, 1, 0, 0, 0, 0x40, 0xF4, 0, 0}, Out, 512)},
      {"ATA PASS-THROUGH(16), SECURITY ERASE UNIT",
       Block(session, {0x85, 0x0A, 0x03, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0x40, 0xF4, 0}, Out, 512)},
      {"ATA PASS-THROUGH(16), WRITE SECTORS",
       Block(session, {0x85, 0x0B, 0x03, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0x40, 0x30, 0}, Out, 512)},
      {"ATA PASS-THROUGH(12), DOWNLOAD MICROCODE",
       Block(session, {0xA1, 0x0A, 0x03, 0x07, 1, 0, 0, 0, 0x40, 0x92, 0, 0}, Out, 512)},
      {"WRITE BUFFER, download microcode",
       Block(session, {0x3B, 0x05, 0, 0, 0, 0, 0, 0x02, 0, 0}, Out, 512)},
      {"FORMAT UNIT", Block(session, {0x04, 0, 0, 0, 0, 0}, Out, 0)},
      {"START STOP UNIT", Block(session, {0x1B, 0, 0, 0, 0, 0}, In, 0)},
      {"a DF block carrying ATA WRITE SECTORS",
       Block(session, {0xDF, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0xE0, 0x30}, Out, 512)},
      {"an FF-04 block of no builder", Block(session, {0xFF, 0x04, 0x77, 0, 0, 0}, Out, 0)},
      {"a flash read sent as data-out",
       Block(session, {0xDF, 0x10, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0xFA}, Out, 1024)},
  };
  for (const auto& c : cases) {
    const Message reply = Ask(c.command);
    ASSERT_TRUE(std::holds_alternative<Refused>(reply)) << c.name;
    EXPECT_EQ(std::get<Refused>(reply).reason, RefusalReason::NotAllowed) << c.name;
    EXPECT_FALSE(std::get<Refused>(reply).text.empty()) << c.name;
    EXPECT_FALSE(Reached(c.command)) << c.name;
  }
  EXPECT_FALSE(AnyDataOut());
  EXPECT_EQ(DiskBytes(0, 512), sector0);
  // The session still serves what is firmware work.
  const Message inquiry = Ask(Block(session, {0x12, 0, 0, 0, 36, 0}, In, 36));
  ASSERT_TRUE(std::holds_alternative<Result>(inquiry));
  EXPECT_TRUE(std::get<Result>(inquiry).result.Succeeded());

  // A write of the controller's flash wants the unit to itself.
  ASSERT_TRUE(std::holds_alternative<Closed>(Ask(Close{session})));
  const Command flashWrite =
      Block(Open(0, false), {0xDF, 0x00, 0, 4, 0, 0, 0, 0, 0, 0x80, 0, 0xFB}, Out, 1024);
  const Message reply = Ask(flashWrite);
  ASSERT_TRUE(std::holds_alternative<Refused>(reply));
  EXPECT_EQ(std::get<Refused>(reply).text,
            "flash write goes only on a session opened for exclusive access");
  EXPECT_FALSE(Reached(flashWrite));
  EXPECT_FALSE(AnyDataOut());
}

TEST_F(HelperGuard, SectorsAreWrittenOnlyInsideTheFirmwareAreaOverZerosOrTheControllersCopy) {
  constexpr uint32_t kArea = 999'680;  // 256 sectors
  struct Case {
    const char* name;
    const char* units;
    uint32_t lba;
    uint16_t sectors;
    bool written;
    std::string refusal;  // the end of the refusal's text
  };
  const std::string outside = " lie outside the controller's firmware area";
  const std::vector<Case> cases = {
      {"the area, over zeros", kEmptyDisk, kArea, 128, true, ""},
      {"the area's second half, over zeros", kEmptyDisk, kArea + 128, 128, true, ""},
      {"zeros outside the area", kEmptyDisk, 100, 1, false, "sectors 100..100" + outside},
      {"one sector past the area", kEmptyDisk, kArea + 129, 128, false,
       "sectors 999809..999936" + outside},
      {"the area, over the user's data", kUserDisk, kArea, 128, false,
       "sectors 999680..999807 hold data of the disk's user; they are overwritten only by "
       "fwtool started as root, with --overwrite-disk-data"},
      {"the user's sector 0", kUserDisk, 0, 1, false, "sectors 0..0" + outside},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Start(c.units);
    const uint32_t session = Open(0, true);
    const Bytes before = DiskBytes(c.lba, c.sectors * 512u);
    const Command write = Write10(session, c.lba, c.sectors);
    const Message reply = Ask(write);
    if (c.written) {
      ASSERT_TRUE(std::holds_alternative<Result>(reply));
      EXPECT_TRUE(std::get<Result>(reply).result.Succeeded());
      EXPECT_EQ(DiskBytes(c.lba, c.sectors * 512u), write.data);
    } else {
      ASSERT_TRUE(std::holds_alternative<Refused>(reply));
      EXPECT_EQ(std::get<Refused>(reply).reason, RefusalReason::NotAllowed);
      EXPECT_EQ(std::get<Refused>(reply).text, "WRITE(10) refused: " + c.refusal);
      EXPECT_FALSE(AnyDataOut());
      EXPECT_EQ(DiskBytes(c.lba, c.sectors * 512u), before);
    }
    rig.reset();
  }
}

TEST(HelperGuardInUse, ADiskInUseGetsNoSectorWritten) {
  HelperRig rig(kEmptyDisk);
  // The same rig's server, told that the disk is mounted.
  std::string asked;
  HelperServer server(*rig.devices, *rig.farm, "test", [&](const std::string& path) {
    asked = path;
    return std::string("a partition of the disk is mounted");
  });
  const Message opened = server.Answer(helper::Open{rig.farm->Unit(0).diskPath, true});
  ASSERT_TRUE(std::holds_alternative<Opened>(opened));
  const Message reply = server.Answer(Write10(std::get<Opened>(opened).session, 999'680, 128));
  ASSERT_TRUE(std::holds_alternative<Refused>(reply));
  EXPECT_EQ(std::get<Refused>(reply).text, "WRITE(10) refused: a partition of the disk is mounted");
  EXPECT_EQ(asked, rig.farm->Unit(0).diskPath);
  EXPECT_TRUE(rig.farm->Controller(0).Disk().Writes().empty());
}

TEST_F(HelperGuard, ANodeSwappedUnderAnOpenSessionGetsNoCommand) {
  Start("vqb719");
  const uint32_t session = Open(0, true);
  std::string error;
  ASSERT_TRUE(rig->farm->SwapUnit(0, "vqb717", &error)) << error;
  ASSERT_TRUE(Log().empty()) << "the new unit has heard nothing yet";
  const Command flashWrite =
      Block(session, {0xDF, 0x00, 0, 4, 0, 0, 0, 0, 0, 0x80, 0, 0xFB}, DataDirection::Out, 1024);
  for (const Command& c :
       {Block(session, {0x12, 0, 0, 0, 36, 0}, DataDirection::In, 36), flashWrite}) {
    const Message reply = Ask(c);
    ASSERT_TRUE(std::holds_alternative<Result>(reply));
    EXPECT_FALSE(std::get<Result>(reply).result.Succeeded());
  }
  EXPECT_TRUE(Log().empty()) << "nothing went to the unit that took the node";
}

}  // namespace
}  // namespace fwtool::helper::testing
