// SPDX-License-Identifier: GPL-2.0-or-later
#include "device_session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "held_node.h"
#include "transport.h"

namespace fwtool {
namespace {

// A platform backend whose nodes are numbered: it notes every open and close
// and on which node each command went.
class NodeBackend final : public PassThroughBackend {
 public:
  struct Open {
    std::string path;
    bool exclusive = false;
    int id = 0;
  };

  PassThroughResult Execute(const PassThroughRequest& request) override {
    NodeOps ops;
    ops.open = [&](bool exclusive, PassThroughResult& failure) -> std::unique_ptr<OpenNode> {
      const std::lock_guard lock(mutex);
      if (gone.count(request.path) != 0) {
        failure.errorCode = 2;
        failure.detail = "cannot open " + request.path + ": no such device (unplugged?)";
        return nullptr;
      }
      const int id = static_cast<int>(opens.size()) + 1;
      opens.push_back({request.path, exclusive, id});
      return std::make_unique<Node>(*this, id, request.path);
    };
    ops.send = [&](OpenNode& open, bool& leftUnder) {
      const auto& node = static_cast<const Node&>(open);
      const std::lock_guard lock(mutex);
      sentOn.push_back(node.id);
      PassThroughResult result;
      result.opened = true;
      leftUnder = gone.count(node.path) != 0 || node.id <= leftAt;
      if (leftUnder) {
        result.errorCode = 19;
        result.detail = "the device is gone";
        return result;
      }
      result.callOk = true;
      return result;
    };
    return ExecuteOnNode(request, ops);
  }

  struct Node final : OpenNode {
    Node(NodeBackend& backend, int id, std::string path)
        : backend(backend), id(id), path(std::move(path)) {}
    ~Node() override {
      const std::lock_guard lock(backend.mutex);
      backend.closed.push_back(id);
    }
    NodeBackend& backend;
    const int id;
    const std::string path;
  };

  std::mutex mutex;
  std::vector<Open> opens;
  std::vector<int> closed;
  std::vector<int> sentOn;
  std::set<std::string> gone;
  int leftAt = 0;  // nodes up to this one were opened on a device that left and came back
};

class DeviceSessionTest : public ::testing::Test {
 protected:
  DeviceSessionTest() : previous_(SetPlatformBackend(backend_)) {}
  ~DeviceSessionTest() override { SetPlatformBackend(previous_); }

  int In(const std::string& path) {
    uint8_t data[4] = {};
    return SendCommandIn(path, kInquiry, 6, data, 4, nullptr);
  }
  int Out(const std::string& path) {
    return SendCommandOut(path, kHostLink, 12, nullptr, 0, nullptr);
  }

