// SPDX-License-Identifier: GPL-2.0-or-later
// The capacity and block commands of the disk behind the bridge, the
// controller's drive identification, and the location of the reserved
// stretch built on them.
#include "disk_commands.h"

#include <array>

#include "ata_commands.h"
#include "chip_rows.h"
#include "command_table.h"
#include "flash_commands.h"
#include "transport.h"

namespace fwtool {

namespace {

using codes::kRead10;
using codes::kRead16;
using codes::kReadCapacity10;
using codes::kReadCapacity16Action;
using codes::kServiceActionIn16;
using codes::kWrite10;
using codes::kWrite16;

constexpr uint32_t kCapacity10Length = 8;
constexpr uint32_t kIdentifyLength = 512;
constexpr uint8_t kIdentifyDevice = 0xA0;  // byte 10 of the DF block: master, LBA off

// The controller information: byte 16 says that a type-16 controller keeps
// its firmware on the disk, byte 17 that the stretch starts a sector later.
constexpr uint8_t kControllerInfoLength = 18;
constexpr size_t kInfoReservedArea = 16;
constexpr size_t kInfoFlag17 = 17;
// Most controllers show the identification block of the firmware they
// run at this memory address; 55 AA there means it came from the disk.
constexpr uint16_t kRunningSignatureAddress = 0xC000;

// The marker sector and the three after it are read together.
constexpr uint32_t kMarkerSectors = 4;

uint32_t BigEndian32(const uint8_t* bytes) {
  return (static_cast<uint32_t>(bytes[0]) << 24) | (static_cast<uint32_t>(bytes[1]) << 16) |
         (static_cast<uint32_t>(bytes[2]) << 8) | bytes[3];
}

uint64_t BigEndian64(const uint8_t* bytes) {
  return (static_cast<uint64_t>(BigEndian32(bytes)) << 32) | BigEndian32(bytes + 4);
}

int ReadBlocks(std::string_view path, CdbForm form, uint64_t lba, uint8_t* buffer, uint32_t length,
               uint32_t sectorSize) {
  if (sectorSize == 0) return 0;
  return SendBlockIn(path, BlockTransferBlock(form, {false, lba, length / sectorSize}), buffer,
                     length);
}

int WriteBlocks(std::string_view path, CdbForm form, uint64_t lba, const uint8_t* buffer,
                uint32_t length, uint32_t sectorSize) {
  if (sectorSize == 0) return 0;
  return SendBlockOut(path, BlockTransferBlock(form, {true, lba, length / sectorSize}), buffer,
                      length);
}

uint64_t Lba64(uint32_t low, uint32_t high) {
  return (static_cast<uint64_t>(high) << 32) | low;
}

ReservedAreaQuery Unknown(ReservedAreaQuery query, const char* reason) {
  query.known = false;
  query.anchor = 0;
  query.reason = reason;
  return query;
}

}  // namespace

CommandBlock ReadCapacityBlock(CdbForm form, uint8_t allocation) {
  CommandBlock block;
  switch (form) {
    case CdbForm::Ten:
      block.length = 12;
      block[0] = kReadCapacity10;
      break;
    case CdbForm::Sixteen:
      block.length = 16;
      block[0] = kServiceActionIn16;
      block[1] = kReadCapacity16Action;
      block[13] = allocation;
      break;
  }
  return block;
}

CommandBlock BlockTransferBlock(CdbForm form, const BlockTransfer& t) {
  CommandBlock block;
  switch (form) {
    case CdbForm::Ten:
      block.length = 10;
      block[0] = t.write ? kWrite10 : kRead10;
      block.Put16(2, static_cast<uint32_t>(t.lba >> 16));
      block.Put16(4, static_cast<uint32_t>(t.lba));
      block.Put16(7, t.blocks);
      break;
    case CdbForm::Sixteen:
      block.length = 16;
      block[0] = t.write ? kWrite16 : kRead16;
      for (int i = 0; i < 8; ++i) block[2 + i] = static_cast<uint8_t>(t.lba >> (56 - 8 * i));
      block.Put16(10, t.blocks >> 16);
      block.Put16(12, t.blocks);
      break;
  }
  return block;
}

uint32_t ReadCapacityOr512(std::string_view path) {
  std::array<uint8_t, kCapacity10Length> data{};
  if (!SendBlockIn(path, ReadCapacityBlock(CdbForm::Ten), data.data(), kCapacity10Length))
    return kDefaultSectorSize;
  return BigEndian32(data.data() + 4);
}

uint32_t ReadCapacity(std::string_view path) {
  std::array<uint8_t, kCapacity10Length> data{};
  if (!SendBlockIn(path, ReadCapacityBlock(CdbForm::Ten), data.data(), kCapacity10Length)) return 0;
  return BigEndian32(data.data());
}

int ReadCapacity16Raw(std::string_view path, uint8_t* buffer, uint8_t length) {
  return SendBlockIn(path, ReadCapacityBlock(CdbForm::Sixteen, length), buffer, length);
}

uint64_t ReadCapacity16(std::string_view path) {
  std::array<uint8_t, kCapacity16Length> data{};
  if (!ReadCapacity16Raw(path, data.data(), kCapacity16Length)) return 0;
  return BigEndian64(data.data());
}

std::optional<uint64_t> ReadHostCapacity(std::string_view path) {
  std::array<uint8_t, kCapacity10Length> data{};
  if (!SendBlockIn(path, ReadCapacityBlock(CdbForm::Ten), data.data(), kCapacity10Length))
    return std::nullopt;
  const uint32_t last = BigEndian32(data.data());
  if (last != 0xFFFFFFFF) return uint64_t{last} + 1;
  return HostCapacityAfter(path, last);
}

std::optional<uint64_t> HostCapacityAfter(std::string_view path, uint32_t lastLba10) {
  if (lastLba10 == 0) return std::nullopt;
  if (lastLba10 != 0xFFFFFFFF) return uint64_t{lastLba10} + 1;
  // The 10-byte answer saturates on a disk of 2^32 sectors or more.
  std::array<uint8_t, kCapacity16Length> data{};
  if (!ReadCapacity16Raw(path, data.data(), kCapacity16Length)) return std::nullopt;
  const uint64_t last = BigEndian64(data.data());
  if (last == UINT64_MAX) return std::nullopt;
  return last + 1;
}

int Read10(std::string_view path, uint8_t* buffer, uint32_t lba, uint32_t length,
           uint32_t sectorSize) {
  return ReadBlocks(path, CdbForm::Ten, lba, buffer, length, sectorSize);
}

int Write10(std::string_view path, const uint8_t* buffer, uint32_t lba, uint32_t length,
            uint32_t sectorSize) {
  return WriteBlocks(path, CdbForm::Ten, lba, buffer, length, sectorSize);
}

int Read16(std::string_view path, uint8_t* buffer, uint32_t lbaLow, uint32_t lbaHigh,
           uint32_t length, uint32_t sectorSize) {
  return ReadBlocks(path, CdbForm::Sixteen, Lba64(lbaLow, lbaHigh), buffer, length, sectorSize);
}

int Write16(std::string_view path, const uint8_t* buffer, uint32_t lbaLow, uint32_t lbaHigh,
            uint32_t length, uint32_t sectorSize) {
  return WriteBlocks(path, CdbForm::Sixteen, Lba64(lbaLow, lbaHigh), buffer, length, sectorSize);
}

uint64_t IdentifyDriveSectors(std::string_view path) {
  CommandBlock block = DfBlock(kDfRead, kIdentifyLength, kCodeDriveIdentify);
  block[10] = kIdentifyDevice;
  std::array<uint8_t, kIdentifyLength> identify{};
  if (!SendBlockIn(path, block, identify.data(), kIdentifyLength)) return 0;
  return SectorsFromIdentify(identify.data());
}

bool SectorSizeUsable(uint32_t sectorSize) {
  constexpr uint32_t kSmallest = 512;
  constexpr uint32_t kLargest = 65536;
  return sectorSize >= kSmallest && sectorSize <= kLargest && (sectorSize & (sectorSize - 1)) == 0;
}

int ReservedAreaSupported(std::string_view path, int chipType) {
  switch (ChipRowFor(chipType).diskFirmwareSignal) {
    case DiskFirmwareSignal::NotAsked:
      return 0;
    case DiskFirmwareSignal::ControllerInfo: {
      std::array<uint8_t, kControllerInfoLength> info{};
      if (ReadControllerInfo(path, info.data(), kControllerInfoLength) == 0) return 0;
      return info[kInfoReservedArea] == 1 ? 1 : 0;
    }
    case DiskFirmwareSignal::RunningSignature: {
      // A failed read leaves zeros: no.
      std::array<uint8_t, 4> memory{};
      ReadMemory(path, memory.data(), kRunningSignatureAddress, 4);
      return memory[0] == 0x55 && memory[1] == 0xAA ? 1 : 0;
    }
  }
  return 0;
}

int ControllerInfoFlag17(std::string_view path) {
  std::array<uint8_t, kControllerInfoLength> info{};
  if (ReadControllerInfo(path, info.data(), kControllerInfoLength) == 0) return 0;
  return info[kInfoFlag17] == 1 ? 1 : 0;
}

void PutLocationMarker(uint8_t* sector, uint32_t anchor) {
  sector[kMarkerAt] = kMarkerOpen;
  for (int i = 0; i < 4; ++i)
    sector[kMarkerAt + 1 + i] = static_cast<uint8_t>(anchor >> (24 - 8 * i));
  sector[kMarkerAt + 5] = kMarkerClose;
}

std::optional<uint32_t> ReadLocationMarker(const uint8_t* sector) {
  if (sector[kMarkerAt] != kMarkerOpen || sector[kMarkerAt + 5] != kMarkerClose)
    return std::nullopt;
  const uint32_t anchor = BigEndian32(sector + kMarkerAt + 1);
  if (anchor == 0) return std::nullopt;
  return anchor;
}

ReservedAreaQuery QueryReservedArea(std::string_view path, uint32_t sectorSize, int chipType) {
  ReservedAreaQuery q;
  q.lastLba = ReadCapacity(path);
  q.flag17 = ControllerInfoFlag17(path) != 0;
  q.driveSectors = IdentifyDriveSectors(path);
  q.supported = ReservedAreaSupported(path, chipType) != 0;
  const uint64_t n = q.driveSectors;
  // A disk of 2^32 sectors or more is addressed with the 64-bit commands
  // and found by its drive size alone.
  const bool wide = (n >> 32) != 0;
  if (!wide) {
    // The capacity places everything below: without it there is no place.
    if (q.lastLba == 0) return Unknown(q, "the disk's capacity cannot be read");
    if (q.lastLba == 0xFFFFFFFF) return Unknown(q, "the disk reports no 32-bit capacity");
    if (n != 0 && q.lastLba >= n) return Unknown(q, "the capacity lies beyond the drive");
  }
  // Without a marker: the disk's last sector (one further with the flag).
  uint64_t fallback = wide ? n - 1 : q.lastLba;
  if (q.flag17) fallback += 1;
  q.known = true;
  q.anchor = fallback;
  if (!q.supported) return q;

  if (!SectorSizeUsable(sectorSize)) return Unknown(q, "the disk's sector size is not usable");
  AlignedBuffer sectors(static_cast<size_t>(kMarkerSectors) * sectorSize);
  if (!sectors) return Unknown(q, "no memory for the marker sector");
  const uint32_t length = kMarkerSectors * sectorSize;
  if (!wide) {
    // A failed read leaves the fallback, the last sector the host sees: the
    // area check then refuses it.
    if (!Read10(path, sectors.data(), q.lastLba + 1, length, sectorSize)) return q;
    const auto marker = ReadLocationMarker(sectors.data());
    if (!marker) return Unknown(q, "the marker sector holds no location marker");
    q.fromMarker = true;
    q.anchor = *marker;
    return q;
  }
  // On a big disk the marker sits right behind the capacity the host is
  // shown, as on a small one; the drive's own end lies further on and holds
  // nothing of the controller's. The fallback there would lie beyond what
  // the host sees and pass every check, so without a marker there is no
  // place.
  const uint64_t lastLba = ReadCapacity16(path);
  if (lastLba == 0 || lastLba == UINT64_MAX)
    return Unknown(q, "the disk's 64-bit capacity cannot be read");
  // A capacity that shows the whole drive hides nothing: the fallback is
  // inside what the host sees, and the area check refuses it.
  if (lastLba + 1 >= n) return q;
  const uint64_t markerLba = lastLba + 1;
  if (!Read16(path, sectors.data(), static_cast<uint32_t>(markerLba),
              static_cast<uint32_t>(markerLba >> 32), length, sectorSize))
    return Unknown(q, "the marker sector cannot be read");
  const auto marker = ReadLocationMarker(sectors.data());
  if (!marker) return Unknown(q, "the marker sector holds no location marker");
  // The marker keeps the anchor's low 32 bits; the anchor lies just past
  // the area that holds the marker, so it is the first such sector at or
  // after the marker's own.
  uint64_t anchor = (markerLba & ~uint64_t{0xFFFFFFFF}) | *marker;
  if (anchor < markerLba) anchor += uint64_t{1} << 32;
  q.fromMarker = true;
  q.anchor = anchor;
  return q;
}

uint32_t LocateReservedArea(std::string_view path, uint32_t sectorSize, int chipType) {
  const ReservedAreaQuery q = QueryReservedArea(path, sectorSize, chipType);
  return q.known ? static_cast<uint32_t>(q.anchor) : 0;
}

}  // namespace fwtool
