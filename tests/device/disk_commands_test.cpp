// SPDX-License-Identifier: GPL-2.0-or-later
// The disk-side commands as blocks on the wire, the capacity and drive
// size they read, and where they find the reserved stretch, from scripted
// answers.
#include "disk_commands.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <vector>

#include "capture_backend.h"
#include "pass_through.h"

namespace fwtool {
namespace {

using testing::Answered;
using testing::ScopedCaptureBackend;
using Bytes = std::vector<uint8_t>;

class DiskCommands : public ::testing::Test {
 protected:
  Bytes BlockSent(size_t i = 0) {
    const auto& rq = backend_->commands.at(i).request;
    return Bytes(rq.cdb.begin(), rq.cdb.begin() + rq.cdbLength);
  }
  std::vector<uint8_t> Opcodes() {
    std::vector<uint8_t> ops;
    for (const auto& c : backend_->commands) ops.push_back(c.request.cdb[0]);
    return ops;
  }

  ScopedCaptureBackend backend_;
};

TEST_F(DiskCommands, EachCommandBuildsItsBlock) {
  struct Case {
    const char* name;
    std::function<int(uint8_t*)> send;
    Bytes block;
    DataDirection direction;
    uint32_t length;
  };
  const Case cases[] = {
      {"READ CAPACITY(10) in a 12-byte block",
       [](uint8_t*) {
         ReadCapacity("/dev/x");
         return 1;
       },
       {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       DataDirection::In,
       8},
      {"READ CAPACITY(16) asking for 16 bytes",
       [](uint8_t* b) { return ReadCapacity16Raw("/dev/x", b, 16); },
       {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10, 0, 0},
       DataDirection::In,
       16},
      {"Read10 of 2048 bytes in 512-byte sectors",
       [](uint8_t* b) { return Read10("/dev/x", b, 0x01020304, 2048, 512); },
       {0x28, 0, 0x01, 0x02, 0x03, 0x04, 0, 0x00, 0x04, 0},
       DataDirection::In,
       2048},
      {"Write10 of 64 KB in 4096-byte sectors",
       [](uint8_t* b) { return Write10("/dev/x", b, 0xFFFFFF00, 65536, 4096); },
       {0x2A, 0, 0xFF, 0xFF, 0xFF, 0x00, 0, 0x00, 0x10, 0},
       DataDirection::Out,
       65536},
      {"Read16 at LBA 2^32 + 5",
       [](uint8_t* b) { return Read16("/dev/x", b, 5, 1, 4096, 512); },
       {0x88, 0, 0, 0, 0, 0x01, 0, 0, 0, 0x05, 0, 0, 0, 0x08, 0, 0},
       DataDirection::In,
       4096},
      {"Write16 at LBA 0x0000_1234_89AB_CDEF",
       [](uint8_t* b) { return Write16("/dev/x", b, 0x89ABCDEF, 0x1234, 65536, 512); },
       {0x8A, 0, 0, 0, 0x12, 0x34, 0x89, 0xAB, 0xCD, 0xEF, 0, 0, 0, 0x80, 0, 0},
       DataDirection::Out,
       65536},
      {"IDENTIFY DEVICE through the controller",
       [](uint8_t*) {
         IdentifyDriveSectors("/dev/x");
         return 1;
       },
       {0xDF, 0x10, 0x00, 0x02, 0x00, 0, 0, 0, 0, 0, 0xA0, 0xEC},
       DataDirection::In,
       512},
  };
  for (const auto& c : cases) {
    backend_->commands.clear();
    Bytes buffer(65536, 0);
    EXPECT_EQ(c.send(buffer.data()), 1) << c.name;
    ASSERT_EQ(backend_->commands.size(), 1u) << c.name;
    EXPECT_EQ(BlockSent(), c.block) << c.name;
    EXPECT_EQ(backend_->commands[0].request.direction, c.direction) << c.name;
    EXPECT_EQ(backend_->commands[0].request.length, c.length) << c.name;
  }
}

TEST_F(DiskCommands, ReadCapacityGivesTheLastLbaAndTheBlockLengthOrTheirDefaults) {
  Bytes answer = {0x00, 0x01, 0xFF, 0xFF, 0x00, 0x00, 0x02, 0x00};
  bool fail = false;
  backend_->responder = [&](const PassThroughRequest& rq) {
    if (fail) return Answered(true, 2);
    std::memcpy(rq.data, answer.data(), answer.size());
    return Answered();
  };
  EXPECT_EQ(ReadCapacity("/dev/x"), 0x1FFFFu);
  EXPECT_EQ(ReadCapacityOr512("/dev/x"), 512u);
  answer = {0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x10, 0x00};
  EXPECT_EQ(ReadCapacityOr512("/dev/x"), 4096u);
  fail = true;
  EXPECT_EQ(ReadCapacity("/dev/x"), 0u);
  EXPECT_EQ(ReadCapacityOr512("/dev/x"), 512u);
  EXPECT_EQ(ReadCapacity16("/dev/x"), 0u);
}

TEST_F(DiskCommands, ReadCapacity16GivesAllSixtyFourBits) {
  backend_->responder = [](const PassThroughRequest& rq) {
    const Bytes answer = {0x00, 0x00, 0x00, 0x01, 0x5D, 0x50, 0xA3, 0xAF, 0, 0, 0x10, 0};
    std::memcpy(rq.data, answer.data(), answer.size());
    return Answered();
  };
  EXPECT_EQ(ReadCapacity16("/dev/x"), 0x15D50A3AFull);
}

TEST_F(DiskCommands, OnlyPowersOfTwoFrom512To65536AreUsableSectorSizes) {
  const std::pair<uint32_t, bool> cases[] = {{0, false},    {256, false},   {512, true},
                                             {520, false},  {4096, true},   {6144, false},
                                             {65536, true}, {131072, false}};
  for (const auto& [size, usable] : cases) EXPECT_EQ(SectorSizeUsable(size), usable) << size;
}

// A scripted controller and disk: capacity, controller information, the
// drive's IDENTIFY data, controller memory at 0xC000 and disk sectors.
class ReservedArea : public DiskCommands {
 protected:
  void SetUp() override {
    backend_->responder = [this](const PassThroughRequest& rq) { return Answer(rq); };
  }

  PassThroughResult Answer(const PassThroughRequest& rq) {
    auto put = [&rq](const Bytes& bytes) {
      std::memcpy(rq.data, bytes.data(), std::min<size_t>(bytes.size(), rq.length));
      return Answered();
    };
    const auto& cdb = rq.cdb;
    switch (cdb[0]) {
      case 0x25: {
        if (!capacityAnswers) return Answered(true, 2);
        Bytes data(8, 0);
        for (int i = 0; i < 4; ++i)
          data[static_cast<size_t>(i)] = static_cast<uint8_t>(lastLba >> (24 - 8 * i));
        data[6] = 0x02;
        return put(data);
      }
      case 0x9E: {  // READ CAPACITY(16)
        if (lastLba16 == 0) return Answered(true, 2);
        Bytes data(16, 0);
        for (int i = 0; i < 8; ++i)
          data[static_cast<size_t>(i)] = static_cast<uint8_t>(lastLba16 >> (56 - 8 * i));
        data[10] = 0x02;
        return put(data);
      }
      case 0xFF: {  // FF 04 A0: controller information
        Bytes info(rq.length, 0);
        info[8] = 0x40;
        if (info.size() > 17) info[17] = flag17;
        if (info.size() > 16) info[16] = infoReserved;
        return put(info);
      }
      case 0xDF:
        if (cdb[11] == 0xEC) {
          Bytes identify(512, 0);
          const uint32_t low = sectors >= 0x0FFFFFFF ? 0x0FFFFFFF : static_cast<uint32_t>(sectors);
          for (int i = 0; i < 4; ++i)
            identify[120 + static_cast<size_t>(i)] = static_cast<uint8_t>(low >> (8 * i));
          for (int i = 0; i < 8; ++i)
            identify[200 + static_cast<size_t>(i)] = static_cast<uint8_t>(sectors >> (8 * i));
          return put(identify);
        }
        if (cdb[11] == 0xFD) return put(memoryC000);
        return Answered(true, 2);
      case 0x28:
      case 0x88: {
        const uint64_t lba =
            cdb[0] == 0x28
                ? (uint64_t{cdb[2]} << 24 | uint64_t{cdb[3]} << 16 | uint64_t{cdb[4]} << 8 | cdb[5])
                : [&] {
                    uint64_t v = 0;
                    for (int i = 2; i < 10; ++i) v = v << 8 | cdb[static_cast<size_t>(i)];
                    return v;
                  }();
        readAt.push_back(lba);
        const auto found = disk.find(lba);
        if (found == disk.end()) return Answered(true, 2);
        return put(found->second);
      }
      default:
        return Answered(true, 2);
    }
  }

  // A marker sector with the anchor framed at bytes 150..155.
  static Bytes MarkerSector(uint32_t anchor, bool framed = true) {
    Bytes sector(2048, 0);
    sector[150] = framed ? 0x55 : 0x00;
    sector[151] = static_cast<uint8_t>(anchor >> 24);
    sector[152] = static_cast<uint8_t>(anchor >> 16);
    sector[153] = static_cast<uint8_t>(anchor >> 8);
    sector[154] = static_cast<uint8_t>(anchor);
    sector[155] = framed ? 0xAA : 0x00;
    return sector;
  }

 public:
  // What the scripted unit answers; the cases change them.
  uint32_t lastLba = 999'999;
  bool capacityAnswers = true;
  uint64_t lastLba16 = 0;  // READ CAPACITY(16); 0: it fails
  uint64_t sectors = 1'000'000;
  uint8_t flag17 = 0;
  uint8_t infoReserved = 0;
  Bytes memoryC000 = {0x55, 0xAA, 0xAA, 0x55};
  std::map<uint64_t, Bytes> disk;
  std::vector<uint64_t> readAt;
};

TEST_F(ReservedArea, ChipType12NeverReadsTheDiskAndTakesTheCapacity) {
  EXPECT_EQ(LocateReservedArea("/dev/x", 512, 12), 999'999u);
  flag17 = 1;
  EXPECT_EQ(LocateReservedArea("/dev/x", 512, 12), 1'000'000u);
  EXPECT_TRUE(readAt.empty());
  for (uint8_t op : Opcodes()) EXPECT_NE(op, 0x28);
}

TEST_F(ReservedArea, TheMarkerBehindTheCapacityGivesTheAnchor) {
  disk[1'000'000] = MarkerSector(0x000F4341);
  const ReservedAreaQuery q = QueryReservedArea("/dev/x", 512, 15);
  ASSERT_TRUE(q.known);
  EXPECT_EQ(q.anchor, 0x000F4341u);
  EXPECT_TRUE(q.fromMarker);
  EXPECT_EQ(readAt, std::vector<uint64_t>{1'000'000});
  // Four sectors of the disk's size were read.
  EXPECT_EQ(backend_->commands.back().request.length, 2048u);
}

TEST_F(ReservedArea, AControllerWithoutFirmwareOnTheDiskTakesTheCapacity) {
  memoryC000 = {0, 0, 0, 0};
  const ReservedAreaQuery q = QueryReservedArea("/dev/x", 512, 5);
  ASSERT_TRUE(q.known);
  EXPECT_EQ(q.anchor, 999'999u);
  EXPECT_TRUE(readAt.empty());
}

TEST_F(ReservedArea, Type16AsksTheControllerInformationInsteadOfItsMemory) {
  memoryC000 = {0, 0, 0, 0};
  infoReserved = 1;
  disk[1'000'000] = MarkerSector(1'000'300);
  EXPECT_EQ(LocateReservedArea("/dev/x", 512, 16), 1'000'300u);
  infoReserved = 0;
  memoryC000 = {0x55, 0xAA, 0xAA, 0x55};
  EXPECT_EQ(LocateReservedArea("/dev/x", 512, 16), 999'999u);
}

TEST_F(ReservedArea, AFailedMarkerReadFallsBackToTheCapacity) {
  flag17 = 1;
  const ReservedAreaQuery q = QueryReservedArea("/dev/x", 512, 15);
  ASSERT_TRUE(q.known);
  EXPECT_EQ(q.anchor, 1'000'000u);
  EXPECT_FALSE(q.fromMarker);
}

// Places that would wrap to the first sectors of the disk are unknown.
TEST_F(ReservedArea, NoCapacityNoMarkerOrACapacityBeyondTheDriveIsUnknown) {
  struct Case {
    const char* name;
    std::function<void(ReservedArea&)> set;
    const char* reason;
  };
  const Case cases[] = {
      {"READ CAPACITY fails", [](ReservedArea& t) { t.capacityAnswers = false; },
       "the disk's capacity cannot be read"},
      {"READ CAPACITY answers FFFFFFFF", [](ReservedArea& t) { t.lastLba = 0xFFFFFFFF; },
       "the disk reports no 32-bit capacity"},
      {"the marker sector holds zeros", [](ReservedArea& t) { t.disk[1'000'000] = Bytes(2048, 0); },
       "the marker sector holds no location marker"},
      {"the marker has no frame",
       [](ReservedArea& t) { t.disk[1'000'000] = MarkerSector(1'000'300, false); },
       "the marker sector holds no location marker"},
      {"the capacity lies beyond the drive", [](ReservedArea& t) { t.lastLba = 1'000'000; },
       "the capacity lies beyond the drive"},
  };
  for (const auto& c : cases) {
    ReservedArea& t = *this;
    t.lastLba = 999'999;
    t.capacityAnswers = true;
    t.disk.clear();
    c.set(t);
    const ReservedAreaQuery q = QueryReservedArea("/dev/x", 512, 15);
    EXPECT_FALSE(q.known) << c.name;
    EXPECT_STREQ(q.reason, c.reason) << c.name;
    EXPECT_EQ(LocateReservedArea("/dev/x", 512, 15), 0u) << c.name;
  }
}

TEST_F(ReservedArea, ALargeDiskIsFoundByItsDriveSizeInSixtyFourBits) {
  // 2^32 sectors exactly: the last sector is 2^32 - 1, not 2^33 - 1.
  sectors = uint64_t{1} << 32;
  lastLba = 0xFFFFFFFF;
  memoryC000 = {0, 0, 0, 0};
  ReservedAreaQuery q = QueryReservedArea("/dev/x", 512, 15);
  ASSERT_TRUE(q.known);
  EXPECT_EQ(q.anchor, 0xFFFFFFFFull);

  // With firmware on the disk the marker is read with READ(16) right
  // behind the capacity READ CAPACITY(16) gives, and the anchor is the
  // first sector at or after it whose low 32 bits the marker holds.
  struct Case {
    uint64_t sectors;
    uint64_t visible;  // the capacity the controller shows
    uint32_t marker;
    uint64_t anchor;
  };
  const Case cases[] = {
      {(uint64_t{1} << 32) + 5, 0xFFFFFE00, 0xFFFFFF01, 0xFFFFFF01},
      {0x180000000, 0x100000100, 0x00000201, 0x100000201},
      // An anchor just past 2^32 seen from a marker just below it.
      {0x180000000, 0xFFFFFF80, 0x00000081, 0x100000081},
  };
  memoryC000 = {0x55, 0xAA, 0xAA, 0x55};
  for (const Case& c : cases) {
    sectors = c.sectors;
    lastLba16 = c.visible - 1;
    disk.clear();
    disk[c.visible] = MarkerSector(c.marker);
    q = QueryReservedArea("/dev/x", 512, 15);
    ASSERT_TRUE(q.known) << c.visible;
    EXPECT_TRUE(q.fromMarker);
    EXPECT_EQ(q.anchor, c.anchor) << c.visible;
    EXPECT_EQ(readAt.back(), c.visible);
    EXPECT_EQ(backend_->commands.back().request.cdb[0], 0x88);
  }
}

// On a big disk the drive's own end lies beyond what the host sees, so a
// place derived from it would pass every later check: without a marker
// there is no place.
TEST_F(ReservedArea, ALargeDiskWithoutAReadableMarkerHasNoPlace) {
  sectors = (uint64_t{1} << 32) + 5;
  lastLba = 0xFFFFFFFF;
  struct Case {
    const char* name;
    uint64_t lastLba16;
    bool markerThere;
    const char* reason;
  };
  const Case cases[] = {
      {"READ CAPACITY(16) fails", 0, true, "the disk's 64-bit capacity cannot be read"},
      {"the marker sector cannot be read", 0xFFFFFDFF, false, "the marker sector cannot be read"},
  };
  for (const Case& c : cases) {
    lastLba16 = c.lastLba16;
    disk.clear();
    if (c.markerThere) disk[0xFFFFFE00] = MarkerSector(0xFFFFFF01);
    const ReservedAreaQuery q = QueryReservedArea("/dev/x", 512, 15);
    EXPECT_FALSE(q.known) << c.name;
    EXPECT_STREQ(q.reason, c.reason) << c.name;
  }
}

}  // namespace
}  // namespace fwtool
