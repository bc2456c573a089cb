// SPDX-License-Identifier: GPL-2.0-or-later
// The frames fwtool and fwtool-helper exchange: the bytes of a frame as the
// format lays them down, every message through the frame reader in any
// pieces, and the bodies the decoder refuses, with the reason it gives.
#include "helper_protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fwtool::helper {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts)
    for (const uint8_t b : p) out.push_back(b);
  return out;
}

Bytes Text(const std::string& s) {
  Bytes out{static_cast<uint8_t>(s.size()), static_cast<uint8_t>(s.size() >> 8)};
  for (const char c : s) out.push_back(static_cast<uint8_t>(c));
  return out;
}

// A body: version 1, the type, the fields.
Bytes Body(MessageType type, const Bytes& fields) {
  return Cat({{kProtocolVersion, static_cast<uint8_t>(type)}, fields});
}

// A command body with the fields a test varies.
Bytes CommandBody(uint8_t direction, uint8_t cdbLength, uint32_t length, uint32_t timeout,
                  const Bytes& data = {}) {
  Bytes cdb(16, 0);
  cdb[0] = 0x12;
  return Body(MessageType::Command,
              Cat({Le32(7), {direction, 0, cdbLength}, cdb, Le32(length), Le32(timeout), data}));
}

TEST(HelperFrames, AnOpenRequestIsLaidDownByteForByte) {
  const Bytes frame = EncodeFrame(Open{"usbsto:/dev/sg2", true});
  // Body: version 2, type 4 (Open), exclusive 1, text of 15 bytes.
  const Bytes expected =
      Cat({Le32(20),
           {0x02, 0x04, 0x01, 0x0F, 0x00},
           Bytes{'u', 's', 'b', 's', 't', 'o', ':', '/', 'd', 'e', 'v', '/', 's', 'g', '2'}});
  EXPECT_EQ(frame, expected);
}

TEST(HelperFrames, ACommandAndItsResultKeepEveryField) {
  Command command;
  command.session = 0x01020304;
  command.direction = DataDirection::Out;
  command.exclusive = true;
  command.cdbLength = 12;
  command.cdb = {0xDF, 0x10, 0, 4, 0, 0, 0, 0, 0, 0x10, 0, 0xFB};
  command.length = 3;
  command.timeoutSeconds = 100;
  command.data = {0xAA, 0x55, 0x01};
  const Bytes frame = EncodeFrame(command);
  // Prefix, version, type, session, direction, exclusive, block length,
  // 16 block bytes, length, time-out, data.
  const Bytes expected = Cat({Le32(2 + 4 + 3 + 16 + 4 + 4 + 3),
                              {0x02, 0x06},
                              {0x04, 0x03, 0x02, 0x01},
                              {1, 1, 12},
                              {0xDF, 0x10, 0, 4, 0, 0, 0, 0, 0, 0x10, 0, 0xFB, 0, 0, 0, 0},
                              Le32(3),
                              Le32(100),
                              {0xAA, 0x55, 0x01}});
  EXPECT_EQ(frame, expected);

  Result result;
  result.result.opened = true;
  result.result.callOk = true;
  result.result.errorCode = 5;
  result.result.scsiStatus = 2;
  result.result.hostStatus = 0x0107;
  result.result.driverStatus = 8;
  result.result.transferred = 2;
  result.result.sense = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0};
  result.result.detail = "SCSI status 0x02 (CHECK CONDITION)";
  result.data = {1, 2};
  FrameReader reader;
  reader.Feed(EncodeFrame(result));
  const auto body = reader.Next();
  ASSERT_TRUE(body);
  const Decoded decoded = DecodeBody(*body);
  ASSERT_TRUE(std::holds_alternative<Message>(decoded));
  const auto& back = std::get<Result>(std::get<Message>(decoded));
  EXPECT_FALSE(back.result.notSent);
  EXPECT_TRUE(back.result.opened);
  EXPECT_TRUE(back.result.callOk);
  EXPECT_EQ(back.result.errorCode, 5);
  EXPECT_EQ(back.result.scsiStatus, 2);
  EXPECT_EQ(back.result.hostStatus, 0x0107);
  EXPECT_EQ(back.result.driverStatus, 8);
  EXPECT_EQ(back.result.transferred, 2u);
  EXPECT_EQ(back.result.sense, result.result.sense);
  EXPECT_EQ(back.result.detail, result.result.detail);
  EXPECT_EQ(back.data, result.data);
}

