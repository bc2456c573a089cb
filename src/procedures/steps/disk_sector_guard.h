// SPDX-License-Identifier: GPL-2.0-or-later
// What the privileged helper lets through to the disk behind a unit. It
// places the controller's firmware on the disk with the procedures' own
// code, and lets a sector command through only inside that place (a read
// also beyond what the host is shown, where the controller keeps its
// marker), and a write only where the procedures' rule on the disk's own
// data allows it without the operator's word. Nobody is asked here: the
// operator's word on another user's disk is not the helper's to take.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "chip_rows.h"
#include "command_table.h"
#include "disk_hosted_steps.h"

namespace fwtool {

struct FirmwarePlace {
  DiskFirmwarePlace kind = DiskFirmwarePlace::None;
  uint64_t start = 0;
  uint64_t sectors = 0;
  uint32_t sectorSize = 512;
  // What the host is shown; nullopt when the capacity is unknown.
  std::optional<uint64_t> visibleSectors;
  DiskFirmwareArea area;  // ReservedArea: the area as the procedures place it
  Vqs175Region region;    // BankRegion: the region as the procedures place it
};

// Where a unit of `chipType` keeps its firmware on the disk behind `path`;
// nullopt with the reason in `why` when it keeps none there, or the place
// cannot be found with certainty.
std::optional<FirmwarePlace> FindFirmwarePlace(const std::string& path, int chipType,
                                               std::string& why);

// Whether the controller's own firmware is in the area: the location
// marker of its first sector points at it.
bool AreaHoldsFirmware(const DiskFirmwareArea& area, const uint8_t* firstSector);
// Whether the region's code area (`bytes` from its start) ends with its
// own CRC-32.
bool RegionHoldsFirmware(const uint8_t* code, uint64_t bytes);

// Why `span` may not be read; empty when it may.
std::string SectorReadRefusal(const FirmwarePlace& place, const SectorSpan& span);
// Why `span` may not be written without the operator's word; empty when
// it may. What the sectors and the place hold now is read on `path` with
// data-in commands.
std::string SectorWriteRefusal(const std::string& path, const FirmwarePlace& place,
                               const SectorSpan& span);

}  // namespace fwtool
