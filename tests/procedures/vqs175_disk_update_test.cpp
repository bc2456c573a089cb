// SPDX-License-Identifier: GPL-2.0-or-later
// The disk-hosted procedure of chip type 12 against simulated units: the
// region 2 MB below the last 1 MB boundary, the code area's CRC-32, the
// settings left alone without "Include 4K NVRAM", the reset, and the
// refusals.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "disk_unit_fixture.h"

namespace fwtool {
namespace {

using testing::DiskUnitTest;
using testing::Pattern;
using testing::ReadFile;
using Bytes = std::vector<uint8_t>;

constexpr double kInstant = 0.0;
constexpr const char* kResetBox = "Message: VQS175 Auto reset, Please wait device re-attached!";

// CRC-32 as the controller checks it: polynomial 0x04C11DB7, start
// 0x52325032, each little-endian 32-bit word XORed in, then 32 shifts.
uint32_t ControllerCrc(const Bytes& data, size_t length) {
  uint32_t crc = 0x52325032;
  for (size_t at = 0; at + 4 <= length; at += 4) {
    crc ^= uint32_t{data[at]} | uint32_t{data[at + 1]} << 8 | uint32_t{data[at + 2]} << 16 |
           uint32_t{data[at + 3]} << 24;
    for (int bit = 0; bit < 32; ++bit)
      crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return crc;
}

// The file as the region holds it: zero-padded to 64 KB, the CRC of the
// first 49,148 bytes at 0xBFFC, least significant byte first.
Bytes WithCrc(Bytes file) {
  file.resize(65536, 0);
  const uint32_t crc = ControllerCrc(file, 49148);
  for (size_t i = 0; i < 4; ++i) file[0xBFFC + i] = static_cast<uint8_t>(crc >> (8 * i));
  return file;
}

class Vqs175DiskUpdate : public DiskUnitTest {
 protected:
  bool ResetSent() {
    for (const auto& entry : Unit().Log())
      if (entry.cdb[0] == 0xFF && entry.cdb[1] == 0x04 && entry.cdb[2] == 0x26) return true;
    return false;
  }
};

// 976,773,168 sectors of 512 bytes: 1 MB is 2,048 sectors, the last 1 MB
// boundary below the last sector is 976,773,120, the region starts 4,096
// sectors before it.
TEST_F(Vqs175DiskUpdate, TheRegionLiesTwoMegabytesBelowTheLastMegabyteBoundary) {
  struct Case {
    const char* description;
    uint64_t start;
    uint64_t sectors;
    uint8_t writeOpcode;
  };
  const Case cases[] = {
      {"vqs175:disk=976773168s", 976'769'024, 128, 0x85},
      // Without IDENTIFY the last LBA of READ CAPACITY(16), 976,773,167, gives the same.
      {"vqs175:disk=976773168s:identify=fail", 976'769'024, 128, 0x8A},
      // 4096-byte sectors: 1 MB is 256 sectors; 999,936 - 512.
      {"vqs175:disk=1000000s:sector=4096", 999'424, 16, 0x85},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(Create(c.description, kInstant));
    const Bytes file = Pattern(60'000, 6);
    EXPECT_EQ(RunVqs175DiskFirmwareUpdate(Request(dir.Write("fw.bin", file)), host), 1)
        << c.description << ": " << host.status;
    ASSERT_EQ(Writes().size(), 1u) << c.description;
    EXPECT_EQ(Writes()[0].lba, c.start) << c.description;
    EXPECT_EQ(Writes()[0].count, c.sectors) << c.description;
    EXPECT_TRUE(Sent(c.writeOpcode)) << c.description;
    EXPECT_EQ(DiskBytes(c.start, 65536), WithCrc(file)) << c.description;
    EXPECT_EQ(host.status, "Programming Success!!");
    EXPECT_EQ(host.boxes, std::vector<std::string>{kResetBox});
    EXPECT_TRUE(ResetSent());
  }
}

TEST_F(Vqs175DiskUpdate, WithoutTheNvramOnlyTheCodeAreaIsTouched) {
  ASSERT_TRUE(Create("vqs175:disk=976773168s", kInstant));
  constexpr uint64_t start = 976'769'024;
  Unit().Disk().Load(start, Bytes(65536, 0x5A));
  const Bytes file = Pattern(30'000, 12);  // checksummed over its zero padding too

  ProcedureRequest request = Request(dir.Write("fw.bin", file));
  request.options.includeNvram = false;
  // The region lies inside the disk the host sees and holds no firmware:
  // the operator lets it be overwritten.
  request.options.diskData = DiskDataChoice::Overwrite;
  EXPECT_EQ(RunVqs175DiskFirmwareUpdate(request, host), 1) << host.status;
  Bytes expected = WithCrc(file);
  std::fill(expected.begin() + 0xC000, expected.end(), 0x5A);
  EXPECT_EQ(DiskBytes(start, 65536), expected);
  ASSERT_EQ(Writes().size(), 1u);
  EXPECT_EQ(Writes()[0].count, 96u);

  request.options.backupOnly = true;
  host = testing::FakeProcedureHost{};
  EXPECT_EQ(RunVqs175DiskFirmwareUpdate(request, host), 1);
  EXPECT_EQ(host.status, "Read flash and backup success!");
  EXPECT_EQ(ReadFile(request.options.backupFile),
            Bytes(expected.begin(), expected.begin() + 0xC000));
  EXPECT_TRUE(host.boxes.empty());

  request.options.backupOnly = false;
  request.options.eraseOnly = true;
  EXPECT_EQ(RunVqs175DiskFirmwareUpdate(request, host), 1);
  EXPECT_EQ(host.status, "Erase all data in HDD success!!");
  Bytes cleared(65536, 0x5A);
  std::fill(cleared.begin(), cleared.begin() + 0xC000, 0);
  EXPECT_EQ(DiskBytes(start, 65536), cleared);
}

TEST_F(Vqs175DiskUpdate, RefusalsAndFailuresWriteNothingAndSayWhy) {
  const std::string notFound = "The firmware area on the disk was not found: ";
  enum class Mode { Program, Clear, Backup };
  struct Case {
    const char* name;
    const char* description;
    Mode mode;
    size_t fileSize;
    std::string status;
    DiskDataChoice diskData = DiskDataChoice::Ask;
  };
  const Case cases[] = {
      {"no capacity and no IDENTIFY", "vqs175:disk=976773168s:identify=fail:capacity=fail",
       Mode::Program, 1000, notFound + "the disk's capacity cannot be read"},
      {"a disk smaller than the region", "vqs175:disk=4000s", Mode::Clear, 1000,
       notFound + "the disk is smaller than the firmware region"},
      {"an empty file", "vqs175:disk=976773168s", Mode::Program, 0, "The firmware file is empty!!"},
      {"a file longer than the region", "vqs175:disk=976773168s", Mode::Program, 65537,
       "The firmware file is larger than the firmware area on the disk!!"},
      {"the clear's write is refused", "vqs175:disk=976773168s:fail-match=85", Mode::Clear, 1000,
       "Write Data SCSI16 To HDD FAIL!!", DiskDataChoice::Overwrite},
      {"the program's write is refused", "vqs175:disk=976773168s:fail-match=85", Mode::Program,
       1000, "Write Data SCSI16 To HDD FAIL!!", DiskDataChoice::Overwrite},
      // Sectors the host is shown are written only when it is known what
      // they hold.
      {"the region cannot be read to see what it holds", "vqs175:disk=976773168s:fail-match=85",
       Mode::Program, 1000, "Nothing written: cannot read what is in sectors 976769024..976769151"},
      {"the backup cannot be read", "vqs175:disk=976773168s:fail-match=85", Mode::Backup, 1000,
       "Read Back to Backup Error!!"},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(Create(c.description, kInstant)) << c.name;
    ProcedureRequest request = Request(dir.Write("fw.bin", Pattern(c.fileSize, 2)));
    request.options.eraseOnly = c.mode == Mode::Clear;
    request.options.backupOnly = c.mode == Mode::Backup;
    request.options.diskData = c.diskData;
    std::filesystem::remove(request.options.backupFile);
    EXPECT_EQ(RunVqs175DiskFirmwareUpdate(request, host), 0) << c.name;
    EXPECT_EQ(host.status, c.status) << c.name;
    EXPECT_TRUE(Writes().empty()) << c.name;
    EXPECT_TRUE(host.boxes.empty()) << c.name;
    EXPECT_FALSE(ResetSent()) << c.name;
    EXPECT_FALSE(std::filesystem::exists(request.options.backupFile)) << c.name;
  }
}

}  // namespace
}  // namespace fwtool
