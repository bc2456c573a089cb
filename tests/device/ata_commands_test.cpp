// SPDX-License-Identifier: GPL-2.0-or-later
// The ATA PASS-THROUGH family as blocks on the wire, the sector count from
// IDENTIFY DEVICE, the busy wait, and the codes of the flash ranges.
#include "ata_commands.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "capture_backend.h"
#include "clock.h"
#include "command_block.h"
#include "pass_through.h"
#include "serial_flash_commands.h"

namespace fwtool {
namespace {

using testing::Answered;
using testing::ScopedCaptureBackend;
using Bytes = std::vector<uint8_t>;

class AtaCommands : public ::testing::Test {
 protected:
  Bytes BlockSent(size_t i = 0) {
    const auto& rq = backend_->commands.at(i).request;
    return Bytes(rq.cdb.begin(), rq.cdb.begin() + rq.cdbLength);
  }
  // Answers each command by its ATA feature (12-byte form, byte 3).
  void AnswerByFeature(std::function<PassThroughResult(uint8_t, const PassThroughRequest&)> f) {
    backend_->responder = [f](const PassThroughRequest& rq) { return f(rq.cdb[3], rq); };
  }

  std::shared_ptr<VirtualClock> clock_ = std::make_shared<VirtualClock>();
  ScopedClock scopedClock_{clock_};
  ScopedCaptureBackend backend_;
};

TEST_F(AtaCommands, EachCommandBuildsItsBlock) {
  FlashProfile sst;
  sst.chipEraseOpcode = 0x60;
  sst.blockEraseOpcode = 0x52;
  sst.programOpcode = 0xAF;
  sst.makerCode = 2;
  struct Case {
    const char* name;
    std::function<int(std::string_view, uint8_t*)> send;
    Bytes block;
    DataDirection direction;
    uint32_t length;
  };
  const Case cases[] = {
      {"AtaIdentify",
       [](auto p, uint8_t* b) { return AtaIdentify(p, b); },
       {0xA1, 0x08, 0x0B, 0x00, 0x00, 0, 0, 0, 0x40, 0xEC, 0, 0},
       DataDirection::In,
       512},
      {"AtaVendorStatus",
       [](auto p, uint8_t* b) { return AtaVendorStatus(p, b); },
       {0xA1, 0x08, 0x0B, 0xEA, 0x01, 0, 0, 0, 0xB0, 0xB0, 0, 0},
       DataDirection::In,
       512},
      {"AtaReadInfo 512 bytes",
       [](auto p, uint8_t* b) { return AtaReadInfo(p, b, 512); },
       {0xA1, 0x08, 0x0B, 0xE0, 0x01, 0, 0, 0, 0xB0, 0xB0, 0, 0},
       DataDirection::In,
       512},
      {"AtaReadFlash 8 KB at 0x12345",
       [](auto p, uint8_t* b) { return AtaReadFlash(p, 0x12345, b, 8192); },
       {0xA1, 0x08, 0x0B, 0xE8, 0x10, 0x45, 0x23, 0x01, 0xB0, 0xB0, 0, 0},
       DataDirection::In,
       8192},
      {"AtaWriteFlash 8 KB at 0x1E000",
       [](auto p, uint8_t* b) { return AtaWriteFlash(p, 0x1E000, b, 8192); },
       {0xA1, 0x0A, 0x03, 0xE9, 0x10, 0x00, 0xE0, 0x01, 0xB0, 0xB0, 0, 0},
       DataDirection::Out,
       8192},
      {"AtaEraseFlash",
       [](auto p, uint8_t*) { return AtaEraseFlash(p); },
       {0xA1, 0x06, 0x0B, 0xE7, 0x00, 0, 0, 0, 0xB0, 0xB0, 0, 0},
       DataDirection::Out,
       0},
      {"AtaSpiCommand 01 01 9F",
       [](auto p, uint8_t*) { return AtaSpiCommand(p, SpiRecord::Of(1, 1, 0x9F)); },
       {0xA1, 0x06, 0x0B, 0xE1, 0x81, 0x9F, 0, 0, 0x00, 0xB0, 0, 0},
       DataDirection::Out,
       0},
      {"AtaSpiCommand 03 00 01 00 00",
       [](auto p, uint8_t*) {
         return AtaSpiCommand(p, SpiRecord::Of(3, 0, 0x01, {0x02, 0x00}));
       },
       {0xA1, 0x06, 0x0B, 0xE1, 0x03, 0x01, 0x02, 0x00, 0x00, 0xB0, 0, 0},
       DataDirection::Out,
       0},
      {"AtaSpiReadData",
       [](auto p, uint8_t* b) { return AtaSpiReadData(p, b, 512); },
       {0xA1, 0x08, 0x0B, 0xE3, 0x01, 0, 0, 0, 0xB0, 0xB0, 0, 0},
       DataDirection::In,
       512},
      {"AtaSetFlashOpcodes",
       [&](auto p, uint8_t*) { return AtaSetFlashOpcodes(p, sst); },
       {0xA1, 0x06, 0x0B, 0xE4, 0x02, 0x60, 0x52, 0xAF, 0xB0, 0xB0, 0, 0},
       DataDirection::In,
       0},
      {"AtaSetFlashPageSize 32",
       [](auto p, uint8_t*) { return AtaSetFlashPageSize(p, 32); },
       {0xA1, 0x06, 0x0B, 0xE5, 0x08, 0, 0, 0, 0xB0, 0xB0, 0, 0},
       DataDirection::In,
       0},
      // LBA 0x123456789ABC, 8 sectors of 512 bytes.
      {"AtaReadDmaExt",
       [](auto p, uint8_t* b) { return AtaReadDmaExt(p, 0x123456789ABCull, b, 4096, 512); },
       {0x85, 0x15, 0x0B, 0x00, 0x00, 0x00, 0x08, 0x56, 0xBC, 0x34, 0x9A, 0x12, 0x78, 0x60, 0x25,
        0x00},
       DataDirection::In,
       4096},
      // LBA 0xA0B0C0D0E0F0, 3 sectors of 4096 bytes.
      {"AtaWriteDmaExt",
       [](auto p, uint8_t* b) { return AtaWriteDmaExt(p, 0xA0B0C0D0E0F0ull, b, 12288, 4096); },
       {0x85, 0x17, 0x03, 0x00, 0x00, 0x00, 0x03, 0xC0, 0xF0, 0xB0, 0xE0, 0xA0, 0xD0, 0x60, 0x35,
        0x00},
       DataDirection::Out,
       12288},
  };
  for (const auto& c : cases) {
    backend_->commands.clear();
    Bytes buffer(16384, 0);
    EXPECT_EQ(c.send("/dev/x", buffer.data()), 1) << c.name;
    ASSERT_EQ(backend_->commands.size(), 1u) << c.name;
    EXPECT_EQ(BlockSent(), c.block) << c.name;
    EXPECT_EQ(backend_->commands[0].request.direction, c.direction) << c.name;
    EXPECT_EQ(backend_->commands[0].request.length, c.length) << c.name;
  }
}

TEST_F(AtaCommands, TheSixteenByteFormCarriesTheHighFeatureAndCountBytes) {
  AtaRegisters r;
  r.protocol = AtaRegisters::Protocol::PioIn;
  r.features = 0x1234;
  r.count = 0xABCD;
  r.lba = 0x010203;
  r.device = 0xE0;
  r.command = 0x2F;
  const CommandBlock block = AtaPassThrough16(r);
  EXPECT_EQ(Bytes(block.bytes.begin(), block.bytes.begin() + block.length),
            (Bytes{0x85, 0x08, 0x0B, 0x12, 0x34, 0xAB, 0xCD, 0x00, 0x03, 0x00, 0x02, 0x00, 0x01,
                   0xE0, 0x2F, 0x00}));
  const CommandBlock shortForm = AtaPassThrough12(r);
  EXPECT_EQ(Bytes(shortForm.bytes.begin(), shortForm.bytes.begin() + shortForm.length),
            (Bytes{0xA1, 0x08, 0x0B, 0x34, 0xCD, 0x03, 0x02, 0x01, 0xE0, 0x2F, 0x00, 0x00}));
}

// IDENTIFY DEVICE data with words 60-61 and 100-103 set.
Bytes IdentifyData(uint32_t words60, uint64_t words100) {
  Bytes data(512, 0);
  for (int i = 0; i < 4; ++i) data[120 + i] = static_cast<uint8_t>(words60 >> (8 * i));
  for (int i = 0; i < 8; ++i) data[200 + i] = static_cast<uint8_t>(words100 >> (8 * i));
  return data;
}

TEST_F(AtaCommands, DriveSectorsSwitchToThe48BitCountAt0x0FFFFFFF) {
  struct Case {
    uint32_t words60;
    uint64_t words100;
    bool ok;
    uint64_t sectors;
  };
  const Case cases[] = {
      {0x0FFFFFFF, 0x00000001D1C0BEB0ull, true, 7814037168ull},
      {0x0FFFFFFF, 0x0000A1B2C3D4E5F6ull, true, 0x0000A1B2C3D4E5F6ull},
      {0x0FFFFFFE, 0x00000001D1C0BEB0ull, true, 0x0FFFFFFE},
      {0x00ABCDEF, 0, true, 0x00ABCDEF},
      {0x00ABCDEF, 0, false, 0},
  };
  for (const auto& c : cases) {
    const Bytes data = IdentifyData(c.words60, c.words100);
    backend_->responder = [&](const PassThroughRequest& rq) {
      std::copy(data.begin(), data.end(), rq.data);
      return Answered(true, c.ok ? 0 : 2);
    };
    EXPECT_EQ(AtaDriveSectors("/dev/x"), c.sectors) << std::hex << c.words60;
  }
}

TEST_F(AtaCommands, WaitReadyPollsTheVendorStatusUpTo500ReReads) {
  struct Case {
    const char* name;
    int busyReads;       // reads that show busy before it clears
    int failRead;        // this read fails, -1 none
    uint8_t failedData;  // what the failed read leaves in the buffer
    int expected;
    int reads;
  };
  const Case cases[] = {
      {"ready at once", 0, -1, 0, 1, 1},
      {"clear on the 500th re-read", 500, -1, 0, 1, 501},
      {"still busy after 500 re-reads", 100000, -1, 0, 0, 501},
      {"a failed first read counts as not busy", 100000, 0, 0x01, 1, 1},
      {"a failed re-read keeps the busy status", 3, 1, 0x00, 1, 4},
  };
  for (const auto& c : cases) {
    int reads = 0;
    backend_->responder = [&](const PassThroughRequest& rq) {
      const int n = reads++;
      if (n == c.failRead) {
        rq.data[0] = c.failedData;
        return Answered(true, 2);
      }
      rq.data[0] = n < c.busyReads ? 0x01 : 0x00;
      return Answered();
    };
    EXPECT_EQ(AtaWaitReady("/dev/x"), c.expected) << c.name;
    EXPECT_EQ(reads, c.reads) << c.name;
  }
}

TEST_F(AtaCommands, SpiReadIdSendsTheInstructionThenReadsItsAnswer) {
  AnswerByFeature([](uint8_t feature, const PassThroughRequest& rq) {
    if (feature == 0xE3)
      for (uint32_t i = 0; i < rq.length; ++i) rq.data[i] = static_cast<uint8_t>(0xC0 + i);
    return Answered();
  });
  Bytes id(6, 0);
  EXPECT_EQ(AtaSpiReadId("/dev/x", 0xAB, id.data(), 5), 1);
  EXPECT_EQ(id, (Bytes{0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0x00}));
  ASSERT_EQ(backend_->commands.size(), 2u);
  EXPECT_EQ(BlockSent(0), (Bytes{0xA1, 0x06, 0x0B, 0xE1, 0x81, 0xAB, 0, 0, 0x00, 0xB0, 0, 0}));
  EXPECT_EQ(BlockSent(1), (Bytes{0xA1, 0x08, 0x0B, 0xE3, 0x01, 0, 0, 0, 0xB0, 0xB0, 0, 0}));

  // A refused instruction is not followed by a read.
  backend_->commands.clear();
  AnswerByFeature([](uint8_t, const PassThroughRequest&) { return Answered(true, 2); });
  EXPECT_EQ(AtaSpiReadId("/dev/x", 0x9F, id.data(), 4), 0);
  EXPECT_EQ(backend_->commands.size(), 1u);
}

TEST_F(AtaCommands, ChipInfoCopiesTheFirstBytesOfTheReply) {
  AnswerByFeature([](uint8_t, const PassThroughRequest& rq) {
    rq.data[0] = 0xF4;
    rq.data[1] = 0xE7;
    rq.data[15] = 0x99;
    rq.data[16] = 0x77;
    return Answered();
  });
  Bytes info(17, 0x55);
  EXPECT_EQ(AtaGetChipInfo("/dev/x", info.data(), 16), 1);
  EXPECT_EQ(info[0], 0xF4);
  EXPECT_EQ(info[15], 0x99);
  EXPECT_EQ(info[16], 0x55);  // past n: untouched
  EXPECT_EQ(BlockSent(), (Bytes{0xA1, 0x08, 0x0B, 0xE0, 0x01, 0, 0, 0, 0xB0, 0xB0, 0, 0}));
}

// A flash of `size` bytes behind the E7/E8/E9 features, with faults.
struct FlashScript {
  Bytes cells;
  bool eraseRefused = false;
  uint32_t failReadAt = UINT32_MAX;
  uint32_t failWriteAt = UINT32_MAX;