TEST(HelperFrames, EveryMessageComesThroughTheReaderInAnyPieces) {
  Command read;
  read.session = 9;
  read.cdbLength = 6;
  read.cdb[0] = 0x12;
  read.length = 36;
  const std::vector<Message> messages = {
      Hello{kMaxData, "0.2.0"},
      Enumerate{},
      Interfaces{{"usbsto:/dev/sg0", "sbp2:/dev/sg3"}, {"usbsto:/dev/sr0"}},
      Open{"usbsto:/dev/sg0", false},
      Opened{42},
      read,
      Result{},
      Close{42},
      Closed{},
      Refused{RefusalReason::NotListed, "/dev/sda is not listed"},
      Refused{RefusalReason::NotAllowed, "WRITE BUFFER is not firmware work"},
      Refused{RefusalReason::NotIdentified, "no unit of this family"},
  };
  Bytes stream;
  for (const auto& m : messages) {
    const Bytes frame = EncodeFrame(m);
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  for (const size_t piece : {size_t{1}, size_t{3}, size_t{7}, stream.size()}) {
    SCOPED_TRACE("pieces of " + std::to_string(piece));
    FrameReader reader;
    std::vector<Message> got;
    for (size_t at = 0; at < stream.size(); at += piece) {
      reader.Feed(std::span(stream).subspan(at, std::min(piece, stream.size() - at)));
      while (auto body = reader.Next()) {
        Decoded decoded = DecodeBody(*body);
        ASSERT_TRUE(std::holds_alternative<Message>(decoded))
            << std::get<DecodeFailure>(decoded).text;
        got.push_back(std::get<Message>(decoded));
      }
    }
    ASSERT_EQ(got.size(), messages.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(TypeOf(got[i]), TypeOf(messages[i]));
      EXPECT_EQ(EncodeFrame(got[i]), EncodeFrame(messages[i])) << "message " << i;
    }
    EXPECT_EQ(reader.Pending(), 0u);
  }
}

TEST(HelperFrames, TheLargestDataPhaseFitsTheFrameBound) {
  Command write;
  write.session = 1;
  write.direction = DataDirection::Out;
  write.cdbLength = 12;
  write.length = kMaxData;
  write.timeoutSeconds = 50;
  write.data.assign(kMaxData, 0x5A);
  const Bytes frame = EncodeFrame(write);
  ASSERT_FALSE(frame.empty());
  FrameReader reader;
  reader.Feed(frame);
  const auto body = reader.Next();
  ASSERT_TRUE(body);
  const Decoded decoded = DecodeBody(*body);
  ASSERT_TRUE(std::holds_alternative<Message>(decoded));
  EXPECT_EQ(std::get<Command>(std::get<Message>(decoded)).data.size(), kMaxData);

  // One byte more is the caller's fault and gives no frame at all.
  write.data.push_back(0);
  EXPECT_TRUE(EncodeFrame(write).empty());
}

TEST(HelperFrames, ALengthPrefixOverTheBoundBreaksTheStreamWithoutReadingOn) {
  for (const uint32_t length : {kMaxFrameBody + 1, 0xFFFFFFFFu}) {
    FrameReader reader;
    reader.Feed(Le32(length));
    EXPECT_FALSE(reader.Next());
    EXPECT_TRUE(reader.Broken());
    EXPECT_NE(reader.Failure().find(std::to_string(length)), std::string::npos);
    reader.Feed(EncodeFrame(Enumerate{}));
    EXPECT_FALSE(reader.Next()) << "nothing is taken after a broken frame";
    EXPECT_EQ(reader.Pending(), 0u);
  }
}

struct BadBody {
  const char* name;
  Bytes body;
  RefusalReason reason;
};

TEST(HelperFrames, BodiesThatBreakTheFormatAreRefusedWithTheirReason) {
  const Bytes cdb(16, 0);
  const std::vector<BadBody> cases = {
      {"empty", {}, RefusalReason::Malformed},
      {"header cut", {kProtocolVersion}, RefusalReason::Malformed},
      {"version 1, before the helper judged commands",
       {1, static_cast<uint8_t>(MessageType::Enumerate)},
       RefusalReason::Malformed},
      {"unknown type", {kProtocolVersion, 99}, RefusalReason::Malformed},
      {"byte after Enumerate", Body(MessageType::Enumerate, {0}), RefusalReason::Malformed},
      {"exclusive 2", Body(MessageType::Open, Cat({{2}, Text("usbsto:/dev/sg0")})),
       RefusalReason::Malformed},
      {"path with a zero byte", Body(MessageType::Open, Cat({{0}, Text(std::string("a\0b", 3))})),
       RefusalReason::Malformed},
      {"empty path", Body(MessageType::Open, Cat({{0}, Text("")})), RefusalReason::Malformed},
      {"path of 256 bytes", Body(MessageType::Open, Cat({{0}, Text(std::string(256, 'a'))})),
       RefusalReason::Malformed},
      {"text longer than its frame", Body(MessageType::Open, {0, 10, 0, 'a'}),
       RefusalReason::Malformed},
      {"block of 0 bytes", CommandBody(0, 0, 0, 10), RefusalReason::Malformed},
      {"block of 17 bytes", CommandBody(0, 17, 0, 10), RefusalReason::Malformed},
      {"direction 2", CommandBody(2, 6, 0, 10), RefusalReason::Malformed},
      {"time-out 0", CommandBody(0, 6, 0, 0), RefusalReason::Malformed},
      {"time-out over 100 s", CommandBody(0, 6, 0, 101), RefusalReason::Malformed},
      {"data with a data-in command", CommandBody(0, 6, 1, 10, {0}), RefusalReason::Malformed},
      {"data-out shorter than its length", CommandBody(1, 6, 4, 10, {1, 2, 3}),
       RefusalReason::Malformed},
      {"data-out longer than its length", CommandBody(1, 6, 2, 10, {1, 2, 3}),
       RefusalReason::Malformed},
      {"data-in over the bound", CommandBody(0, 6, kMaxData + 1, 10), RefusalReason::TooLong},
      {"data-out over the bound", CommandBody(1, 6, 0xFFFFFFFF, 10), RefusalReason::TooLong},
      {"65 interfaces", Body(MessageType::Interfaces, {65, 0, 0, 0}), RefusalReason::Malformed},
      {"sense of 253 bytes",
       Body(MessageType::Result, Cat({{0x06}, Le32(0), {0, 0, 0, 0, 0}, Le32(0), {253}})),
       RefusalReason::Malformed},
      {"unknown result flag",
       Body(MessageType::Result,
            Cat({{0x08}, Le32(0), {0, 0, 0, 0, 0}, Le32(0), {0}, Text(""), Le32(0)})),
       RefusalReason::Malformed},
      {"refusal reason 0", Body(MessageType::Refused, Cat({{0}, Text("x")})),
       RefusalReason::Malformed},
      {"refusal reason 9", Body(MessageType::Refused, Cat({{9}, Text("x")})),
       RefusalReason::Malformed},
  };
  for (const auto& c : cases) {
    const Decoded decoded = DecodeBody(c.body);
    ASSERT_TRUE(std::holds_alternative<DecodeFailure>(decoded)) << c.name;
    const auto& failure = std::get<DecodeFailure>(decoded);
    EXPECT_EQ(failure.reason, c.reason) << c.name << ": " << failure.text;
    EXPECT_FALSE(failure.text.empty()) << c.name;
  }
}

}  // namespace
}  // namespace fwtool::helper
