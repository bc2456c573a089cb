// SPDX-License-Identifier: GPL-2.0-or-later
// The parallel flash commands: their blocks, the unlock scripts of each part
// written out from the datasheets' sequences, and how the busy answer reads.
#include "parallel_flash_commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "capture_backend.h"
#include "pass_through.h"

namespace fwtool {
namespace {

using testing::ScopedCaptureBackend;
using Bytes = std::vector<uint8_t>;

// Byte program: AA at the first unlock address, 55 at the second, A0 at the
// first; chip erase: AA, 55, 80, AA, 55, 10 at first, second, first, first,
// second, first. Addresses least significant byte first, then the data.
struct ScriptCase {
  int kind;
  Bytes program;
  Bytes erase;
};

const ScriptCase kScripts[] = {
    // AT49BV512: 5555 / 2AAA.
    {0,
     {0x55, 0x55, 0xAA, 0x2A, 0x55, 0x55, 0xAA, 0x55, 0xA0},
     {0x55, 0x55, 0xAA, 0x2A, 0x55, 0x55, 0x55, 0x55, 0xAA, 0x2A, 0x55, 0x55, 0xAA, 0x55, 0x80,
      0xAA, 0x55, 0x10}},
    // Pm39LV512: 555 / 2AA.
    {1,
     {0x55, 0x05, 0xAA, 0x02, 0x55, 0x05, 0xAA, 0x55, 0xA0},
     {0x55, 0x05, 0xAA, 0x02, 0x55, 0x05, 0x55, 0x05, 0xAA, 0x02, 0x55, 0x05, 0xAA, 0x55, 0x80,
      0xAA, 0x55, 0x10}},
    // SST39LF512: 5555 / 2AAA, as the ATMEL part.
    {2,
     {0x55, 0x55, 0xAA, 0x2A, 0x55, 0x55, 0xAA, 0x55, 0xA0},
     {0x55, 0x55, 0xAA, 0x2A, 0x55, 0x55, 0x55, 0x55, 0xAA, 0x2A, 0x55, 0x55, 0xAA, 0x55, 0x80,
      0xAA, 0x55, 0x10}},
    // No part chosen, or one the list does not have: nothing the part obeys.
    {-1, Bytes(9, 0), Bytes(18, 0)},
    {3, Bytes(9, 0), Bytes(18, 0)},
};

TEST(ParallelFlashCommands, ScriptsOfEachPart) {
  for (const auto& c : kScripts) {
    SCOPED_TRACE("kind " + std::to_string(c.kind));
    const auto program = ProgramScriptFor(c.kind);
    const auto erase = EraseScriptFor(c.kind);
    EXPECT_EQ(Bytes(program.begin(), program.end()), c.program);
    EXPECT_EQ(Bytes(erase.begin(), erase.end()), c.erase);

    ScopedCaptureBackend backend;
    const Bytes data = {1, 2, 3, 4};
    EXPECT_EQ(ProgramParallelFlash("/dev/x", data.data(), 4, c.kind), 1);
    EXPECT_EQ(LoadParallelEraseScript("/dev/x", c.kind), 1);
    ASSERT_EQ(backend->commands.size(), 2u);
    const auto& programBlock = backend->commands[0].request.cdb;
    Bytes expectedBlock(12, 0);
    expectedBlock[0] = 0xFF;
    expectedBlock[1] = 0x04;
    expectedBlock[2] = 0x02;
    std::copy(c.program.begin(), c.program.end(), expectedBlock.begin() + 3);
    EXPECT_EQ(Bytes(programBlock.begin(), programBlock.begin() + 12), expectedBlock);
    EXPECT_EQ(backend->commands[0].dataOut, data);
    EXPECT_EQ(backend->commands[1].dataOut, c.erase);
  }
}

struct BlockCase {
  const char* name;
  std::function<int(std::string_view, uint8_t*)> send;
  Bytes block;
  DataDirection direction;
  uint32_t length;
};

TEST(ParallelFlashCommands, Blocks) {
  const BlockCase cases[] = {
      {"select",
       [](auto p, uint8_t*) { return ParallelFlashSelect(p); },
       {0xFF, 0x04, 0x05, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       DataDirection::Out,
       0},
      {"erase script",
       [](auto p, uint8_t*) { return LoadParallelEraseScript(p, 0); },
       {0xFF, 0x04, 0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       DataDirection::Out,
       18},
      {"erase start",
       [](auto p, uint8_t*) { return ParallelFlashEraseStart(p); },
       {0xFF, 0x04, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       DataDirection::Out,
       0},
      {"busy",
       [](auto p, uint8_t*) { return 1 - ParallelFlashBusy(p); },
       {0xFF, 0x04, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       DataDirection::In,
       2},
      {"read at 0x12345",
       [](auto p, uint8_t* b) { return ReadParallelFlash(p, 0x12345, b, 0x400); },
       {0xFF, 0x04, 0x03, 0x45, 0x23, 0x01, 0x00, 0, 0, 0, 0, 0},
       DataDirection::In,
       0x400},
  };
  for (const auto& c : cases) {
    ScopedCaptureBackend backend;
    Bytes buffer(0x400, 0);
    EXPECT_EQ(c.send("/dev/x", buffer.data()), 1) << c.name;
    ASSERT_EQ(backend->commands.size(), 1u) << c.name;
    const auto& rq = backend->commands[0].request;
    EXPECT_EQ(Bytes(rq.cdb.begin(), rq.cdb.begin() + rq.cdbLength), c.block) << c.name;
    EXPECT_EQ(rq.direction, c.direction) << c.name;
    EXPECT_EQ(rq.length, c.length) << c.name;
  }
}

TEST(ParallelFlashCommands, BusyIsZeroOnlyForAReadableNotBusyAnswer) {
  struct Case {
    bool fails;
    uint8_t status;
    int busy;
  };
  for (const Case c : {Case{false, 0, 0}, Case{false, 1, 1}, Case{false, 2, 0}, Case{true, 0, 1}}) {
    ScopedCaptureBackend backend;
    backend->responder = [&](const PassThroughRequest& rq) {
      rq.data[0] = c.status;
      return testing::Answered(true, c.fails ? 2 : 0);
    };
    EXPECT_EQ(ParallelFlashBusy("/dev/x"), c.busy) << int{c.status} << (c.fails ? " failed" : "");
  }
}

}  // namespace
}  // namespace fwtool
