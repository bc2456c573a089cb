// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <vector>

#include "byte_pattern.h"
#include "capture_backend.h"
#include "clock.h"
#include "disk_commands.h"
#include "fake_procedure_host.h"
#include "flash_commands.h"
#include "pass_through.h"
#include "procedures.h"

namespace fwtool {
namespace {

using testing::CapturedCommand;
using testing::FakeProcedureHost;
using testing::Pattern;
using testing::ScopedCaptureBackend;

constexpr const char* kPath = "/dev/usbstor-test";

bool IsStatusRead(const PassThroughRequest& rq) {
  return rq.cdb[0] == 0xFF && rq.cdb[1] == 0x04 && rq.cdb[2] == 0x12;
}
bool IsFlashWrite(const PassThroughRequest& rq) {
  return rq.cdb[0] == 0xDF && rq.cdb[11] == 0xFB;
}
bool IsFlashRead(const PassThroughRequest& rq) {
  return rq.cdb[0] == 0xDF && rq.cdb[11] == 0xFA;
}
uint32_t AddressOf(const PassThroughRequest& rq) {
  return static_cast<uint32_t>(rq.cdb[8] << 16 | rq.cdb[9] << 8 | rq.cdb[10]);
}

// One flash command as the controller saw it.
struct Block {
  uint32_t address;
  uint32_t length;
  uint8_t flag;
  bool operator==(const Block&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Block& b) {
  return os << "(" << b.address << ", " << b.length << ", 0x" << std::hex << int(b.flag) << std::dec
            << ")";
}

std::vector<Block> WrittenBlocks(const std::vector<CapturedCommand>& commands) {
  std::vector<Block> blocks;
  for (const auto& c : commands)
    if (IsFlashWrite(c.request))
      blocks.push_back({AddressOf(c.request), c.request.length, c.request.cdb[1]});
  return blocks;
}

class BlockTransfer : public ::testing::Test {
 protected:
  std::shared_ptr<VirtualClock> clock = std::make_shared<VirtualClock>();
  ScopedClock scopedClock{clock};
  ScopedCaptureBackend backend;
  FakeProcedureHost host;
};

TEST_F(BlockTransfer, WorkedExampleModeTwoFromZero) {
  const auto image = Pattern(65536, 1);
  host.settings.LargeEraseCount = 0;
  host.settings.SmallEraseCount = 0;
  host.status = "Programming";
  ASSERT_EQ(WriteFlashRange(host, kPath, 0, image.data(), 65536, 2), 1);

  const std::vector<Block> expected = {
      {0, 4096, 2},     {4096, 8192, 0},  {12288, 8192, 0}, {20480, 8192, 0}, {28672, 4096, 0},
      {32768, 8192, 2}, {40960, 8192, 0}, {49152, 8192, 0}, {57344, 8192, 0},
  };
  EXPECT_EQ(WrittenBlocks(backend->commands), expected);
  // Command for command: a status read before every block, nothing else.
  ASSERT_EQ(backend->commands.size(), 18u);
  for (size_t i = 0; i < backend->commands.size(); ++i) {
    const auto& rq = backend->commands[i].request;
    EXPECT_TRUE(i % 2 == 0 ? IsStatusRead(rq) : IsFlashWrite(rq)) << "command " << i;
    EXPECT_EQ(rq.path, kPath);
  }
  // Each block carries its own bytes of the source.
  for (const auto& c : backend->commands) {
    if (!IsFlashWrite(c.request)) continue;
    const uint32_t at = AddressOf(c.request);
    EXPECT_TRUE(std::equal(c.dataOut.begin(), c.dataOut.end(), image.begin() + at)) << at;
  }
  EXPECT_EQ(host.progress, 45);
  EXPECT_EQ(host.status, "Programming.........");
}

struct WriteCase {
  const char* name;
  int mode;
  int flashMaker;
  uint32_t start;
  int32_t length;
  int32_t largeCount;
  int32_t smallCount;
  std::vector<Block> expected;
};

TEST_F(BlockTransfer, EraseFlagsAndBlockCuts) {
  std::vector<Block> mode1;
  for (uint32_t a = 0; a < 65536; a += 4096) mode1.push_back({a, 4096, 1});
  std::vector<Block> mode3 = {{0, 4096, 3}};
  for (uint32_t a = 4096; a < 65536 - 4096; a += 8192) mode3.push_back({a, 8192, 0});
  mode3.push_back({61440, 4096, 0});
  std::vector<Block> mode0 = mode3;
  mode0[0].flag = 0;

  const WriteCase cases[] = {
      {"mode 1 erases every sector", 1, 0, 0, 65536, 0, 0, mode1},
      {"bit 7 of the mode is ignored", 0x81, 0, 0, 65536, 0, 0, mode1},
      {"mode 3 erases the chip with the first block", 3, 0, 0, 65536, 0, 0, mode3},
      {"mode 0 never erases", 0, 0, 0, 65536, 0, 0, mode0},
      {"maker 5 marks the first block",
       2,
       5,
       0,
       65536,
       0,
       0,
       {{0, 4096, 0x82},
        {4096, 8192, 0},
        {12288, 8192, 0},
        {20480, 8192, 0},
        {28672, 4096, 0},
        {32768, 8192, 2},
        {40960, 8192, 0},
        {49152, 8192, 0},
        {57344, 8192, 0}}},
      {"maker 5 in mode 3", 3, 5, 0, 8192, 0, 0, {{0, 4096, 0x83}, {4096, 4096, 0}}},
      {"maker 5 in mode 0 sets no bit", 0, 5, 0, 4096, 0, 0, {{0, 4096, 0}}},
      {"write from 64 KB with the count set",
       2,
       0,
       65536,
       16384,
       2,
       0,
       {{65536, 8192, 2}, {73728, 8192, 0}}},
      // Counts left at zero for a write that starts at 64 KB: the blocks are
      // the same as with the counts set, never empty or negative.
      {"write from 64 KB with the counts behind",
       2,
       0,
       65536,
       16384,
       0,
       0,
       {{65536, 8192, 2}, {73728, 8192, 0}}},
      {"sector mode with the counts behind",
       1,
       0,
       8192,
       8192,
       0,
       0,
       {{8192, 4096, 1}, {12288, 4096, 1}}},
      // The same range again without a reset: no erase flags.
      {"counts ahead send no flags",
       2,
       0,
       0,
       16384,
       2,
       0,
       {{0, 4096, 0}, {4096, 8192, 0}, {12288, 4096, 0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    backend->commands.clear();
    host.flashMaker = c.flashMaker;
    host.settings.LargeEraseCount = c.largeCount;
    host.settings.SmallEraseCount = c.smallCount;
    const auto data = Pattern(static_cast<size_t>(c.length), 2);
    EXPECT_EQ(WriteFlashRange(host, kPath, c.start, data.data(), c.length, c.mode), 1);
    EXPECT_EQ(WrittenBlocks(backend->commands), c.expected);
  }
}

TEST(EraseRule, BlocksAreNeverEmptyWhateverTheCounts) {
  for (int mode : {1, 2, 4, 5, 0x82}) {
    for (int32_t count : {0, 1, 3, 50}) {
      for (uint32_t address : {0u, 4096u, 32768u, 65536u, 200000u}) {
        FlashSettings settings;
        settings.LargeEraseCount = count;
        settings.SmallEraseCount = count;
        EraseFlagFor(settings, address, mode);
        const int32_t block = ClipToEraseUnit(settings, address, 8192, mode);
        EXPECT_GE(block, 1) << mode << " " << count << " " << address;
        EXPECT_LE(block, 8192);
        // Without the flag call first the cut is still positive.
        FlashSettings fresh;
        EXPECT_GE(ClipToEraseUnit(fresh, address + 1, 8192, mode), 1);
      }
    }
  }
}

TEST_F(BlockTransfer, ReadsMoveWholeUnitsAndAddOneDotPerBlock) {
  backend->responder = [](const PassThroughRequest& rq) {
    if (IsFlashRead(rq))
      for (uint32_t i = 0; i < rq.length; ++i) rq.data[i] = static_cast<uint8_t>(0xA0 + i % 16);
    return testing::Answered();
  };
  std::vector<uint8_t> four(4096, 0);
  EXPECT_EQ(ReadFlashRange(host, kPath, 0x1000, four.data(), 4096), 1);
  EXPECT_EQ(host.status, "ReadFlash....");  // the step name and one dot
  auto reads = [&] {
    std::vector<Block> blocks;
    for (const auto& c : backend->commands)
      if (IsFlashRead(c.request)) blocks.push_back({AddressOf(c.request), c.request.length, 0});
    return blocks;
  };
  EXPECT_EQ(reads(), (std::vector<Block>{{0x1000, 4096, 0}}));

  backend->commands.clear();
  std::vector<uint8_t> small(1001, 0x55);
  EXPECT_EQ(ReadFlashRange(host, kPath, 0, small.data(), 1000), 1);
  EXPECT_EQ(reads(), (std::vector<Block>{{0, 1024, 0}}));
  EXPECT_EQ(small[999], 0xA0 + 999 % 16);
  EXPECT_EQ(small[1000], 0x55);  // nothing past the caller's length

  backend->commands.clear();
  host.settings.TransferBlockSize = 4096;
  std::vector<uint8_t> big(65536);
  EXPECT_EQ(ReadFlashRange(host, kPath, 0, big.data(), 65536), 1);
  EXPECT_EQ(reads().size(), 16u);
}

TEST_F(BlockTransfer, FailedBlockEndsTheTransferAndLeavesZeros) {
  int reads = 0;
  backend->responder = [&](const PassThroughRequest& rq) {
    if (IsFlashRead(rq)) {
      if (++reads == 3) return testing::Answered(true, 2);
      std::fill(rq.data, rq.data + rq.length, 0xEE);
    }
    return testing::Answered();
  };
  std::vector<uint8_t> data(65536, 0x11);
  EXPECT_EQ(ReadFlashRange(host, kPath, 0, data.data(), 65536), 0);
  EXPECT_EQ(reads, 3);
  EXPECT_EQ(data[16383], 0xEE);
  EXPECT_EQ(data[16384], 0x00);
  EXPECT_EQ(data[65535], 0x00);
  EXPECT_EQ(host.status, "ReadFlash.....");  // the step name and two dots

  int writes = 0;
  backend->commands.clear();
  backend->responder = [&](const PassThroughRequest& rq) {
    if (IsFlashWrite(rq) && ++writes == 2) return testing::Answered(false);
    return testing::Answered();
  };
  host.status = "Programming";
  EXPECT_EQ(WriteFlashRange(host, kPath, 0, data.data(), 65536, 2), 0);
  EXPECT_EQ(WrittenBlocks(backend->commands).size(), 2u);
  EXPECT_EQ(host.status, "Programming.");
  EXPECT_EQ(host.progress, 5);
}

TEST_F(BlockTransfer, ZeroLengthSendsNothing) {
  std::vector<uint8_t> data(16);
  EXPECT_EQ(ReadFlashRange(host, kPath, 0, data.data(), 0), 0);
  EXPECT_EQ(WriteFlashRange(host, kPath, 0, data.data(), 0, 2), 0);
  EXPECT_EQ(WriteFlashRange(host, kPath, 0, data.data(), -5, 2), 0);
  EXPECT_TRUE(backend->commands.empty());
}

TEST_F(BlockTransfer, HiddenProgressBarIsNotTouched) {
  host.progressVisible = false;
  const auto data = Pattern(16384, 3);
  EXPECT_EQ(WriteFlashRange(host, kPath, 0, data.data(), 16384, 0), 1);
  EXPECT_EQ(host.progress, 0);
}

// Status replies: busy for the first `busyReads` reads (all of them when
// negative).
void ScriptBusy(testing::CaptureBackend& backend, int busyReads, int& statusReads) {
  backend.responder = [&statusReads, busyReads](const PassThroughRequest& rq) {
    if (IsStatusRead(rq)) {
      const bool busy = busyReads < 0 || statusReads < busyReads;
      ++statusReads;
      rq.data[0] = busy ? 0x01 : 0x00;
      rq.data[1] = 0xFF;
    }
    return testing::Answered();
  };
}

TEST_F(BlockTransfer, WaitDeviceReadyLimits) {
  struct Case {
    int busyReads;
    int expectedResult;
    int expectedReads;
  };
  const Case cases[] = {
      {0, 1, 1},      // ready at once
      {3, 1, 4},      // three busy answers
      {500, 1, 501},  // ready on re-read 500
      {501, 0, 502},  // ready on re-read 501 is too late
      {-1, 0, 503},   // never ready: gives up after 502 re-reads
  };
  for (const auto& c : cases) {
    int statusReads = 0;
    ScriptBusy(*backend, c.busyReads, statusReads);
    const auto before = clock->Now();
    EXPECT_EQ(WaitDeviceReady(kPath), c.expectedResult) << c.busyReads;
    EXPECT_EQ(statusReads, c.expectedReads) << c.busyReads;
    EXPECT_EQ(clock->Now() - before, std::chrono::milliseconds(10 * (c.expectedReads - 1)));
  }
}

TEST_F(BlockTransfer, FailedStatusReadCountsAsReady) {
  backend->responder = [](const PassThroughRequest& rq) {
    rq.data[0] = 0x01;  // garbage left in the buffer by a failed read
    return testing::Answered(true, 2);
  };
  EXPECT_EQ(WaitDeviceReady(kPath), 1);
  EXPECT_EQ(backend->commands.size(), 1u);
}

TEST_F(BlockTransfer, StuckBusyBlockIsStillSent) {
  int statusReads = 0;
  ScriptBusy(*backend, -1, statusReads);
  std::vector<uint8_t> data(4096);
  EXPECT_EQ(ReadFlashRange(host, kPath, 0, data.data(), 4096), 1);
  EXPECT_EQ(statusReads, 503);
  EXPECT_TRUE(IsFlashRead(backend->commands.back().request));
}

}  // namespace
}  // namespace fwtool
