// SPDX-License-Identifier: GPL-2.0-or-later
#include "bulk_only.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "capture_backend.h"
#include "plain_disk.h"
#include "transport.h"

namespace fwtool::harness {
namespace {

using fwtool::testing::Answered;
using fwtool::testing::CaptureBackend;

std::vector<uint8_t> Cbw(uint32_t tag, uint32_t length, bool in, uint8_t lun,
                         std::vector<uint8_t> cb) {
  std::vector<uint8_t> bytes(kCbwLength, 0);
  const uint32_t words[] = {kCbwSignature, tag, length};
  for (int w = 0; w < 3; ++w)
    for (int i = 0; i < 4; ++i) bytes[4 * w + i] = static_cast<uint8_t>(words[w] >> (8 * i));
  bytes[12] = in ? 0x80 : 0x00;
  bytes[13] = lun;
  bytes[14] = static_cast<uint8_t>(cb.size());
  std::memcpy(&bytes[15], cb.data(), std::min<size_t>(cb.size(), 16));
  return bytes;
}

CommandBlockWrapper Parsed(const std::vector<uint8_t>& bytes) {
  auto cbw = ParseCommandBlockWrapper(bytes);
  EXPECT_TRUE(cbw.has_value());
  return cbw.value_or(CommandBlockWrapper{});
}

TEST(CommandBlockWrapperTest, ParsesTheFieldsTheHostSends) {
  const auto cbw =
      Parsed(Cbw(0x11223344, 1024, true, 1,
                 {0xDF, 0x10, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0xFA}));
  EXPECT_EQ(cbw.tag, 0x11223344u);
  EXPECT_EQ(cbw.dataTransferLength, 1024u);
  EXPECT_TRUE(cbw.dataIn);
  EXPECT_EQ(cbw.lun, 1);
  ASSERT_EQ(cbw.cbLength, 12);
  EXPECT_EQ(cbw.cb[0], 0xDF);
  EXPECT_EQ(cbw.cb[11], 0xFA);
  EXPECT_EQ(cbw.cb[12], 0x00);
}

TEST(CommandBlockWrapperTest, RejectsWrappersThatAreNotMeaningful) {
  const std::vector<uint8_t> good = Cbw(1, 0, false, 0, {0x00, 0, 0, 0, 0, 0});
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"one byte short", {good.begin(), good.end() - 1}});
  auto longer = good;
  longer.push_back(0);
  cases.push_back({"one byte long", longer});
  auto badSignature = good;
  badSignature[3] = 0x44;  // "USBD"
  cases.push_back({"bad signature", badSignature});
  auto noBlock = good;
  noBlock[14] = 0;
  cases.push_back({"empty command block", noBlock});
  auto tooLong = good;
  tooLong[14] = 17;
  cases.push_back({"17-byte command block", tooLong});
  auto reservedLunBits = good;
  reservedLunBits[13] = 0x10;
  cases.push_back({"reserved LUN bits", reservedLunBits});
  for (const auto& c : cases) EXPECT_FALSE(ParseCommandBlockWrapper(c.bytes).has_value()) << c.what;
  EXPECT_TRUE(ParseCommandBlockWrapper(good).has_value());
}

TEST(CommandStatusWrapperTest, CarriesSignatureTagResidueAndStatus) {
  const auto csw = BuildCommandStatusWrapper(0xA1B2C3D4, 0x0200, kCswFailed);
  const std::array<uint8_t, kCswLength> expected = {0x55, 0x53, 0x42, 0x53, 0xD4, 0xC3, 0xB2,
                                                    0xA1, 0x00, 0x02, 0x00, 0x00, 0x01};
  EXPECT_EQ(csw, expected);
}