  PassThroughResult Answer(uint8_t feature, const PassThroughRequest& rq) {
    const uint32_t address = rq.cdb[5] | (rq.cdb[6] << 8) | (rq.cdb[7] << 16);
    const uint32_t length = static_cast<uint32_t>(rq.cdb[4]) << 9;
    switch (feature) {
      case 0xE7:
        if (eraseRefused) return Answered(true, 2);
        std::fill(cells.begin(), cells.end(), 0xFF);
        break;
      case 0xE8:
        if (address == failReadAt) return Answered(true, 2);
        std::copy_n(cells.begin() + address, length, rq.data);
        break;
      case 0xE9:
        if (address == failWriteAt) return Answered(true, 2);
        std::copy_n(rq.data, length, cells.begin() + address);
        break;
      default:  // vendor status: not busy
        break;
    }
    return Answered();
  }
};

TEST_F(AtaCommands, EraseAndVerifyReportsEachFailureByItsCode) {
  struct Case {
    const char* name;
    bool eraseRefused;
    uint32_t failReadAt;
    int spoilAt;  // a byte that stays 0x00 after the erase; -1 none
    int expected;
  };
  const Case cases[] = {
      {"blank", false, UINT32_MAX, -1, 0},
      {"erase refused", true, UINT32_MAX, -1, 2},
      {"read-back fails", false, 0x8000, -1, 3},
      {"one byte reads 0x00", false, UINT32_MAX, 0x9ABC, 6},
  };
  for (const auto& c : cases) {
    FlashScript flash{Bytes(0x10000, 0x00), c.eraseRefused, c.failReadAt};
    AnswerByFeature([&](uint8_t feature, const PassThroughRequest& rq) {
      const auto result = flash.Answer(feature, rq);
      if (feature == 0xE7 && c.spoilAt >= 0) flash.cells[c.spoilAt] = 0x00;
      return result;
    });
    EXPECT_EQ(AtaEraseAndVerify("/dev/x", 0x10000), c.expected) << c.name;
  }
}

TEST_F(AtaCommands, RangesMoveFull8KBChunksAndStopAtTheFirstFailure) {
  FlashScript flash{Bytes(0x20000, 0xFF)};
  AnswerByFeature([&](uint8_t f, const PassThroughRequest& rq) { return flash.Answer(f, rq); });
  Bytes data(0x6000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i ^ (i >> 8));
  EXPECT_EQ(AtaWriteFlashRange("/dev/x", 0x4000, data.data(), 0x6000), 0);
  // Per chunk a status read, then the write.
  ASSERT_EQ(backend_->commands.size(), 6u);
  EXPECT_EQ(BlockSent(5),
            (Bytes{0xA1, 0x0A, 0x03, 0xE9, 0x10, 0x00, 0x80, 0x00, 0xB0, 0xB0, 0, 0}));
  Bytes back(0x6000, 0);
  EXPECT_EQ(AtaReadFlashRange("/dev/x", 0x4000, back.data(), 0x6000), 0);
  EXPECT_EQ(back, data);

  flash.failWriteAt = 0x6000;
  EXPECT_EQ(AtaWriteFlashRange("/dev/x", 0x4000, data.data(), 0x6000), 4);
  flash.failReadAt = 0x8000;
  EXPECT_EQ(AtaReadFlashRange("/dev/x", 0x4000, back.data(), 0x6000), 3);
}

TEST_F(AtaCommands, AShortLastChunkStaysInsideTheCallersBuffer) {
  FlashScript flash{Bytes(0x10000, 0xFF)};
  for (size_t i = 0; i < flash.cells.size(); ++i) flash.cells[i] = static_cast<uint8_t>(i * 3);
  AnswerByFeature([&](uint8_t f, const PassThroughRequest& rq) { return flash.Answer(f, rq); });
  // 8 KB + 100 bytes into a buffer with a guard behind it.
  Bytes buffer(8192 + 100 + 64, 0xA5);
  EXPECT_EQ(AtaReadFlashRange("/dev/x", 0, buffer.data(), 8192 + 100), 0);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 8292),
            Bytes(flash.cells.begin(), flash.cells.begin() + 8292));
  EXPECT_EQ(Bytes(buffer.begin() + 8292, buffer.end()), Bytes(64, 0xA5));

  // A short write sends a full chunk padded with 0xFF.
  std::fill(flash.cells.begin(), flash.cells.end(), 0xFF);
  const Bytes three = {1, 2, 3};
  EXPECT_EQ(AtaWriteFlashRange("/dev/x", 0x2000, three.data(), 3), 0);
  EXPECT_EQ(Bytes(flash.cells.begin() + 0x2000, flash.cells.begin() + 0x2004),
            (Bytes{1, 2, 3, 0xFF}));
  EXPECT_EQ(backend_->commands.back().request.length, 8192u);
}

}  // namespace
}  // namespace fwtool
