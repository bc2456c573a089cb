// SPDX-License-Identifier: GPL-2.0-or-later
#include "disk_sector_guard.h"

#include <string>

#include "disk_commands.h"
#include "firmware.h"
#include "transport.h"

namespace fwtool {

namespace {

std::string Range(const SectorSpan& span) {
  if (span.count == 0) return "sector " + std::to_string(span.first);
  return "sectors " + std::to_string(span.first) + ".." +
         std::to_string(span.first + span.count - 1);
}

bool Inside(const FirmwarePlace& place, const SectorSpan& span) {
  return span.first >= place.start && span.count <= place.sectors &&
         span.first - place.start <= place.sectors - span.count;
}

bool BeyondVisible(const FirmwarePlace& place, const SectorSpan& span) {
  return place.visibleSectors && span.first >= *place.visibleSectors;
}

// `length` bytes from `first` on, with the command form the place uses.
int ReadAt(const std::string& path, const FirmwarePlace& place, uint64_t first, uint8_t* data,
           uint64_t length) {
  switch (place.kind) {
    case DiskFirmwarePlace::ReservedArea: {
      DiskFirmwareArea from = place.area;
      from.start = first;
      return ReadDiskFirmwareAreaBytes(path, from, data, length);
    }
    case DiskFirmwarePlace::BankRegion: {
      Vqs175Region from = place.region;
      from.start = first;
      return ReadVqs175Region(path, from, data, static_cast<uint32_t>(length));
    }
    case DiskFirmwarePlace::None:
      return 0;
  }
  return 0;
}

}  // namespace

std::optional<FirmwarePlace> FindFirmwarePlace(const std::string& path, int chipType,
                                               std::string& why) {
  FirmwarePlace place;
  place.kind = ChipRowFor(chipType).diskPlace;
  switch (place.kind) {
    case DiskFirmwarePlace::None:
      why = "the controller keeps no firmware on its disk";
      return std::nullopt;
    case DiskFirmwarePlace::ReservedArea: {
      auto area = FindDiskFirmwareArea(path, chipType, why);
      if (!area) return std::nullopt;
      place.area = *area;
      place.start = area->start;
      place.sectors = kDiskAreaSectors;
      place.sectorSize = area->sectorSize;
      place.visibleSectors = area->visibleSectors;
      return place;
    }
    case DiskFirmwarePlace::BankRegion: {
      auto region = FindVqs175Region(path, why);
      if (!region) return std::nullopt;
      place.region = *region;
      place.start = region->start;
      place.sectors = kVqs175RegionSize / region->sectorSize;
      place.sectorSize = region->sectorSize;
      place.visibleSectors = region->visibleSectors;
      return place;
    }
  }
  return std::nullopt;
}

bool AreaHoldsFirmware(const DiskFirmwareArea& area, const uint8_t* firstSector) {
  const auto marker = ReadLocationMarker(firstSector);
  return marker && area.MarkedBy(*marker);
}

bool RegionHoldsFirmware(const uint8_t* code, uint64_t bytes) {
  if (bytes < kVqs175CodeSize) return false;
  uint32_t crc = kCrc32Initial;
  Crc32OverWords(code, kVqs175CrcAt, false, crc);
  uint32_t stored = 0;
  for (size_t i = 4; i-- > 0;) stored = stored << 8 | code[kVqs175CrcAt + i];
  return crc == stored;
}

std::string SectorReadRefusal(const FirmwarePlace& place, const SectorSpan& span) {
  if (Inside(place, span) || BeyondVisible(place, span)) return {};
  return Range(span) + " lie outside the controller's firmware area";
}

std::string SectorWriteRefusal(const std::string& path, const FirmwarePlace& place,
                               const SectorSpan& span) {
  if (span.count == 0 || !Inside(place, span))
    return Range(span) + " lie outside the controller's firmware area";
  const DiskWriteTarget target{span.first, span.count, place.sectorSize, place.visibleSectors};
  const uint64_t length = span.count * place.sectorSize;
  AlignedBuffer current(static_cast<size_t>(length));
  if (!current || !ReadAt(path, place, span.first, current.data(), length))
    return "what " + Range(span) + " hold now cannot be read";
  const bool allowed = DiskWriteNeedsNoConsent(target, current.data(), [&] {
    switch (place.kind) {
      case DiskFirmwarePlace::ReservedArea: {
        AlignedBuffer first(place.sectorSize);
        return first && ReadAt(path, place, place.start, first.data(), place.sectorSize) &&
               AreaHoldsFirmware(place.area, first.data());
      }
      case DiskFirmwarePlace::BankRegion: {
        AlignedBuffer code(kVqs175CodeSize);
        return code && ReadAt(path, place, place.start, code.data(), kVqs175CodeSize) &&
               RegionHoldsFirmware(code.data(), kVqs175CodeSize);
      }
      case DiskFirmwarePlace::None:
        return false;
    }
    return false;
  });
  if (allowed) return {};
  return Range(span) +
         " hold data of the disk's user; they are overwritten only by fwtool started as root, "
         "with --overwrite-disk-data";
}

}  // namespace fwtool
