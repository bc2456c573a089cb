// SPDX-License-Identifier: GPL-2.0-or-later
// Every kind of block the program sends to a unit, one row each, and the
// codes that tell them apart. The builders of this folder take their codes
// from here; fwtool-helper, which must judge blocks it did not build, reads
// the same rows. A block that matches no row is not one of this program's.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "pass_through.h"

namespace fwtool {

namespace codes {

// Standard SCSI.
inline constexpr uint8_t kInquiry = 0x12;
inline constexpr uint8_t kReadCapacity10 = 0x25;
inline constexpr uint8_t kServiceActionIn16 = 0x9E;
inline constexpr uint8_t kReadCapacity16Action = 0x10;
inline constexpr uint8_t kRead10 = 0x28;
inline constexpr uint8_t kWrite10 = 0x2A;
inline constexpr uint8_t kRead16 = 0x88;
inline constexpr uint8_t kWrite16 = 0x8A;

// The chip-information block: E0 F4 E7.
inline constexpr uint8_t kChipInfo = 0xE0;
inline constexpr uint8_t kChipInfoSignature0 = 0xF4;
inline constexpr uint8_t kChipInfoSignature1 = 0xE7;

// DF family: the command code in byte 11.
inline constexpr uint8_t kDf = 0xDF;
inline constexpr uint8_t kDfCodeAt = 11;
inline constexpr uint8_t kCodeFlashRead = 0xFA;
inline constexpr uint8_t kCodeFlashWrite = 0xFB;
inline constexpr uint8_t kCodeMemoryRead = 0xFD;
inline constexpr uint8_t kCodeMemoryWrite = 0xFE;
inline constexpr uint8_t kCodeConfigWord = 0xFF;
inline constexpr uint8_t kCodeDriveIdentify = 0xEC;

// FF-04 family: the sub-command in byte 2.
inline constexpr uint8_t kFf = 0xFF;
inline constexpr uint8_t kFf04 = 0x04;
inline constexpr uint8_t kSubAt = 2;
inline constexpr uint8_t kSubParallelBusy = 0x00;
inline constexpr uint8_t kSubParallelEraseStart = 0x01;
inline constexpr uint8_t kSubParallelProgram = 0x02;
inline constexpr uint8_t kSubParallelRead = 0x03;
inline constexpr uint8_t kSubParallelEraseScript = 0x04;
inline constexpr uint8_t kSubParallelSelect = 0x05;
inline constexpr uint8_t kSubParams = 0x0F;
inline constexpr uint8_t kSubFlashReadAt = 0x10;
inline constexpr uint8_t kSubFlashWriteAt = 0x11;
inline constexpr uint8_t kSubFlashStatus = 0x12;
inline constexpr uint8_t kSubFlashEraseChip = 0x13;
inline constexpr uint8_t kSubFlashEraseSector = 0x14;
inline constexpr uint8_t kSubSpiReadIdShort = 0x15;
inline constexpr uint8_t kSubSpiCommand = 0x20;
inline constexpr uint8_t kSubSpiRead = 0x21;
inline constexpr uint8_t kSubSpiWriteData = 0x22;
inline constexpr uint8_t kSubMakerCode = 0x23;
inline constexpr uint8_t kSubOpcodes = 0x24;
inline constexpr uint8_t kSubPageSize = 0x25;
inline constexpr uint8_t kSubReset = 0x26;
inline constexpr uint8_t kSubChipIdString = 0x30;
inline constexpr uint8_t kSubHostLink = 0x56;
inline constexpr uint8_t kSubControllerInfo = 0xA0;

// ATA PASS-THROUGH(12): features in byte 3, command in byte 9.
inline constexpr uint8_t kAtaPassThrough12 = 0xA1;
inline constexpr uint8_t kAta12FeaturesAt = 3;
inline constexpr uint8_t kAta12CommandAt = 9;
// ATA PASS-THROUGH(16): command in byte 14.
inline constexpr uint8_t kAtaPassThrough16 = 0x85;
inline constexpr uint8_t kAta16CommandAt = 14;

// ATA commands, and the controller's own under 0xB0 by feature.
inline constexpr uint8_t kAtaIdentifyDevice = 0xEC;
inline constexpr uint8_t kAtaReadDmaExt = 0x25;
inline constexpr uint8_t kAtaWriteDmaExt = 0x35;
inline constexpr uint8_t kAtaVendor = 0xB0;
inline constexpr uint8_t kFeatureInfo = 0xE0;
inline constexpr uint8_t kFeatureSpiCommand = 0xE1;
inline constexpr uint8_t kFeatureSpiReadData = 0xE3;
inline constexpr uint8_t kFeatureOpcodes = 0xE4;
inline constexpr uint8_t kFeaturePageSize = 0xE5;
inline constexpr uint8_t kFeatureErase = 0xE7;
inline constexpr uint8_t kFeatureReadFlash = 0xE8;
inline constexpr uint8_t kFeatureWriteFlash = 0xE9;
inline constexpr uint8_t kFeatureStatus = 0xEA;

}  // namespace codes

// What a block does to the unit.
enum class CommandUse : uint8_t {
  Identify,     // who the unit is and what it runs
  Status,       // whether the controller or its flash is busy
  Flash,        // the controller's firmware flash: read, program, erase, set-up
  Memory,       // the controller's memory
  Control,      // the host link and the controller's reset
  DiskSide,     // the controller's view of its disk: capacity, drive identification
  SectorRead,   // sectors of the attached disk, read
  SectorWrite,  // sectors of the attached disk, written
};

// The data phase a row's block travels with. A block without data goes
// with the direction its builder gives it.
enum class RowDirection : uint8_t { In, Out, Either };

// One kind of block: its first byte and up to two bytes that tell it
// within its family (keyAt < 0: no such byte).
struct CommandRow {
  std::string_view name;
  uint8_t opcode = 0;
  int8_t keyAt = -1;
  uint8_t key = 0;
  int8_t key2At = -1;
  uint8_t key2 = 0;
  RowDirection direction = RowDirection::In;
  CommandUse use = CommandUse::Identify;
};

// The rows, in the order they are searched.
std::span<const CommandRow> CommandTable();

// The row of a block sent with `direction`; null when the block is none of
// this program's, or travels the other way.
const CommandRow* FindCommandRow(std::span<const uint8_t> cdb, DataDirection direction);

// The disk sectors a sector block addresses: READ/WRITE(10) and (16), and
// the DMA transfers of ATA PASS-THROUGH(16).
struct SectorSpan {
  uint64_t first = 0;
  uint64_t count = 0;
};
std::optional<SectorSpan> SectorsOf(std::span<const uint8_t> cdb);

}  // namespace fwtool
