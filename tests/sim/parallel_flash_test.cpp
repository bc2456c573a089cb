// SPDX-License-Identifier: GPL-2.0-or-later
// The parallel flash part models: each obeys its own command sequences (as
// its datasheet writes them) and ignores any other; status while busy;
// typical erase and program times.
#include "parallel_flash.h"

#include <gtest/gtest.h>

#include <chrono>
#include <utility>
#include <vector>

#include "simulator.h"

namespace fwtool::sim {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;
using Writes = std::vector<std::pair<uint32_t, uint8_t>>;

// Byte program and chip erase, with the unlock addresses of the part family.
Writes ProgramSequence(uint32_t u1, uint32_t u2, uint32_t address, uint8_t data) {
  return {{u1, 0xAA}, {u2, 0x55}, {u1, 0xA0}, {address, data}};
}
Writes EraseSequence(uint32_t u1, uint32_t u2) {
  return {{u1, 0xAA}, {u2, 0x55}, {u1, 0x80}, {u1, 0xAA}, {u2, 0x55}, {u1, 0x10}};
}

void Play(ParallelFlash& part, const Writes& writes, Duration at) {
  for (const auto& [address, data] : writes) part.Write(address, data, at);
}

struct PartCase {
  const char* name;
  ParallelPartKind kind;
  uint32_t u1, u2;  // its own unlock addresses
  uint32_t foreignU1, foreignU2;
  Duration program;  // typical byte program time
  Duration erase;    // typical chip erase time
};

const PartCase kParts[] = {
    {"atmel", ParallelPartKind::Atmel, 0x5555, 0x2AAA, 0x555, 0x2AA, microseconds(30),
     milliseconds(10000)},
    {"pmc", ParallelPartKind::Pmc, 0x555, 0x2AA, 0x5555, 0x2AAA, microseconds(40),
     milliseconds(60)},
    {"sst", ParallelPartKind::Sst, 0x5555, 0x2AAA, 0x555, 0x2AA, microseconds(20),
     milliseconds(100)},
};

class PartModel : public ::testing::TestWithParam<PartCase> {};

TEST_P(PartModel, ItsOwnSequencesEraseAndProgram) {
  const PartCase& c = GetParam();
  ParallelFlash part(ParallelPartFor(c.kind));
  std::vector<uint8_t> image(65536, 0x3C);
  part.Load(image);
  Duration t{0};
  Play(part, EraseSequence(c.u1, c.u2), t);
  EXPECT_TRUE(part.BusyAt(t + c.erase - microseconds(1)));
  EXPECT_FALSE(part.BusyAt(t + c.erase));
  t += c.erase;
  EXPECT_EQ(part.Contents(), std::vector<uint8_t>(65536, 0xFF));

  Play(part, ProgramSequence(c.u1, c.u2, 0x1234, 0x5A), t);
  EXPECT_EQ(part.ReadyAt(), t + c.program);
  EXPECT_EQ(part.Read(0x1234, t + c.program), 0x5A);
  // Programming clears bits only.
  t += c.program;
  Play(part, ProgramSequence(c.u1, c.u2, 0x1234, 0xF0), t);
  EXPECT_EQ(part.Read(0x1234, t + c.program), 0x50);
}

TEST_P(PartModel, ForeignOrBrokenSequencesChangeNothing) {
  const PartCase& c = GetParam();
  ParallelFlash part(ParallelPartFor(c.kind));
  const std::vector<uint8_t> image(65536, 0x3C);
  part.Load(image);
  Writes broken = EraseSequence(c.u1, c.u2);
  broken[4].second = 0x54;
  Writes zeros(6, {0, 0});
  zeros.push_back({0x10, 0x00});
  for (const Writes& writes : {EraseSequence(c.foreignU1, c.foreignU2),
                               ProgramSequence(c.foreignU1, c.foreignU2, 8, 0), broken, zeros}) {
    Play(part, writes, Duration{0});
    EXPECT_FALSE(part.BusyAt(Duration{0}));
  }
  EXPECT_EQ(part.Contents(), image);
  // A broken sequence leaves the part ready for the next good one.
  Play(part, ProgramSequence(c.u1, c.u2, 8, 0x00), Duration{0});
  EXPECT_EQ(part.Contents()[8], 0x00);
}

TEST_P(PartModel, StatusWhileBusyTogglesBit6AndPollsBit7) {
  const PartCase& c = GetParam();
  ParallelFlash part(ParallelPartFor(c.kind));
  Play(part, ProgramSequence(c.u1, c.u2, 0x40, 0x7F), Duration{0});
  const uint8_t first = part.Read(0x40, Duration{0});
  const uint8_t second = part.Read(0x40, Duration{0});
  EXPECT_EQ((first ^ second) & 0x40, 0x40);
  EXPECT_EQ(first & 0x80, 0x80);  // the complement of bit 7 of 0x7F
  // A write while busy is ignored.
  Play(part, ProgramSequence(c.u1, c.u2, 0x41, 0x00), Duration{0});
  EXPECT_EQ(part.Contents()[0x41], 0xFF);

  Play(part, EraseSequence(c.u1, c.u2), c.program);
  EXPECT_EQ(part.Read(0, c.program) & 0x80, 0x00);  // 0 while erasing
  EXPECT_EQ(part.Read(0x40, c.program + c.erase), 0xFF);
}

INSTANTIATE_TEST_SUITE_P(ParallelFlash, PartModel, ::testing::ValuesIn(kParts),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ParallelUnits, OnlyTheOldestChipsTakeAParallelPart) {
  for (const char* description : {"vqb719:parallel=sst", "vqb717:a1"}) {
    std::string error;
    EXPECT_FALSE(SimFarm::Create(description, &error)) << description;
    EXPECT_NE(error.find("need a chip with a parallel flash"), std::string::npos) << error;
  }
  std::string error;
  auto farm = SimFarm::Create("vq64779u:parallel=atmel", &error);
  ASSERT_TRUE(farm) << error;
  ASSERT_NE(farm->Controller(0).Parallel(), nullptr);
  EXPECT_EQ(farm->Controller(0).Parallel()->Part().name, "ATMEL AT49BV512");
}

}  // namespace
}  // namespace fwtool::sim
