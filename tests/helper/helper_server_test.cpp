// SPDX-License-Identifier: GPL-2.0-or-later
// The helper as the program meets it: hello first, the list it made itself,
// sessions and commands on listed paths only, and every refusal answered
// with its reason: the stream stays in step after a path it did not list
// or a length over its bound, and ends after a frame it cannot read.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "helper_rig.h"

namespace fwtool::helper::testing {
namespace {

using Bytes = std::vector<uint8_t>;

class HelperServe : public ::testing::Test {
 protected:
  HelperRig rig{"vqb719,vqb717"};
  FrameLink link{rig.programEnd, rig.programEnd};

  void SetUp() override {
    const Incoming hello = link.Receive(5000);
    ASSERT_EQ(hello.kind, Incoming::Kind::Message);
    const auto* h = std::get_if<Hello>(&hello.message);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->maxData, kMaxData);
    EXPECT_EQ(h->version, "test");
  }

  Message Ask(const Message& request) {
    EXPECT_TRUE(link.Send(request));
    Incoming reply = link.Receive(5000);
    EXPECT_EQ(reply.kind, Incoming::Kind::Message);
    return reply.message;
  }
  void SendRaw(const Bytes& bytes) {
    ASSERT_EQ(::write(rig.programEnd, bytes.data(), bytes.size()),
              static_cast<ssize_t>(bytes.size()));
  }
  uint32_t OpenSession(size_t unit, bool exclusive = false) {
    const Message reply = Ask(Open{rig.farm->Unit(unit).diskPath, exclusive});
    const auto* opened = std::get_if<Opened>(&reply);
    EXPECT_TRUE(opened);
    return opened != nullptr ? opened->session : 0;
  }
  static Command Inquiry(uint32_t session) {
    Command c;
    c.session = session;
    c.cdbLength = 6;
    c.cdb = {0x12, 0, 0, 0, 36, 0};
    c.length = 36;
    return c;
  }
};

TEST_F(HelperServe, ListsTheUnitsItFoundAndRunsCommandsOnThem) {
  const Message listed = Ask(Enumerate{});
  const auto* interfaces = std::get_if<Interfaces>(&listed);
  ASSERT_TRUE(interfaces);
  EXPECT_EQ(interfaces->disks, rig.farm->DiskInterfaces());
  EXPECT_EQ(interfaces->cdroms, rig.farm->CdromInterfaces());

  const uint32_t session = OpenSession(1);
  // The helper identified the unit as the session opened.
  const size_t identified = rig.farm->Controller(1).Log().size();
  ASSERT_GT(identified, 0u);
  const Message reply = Ask(Inquiry(session));
  const auto* result = std::get_if<Result>(&reply);
  ASSERT_TRUE(result);
  EXPECT_TRUE(result->result.Succeeded()) << result->result.detail;
  ASSERT_EQ(result->data.size(), 36u);
  EXPECT_EQ(result->result.transferred, 36u);
  ASSERT_EQ(rig.farm->Controller(1).Log().size(), identified + 1);
  EXPECT_EQ(rig.farm->Controller(1).Log().back().cdb[0], 0x12);
  EXPECT_TRUE(rig.farm->Controller(0).Log().empty());

  EXPECT_TRUE(std::holds_alternative<Closed>(Ask(Close{session})));
  // A closed session takes no more commands.
  const Message late = Ask(Inquiry(session));
  ASSERT_TRUE(std::holds_alternative<Refused>(late));
  EXPECT_EQ(std::get<Refused>(late).reason, RefusalReason::NoSession);
}

TEST_F(HelperServe, ADataOutCommandCarriesItsBytesToTheUnit) {
  const uint32_t session = OpenSession(0, true);
  // A 1 KB flash write at 0x8000 (DF ... FB, mode 1).
  Command write;
  write.session = session;
  write.direction = DataDirection::Out;
  write.exclusive = true;
  write.cdbLength = 12;
  write.cdb = {0xDF, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x01, 0xFB};
  write.length = 1024;
  write.timeoutSeconds = 50;
  write.data.assign(1024, 0xA5);
  const Message reply = Ask(write);
  ASSERT_TRUE(std::holds_alternative<Result>(reply));
  EXPECT_TRUE(std::get<Result>(reply).data.empty());
  const auto& log = rig.farm->Controller(0).Log();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back().direction, DataDirection::Out);
  EXPECT_EQ(log.back().dataOut, write.data);
}

struct Refusal {
  const char* name;
  Message request;
  RefusalReason reason;
};

