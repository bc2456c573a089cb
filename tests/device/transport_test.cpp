// SPDX-License-Identifier: GPL-2.0-or-later
#include "transport.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "capture_backend.h"

namespace fwtool {
namespace {

using testing::ScopedCaptureBackend;

const uint8_t kBlock[12] = {0xDF, 0x10, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0xFA};

TEST(Transport, OneByteReadMovesTwoAndCopiesBackOne) {
  ScopedCaptureBackend backend;
  backend->responder = [](const PassThroughRequest& rq) {
    rq.data[0] = 0xA5;
    rq.data[1] = 0x5A;
    PassThroughResult r = testing::Answered();
    r.transferred = 2;
    return r;
  };
  std::array<uint8_t, 2> buffer{0x11, 0x22};
  uint32_t transferred = 0;
  EXPECT_EQ(SendCommandIn("/dev/x", kBlock, 12, buffer.data(), 1, &transferred), 1);
  ASSERT_EQ(backend->commands.size(), 1u);
  EXPECT_EQ(backend->commands[0].request.length, 2u);
  EXPECT_EQ(buffer[0], 0xA5);
  EXPECT_EQ(buffer[1], 0x22) << "only the caller's count is copied back";
  EXPECT_EQ(transferred, 2u);
}

TEST(Transport, OneByteWriteSendsTheByteAndAZero) {
  ScopedCaptureBackend backend;
  const uint8_t byte = 0x7E;
  EXPECT_EQ(SendCommandOut("/dev/x", kBlock, 12, &byte, 1, nullptr), 1);
  ASSERT_EQ(backend->commands.size(), 1u);
  EXPECT_EQ(backend->commands[0].dataOut, (std::vector<uint8_t>{0x7E, 0x00}));
}

TEST(Transport, ZeroLengthKeepsDirectionAndSendsNoBuffer) {
  ScopedCaptureBackend backend;
  EXPECT_EQ(SendCommandIn("/dev/x", kBlock, 12, nullptr, 0, nullptr), 1);
  EXPECT_EQ(SendCommandOut("/dev/x", kBlock, 12, nullptr, 0, nullptr), 1);
  ASSERT_EQ(backend->commands.size(), 2u);
  EXPECT_EQ(backend->commands[0].request.direction, DataDirection::In);
  EXPECT_EQ(backend->commands[1].request.direction, DataDirection::Out);
  for (const auto& c : backend->commands) {
    EXPECT_EQ(c.request.length, 0u);
    EXPECT_EQ(c.dataAddress, 0u);
  }
}

TEST(Transport, RequestCarriesAddressAndExclusiveness) {
  ScopedCaptureBackend backend;
  std::array<uint8_t, 4> buffer{};
  SendCommandIn("/dev/sg1", kBlock, 12, buffer.data(), 4, nullptr);
  SendCommandOut("/dev/sg1", kBlock, 12, buffer.data(), 4, nullptr);
  ASSERT_EQ(backend->commands.size(), 2u);
  for (const auto& c : backend->commands) {
    EXPECT_EQ(c.request.path, "/dev/sg1");
    EXPECT_EQ(c.request.targetId, 1);
    EXPECT_EQ(c.request.pathId, 0);
    EXPECT_EQ(c.request.lun, 0);
    EXPECT_EQ(c.request.cdbLength, 12);
    EXPECT_EQ(c.dataAddress % kTransferAlignment, 0u) << "data buffer on an 8192 boundary";
  }
  EXPECT_FALSE(backend->commands[0].request.exclusive);
  EXPECT_TRUE(backend->commands[1].request.exclusive);
}

TEST(Transport, FailedReadStillOverwritesTheCallersBuffer) {
  ScopedCaptureBackend backend;
  backend->responder = [](const PassThroughRequest&) {
    PassThroughResult r = testing::Answered();
    r.scsiStatus = 2;
    return r;
  };
  std::array<uint8_t, 8> buffer;
  buffer.fill(0xCC);
  EXPECT_EQ(SendCommandIn("/dev/x", kBlock, 12, buffer.data(), 8, nullptr), 0);
  for (uint8_t b : buffer) EXPECT_EQ(b, 0);
}

TEST(Transport, EveryKindOfFailureGivesZero) {
  struct Case {
    const char* name;
    PassThroughResult result;
  };
  const Case cases[] = {
      {"call failed", testing::Answered(false)},
      {"error code", testing::Answered(true, 0, 5)},
      {"check condition", testing::Answered(true, 2)},
      {"host status", testing::Answered(true, 0, 0, 7)},
  };
  for (const auto& c : cases) {
    ScopedCaptureBackend backend;
    backend->responder = [&](const PassThroughRequest&) { return c.result; };
    EXPECT_EQ(SendCommandOut("/dev/x", kBlock, 12, nullptr, 0, nullptr), 0) << c.name;
  }
}

TEST(Transport, UnopenablePathLeavesTheCountAlone) {
  ScopedCaptureBackend backend;
  backend->responder = [](const PassThroughRequest&) { return PassThroughResult{}; };
  std::array<uint8_t, 4> buffer{1, 2, 3, 4};
  uint32_t transferred = 12345;
  EXPECT_EQ(SendCommandIn("/dev/gone", kBlock, 12, buffer.data(), 4, &transferred), 0);
  EXPECT_EQ(SendCommandOut("/dev/gone", kBlock, 12, buffer.data(), 4, &transferred), 0);
  EXPECT_EQ(transferred, 12345u);
  EXPECT_EQ(buffer, (std::array<uint8_t, 4>{1, 2, 3, 4})) << "no data moved";
}

TEST(Transport, TimeOutRule) {
  struct Case {
    std::vector<uint8_t> block;
    uint32_t seconds;
  };
  const Case cases[] = {
      {{0xFF, 0x04, 0x13, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 100},     // chip erase
      {{0x2A, 0, 0x13, 0, 0, 0, 0, 0, 1, 0}, 100},              // any opcode with byte 2 0x13
      {{0xDF, 0x03, 0, 0x20, 0, 0, 0, 0, 0, 0, 0, 0xFB}, 100},  // whole-chip write
      {{0xDF, 0x83, 0, 0x20, 0, 0, 0, 0, 0, 0, 0, 0xFB}, 100},  // the same on an MXIC part
      {{0xDF, 0x02, 0, 0x20, 0, 0, 0, 0, 0, 0, 0, 0xFB}, 50},
      {{0xDF, 0x82, 0, 0x20, 0, 0, 0, 0, 0, 0, 0, 0xFB}, 50},
      {{0xDF, 0x81, 0, 0x20, 0, 0, 0, 0, 0, 0, 0, 0xFB}, 50},
      {{0xDF, 0x03, 0, 0x20, 0, 0, 0, 0, 0, 0, 0, 0xFA}, 50},
      {{0x2A, 0x03, 0, 0, 0, 0, 0, 0, 1, 0}, 50},  // 10 bytes: no byte 11
  };
  for (const auto& c : cases) {
    ScopedCaptureBackend backend;
    SendCommandOut("/dev/x", c.block.data(), static_cast<int>(c.block.size()), nullptr, 0, nullptr);
    SendCommandIn("/dev/x", c.block.data(), static_cast<int>(c.block.size()), nullptr, 0, nullptr);
    ASSERT_EQ(backend->commands.size(), 2u);
    EXPECT_EQ(backend->commands[0].request.timeoutSeconds, c.seconds)
        << HexBytes(c.block.data(), c.block.size());
    EXPECT_EQ(backend->commands[1].request.timeoutSeconds, 10u);
  }
}

TEST(Transport, SimPathsGoToTheSimulatorBackend) {
  ScopedCaptureBackend platform;
  auto sim = std::make_shared<testing::CaptureBackend>();
  auto previous = SetSimulatorBackend(sim);
  SendCommandIn("sim:usbsto#0", kBlock, 12, nullptr, 0, nullptr);
  SendCommandIn("/dev/sg0", kBlock, 12, nullptr, 0, nullptr);
  SetSimulatorBackend(previous);
  EXPECT_EQ(sim->commands.size(), 1u);
  EXPECT_EQ(platform->commands.size(), 1u);
}

TEST(Transport, WithoutABackendNothingOpens) {
  auto previous = SetPlatformBackend(nullptr);
  uint32_t transferred = 7;
  EXPECT_EQ(SendCommandIn("/dev/sg0", kBlock, 12, nullptr, 0, &transferred), 0);
  EXPECT_EQ(transferred, 7u);
  SetPlatformBackend(previous);
}

TEST(Transport, TraceReportsEveryCommand) {
  ScopedCaptureBackend backend;
  backend->responder = [](const PassThroughRequest&) {
    PassThroughResult r = testing::Answered(true, 2);
    r.sense = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0x00};
    return r;
  };
  std::vector<std::string> lines;
  auto previous = SetCommandTrace(
      [&](const CommandTraceRecord& record) { lines.push_back(FormatTraceRecord(record)); });
  SendCommandIn("/dev/sg3", kBlock, 12, nullptr, 0, nullptr);
  SetCommandTrace(previous);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("/dev/sg3"), std::string::npos);
  EXPECT_NE(lines[0].find("DF 10 00 00 01 00 00 00 00 00 00 FA"), std::string::npos);
  EXPECT_NE(lines[0].find("FAIL"), std::string::npos);
  EXPECT_NE(lines[0].find("ILLEGAL REQUEST"), std::string::npos);
  EXPECT_NE(lines[0].find("invalid command operation code"), std::string::npos);
}

struct CategoryCase {
  const char* name;
  PassThroughResult result;
  ResultCategory category;
  const char* described;
};

PassThroughResult With(void (*change)(PassThroughResult&)) {
  PassThroughResult r = testing::Answered();
  change(r);
  return r;
}

TEST(Transport, EveryOutcomeHasItsCategoryAndItsWords) {
  // Fixed-format sense data: key at byte 2, ASC/ASCQ at bytes 12/13.
  const CategoryCase cases[] = {
      {"good", testing::Answered(), ResultCategory::Good, "good"},
      {"sense", With([](PassThroughResult& r) {
         r.scsiStatus = 2;
         r.sense = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0};
       }),
       ResultCategory::Sense, "ILLEGAL REQUEST, invalid command operation code"},
      {"sense without a known meaning", With([](PassThroughResult& r) {
         r.scsiStatus = 2;
         r.sense = {0x70, 0, 0x03, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x77, 0x01};
       }),
       ResultCategory::Sense, "MEDIUM ERROR, asc 0x77 ascq 0x01"},
      {"busy", With([](PassThroughResult& r) { r.scsiStatus = 0x08; }), ResultCategory::Status,
       "SCSI status 0x08 (BUSY)"},
      {"check condition without sense", With([](PassThroughResult& r) { r.scsiStatus = 2; }),
       ResultCategory::Status, "SCSI status 0x02 (CHECK CONDITION)"},
      {"host", With([](PassThroughResult& r) {
         r.hostStatus = 0x03;
         r.detail = "host status 0x03 (time-out)";
       }),
       ResultCategory::Transport, "transport error: host status 0x03 (time-out)"},
      {"driver sense bit alone is not a transport error",
       With([](PassThroughResult& r) { r.driverStatus = 0x08; }), ResultCategory::Good, "good"},
      {"driver", With([](PassThroughResult& r) { r.driverStatus = 0x06; }),
       ResultCategory::Transport, "transport error: host status 0x00, driver status 0x06"},
      {"ioctl", With([](PassThroughResult& r) {
         r.callOk = false;
         r.errorCode = 22;
       }),
       ResultCategory::OsError, "the pass-through call failed (error 22)"},
      {"cannot open", With([](PassThroughResult& r) {
         r.opened = false;
         r.detail = "cannot open /dev/sg9: no such device";
       }),
       ResultCategory::CannotOpen, "cannot open /dev/sg9: no such device"},
      {"too large", With([](PassThroughResult& r) {
         r.opened = false;
         r.notSent = true;
         r.detail = "transfer of 65536 bytes exceeds the device's limit of 32 KB";
       }),
       ResultCategory::NotSent, "transfer of 65536 bytes exceeds the device's limit of 32 KB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CategoryOf(c.result), c.category);
    EXPECT_EQ(DescribeResult(c.result), c.described);
  }
}

TEST(AlignedBuffers, AlignAndZeroFill) {
  for (size_t size : {0u, 1u, 100u, 8192u, 65536u}) {
    void* raw = AllocAligned(size, kTransferAlignment);
    ASSERT_NE(raw, nullptr);
    auto* aligned = static_cast<uint8_t*>(AlignUp(raw, kTransferAlignment));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(aligned) % kTransferAlignment, 0u);
    EXPECT_LE(aligned + size, static_cast<uint8_t*>(raw) + size + kTransferAlignment);
    for (size_t i = 0; i < size; ++i) ASSERT_EQ(aligned[i], 0);
    FreeAligned(raw);
  }
  FreeAligned(nullptr);
  AlignedBuffer buffer(1000);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer.data()) % kTransferAlignment, 0u);
  EXPECT_EQ(buffer.size(), 1000u);
}

}  // namespace
}  // namespace fwtool
