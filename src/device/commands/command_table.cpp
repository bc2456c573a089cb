// SPDX-License-Identifier: GPL-2.0-or-later
#include "command_table.h"

namespace fwtool {

namespace {

using namespace codes;
using enum CommandUse;
using enum RowDirection;

constexpr CommandRow Plain(std::string_view name, uint8_t opcode, RowDirection direction,
                           CommandUse use) {
  return {name, opcode, -1, 0, -1, 0, direction, use};
}

constexpr CommandRow Df(std::string_view name, uint8_t code, RowDirection direction,
                        CommandUse use) {
  return {name, kDf, kDfCodeAt, code, -1, 0, direction, use};
}

constexpr CommandRow Ff04(std::string_view name, uint8_t sub, RowDirection direction,
                          CommandUse use) {
  return {name, kFf, 1, kFf04, kSubAt, sub, direction, use};
}

constexpr CommandRow AtaVendor(std::string_view name, uint8_t feature, RowDirection direction,
                               CommandUse use) {
  return {
      name, kAtaPassThrough12, kAta12CommandAt, kAtaVendor, kAta12FeaturesAt, feature, direction,
      use};
}

uint64_t BigEndian(std::span<const uint8_t> cdb, size_t at, size_t bytes) {
  uint64_t value = 0;
  for (size_t i = 0; i < bytes; ++i) value = value << 8 | cdb[at + i];
  return value;
}

}  // namespace

// Every block the builders of this folder make; a test runs each builder
// and finds its block here.
constexpr CommandRow kRows[] = {
    Plain("INQUIRY", kInquiry, In, Identify),
    {"chip information", kChipInfo, 1, kChipInfoSignature0, 2, kChipInfoSignature1, In, Identify},
    Df("flash read", kCodeFlashRead, In, Flash),
    Df("flash write", kCodeFlashWrite, Out, Flash),
    Df("memory read", kCodeMemoryRead, In, Memory),
    Df("memory write", kCodeMemoryWrite, Out, Memory),
    Df("configuration word", kCodeConfigWord, In, Identify),
    Df("drive identification", kCodeDriveIdentify, In, DiskSide),
    Ff04("parallel flash busy", kSubParallelBusy, In, Status),
    Ff04("parallel flash erase", kSubParallelEraseStart, Out, Flash),
    Ff04("parallel flash program", kSubParallelProgram, Out, Flash),
    Ff04("parallel flash read", kSubParallelRead, In, Flash),
    Ff04("parallel flash erase script", kSubParallelEraseScript, Out, Flash),
    Ff04("parallel flash select", kSubParallelSelect, Out, Flash),
    Ff04("flash parameters", kSubParams, Out, Flash),
    Ff04("flash read by address", kSubFlashReadAt, In, Flash),
    Ff04("flash write by address", kSubFlashWriteAt, Out, Flash),
    Ff04("flash status", kSubFlashStatus, In, Status),
    Ff04("flash chip erase", kSubFlashEraseChip, Out, Flash),
    Ff04("flash sector erase", kSubFlashEraseSector, Out, Flash),
    Ff04("flash identification, short", kSubSpiReadIdShort, In, Flash),
    Ff04("flash instruction", kSubSpiCommand, Either, Flash),
    Ff04("flash instruction read", kSubSpiRead, In, Flash),
    Ff04("flash instruction data", kSubSpiWriteData, Out, Flash),
    Ff04("flash maker code", kSubMakerCode, In, Flash),
    Ff04("flash opcodes", kSubOpcodes, In, Flash),
    Ff04("flash page size", kSubPageSize, Either, Flash),
    Ff04("reset", kSubReset, In, Control),
    Ff04("chip id string", kSubChipIdString, In, Identify),
    Ff04("host link", kSubHostLink, Out, Control),
    Ff04("controller information", kSubControllerInfo, In, Identify),
    {"ATA IDENTIFY DEVICE", kAtaPassThrough12, kAta12CommandAt, kAtaIdentifyDevice, -1, 0, In,
     DiskSide},
    AtaVendor("ATA controller information", kFeatureInfo, In, Identify),
    AtaVendor("ATA flash instruction", kFeatureSpiCommand, Out, Flash),
    AtaVendor("ATA flash instruction read", kFeatureSpiReadData, In, Flash),
    AtaVendor("ATA flash opcodes", kFeatureOpcodes, In, Flash),
    AtaVendor("ATA flash page size", kFeaturePageSize, In, Flash),
    AtaVendor("ATA flash erase", kFeatureErase, Out, Flash),
    AtaVendor("ATA flash read", kFeatureReadFlash, In, Flash),
    AtaVendor("ATA flash write", kFeatureWriteFlash, Out, Flash),
    AtaVendor("ATA controller status", kFeatureStatus, In, Status),
    {"ATA READ DMA EXT", kAtaPassThrough16, kAta16CommandAt, kAtaReadDmaExt, -1, 0, In, SectorRead},
    {"ATA WRITE DMA EXT", kAtaPassThrough16, kAta16CommandAt, kAtaWriteDmaExt, -1, 0, Out,
     SectorWrite},
    Plain("READ CAPACITY(10)", kReadCapacity10, In, DiskSide),
    {"READ CAPACITY(16)", kServiceActionIn16, 1, kReadCapacity16Action, -1, 0, In, DiskSide},
    Plain("READ(10)", kRead10, In, SectorRead),
    Plain("WRITE(10)", kWrite10, Out, SectorWrite),
    Plain("READ(16)", kRead16, In, SectorRead),
    Plain("WRITE(16)", kWrite16, Out, SectorWrite),
};

std::span<const CommandRow> CommandTable() {
  return kRows;
}

const CommandRow* FindCommandRow(std::span<const uint8_t> cdb, DataDirection direction) {
  if (cdb.empty()) return nullptr;
  auto keyMatches = [&](int8_t at, uint8_t key) {
    return at < 0 || (static_cast<size_t>(at) < cdb.size() && cdb[static_cast<size_t>(at)] == key);
  };
  for (const CommandRow& row : kRows) {
    if (cdb[0] != row.opcode || !keyMatches(row.keyAt, row.key) ||
        !keyMatches(row.key2At, row.key2))
      continue;
    const bool travels = row.direction == RowDirection::Either ||
                         (row.direction == RowDirection::In) == (direction == DataDirection::In);
    if (travels) return &row;
  }
  return nullptr;
}

std::optional<SectorSpan> SectorsOf(std::span<const uint8_t> cdb) {
  if (cdb.empty()) return std::nullopt;
  switch (cdb[0]) {
    case codes::kRead10:
    case codes::kWrite10:
      if (cdb.size() < 10) return std::nullopt;
      return SectorSpan{BigEndian(cdb, 2, 4), BigEndian(cdb, 7, 2)};
    case codes::kRead16:
    case codes::kWrite16:
      if (cdb.size() < 16) return std::nullopt;
      return SectorSpan{BigEndian(cdb, 2, 8), BigEndian(cdb, 10, 4)};
    case codes::kAtaPassThrough16: {
      if (cdb.size() < 16) return std::nullopt;
      // 48-bit LBA spread over the high-order and low-order register bytes.
      const uint64_t lba =
          static_cast<uint64_t>(cdb[8]) | static_cast<uint64_t>(cdb[10]) << 8 |
          static_cast<uint64_t>(cdb[12]) << 16 | static_cast<uint64_t>(cdb[7]) << 24 |
          static_cast<uint64_t>(cdb[9]) << 32 | static_cast<uint64_t>(cdb[11]) << 40;
      return SectorSpan{lba, BigEndian(cdb, 5, 2)};
    }
    default:
      return std::nullopt;
  }
}

}  // namespace fwtool