TEST_F(HelperServe, RefusesWhatItMayNotServeAndStaysInStep) {
  const std::string listed = rig.farm->Unit(0).diskPath;
  std::string upper = listed;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  Command tooLong = Inquiry(OpenSession(0));
  const size_t identified = rig.farm->Controller(0).Log().size();
  const std::vector<Refusal> cases = {
      {"an internal disk", Open{"/dev/sda", true}, RefusalReason::NotListed},
      {"a file", Open{"/etc/shadow", false}, RefusalReason::NotListed},
      {"a bus-marked node it did not list", Open{"usbsto:/dev/sg9", false},
       RefusalReason::NotListed},
      {"a listed path in other case", Open{upper, false}, RefusalReason::NotListed},
      {"a listed path and more", Open{listed + "/../sda", false}, RefusalReason::NotListed},
      {"a session it never gave", Inquiry(77), RefusalReason::NoSession},
      {"closing one it never gave", Close{77}, RefusalReason::NoSession},
      {"a hello from the program", Hello{}, RefusalReason::Unexpected},
      {"a result from the program", Result{}, RefusalReason::Unexpected},
  };
  for (const auto& c : cases) {
    const Message reply = Ask(c.request);
    ASSERT_TRUE(std::holds_alternative<Refused>(reply)) << c.name;
    EXPECT_EQ(std::get<Refused>(reply).reason, c.reason) << c.name;
    EXPECT_FALSE(std::get<Refused>(reply).text.empty()) << c.name;
  }
  // A data-in phase over the bound: the frame is small and whole, so the
  // helper refuses it and goes on.
  tooLong.length = kMaxData + 1;
  const Message reply = Ask(tooLong);
  ASSERT_TRUE(std::holds_alternative<Refused>(reply));
  EXPECT_EQ(std::get<Refused>(reply).reason, RefusalReason::TooLong);
  EXPECT_NE(std::get<Refused>(reply).text.find(std::to_string(kMaxData + 1)), std::string::npos);

  EXPECT_TRUE(std::holds_alternative<Interfaces>(Ask(Enumerate{})));
  EXPECT_EQ(rig.farm->Controller(0).Log().size(), identified) << "nothing refused reached a unit";
}

TEST_F(HelperServe, EverySessionSlotCanBeTakenButNoMore) {
  for (size_t i = 0; i < kMaxSessions; ++i) ASSERT_NE(OpenSession(0), 0u) << i;
  const Message reply = Ask(Open{rig.farm->Unit(0).diskPath, false});
  ASSERT_TRUE(std::holds_alternative<Refused>(reply));
  EXPECT_EQ(std::get<Refused>(reply).reason, RefusalReason::TooManySessions);
}

struct Broken {
  const char* name;
  Bytes bytes;
  RefusalReason reason;
};

TEST(HelperServeBroken, AFrameItCannotReadIsRefusedAndEndsTheService) {
  const std::vector<Broken> cases = {
      {"an unknown message type", {2, 0, 0, 0, kProtocolVersion, 99}, RefusalReason::Malformed},
      {"another protocol version", {2, 0, 0, 0, 9, 2}, RefusalReason::Malformed},
      {"a cut command", {3, 0, 0, 0, kProtocolVersion, 6, 1}, RefusalReason::Malformed},
      {"a frame over the bound", {0xFF, 0xFF, 0xFF, 0xFF}, RefusalReason::TooLong},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HelperRig rig("vqb719");
    FrameLink link(rig.programEnd, rig.programEnd);
    ASSERT_EQ(link.Receive(5000).kind, Incoming::Kind::Message);  // hello
    ASSERT_EQ(::write(rig.programEnd, c.bytes.data(), c.bytes.size()),
              static_cast<ssize_t>(c.bytes.size()));
    const Incoming reply = link.Receive(5000);
    ASSERT_EQ(reply.kind, Incoming::Kind::Message);
    ASSERT_TRUE(std::holds_alternative<Refused>(reply.message));
    EXPECT_EQ(std::get<Refused>(reply.message).reason, c.reason);
    EXPECT_EQ(link.Receive(5000).kind, Incoming::Kind::Ended);
    EXPECT_EQ(rig.Join(), 1);
  }
}

TEST(HelperServeEnd, EndsWhenTheProgramGoesAndClosesItsSessions) {
  HelperRig rig("vqb719");
  {
    FrameLink link(rig.programEnd, rig.programEnd);
    ASSERT_EQ(link.Receive(5000).kind, Incoming::Kind::Message);
    ASSERT_TRUE(link.Send(Open{rig.farm->Unit(0).diskPath, true}));
    ASSERT_EQ(link.Receive(5000).kind, Incoming::Kind::Message);
  }
  ::shutdown(rig.programEnd, SHUT_WR);
  EXPECT_EQ(rig.Join(), 0);
}

}  // namespace
}  // namespace fwtool::helper::testing
