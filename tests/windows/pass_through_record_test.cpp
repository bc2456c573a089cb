// SPDX-License-Identifier: GPL-2.0-or-later
// The request record the Windows backend hands to DeviceIoControl, from the
// caller's block through the transport's rules (1 byte sent as 2, time-outs,
// direction), and the backend against real handles of this system.
#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "capture_backend.h"
#include "command_block.h"
#include "pass_through.h"
#include "scsi_pass_through_record.h"
#include "sptd_backend.h"
#include "transport.h"

namespace fwtool::platform {
namespace {

using fwtool::testing::CaptureBackend;

// The record as the transport makes it for a call of SendCommandIn/Out.
SptdRecord RecordFor(bool dataIn, std::vector<uint8_t> block, uint32_t length,
                     std::vector<uint8_t>* dataSent = nullptr) {
  auto capture = std::make_shared<CaptureBackend>();
  const auto previous = SetSimulatorBackend(capture);
  std::vector<uint8_t> buffer(length + 2, 0xA5);
  uint32_t transferred = 0;
  if (dataIn) {
    SendCommandIn("sim:record", block.data(), static_cast<int>(block.size()), buffer.data(), length,
                  &transferred);
  } else {
    SendCommandOut("sim:record", block.data(), static_cast<int>(block.size()),
                   length != 0 ? buffer.data() : nullptr, length, &transferred);
  }
  SetSimulatorBackend(previous);
  EXPECT_EQ(capture->commands.size(), 1u);
  if (capture->commands.empty()) return {};
  PassThroughRequest request = capture->commands[0].request;
  // A stand-in address: the record only carries it.
  static uint8_t someBuffer[8];
  request.data = request.length != 0 ? someBuffer : nullptr;
  if (dataSent != nullptr) *dataSent = capture->commands[0].dataOut;
  return MakeSptdRecord(request);
}

struct RecordCase {
  const char* what;
  bool dataIn;
  std::vector<uint8_t> block;
  uint32_t callerLength;
  uint32_t transferLength;  // DataTransferLength
  uint8_t dataInField;      // DataIn
  uint32_t timeout;         // TimeOutValue
};

class RecordTable : public ::testing::TestWithParam<RecordCase> {};

TEST_P(RecordTable, CarriesLengthDirectionAndTimeOut) {
  const RecordCase& c = GetParam();
  const SptdRecord record = RecordFor(c.dataIn, c.block, c.callerLength);
  const SCSI_PASS_THROUGH_DIRECT& sptd = record.sptd;
  EXPECT_EQ(sptd.Length, 56) << "the 64-bit record's own size";
  EXPECT_EQ(sptd.PathId, 0);
  EXPECT_EQ(sptd.TargetId, 1);
  EXPECT_EQ(sptd.Lun, 0);
  EXPECT_EQ(sptd.CdbLength, c.block.size());
  EXPECT_EQ(std::memcmp(sptd.Cdb, c.block.data(), c.block.size()), 0);
  EXPECT_EQ(sptd.DataTransferLength, c.transferLength);
  EXPECT_EQ(sptd.DataIn, c.dataInField);
  EXPECT_EQ(sptd.TimeOutValue, c.timeout);
  EXPECT_EQ(sptd.DataBuffer == nullptr, c.transferLength == 0);
  EXPECT_EQ(sptd.SenseInfoOffset, 60u) << "the sense area right after the record and its filler";
  EXPECT_EQ(sptd.SenseInfoLength, 32);
}

const std::vector<uint8_t> kRead12 = {0xDF, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01};
const std::vector<uint8_t> kErase = {0xDF, 0x10, 0x13, 0, 0, 0, 0, 0, 0, 0, 0, 0x05};
const std::vector<uint8_t> kWriteMode3 = {0xDF, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFB};
const std::vector<uint8_t> kWriteMode2 = {0xDF, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFB};
const std::vector<uint8_t> kWrite10Lba13 = {0x2A, 0x00, 0x13, 0, 0, 0, 0, 0, 1, 0};
const std::vector<uint8_t> kTen03 = {0x2A, 0x03, 0, 0, 0, 0, 0, 0, 1, 0};

INSTANTIATE_TEST_SUITE_P(
    Windows, RecordTable,
    ::testing::Values(
        RecordCase{"read of 1 byte is sent as 2", true, kRead12, 1, 2, 1, 10},
        RecordCase{"write of 1 byte is sent as 2", false, kRead12, 1, 2, 0, 50},
        RecordCase{"read of 512 bytes", true, kRead12, 512, 512, 1, 10},
        RecordCase{"data-in without data stays data-in", true, kRead12, 0, 0, 1, 10},
        RecordCase{"data-out without data stays data-out", false, kRead12, 0, 0, 0, 50},
        RecordCase{"chip erase waits 100 s", false, kErase, 0, 0, 0, 100},
        RecordCase{"whole-chip write waits 100 s", false, kWriteMode3, 4096, 4096, 0, 100},
        RecordCase{"write mode 2 waits 50 s", false, kWriteMode2, 4096, 4096, 0, 50},
        RecordCase{"any data-out block with 0x13 in byte 2", false, kWrite10Lba13, 512, 512, 0,
                   100},
        RecordCase{"a 10-byte block has no byte 11", false, kTen03, 512, 512, 0, 50},
        RecordCase{"data-in never waits longer than 10 s", true, kErase, 16, 16, 1, 10}),
    [](const ::testing::TestParamInfo<RecordCase>& info) {
      std::string name;
      for (const char* p = info.param.what; *p != 0; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
      return name;
    });

TEST(SptdRecord, BytesOfA64BitReadRecord) {
  const SptdRecord record = RecordFor(true, kRead12, 1);
  const auto* bytes = reinterpret_cast<const uint8_t*>(&record.sptd);
  // Length 56, status, path 0, target 1, lun 0, 12-byte block, 32 sense
  // bytes, data-in, three bytes of padding, 2 bytes to move, 10 s.
  const std::array<uint8_t, 20> head = {56, 0, 0, 0, 1, 0, 12, 32, 1, 0,
                                        0,  0, 2, 0, 0, 0, 10, 0,  0, 0};
  EXPECT_EQ(std::memcmp(bytes, head.data(), head.size()), 0);
  uint32_t senseOffset = 0;
  std::memcpy(&senseOffset, bytes + 32, 4);
  EXPECT_EQ(senseOffset, 60u);
  EXPECT_EQ(std::memcmp(bytes + 36, kRead12.data(), kRead12.size()), 0);
  EXPECT_EQ(sizeof(SptdRecord), 96u) << "60 + 32 sense bytes, padded to the pointer's alignment";
}

TEST(SptdRecord, AOneByteWriteSendsTheByteAndAZero) {
  std::vector<uint8_t> sent;
  RecordFor(false, kRead12, 1, &sent);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0], 0xA5);
  EXPECT_EQ(sent[1], 0x00);
}

TEST(SptdRecord, ShareModePerDirection) {
  PassThroughRequest in;
  in.exclusive = false;
  PassThroughRequest out;
  out.direction = DataDirection::Out;
  out.exclusive = true;
  EXPECT_EQ(ShareModeFor(in), static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE));
  EXPECT_EQ(ShareModeFor(out), 0u);
}