  static constexpr uint8_t kInquiry[6] = {0x12, 0, 0, 0, 4, 0};
  static constexpr uint8_t kHostLink[12] = {0xFF, 0x04, 0x00, 0x00, 0x55};
  std::shared_ptr<NodeBackend> backend_ = std::make_shared<NodeBackend>();
  std::shared_ptr<PassThroughBackend> previous_;
};

TEST_F(DeviceSessionTest, WithoutASessionEveryCommandOpensItsOwnNode) {
  EXPECT_EQ(In("/dev/sg1"), 1);
  EXPECT_EQ(Out("/dev/sg1"), 1);
  EXPECT_EQ(In("/dev/sg1"), 1);
  ASSERT_EQ(backend_->opens.size(), 3u);
  EXPECT_FALSE(backend_->opens[0].exclusive);
  EXPECT_TRUE(backend_->opens[1].exclusive) << "a data-out command wants the device to itself";
  EXPECT_FALSE(backend_->opens[2].exclusive);
  EXPECT_EQ(backend_->closed, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(HeldNodeFor("/dev/sg1"), nullptr);
}

TEST_F(DeviceSessionTest, AnExclusiveSessionOpensOnceAtItsFirstCommandAndClosesAtItsEnd) {
  {
    const DeviceSession session("/dev/sg1", SessionAccess::Exclusive);
    EXPECT_TRUE(backend_->opens.empty()) << "nothing is opened before a command needs it";
    EXPECT_EQ(In("/dev/sg1"), 1);
    EXPECT_EQ(Out("/dev/sg1"), 1);
    EXPECT_EQ(In("/dev/sg1"), 1);
    EXPECT_TRUE(backend_->closed.empty());
  }
  ASSERT_EQ(backend_->opens.size(), 1u);
  EXPECT_TRUE(backend_->opens[0].exclusive);
  EXPECT_EQ(backend_->sentOn, (std::vector<int>{1, 1, 1}));
  EXPECT_EQ(backend_->closed, (std::vector<int>{1}));
  // After the session the path is back to one open per command.
  EXPECT_EQ(In("/dev/sg1"), 1);
  EXPECT_EQ(backend_->opens.size(), 2u);
}

TEST_F(DeviceSessionTest, ASharedSessionReopensExclusivelyAtTheFirstDataOutAndStaysSo) {
  {
    const DeviceSession session("/dev/sg1", SessionAccess::Shared);
    In("/dev/sg1");
    In("/dev/sg1");
    Out("/dev/sg1");
    In("/dev/sg1");
    Out("/dev/sg1");
  }
  ASSERT_EQ(backend_->opens.size(), 2u);
  EXPECT_FALSE(backend_->opens[0].exclusive);
  EXPECT_TRUE(backend_->opens[1].exclusive);
  EXPECT_EQ(backend_->sentOn, (std::vector<int>{1, 1, 2, 2, 2}));
  EXPECT_EQ(backend_->closed, (std::vector<int>{1, 2}))
      << "the shared node closes before the exclusive open";
}

TEST_F(DeviceSessionTest, NestedSessionsShareTheNodeWhateverTheCaseOfThePath) {
  {
    const DeviceSession outer("usbsto:/dev/sg1", SessionAccess::Shared);
    In("usbsto:/dev/sg1");
    {
      const DeviceSession inner("USBSTO:/dev/sg1", SessionAccess::Exclusive);
      In("usbsto:/dev/sg1");
    }
    In("usbsto:/dev/sg1");
    EXPECT_EQ(backend_->closed.size(), 1u) << "the inner session's end closes nothing";
  }
  ASSERT_EQ(backend_->opens.size(), 2u);
  EXPECT_FALSE(backend_->opens[0].exclusive);
  EXPECT_TRUE(backend_->opens[1].exclusive) << "the inner exclusive session reopens the node";
  EXPECT_EQ(backend_->sentOn, (std::vector<int>{1, 2, 2}));
  EXPECT_EQ(backend_->closed, (std::vector<int>{1, 2}));
}

TEST_F(DeviceSessionTest, SessionsOnTwoPathsRunOnTwoThreadsEachOnItsOwnNode) {
  constexpr int kCommands = 200;
  std::atomic<int> failures = 0;
  auto run = [&](const std::string& path) {
    const DeviceSession session(path, SessionAccess::Exclusive);
    for (int i = 0; i < kCommands; ++i) failures += In(path) == 1 ? 0 : 1;
  };
  std::thread first(run, "/dev/sg1");
  std::thread second(run, "/dev/sg2");
  first.join();
  second.join();
  EXPECT_EQ(failures, 0);
  ASSERT_EQ(backend_->opens.size(), 2u);
  EXPECT_EQ(backend_->sentOn.size(), 2u * kCommands);
  EXPECT_EQ(backend_->closed.size(), 2u);
}

TEST_F(DeviceSessionTest, ADeviceThatLeftUnderTheNodeFailsTheNextCommandsAsACommandOnItsOwn) {
  std::vector<std::string> lines;
  const auto previous =
      SetCommandTrace([&](const CommandTraceRecord& r) { lines.push_back(FormatTraceRecord(r)); });
  backend_->gone.insert("/dev/sg1");
  EXPECT_EQ(In("/dev/sg1"), 0);  // on its own, for comparison
  backend_->gone.clear();
  {
    const DeviceSession session("/dev/sg1", SessionAccess::Exclusive);
    EXPECT_EQ(In("/dev/sg1"), 1);
    backend_->gone.insert("/dev/sg1");
    EXPECT_EQ(In("/dev/sg1"), 0);
    EXPECT_EQ(In("/dev/sg1"), 0);
  }
  SetCommandTrace(previous);
  ASSERT_EQ(lines.size(), 4u);
  const std::string expected =
      "/dev/sg1 IN  [12 00 00 00 04 00] len=4 t/o=10s -> cannot open: cannot open /dev/sg1: no "
      "such device (unplugged?)";
  EXPECT_EQ(lines[0], expected);
  EXPECT_EQ(lines[2], expected);
  EXPECT_EQ(lines[3], expected);
  ASSERT_EQ(backend_->opens.size(), 1u) << "the reopen after the departure opened nothing";
  EXPECT_EQ(backend_->sentOn, (std::vector<int>{1, 1})) << "the command went on the held node once";
  EXPECT_EQ(backend_->closed, (std::vector<int>{1}));
}

// The unit check of an operation that writes: the identification goes out
// on the node the write goes out on, once per node, and a unit that is not
// the one expected gets no write and no further command.
class UnitCheckTest : public DeviceSessionTest {
 protected:
  UnitCheck Check(std::string answer) {
    return [this, answer] {
      ++checks;
      In("/dev/sg1");
      return answer;
    };
  }
  int checks = 0;
};

TEST_F(UnitCheckTest, TheCheckRunsOnTheExclusiveNodeBeforeTheFirstWriteOnly) {
  {
    const DeviceSession session("/dev/sg1", SessionAccess::Shared, Check(""));
    EXPECT_EQ(In("/dev/sg1"), 1);
    EXPECT_EQ(checks, 0) << "reading needs no check";
    EXPECT_EQ(Out("/dev/sg1"), 1);
    EXPECT_EQ(Out("/dev/sg1"), 1);
    EXPECT_EQ(In("/dev/sg1"), 1);
    EXPECT_EQ(Out("/dev/sg1"), 1);
  }
  EXPECT_EQ(checks, 1);
  ASSERT_EQ(backend_->opens.size(), 2u);
  EXPECT_TRUE(backend_->opens[1].exclusive);
  // The check's INQUIRY went out on the exclusive node the writes went on.
  EXPECT_EQ(backend_->sentOn, (std::vector<int>{1, 2, 2, 2, 2, 2}));
}

TEST_F(UnitCheckTest, AnotherUnitGetsNoWriteAndNoFurtherCommand) {
  std::vector<std::string> lines;
  const auto previous =
      SetCommandTrace([&](const CommandTraceRecord& r) { lines.push_back(FormatTraceRecord(r)); });
  const std::string why = "The device at /dev/sg1 is not the unit that was listed";
  {
    const DeviceSession session("/dev/sg1", SessionAccess::Exclusive, Check(why));
    EXPECT_EQ(In("/dev/sg1"), 1);
    EXPECT_EQ(Out("/dev/sg1"), 0);
    EXPECT_EQ(In("/dev/sg1"), 0);
    EXPECT_EQ(Out("/dev/sg1"), 0);
    EXPECT_EQ(session.Refusal(), why);
  }
  SetCommandTrace(previous);
  EXPECT_EQ(checks, 1);
  EXPECT_EQ(backend_->sentOn, (std::vector<int>{1, 1})) << "the first read and the check's";
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[2],
            "/dev/sg1 OUT [FF 04 00 00 55 00 00 00 00 00 00 00] len=0 t/o=50s -> not sent: " + why);
  // The refusal ends with the operation.
  const DeviceSession next("/dev/sg1", SessionAccess::Exclusive);
  EXPECT_EQ(Out("/dev/sg1"), 1);
}

TEST_F(UnitCheckTest, AWriteIsNeverSentOnANodeOpenedAgainUntilTheCheckPassedThere) {
  const DeviceSession session("/dev/sg1", SessionAccess::Exclusive, Check(""));
  EXPECT_EQ(Out("/dev/sg1"), 1);
  EXPECT_EQ(checks, 1);
  // The device leaves and a device comes back under the same node name.
  backend_->leftAt = 1;
  EXPECT_EQ(Out("/dev/sg1"), 0) << "the write met the departure";
  EXPECT_EQ(backend_->sentOn, (std::vector<int>{1, 1, 1})) << "and was not sent again on node 2";
  EXPECT_EQ(Out("/dev/sg1"), 1);
  EXPECT_EQ(checks, 2) << "the next write identified the unit on the new node first";
  EXPECT_EQ(backend_->sentOn, (std::vector<int>{1, 1, 1, 2, 2}));
}

}  // namespace
}  // namespace fwtool
