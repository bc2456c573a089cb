// SPDX-License-Identifier: GPL-2.0-or-later
// The serial-flash pass-through as blocks on the wire: every instruction's
// block, direction, length and data, the status waits, and how programming
// cuts its data into instructions and judges their results.
#include "serial_flash_commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "byte_pattern.h"
#include "capture_backend.h"
#include "clock.h"
#include "pass_through.h"

namespace fwtool {
namespace {

using testing::Answered;
using testing::CapturedCommand;
using testing::ScopedCaptureBackend;
using Bytes = std::vector<uint8_t>;

constexpr DataDirection kIn = DataDirection::In;
constexpr DataDirection kOut = DataDirection::Out;

struct Sent {
  Bytes block;  // 12 bytes
  DataDirection direction;
  uint32_t length;  // on the bus
  Bytes data = {};  // data-out bytes, when any
};

Bytes Ff04(std::initializer_list<uint8_t> bytes) {
  Bytes block(12, 0);
  std::copy(bytes.begin(), bytes.end(), block.begin());
  return block;
}

Bytes BlockOf(const CapturedCommand& c) {
  return Bytes(c.request.cdb.begin(), c.request.cdb.begin() + c.request.cdbLength);
}

void ExpectSent(const std::vector<CapturedCommand>& commands, const std::vector<Sent>& expected,
                const char* name) {
  ASSERT_EQ(commands.size(), expected.size()) << name;
  for (size_t i = 0; i < expected.size(); ++i) {
    const auto& c = commands[i];
    EXPECT_EQ(BlockOf(c), expected[i].block) << name << " command " << i;
    EXPECT_EQ(c.request.direction, expected[i].direction) << name << " command " << i;
    EXPECT_EQ(c.request.length, expected[i].length) << name << " command " << i;
    if (!expected[i].data.empty()) {
      EXPECT_EQ(c.dataOut, expected[i].data) << name << " command " << i;
    }
  }
}

class SerialFlashCommands : public ::testing::Test {
 protected:
  std::shared_ptr<VirtualClock> clock_ = std::make_shared<VirtualClock>();
  ScopedClock scopedClock_{clock_};
  ScopedCaptureBackend backend_;
};

// The instructions that prepare a write: status writes allowed (0x50),
// status register 00 00, write enable.
const std::vector<Sent> kPrepareWrite = {
    {Ff04({0xFF, 0x04, 0x20, 0x01, 0x00, 0x50}), kOut, 0},
    {Ff04({0xFF, 0x04, 0x20, 0x01, 0x01, 0x01}), kOut, 0},
    {Ff04({0xFF, 0x04, 0x22, 0, 0, 0, 0, 0x00, 0x02}), kOut, 2, {0x00, 0x00}},
    {Ff04({0xFF, 0x04, 0x20, 0x01, 0x00, 0x06}), kOut, 0},
};

std::vector<Sent> Then(std::vector<Sent> first, const std::vector<Sent>& more) {
  first.insert(first.end(), more.begin(), more.end());
  return first;
}

TEST_F(SerialFlashCommands, EachCommandSendsItsBlocksInOrder) {
  FlashProfile mxic;
  mxic.makerCode = 5;
  FlashProfile sst;
  sst.chipEraseOpcode = 0x60;
  sst.blockEraseOpcode = 0x52;
  sst.programOpcode = 0xAF;
  sst.makerCode = 2;
  const Bytes threeBytes = {0x11, 0x22, 0x33};

  struct Case {
    const char* name;
    std::function<int(std::string_view, uint8_t*)> send;
    std::vector<Sent> sent;
  };
  const Case cases[] = {
      {"SpiReadId 0x9F, 4 bytes",
       [](auto p, uint8_t* b) { return SpiReadId(p, 0x9F, b, 4); },
       {{Ff04({0xFF, 0x04, 0x20, 0x01, 0x01, 0x9F}), kIn, 0},
        {Ff04({0xFF, 0x04, 0x21, 0, 0, 0, 0, 0x00, 0x04}), kIn, 4}}},
      {"SpiReadId 0xAB, 6 bytes",
       [](auto p, uint8_t* b) { return SpiReadId(p, 0xAB, b, 6); },
       {{Ff04({0xFF, 0x04, 0x20, 0x01, 0x01, 0xAB}), kIn, 0},
        {Ff04({0xFF, 0x04, 0x21, 0, 0, 0, 0, 0x00, 0x06}), kIn, 6}}},
      {"ReadAmicFlashKind",
       [](auto p, uint8_t*) { return ReadAmicFlashKind(p) == -1 ? 1 : 0; },
       {{Ff04({0xFF, 0x04, 0x20, 0x01, 0x01, 0x9F}), kIn, 0}, {Ff04({0xFF, 0x04, 0x21}), kIn, 4}}},
      {"ReadAtmelFlashKind",
       [](auto p, uint8_t*) { return ReadAtmelFlashKind(p) == -1 ? 1 : 0; },
       {{Ff04({0xFF, 0x04, 0x20, 0x01, 0x01, 0x9F}), kIn, 0}, {Ff04({0xFF, 0x04, 0x21}), kIn, 4}}},
      {"SpiReadIdShort 0xAB with dummy bytes",
       [](auto p, uint8_t* b) { return SpiReadIdShort(p, b, 0xAB, true); },
       {{Ff04({0xFF, 0x04, 0x15, 0x03, 0xAB, 0x03}), kIn, 3}}},
      {"SpiReadIdShort 0x15 without",
       [](auto p, uint8_t* b) { return SpiReadIdShort(p, b, 0x15, false); },
       {{Ff04({0xFF, 0x04, 0x15, 0x03, 0x15, 0x00}), kIn, 3}}},
      {"SpiCommand with an address",
       [](auto p, uint8_t*) {
         return SpiCommand(p, SpiRecord::Of(4, 1, 0x02, {0x01, 0x23, 0x45}));
       },
       {{Ff04({0xFF, 0x04, 0x20, 0x04, 0x01, 0x02, 0x01, 0x23, 0x45}), kOut, 0}}},
      {"SpiWriteData",
       [&](auto p, uint8_t*) { return SpiWriteData(p, threeBytes.data(), 3); },
       {{Ff04({0xFF, 0x04, 0x22, 0, 0, 0, 0, 0x00, 0x03}), kOut, 3, threeBytes}}},
      {"SpiWriteEnable",
       [](auto p, uint8_t*) { return SpiWriteEnable(p); },
       {{Ff04({0xFF, 0x04, 0x20, 0x01, 0x00, 0x06}), kOut, 0}}},
      {"SpiWriteDisable",
       [](auto p, uint8_t*) { return SpiWriteDisable(p); },
       {{Ff04({0xFF, 0x04, 0x20, 0x01, 0x00, 0x04}), kOut, 0}}},
      {"SpiClearStatus",
       [](auto p, uint8_t*) { return SpiClearStatus(p); },
       {{Ff04({0xFF, 0x04, 0x20, 0x02, 0x00, 0x01}), kOut, 2, {0x01, 0x00}}}},
      {"SpiPrepareWrite", [](auto p, uint8_t*) { return SpiPrepareWrite(p); }, kPrepareWrite},
      {"SpiChipErase", [](auto p, uint8_t*) { return SpiChipErase(p); },
       Then(kPrepareWrite, {{Ff04({0xFF, 0x04, 0x20, 0x01, 0x00, 0xC7}), kOut, 0},
                            {Ff04({0xFF, 0x04, 0x20, 0x01, 0x00, 0x04}), kOut, 0}})},
      {"SetFlashOpcodes",
       [&](auto p, uint8_t*) { return SetFlashOpcodes(p, mxic); },
       {{Ff04({0xFF, 0x04, 0x24, 0x02, 0xC7, 0xD8, 0x02, 0x05, 0x01}), kIn, 0}}},
      {"SetFlashOpcodesEcho",
       [&](auto p, uint8_t*) { return SetFlashOpcodesEcho(p, sst); },
       {{Ff04({0xFF, 0x04, 0x24, 0x02, 0x60, 0x52, 0xAF, 0x02, 0x01}), kIn, 2}}},
      {"SetFlashPageSize 32 with 2 bytes",
       [](auto p, uint8_t*) { return SetFlashPageSize(p, 32, 2); },
       {{Ff04({0xFF, 0x04, 0x25, 0x02, 0x08}), kIn, 2}}},
      {"SetFlashPageSize 256 without data",
       [](auto p, uint8_t*) { return SetFlashPageSize(p, 256, 0); },
       {{Ff04({0xFF, 0x04, 0x25, 0x02, 0x40}), kIn, 0}}},
      {"FlashAccessSetup",
       [](auto p, uint8_t*) { return FlashAccessSetup(p); },
       {{Ff04({0xFF, 0x04, 0x25}), kOut, 0}}},
      {"SetFlashParams 32",
       [&](auto p, uint8_t*) { return SetFlashParams(p, mxic, 32); },
       {{Ff04({0xFF, 0x04, 0x0F, 0xC7, 0xD8, 0x02, 0x20, 0x08}), kOut, 0}}},
      {"SetFlashParamsWide 32",
       [&](auto p, uint8_t*) { return SetFlashParamsWide(p, mxic, 32); },
       {{Ff04({0xFF, 0x04, 0x0F, 0xC7, 0xD8, 0x02, 0x20, 0x00, 0x20}), kOut, 0}}},
  };
  for (const auto& c : cases) {
    backend_->commands.clear();
    Bytes buffer(16, 0);
    EXPECT_EQ(c.send("/dev/x", buffer.data()), 1) << c.name;
    ExpectSent(backend_->commands, c.sent, c.name);
  }
}

TEST_F(SerialFlashCommands, ReadIdStopsWhenTheInstructionIsRefused) {
  backend_->responder = [](const PassThroughRequest&) { return Answered(true, 2); };
  Bytes id(4, 0x55);
  EXPECT_EQ(SpiReadId("/dev/x", 0x9F, id.data(), 4), 0);
  EXPECT_EQ(backend_->commands.size(), 1u);
}

// Answers status reads from a script (the last entry repeats); every other
// block succeeds.
void ScriptStatus(testing::CaptureBackend& backend, std::vector<uint8_t> statuses,
                  int* statusReads) {
  backend.responder = [statuses, statusReads](const PassThroughRequest& rq) {
    if (rq.cdb[0] == 0xFF && rq.cdb[2] == 0x12) {
      const size_t at = std::min<size_t>(static_cast<size_t>(*statusReads), statuses.size() - 1);
      rq.data[0] = statuses[at];
      ++*statusReads;
    }
    return Answered();
  };
}

TEST_F(SerialFlashCommands, UnprotectWaitsForTheLatchThenForTheClearedStatus) {
  int reads = 0;
  // Latch set on the third read, then busy with the status write, then clear.
  ScriptStatus(*backend_, {0x1C, 0x1C, 0x1E, 0x1F, 0x00}, &reads);
  EXPECT_EQ(SpiUnprotect("/dev/x"), 1);
  EXPECT_EQ(reads, 5);
  ASSERT_EQ(backend_->commands.size(), 7u);
  EXPECT_EQ(BlockOf(backend_->commands[0]), Ff04({0xFF, 0x04, 0x20, 0x01, 0x00, 0x06}));
  EXPECT_EQ(BlockOf(backend_->commands[4]), Ff04({0xFF, 0x04, 0x20, 0x02, 0x00, 0x01}));
}

TEST_F(SerialFlashCommands, StatusWaitsGiveUpAfter300ReReads) {
  int reads = 0;
  ScriptStatus(*backend_, {0x00}, &reads);
  EXPECT_EQ(WaitFlashStatusSet("/dev/x", 0x02), 0);
  EXPECT_EQ(reads, 301);

  reads = 0;
  std::vector<uint8_t> lateLatch(300, 0x00);
  lateLatch.push_back(0x02);  // the 300th re-read
  ScriptStatus(*backend_, lateLatch, &reads);
  EXPECT_EQ(WaitFlashStatusSet("/dev/x", 0x02), 1);

  reads = 0;
  ScriptStatus(*backend_, {0x04}, &reads);
  EXPECT_EQ(WaitFlashStatusClear("/dev/x"), 0);
  EXPECT_EQ(reads, 301);
  // The unprotect fails with its wait even though every command went through.
  EXPECT_EQ(SpiUnprotect("/dev/x"), 0);
}

// Programming waits for the flash as the procedures' ready wait does: a
// read and up to 502 re-reads while it stays busy, then it goes on.
TEST_F(SerialFlashCommands, ProgrammingWaitsForReadyWith502ReReads) {
  int reads = 0;
  ScriptStatus(*backend_, {0x01}, &reads);
  const Bytes data(32, 0x5A);
  EXPECT_EQ(SpiProgramFlash("/dev/x", 0, data.data(), 32, 5, false), 1);
  size_t before = 0;
  for (const auto& c : backend_->commands) {
    if (c.request.cdb[2] != 0x12) break;
    ++before;
  }
  EXPECT_EQ(before, 503u);
}

TEST_F(SerialFlashCommands, AFailedStatusReadCountsAsZero) {
  backend_->responder = [](const PassThroughRequest& rq) {
    if (rq.cdb[2] == 0x12) {
      rq.data[0] = 0x06;
      return Answered(true, 2);
    }
    return Answered();
  };
  EXPECT_EQ(WaitFlashStatusClear("/dev/x"), 1);
  EXPECT_EQ(WaitFlashStatusSet("/dev/x", 0x02), 0);
}

struct Instruction {
  Bytes record;  // bytes 3.. of an FF 04 20 block
  Bytes data;    // the FF 04 22 data that follows, if any
};

// The pass-through instructions of a run, each with the data phase that
// completed it; status reads left out.
std::vector<Instruction> Instructions(const std::vector<CapturedCommand>& commands) {
  std::vector<Instruction> out;
  for (const auto& c : commands) {
    const auto& cdb = c.request.cdb;
    if (cdb[2] == 0x20) {
      const uint8_t n = cdb[3];
      out.push_back({Bytes(cdb.begin() + 3, cdb.begin() + 5 + n), {}});
    } else if (cdb[2] == 0x22 && !out.empty()) {
      const uint32_t length = (cdb[7] << 8) | cdb[8];
      out.back().data.assign(c.dataOut.begin(), c.dataOut.begin() + length);
    }
  }
  return out;
}

TEST_F(SerialFlashCommands, PageProgrammingWritesEveryChunkAndAShortTail) {
  const Bytes data = testing::Pattern(300, 7);
  EXPECT_EQ(SpiProgramFlash("/dev/x", 0x010000, data.data(), 300, 6, false), 1);
  const auto run = Instructions(backend_->commands);
  ASSERT_EQ(run.size(), 4u);
  EXPECT_EQ(run[0].record, (Bytes{0x01, 0x00, 0x06}));
  EXPECT_EQ(run[1].record, (Bytes{0x04, 0x01, 0x02, 0x01, 0x00, 0x00}));
  EXPECT_EQ(run[1].data, Bytes(data.begin(), data.begin() + 256));
  EXPECT_EQ(run[2].record, (Bytes{0x01, 0x00, 0x06}));
  EXPECT_EQ(run[3].record, (Bytes{0x04, 0x01, 0x02, 0x01, 0x01, 0x00}));
  EXPECT_EQ(run[3].data, Bytes(data.begin() + 256, data.end()));

  // A single byte is programmed too, and MXIC parts take 32-byte chunks.
  backend_->commands.clear();
  const uint8_t one = 0x5A;
  EXPECT_EQ(SpiProgramFlash("/dev/x", 0x40, &one, 1, 5, false), 1);
  const auto single = Instructions(backend_->commands);
  ASSERT_EQ(single.size(), 2u);
  EXPECT_EQ(single[1].record, (Bytes{0x04, 0x01, 0x02, 0x00, 0x00, 0x40}));
  EXPECT_EQ(single[1].data, Bytes{0x5A});

  backend_->commands.clear();
  EXPECT_EQ(SpiProgramFlash("/dev/x", 0, data.data(), 64, 5, false), 1);
  const auto mxic = Instructions(backend_->commands);
  ASSERT_EQ(mxic.size(), 4u);
  EXPECT_EQ(mxic[3].record, (Bytes{0x04, 0x01, 0x02, 0x00, 0x00, 0x20}));
  EXPECT_EQ(mxic[3].data.size(), 32u);
}

TEST_F(SerialFlashCommands, NothingToProgramIsAFailureAndSendsNothing) {
  const uint8_t byte = 0;
  EXPECT_EQ(SpiProgramFlash("/dev/x", 0, &byte, 0, 6, false), 0);
  EXPECT_TRUE(backend_->commands.empty());
}

TEST_F(SerialFlashCommands, AaiByteModeSendsAnAddressPerChunkAndOneBytePerInstruction) {
  Bytes data(514);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0x80 + i);
  EXPECT_EQ(SpiProgramFlash("/dev/x", 0x2000, data.data(), 514, 2, false), 1);
  const auto run = Instructions(backend_->commands);
  // Per chunk: 0x50, the status write, write enable, the addressed AF, then
  // one AF per further byte; one write disable at the end.
  ASSERT_EQ(run.size(), 4 + 511 + 4 + 1 + 1u);
  EXPECT_EQ(run[3].record, (Bytes{0x04, 0x01, 0xAF, 0x00, 0x20, 0x00}));
  EXPECT_EQ(run[3].data, (Bytes{0x80, 0x00}));
  EXPECT_EQ(run[4].record, (Bytes{0x02, 0x00, 0xAF, 0x81}));
  EXPECT_EQ(run[514].record, (Bytes{0x02, 0x00, 0xAF, static_cast<uint8_t>(0x80 + 511)}));
  EXPECT_EQ(run[518].record, (Bytes{0x04, 0x01, 0xAF, 0x00, 0x22, 0x00}));
  EXPECT_EQ(run[518].data, (Bytes{0x80, 0x00}));  // byte 512
  EXPECT_EQ(run[519].record, (Bytes{0x02, 0x00, 0xAF, 0x81}));
  EXPECT_EQ(run[520].record, (Bytes{0x01, 0x00, 0x04}));
}

TEST_F(SerialFlashCommands, AaiWordModeNamesTheAddressOnlyAt16KBBoundaries) {
  const uint32_t length = 40 * 1024;
  Bytes data(length, 0x3C);
  EXPECT_EQ(SpiProgramFlash("/dev/x", 0, data.data(), length, 2, true), 1);
  std::vector<uint32_t> addressed;
  int unaddressed = 0;
  int pairs = 0;
  int writeDisables = 0;
  for (const auto& in : Instructions(backend_->commands)) {
    if (in.record == Bytes{0x01, 0x01, 0xAD}) ++unaddressed;
    if (in.record.size() == 6 && in.record[2] == 0xAD)
      addressed.push_back((in.record[3] << 16) | (in.record[4] << 8) | in.record[5]);
    if (in.record.size() == 5 && in.record[0] == 0x03 && in.record[2] == 0xAD) ++pairs;
    if (in.record == Bytes{0x01, 0x00, 0x04}) ++writeDisables;
  }
  EXPECT_EQ(addressed, (std::vector<uint32_t>{0x0000, 0x4000, 0x8000}));
  EXPECT_EQ(unaddressed, 80 - 3);  // 80 chunks of 512 bytes
  EXPECT_EQ(pairs, 80 * 255);
  EXPECT_EQ(writeDisables, 1);  // only at the end of the run
}

TEST_F(SerialFlashCommands, AaiWordModeFailsWhenAnyInstructionFails) {
  const uint32_t length = 8192;
  Bytes data(length, 0x11);
  struct Case {
    const char* name;
    Bytes record;  // the instruction that fails
    int failAt;    // its n-th occurrence, from 1
  };
  const Case cases[] = {
      {"a pair in the middle of a chunk", {0x03, 0x00, 0xAD, 0x11, 0x11}, 100},
      {"the first pair of a chunk", {0x01, 0x01, 0xAD}, 5},
      {"the write disable that ends the run", {0x01, 0x00, 0x04}, 1},
  };
  for (const auto& c : cases) {
    backend_->commands.clear();
    int seen = 0;
    backend_->responder = [&](const PassThroughRequest& rq) {
      if (rq.cdb[2] == 0x20 &&
          Bytes(rq.cdb.begin() + 3, rq.cdb.begin() + 3 + c.record.size()) == c.record &&
          ++seen == c.failAt)
        return Answered(true, 2);
      return Answered();
    };
    EXPECT_EQ(SpiProgramFlash("/dev/x", 0, data.data(), length, 2, true), 0) << c.name;
    // The part is always taken out of AAI mode.
    const auto run = Instructions(backend_->commands);
    ASSERT_FALSE(run.empty()) << c.name;
    EXPECT_EQ(run.back().record, (Bytes{0x01, 0x00, 0x04})) << c.name;
  }
}

TEST_F(SerialFlashCommands, AFailingPageStopsTheRun) {
  int programs = 0;
  backend_->responder = [&](const PassThroughRequest& rq) {
    if (rq.cdb[2] == 0x22 && ++programs == 3) return Answered(true, 2);
    return Answered();
  };
  Bytes data(4096, 0x42);
  EXPECT_EQ(SpiProgramFlash("/dev/x", 0, data.data(), 4096, 6, false), 0);
  EXPECT_EQ(programs, 3);
}

}  // namespace
}  // namespace fwtool
