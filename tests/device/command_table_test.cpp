// SPDX-License-Identifier: GPL-2.0-or-later
// The table of the program's blocks: every builder's block has its row and
// every row is some builder's; blocks of other work (a disk's own writes,
// its secure erase, a microcode download) have none; the sectors a block
// addresses are read as the command sets lay them down.
#include "command_table.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ata_commands.h"
#include "capture_backend.h"
#include "disk_commands.h"
#include "flash_commands.h"
#include "identify.h"
#include "parallel_flash_commands.h"
#include "serial_flash_commands.h"

namespace fwtool {
namespace {

using testing::ScopedCaptureBackend;
using Bytes = std::vector<uint8_t>;

constexpr const char* kPath = "usbsto:/dev/sg2";

TEST(CommandTable, EveryBuildersBlockHasItsRowAndEveryRowIsABuilders) {
  ScopedCaptureBackend capture;
  std::vector<uint8_t> buffer(65536);
  uint8_t* b = buffer.data();
  const FlashProfile profile{};
  const SpiRecord record = SpiRecord::Of(1, 0, 0x06);
  const std::vector<std::function<void()>> builders = {
      [&] { Inquiry(kPath, b, 36); },
      [&] { ReadConfigWord(kPath, b); },
      [&] { GetChipInfo(kPath, b, 64, nullptr); },
      [&] { ReadChipIdString(kPath, b, 16); },
      [&] { ReadFlash(kPath, 0, b, 1024); },
      [&] { WriteFlash(kPath, 0, b, 1024, 2); },
      [&] { WriteFlashPlain(kPath, 0, b, 1024, true); },
      [&] { ReadMemory(kPath, b, 0xC000, 4); },
      [&] { WriteMemory(kPath, b, 0x5000, 4); },
      [&] { ReadFlashAt(kPath, 0, b, 1024); },
      [&] { WriteFlashAt(kPath, 0, b, 1024); },
      [&] { ReadFlashStatus(kPath, b); },
      [&] { EraseFlashChip(kPath); },
      [&] { EraseFlashSector(kPath, 0x8000); },
      [&] { ReadControllerInfo(kPath, b, 18); },
      [&] { HostLinkOpen(kPath); },
      [&] { HostLinkClose(kPath); },
      [&] { ResetDevice(kPath); },
      [&] { SpiCommand(kPath, record); },
      [&] { SpiWriteData(kPath, b, 256); },
      [&] { SpiReadId(kPath, 0x9F, b, 3); },
      [&] { SpiReadIdShort(kPath, b, 0x9F, false); },
      [&] { GetFlashMakerCode(kPath, b); },
      [&] { SetFlashOpcodes(kPath, profile); },
      [&] { SetFlashOpcodesEcho(kPath, profile); },
      [&] { SetFlashPageSize(kPath, 256, 2); },
      [&] { FlashAccessSetup(kPath); },
      [&] { SetFlashParams(kPath, profile, 256); },
      [&] { SetFlashParamsWide(kPath, profile, 256); },
      [&] { ParallelFlashSelect(kPath); },
      [&] { LoadParallelEraseScript(kPath, 0); },
      [&] { ParallelFlashEraseStart(kPath); },
      [&] { ParallelFlashBusy(kPath); },
      [&] { ProgramParallelFlash(kPath, b, 1024, 0); },
      [&] { ReadParallelFlash(kPath, 0, b, 1024); },
      [&] { AtaIdentify(kPath, b); },
      [&] { AtaVendorStatus(kPath, b); },
      [&] { AtaReadInfo(kPath, b, 512); },
      [&] { AtaReadFlash(kPath, 0, b, 8192); },
      [&] { AtaWriteFlash(kPath, 0, b, 8192); },
      [&] { AtaEraseFlash(kPath); },
      [&] { AtaSpiCommand(kPath, record); },
      [&] { AtaSpiReadData(kPath, b, 512); },
      [&] { AtaSetFlashOpcodes(kPath, profile); },
      [&] { AtaSetFlashPageSize(kPath, 256); },
      [&] { AtaReadDmaExt(kPath, 995'328, b, 65536, 512); },
      [&] { AtaWriteDmaExt(kPath, 995'328, b, 65536, 512); },
      [&] { ReadCapacityOr512(kPath); },
      [&] { ReadCapacity16(kPath); },
      [&] { Read10(kPath, b, 999'680, 65536, 512); },
      [&] { Write10(kPath, b, 999'680, 65536, 512); },
      [&] { Read16(kPath, b, 5, 1, 65536, 512); },
      [&] { Write16(kPath, b, 5, 1, 65536, 512); },
      [&] { IdentifyDriveSectors(kPath); },
  };
  for (const auto& build : builders) build();
  ASSERT_GE(capture->commands.size(), builders.size());

  std::set<const CommandRow*> used;
  for (const auto& c : capture->commands) {
    const auto& r = c.request;
    const CommandRow* row = FindCommandRow({r.cdb.data(), r.cdbLength}, r.direction);
    ASSERT_NE(row, nullptr) << HexBytes(r.cdb.data(), r.cdbLength);
    used.insert(row);
  }
  for (const CommandRow& row : CommandTable())
    EXPECT_TRUE(used.contains(&row)) << row.name << " is no builder's";
}

TEST(CommandTable, BlocksOfOtherWorkHaveNoRow) {
  using enum DataDirection;
  struct Case {
    const char* name;
    Bytes cdb;
    DataDirection direction;
  };
  const std::vector<Case> cases = {
      {"WRITE BUFFER", {0x3B, 0x05, 0, 0, 0, 0, 0, 0x02, 0, 0}, Out},
      {"FORMAT UNIT", {0x04, 0, 0, 0, 0, 0}, Out},
      {"START STOP UNIT", {0x1B, 0, 0, 0, 0, 0}, In},
      {"TEST UNIT READY", {0x00, 0, 0, 0, 0, 0}, In},
      {"ATA PASS-THROUGH(12), SECURITY ERASE UNIT",
       {0xA1, 0x0A, 0x03, 0, 1, 0, 0, 0, 0x40, 0xF4, 0, 0},
       Out},
      {"ATA PASS-THROUGH(16), SECURITY ERASE UNIT",
       {0x85, 0x0A, 0x03, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0x40, 0xF4, 0},
       Out},
      {"ATA PASS-THROUGH(16), the controller's flash write",
       {0x85, 0x0A, 0x03, 0, 0xE9, 0, 0x10, 0, 0, 0, 0, 0, 0, 0xB0, 0xB0, 0},
       Out},
      {"ATA PASS-THROUGH(12), DOWNLOAD MICROCODE",
       {0xA1, 0x0A, 0x03, 0x07, 1, 0, 0, 0, 0x40, 0x92, 0, 0},
       Out},
      {"ATA PASS-THROUGH(12), vendor feature E2",
       {0xA1, 0x06, 0x0B, 0xE2, 0, 0, 0, 0, 0xB0, 0xB0, 0, 0},
       Out},
      {"DF carrying ATA WRITE SECTORS", {0xDF, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0xE0, 0x30}, Out},
      {"FF-04 sub-command 77", {0xFF, 0x04, 0x77, 0, 0, 0, 0, 0, 0, 0, 0, 0}, Out},
      {"FF-05", {0xFF, 0x05, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0}, In},
      {"WRITE(10) as data-in", {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, In},
      {"flash read as data-out", {0xDF, 0x10, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0xFA}, Out},
      {"READ CAPACITY(16)'s opcode with another action",
       {0x9E, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0},
       In},
  };
  for (const auto& c : cases) EXPECT_EQ(FindCommandRow(c.cdb, c.direction), nullptr) << c.name;
}

TEST(CommandTable, TheSectorsABlockAddresses) {
  struct Case {
    const char* name;
    Bytes cdb;
    std::optional<SectorSpan> span;
  };
  const std::vector<Case> cases = {
      {"READ(10)", {0x28, 0, 0x12, 0x34, 0x56, 0x78, 0, 0x00, 0x04, 0}, SectorSpan{0x12345678, 4}},
      {"WRITE(10)", {0x2A, 0, 0, 0x0F, 0x40, 0x00, 0, 0x00, 0x80, 0}, SectorSpan{999'424, 128}},
      {"WRITE(16) past 2^32",
       {0x8A, 0, 0, 0, 0, 0x01, 0, 0, 0, 0x05, 0, 0, 0x01, 0x00, 0, 0},
       SectorSpan{(uint64_t{1} << 32) + 5, 256}},
      // 995,328 = 0x0F3000: bits 0-7 in byte 8, 8-15 in byte 10, 16-23 in byte 12.
      {"ATA WRITE DMA EXT",
       {0x85, 0x17, 0x03, 0, 0, 0x00, 0x80, 0x00, 0x00, 0x00, 0x30, 0x00, 0x0F, 0x60, 0x35, 0},
       SectorSpan{995'328, 128}},
      {"ATA READ DMA EXT, bits 24-47",
       {0x85, 0x15, 0x0B, 0, 0, 0x01, 0x00, 0x44, 0x00, 0x55, 0x00, 0x66, 0x00, 0x60, 0x25, 0},
       SectorSpan{0x665544000000, 256}},
      {"READ(10) cut short", {0x28, 0, 0, 0, 0, 1}, std::nullopt},
      {"INQUIRY", {0x12, 0, 0, 0, 36, 0}, std::nullopt},
  };
  for (const auto& c : cases) {
    const auto span = SectorsOf(c.cdb);
    ASSERT_EQ(span.has_value(), c.span.has_value()) << c.name;
    if (!span) continue;
    EXPECT_EQ(span->first, c.span->first) << c.name;
    EXPECT_EQ(span->count, c.span->count) << c.name;
  }
}

}  // namespace
}  // namespace fwtool
