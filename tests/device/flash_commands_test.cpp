// SPDX-License-Identifier: GPL-2.0-or-later
#include "flash_commands.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <vector>

#include "capture_backend.h"
#include "pass_through.h"
#include "serial_flash_commands.h"

namespace fwtool {
namespace {

using testing::ScopedCaptureBackend;
using Bytes = std::vector<uint8_t>;

struct CommandCase {
  const char* name;
  std::function<int(std::string_view, uint8_t*)> send;
  Bytes block;
  DataDirection direction;
  uint32_t length;  // effective length on the bus
  uint32_t timeout;
};

TEST(FlashCommands, BlocksDirectionsLengthsAndTimeOuts) {
  const CommandCase cases[] = {
      {"ReadFlash",
       [](auto path, uint8_t* b) { return ReadFlash(path, 0x012345, b, 0x2000); },
       {0xDF, 0x10, 0, 0x20, 0x00, 0, 0, 0, 0x01, 0x23, 0x45, 0xFA},
       DataDirection::In,
       0x2000,
       10},
      {"WriteFlash mode 2",
       [](auto path, uint8_t* b) { return WriteFlash(path, 0x8000, b, 0x2000, 2); },
       {0xDF, 0x02, 0, 0x20, 0x00, 0, 0, 0, 0x00, 0x80, 0x00, 0xFB},
       DataDirection::Out,
       0x2000,
       50},
      {"WriteFlash mode 0x85",
       [](auto path, uint8_t* b) { return WriteFlash(path, 0, b, 0x2000, 0x85); },
       {0xDF, 0x85, 0, 0x20, 0x00, 0, 0, 0, 0, 0, 0, 0xFB},
       DataDirection::Out,
       0x2000,
       50},
      {"WriteFlash mode 0x7B is mode 3",
       [](auto path, uint8_t* b) { return WriteFlash(path, 0, b, 0x2000, 0x7B); },
       {0xDF, 0x03, 0, 0x20, 0x00, 0, 0, 0, 0, 0, 0, 0xFB},
       DataDirection::Out,
       0x2000,
       100},
      {"WriteFlashPlain set",
       [](auto path, uint8_t* b) { return WriteFlashPlain(path, 0x10000, b, 0x400, true); },
       {0xDF, 0x01, 0, 0x04, 0x00, 0, 0, 0, 0x01, 0x00, 0x00, 0xFB},
       DataDirection::Out,
       0x400,
       50},
      {"WriteFlashPlain clear",
       [](auto path, uint8_t* b) { return WriteFlashPlain(path, 0, b, 0x400, false); },
       {0xDF, 0x00, 0, 0x04, 0x00, 0, 0, 0, 0, 0, 0, 0xFB},
       DataDirection::Out,
       0x400,
       50},
      {"ReadMemory",
       [](auto path, uint8_t* b) { return ReadMemory(path, b, 0xFDB0, 4); },
       {0xDF, 0x10, 0, 0x00, 0x04, 0, 0xFD, 0xB0, 0, 0, 0, 0xFD},
       DataDirection::In,
       4,
       10},
      {"WriteMemory",
       [](auto path, uint8_t* b) { return WriteMemory(path, b, 0x506A, 1); },
       {0xDF, 0x00, 0, 0x00, 0x01, 0, 0x50, 0x6A, 0, 0, 0, 0xFE},
       DataDirection::Out,
       2,
       50},
      {"ReadFlashAt",
       [](auto path, uint8_t* b) { return ReadFlashAt(path, 0xABCDEF, b, 0x400); },
       {0xFF, 0x04, 0x10, 0xAB, 0xCD, 0xEF, 0, 0, 0, 0, 0, 0},
       DataDirection::In,
       0x400,
       10},
      {"WriteFlashAt",
       [](auto path, uint8_t* b) { return WriteFlashAt(path, 0x004000, b, 0x4000); },
       {0xFF, 0x04, 0x11, 0x00, 0x40, 0x00, 0, 0, 0, 0, 0, 0},
       DataDirection::Out,
       0x4000,
       50},
      {"ReadFlashStatus",
       [](auto path, uint8_t* b) { return ReadFlashStatus(path, b); },
       {0xFF, 0x04, 0x12, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       DataDirection::In,
       2,
       10},
      {"EraseFlashChip",
       [](auto path, uint8_t*) { return EraseFlashChip(path); },
       {0xFF, 0x04, 0x13, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       DataDirection::Out,
       0,
       100},
      {"EraseFlashSector",
       [](auto path, uint8_t*) { return EraseFlashSector(path, 0x012000); },
       {0xFF, 0x04, 0x14, 0x01, 0x20, 0x00, 0, 0, 0, 0, 0, 0},
       DataDirection::Out,
       0,
       50},
      {"ReadControllerInfo",
       [](auto path, uint8_t* b) { return ReadControllerInfo(path, b, 20) == 0 ? 0 : 1; },
       {0xFF, 0x04, 0xA0, 20, 0, 0, 0, 0, 0, 0, 0, 0},
       DataDirection::In,
       20,
       10},
      {"HostLinkOpen",
       [](auto path, uint8_t*) { return HostLinkOpen(path); },
       {0xFF, 0x04, 0x56, 0x51, 0x55, 0, 0, 0, 0, 0, 0, 0},
       DataDirection::Out,
       0,
       50},
      {"HostLinkClose",
       [](auto path, uint8_t*) { return HostLinkClose(path); },
       {0xFF, 0x04, 0x56, 0x51, 0xAA, 0, 0, 0, 0, 0, 0, 0},
       DataDirection::Out,
       0,
       50},
      {"GetFlashMakerCode",
       [](auto path, uint8_t* b) { return GetFlashMakerCode(path, b); },
       {0xFF, 0x04, 0x23, 0x04, 0, 0, 0, 0, 0, 0, 0, 0},
       DataDirection::In,
       4,
       10},
      {"ResetDevice",
       [](auto path, uint8_t*) { return ResetDevice(path); },
       {0xFF, 0x04, 0x26, 0x56, 0x51, 0, 0, 0, 0, 0, 0, 0},
       DataDirection::In,
       0,
       10},
  };
  for (const auto& c : cases) {
    ScopedCaptureBackend backend;
    backend->responder = [](const PassThroughRequest& rq) {
      if (rq.data != nullptr)
        for (uint32_t i = 0; i < rq.length; ++i) rq.data[i] = static_cast<uint8_t>(i + 1);
      PassThroughResult r = testing::Answered();
      r.transferred = rq.length;
      return r;
    };
    std::vector<uint8_t> buffer(0x10000, 0);
    EXPECT_EQ(c.send("/dev/x", buffer.data()), 1) << c.name;
    ASSERT_EQ(backend->commands.size(), 1u) << c.name;
    const auto& rq = backend->commands[0].request;
    EXPECT_EQ(Bytes(rq.cdb.begin(), rq.cdb.begin() + rq.cdbLength), c.block) << c.name;
    EXPECT_EQ(rq.direction, c.direction) << c.name;
    EXPECT_EQ(rq.length, c.length) << c.name;
    EXPECT_EQ(rq.timeoutSeconds, c.timeout) << c.name;
  }
}

TEST(FlashCommands, ReadFlashStatusHandsBackOneByte) {
  ScopedCaptureBackend backend;
  backend->responder = [](const PassThroughRequest& rq) {
    rq.data[0] = 0x03;
    rq.data[1] = 0xEE;
    return testing::Answered();
  };
  std::array<uint8_t, 2> status{0, 0x77};
  EXPECT_EQ(ReadFlashStatus("/dev/x", status.data()), 1);
  EXPECT_EQ(status[0], 0x03);
  EXPECT_EQ(status[1], 0x77);
}

TEST(FlashCommands, ReadControllerInfoReturnsByte8) {
  ScopedCaptureBackend backend;
  uint8_t byte8 = 208;
  bool fail = false;
  backend->responder = [&](const PassThroughRequest& rq) {
    rq.data[8] = byte8;
    rq.data[19] = 1;
    return testing::Answered(true, fail ? 2 : 0);
  };
  std::array<uint8_t, 20> info{};
  EXPECT_EQ(ReadControllerInfo("/dev/x", info.data(), 20), 208);
  EXPECT_EQ(info[19], 1);
  fail = true;
  EXPECT_EQ(ReadControllerInfo("/dev/x", info.data(), 20), 0);
}

TEST(FlashCommands, MemoryFlag505E) {
  struct Case {
    Bytes reply;
    bool ok;
    int expected;
  };
  const Case cases[] = {
      {{9, 0, 1, 9}, true, 1},
      {{0, 1, 1, 0}, true, 0},
      {{0, 0, 0, 0}, true, 0},
      {{9, 0, 1, 9}, false, 0},
  };
  for (const auto& c : cases) {
    ScopedCaptureBackend backend;
    backend->responder = [&](const PassThroughRequest& rq) {
      std::copy(c.reply.begin(), c.reply.end(), rq.data);
      return testing::Answered(c.ok);
    };
    EXPECT_EQ(MemoryFlag505E("/dev/x"), c.expected);
    ASSERT_EQ(backend->commands.size(), 1u);
    EXPECT_EQ(backend->commands[0].request.cdb[6], 0x50);
    EXPECT_EQ(backend->commands[0].request.cdb[7], 0x5E);
  }
}

}  // namespace
}  // namespace fwtool