TEST(DataInStallTest, StallsOnlyWhenAShortPacketCannotEndTheTransfer) {
  struct Case {
    uint32_t sent, expected, maxPacket;
    bool stall;
  } cases[] = {
      {36, 36, 512, false},    // everything the host asked for
      {5, 252, 512, false},    // short packet ends it
      {0, 512, 512, true},     // nothing sent: only a stall ends it
      {512, 1024, 512, true},  // whole packets: the host would wait for more
      {64, 100, 64, true},    {70, 100, 64, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(NeedsStallAfterDataIn(c.sent, c.expected, c.maxPacket), c.stall)
        << c.sent << " of " << c.expected << " in packets of " << c.maxPacket;
}

class StorageTargetTest : public ::testing::Test {
 protected:
  StorageTargetTest() : target_({{"sim:unit0", &unit0_}, {"sim:unit1", &unit1_}}) {}

  CaptureBackend unit0_;
  CaptureBackend unit1_;
  StorageTarget target_;
};

TEST_F(StorageTargetTest, HandsTheCommandToTheUnitsBackendAndReturnsWhatMoved) {
  unit1_.responder = [](const PassThroughRequest& request) {
    for (uint32_t i = 0; i < request.length; ++i) request.data[i] = static_cast<uint8_t>(i);
    auto result = Answered();
    result.transferred = 40;  // fewer than the host asked for
    return result;
  };
  const auto cbw = Parsed(Cbw(7, 96, true, 1, {0x12, 0, 0, 0, 96, 0}));
  const CommandOutcome outcome = target_.Execute(cbw, {});

  ASSERT_TRUE(unit0_.commands.empty());
  ASSERT_EQ(unit1_.commands.size(), 1u);
  const auto& request = unit1_.commands[0].request;
  EXPECT_EQ(request.path, "sim:unit1");
  EXPECT_EQ(request.lun, 1);
  EXPECT_EQ(request.cdbLength, 6);
  EXPECT_EQ(request.cdb[4], 96);
  EXPECT_EQ(request.direction, DataDirection::In);
  EXPECT_EQ(request.length, 96u);
  EXPECT_EQ(unit1_.commands[0].dataAddress % kTransferAlignment, 0u);

  EXPECT_EQ(outcome.status, kCswPassed);
  ASSERT_EQ(outcome.dataIn.size(), 40u);
  EXPECT_EQ(outcome.dataIn[39], 39);
  EXPECT_EQ(outcome.residue, 56u);
  EXPECT_EQ(target_.MaxLun(), 1);
}

TEST_F(StorageTargetTest, HandsDataOutBytesToTheBackend) {
  const auto cbw = Parsed(Cbw(8, 4, false, 0, {0xDF, 0x00, 0x00, 0x00, 0x04}));
  const std::vector<uint8_t> payload = {0xDE, 0xAD, 0xBE, 0xEF};
  const CommandOutcome outcome = target_.Execute(cbw, payload);
  ASSERT_EQ(unit0_.commands.size(), 1u);
  EXPECT_EQ(unit0_.commands[0].request.direction, DataDirection::Out);
  EXPECT_EQ(unit0_.commands[0].dataOut, payload);
  EXPECT_EQ(outcome.status, kCswPassed);
  EXPECT_TRUE(outcome.dataIn.empty());
  EXPECT_EQ(outcome.residue, 0u);
}

TEST_F(StorageTargetTest, KeepsTheSenseOfARejectedCommandForRequestSense) {
  unit0_.responder = [](const PassThroughRequest&) {
    auto result = Answered(true, 0x02);
    result.sense = FixedSense(0x05, 0x20, 0x00);
    return result;
  };
  const CommandOutcome rejected = target_.Execute(Parsed(Cbw(1, 1024, true, 0, {0xDF, 0x10})), {});
  EXPECT_EQ(rejected.status, kCswFailed);
  EXPECT_TRUE(rejected.dataIn.empty());
  EXPECT_EQ(rejected.residue, 1024u);

  // The host asks for the sense; the target answers it itself.
  const CommandOutcome sense =
      target_.Execute(Parsed(Cbw(2, 18, true, 0, {0x03, 0, 0, 0, 18, 0})), {});
  EXPECT_EQ(unit0_.commands.size(), 1u);
  EXPECT_EQ(sense.status, kCswPassed);
  ASSERT_EQ(sense.dataIn.size(), 18u);
  EXPECT_EQ(sense.dataIn[2], 0x05);
  EXPECT_EQ(sense.dataIn[12], 0x20);

  // Reported once: the next REQUEST SENSE finds nothing, and the other unit
  // never had anything.
  const CommandOutcome again =
      target_.Execute(Parsed(Cbw(3, 18, true, 0, {0x03, 0, 0, 0, 18, 0})), {});
  ASSERT_EQ(again.dataIn.size(), 18u);
  EXPECT_EQ(again.dataIn[2], 0x00);
  EXPECT_EQ(again.dataIn[12], 0x00);
}

TEST_F(StorageTargetTest, RequestSenseHonoursTheAllocationLength) {
  unit1_.responder = [](const PassThroughRequest&) {
    auto result = Answered(true, 0x02);
    result.sense = FixedSense(0x03, 0x11, 0x00);
    return result;
  };
  target_.Execute(Parsed(Cbw(1, 0, false, 1, {0x00, 0, 0, 0, 0, 0})), {});
  const CommandOutcome sense =
      target_.Execute(Parsed(Cbw(2, 96, true, 1, {0x03, 0, 0, 0, 8, 0})), {});
  EXPECT_EQ(sense.dataIn.size(), 8u);
  EXPECT_EQ(sense.residue, 88u);
  EXPECT_EQ(sense.dataIn[2], 0x03);
}

TEST_F(StorageTargetTest, ACommandThatFailsWithoutSenseReportsAHardwareError) {
  unit0_.responder = [](const PassThroughRequest&) {
    PassThroughResult gone;  // the device could not be opened
    return gone;
  };
  const CommandOutcome outcome =
      target_.Execute(Parsed(Cbw(1, 0, false, 0, {0x00, 0, 0, 0, 0, 0})), {});
  EXPECT_EQ(outcome.status, kCswFailed);
  const CommandOutcome sense =
      target_.Execute(Parsed(Cbw(2, 18, true, 0, {0x03, 0, 0, 0, 18, 0})), {});
  ASSERT_EQ(sense.dataIn.size(), 18u);
  EXPECT_EQ(sense.dataIn[2], 0x04);
  EXPECT_EQ(sense.dataIn[12], 0x44);
}

TEST_F(StorageTargetTest, ALunWithoutAUnitIsNotSupported) {
  const CommandOutcome outcome =
      target_.Execute(Parsed(Cbw(1, 36, true, 2, {0x12, 0, 0, 0, 36, 0})), {});
  EXPECT_EQ(outcome.status, kCswFailed);
  const CommandOutcome sense =
      target_.Execute(Parsed(Cbw(2, 18, true, 2, {0x03, 0, 0, 0, 18, 0})), {});
  ASSERT_EQ(sense.dataIn.size(), 18u);
  EXPECT_EQ(sense.dataIn[2], 0x05);
  EXPECT_EQ(sense.dataIn[12], 0x25);
}

TEST(PlainDiskTest, AnswersTheDiskDriversQuestionsAndRejectsVendorBlocks) {
  PlainDisk disk("PLAIN DISK");
  StorageTarget target({{"plain", &disk}});
  const CommandOutcome inquiry =
      target.Execute(Parsed(Cbw(1, 36, true, 0, {0x12, 0, 0, 0, 36, 0})), {});
  ASSERT_EQ(inquiry.dataIn.size(), 36u);
  EXPECT_EQ(std::string(inquiry.dataIn.begin() + 16, inquiry.dataIn.begin() + 32),
            "PLAIN DISK      ");
  const CommandOutcome capacity =
      target.Execute(Parsed(Cbw(2, 8, true, 0, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0})), {});
  ASSERT_EQ(capacity.dataIn.size(), 8u);
  EXPECT_EQ(capacity.dataIn[2] << 8 | capacity.dataIn[3], PlainDisk::kBlockCount - 1);
  const CommandOutcome beyond =
      target.Execute(Parsed(Cbw(3, 1024, true, 0, {0x28, 0, 0, 0, 0x07, 0xFF, 0, 0, 2, 0})), {});
  EXPECT_EQ(beyond.status, kCswFailed);
  const CommandOutcome vendor = target.Execute(
      Parsed(Cbw(4, 1024, true, 0, {0xDF, 0x10, 0, 4, 0, 0, 0, 0, 0x10, 0, 0, 0xFA})), {});
  EXPECT_EQ(vendor.status, kCswFailed);
  const CommandOutcome sense =
      target.Execute(Parsed(Cbw(5, 18, true, 0, {0x03, 0, 0, 0, 18, 0})), {});
  EXPECT_EQ(sense.dataIn[12], 0x20);  // invalid command operation code
}

}  // namespace
}  // namespace fwtool::harness