TEST(SptdRecord, ReplyWithCheckConditionKeepsTheSense) {
  SptdRecord record{};
  record.sptd.ScsiStatus = 2;
  record.sptd.SenseInfoLength = 18;
  record.sptd.DataTransferLength = 0;
  record.sense[0] = 0x70;
  record.sense[2] = 0x05;
  record.sense[12] = 0x20;
  const PassThroughResult result = InterpretSptdReply(record, true, 0, "\\\\?\\usbstor#x");
  EXPECT_FALSE(result.Succeeded());
  EXPECT_EQ(result.scsiStatus, 2);
  ASSERT_EQ(result.sense.size(), 18u);
  EXPECT_EQ(DescribeSense(result.sense),
            "ILLEGAL REQUEST, asc 0x20 ascq 0x00 (invalid command operation code)");
}

TEST(SptdRecord, ACallThatLeavesAnErrorCodeFailsEvenWhenItSaysSuccess) {
  SptdRecord record{};
  record.sptd.DataTransferLength = 512;
  const PassThroughResult result = InterpretSptdReply(record, true, ERROR_IO_DEVICE, "p");
  EXPECT_FALSE(result.Succeeded());
  EXPECT_EQ(result.transferred, 512u);
  const PassThroughResult clean = InterpretSptdReply(record, true, 0, "p");
  EXPECT_TRUE(clean.Succeeded());
}

TEST(SptdRecord, AccessDeniedSaysAdministratorRights) {
  EXPECT_EQ(DescribeOpenError("\\\\?\\usbstor#disk", ERROR_ACCESS_DENIED),
            "cannot open \\\\?\\usbstor#disk: needs administrator rights");
}

// The backend against real handles: a file stands in for the device. It
// takes no SCSI commands, but the opens show the share modes at work.
class BackendOnAFile : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = (std::filesystem::temp_directory_path() / "fwtool-sptd-share.bin").string();
    std::ofstream(path_, std::ios::binary) << "device";
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
  PassThroughRequest Request(DataDirection direction) {
    PassThroughRequest request;
    request.path = path_;
    request.direction = direction;
    request.exclusive = direction == DataDirection::Out;
    request.cdbLength = 12;
    return request;
  }
  std::string path_;
};

TEST_F(BackendOnAFile, ADataOutCommandIsRefusedWhileAnotherProgramHasTheDeviceOpen) {
  // Another program holds the device, sharing it as a reader would.
  const HANDLE other =
      ::CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  SptdBackend backend;
  const PassThroughResult in = backend.Execute(Request(DataDirection::In));
  EXPECT_TRUE(in.opened) << "data-in shares the device";
  EXPECT_FALSE(in.Succeeded()) << "a file takes no SCSI commands";
  EXPECT_NE(in.detail.find("does not take SCSI commands"), std::string::npos) << in.detail;

  const PassThroughResult out = backend.Execute(Request(DataDirection::Out));
  EXPECT_FALSE(out.opened) << "data-out wants the device to itself";
  EXPECT_EQ(out.errorCode, ERROR_SHARING_VIOLATION);
  EXPECT_EQ(out.detail, "cannot open " + path_ + ": in use by another program");
  ::CloseHandle(other);

  EXPECT_TRUE(backend.Execute(Request(DataDirection::Out)).opened) << "free again";
}

TEST_F(BackendOnAFile, AMissingDeviceIsNotOpenedAndTheCountStaysUntouched) {
  auto backend = std::make_shared<SptdBackend>();
  const auto previous = SetPlatformBackend(backend);
  const std::string gone = "\\\\?\\usbstor#disk&ven_none#0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
  uint8_t block[12] = {0xDF};
  uint8_t buffer[4] = {1, 2, 3, 4};
  uint32_t transferred = 77;
  EXPECT_EQ(SendCommandIn(gone, block, 12, buffer, 4, &transferred), 0);
  EXPECT_EQ(transferred, 77u);
  PassThroughRequest request = Request(DataDirection::In);
  request.path = gone;
  const PassThroughResult result = backend->Execute(request);
  EXPECT_FALSE(result.opened);
  EXPECT_EQ(result.detail, "cannot open " + gone + ": no such device (unplugged?)");
  SetPlatformBackend(previous);
}

}  // namespace
}  // namespace fwtool::platform
