// SPDX-License-Identifier: GPL-2.0-or-later
// The procedures of the controllers that keep their firmware on the attached
// disk: where that firmware lies, and the steps that back it up, clear it
// and program it. Each step reads only its request and the host, reports
// through the status line and returns 1 on success, 0 on failure. Nothing
// is written unless every sector of the write lies inside the stretch the
// controller reserves at the end of its disk, and sectors the host is shown
// are written only when they hold nothing of the disk's user (or the
// operator says so).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "procedure.h"

namespace fwtool {

// Every transfer of these procedures moves one block of this size.
inline constexpr uint32_t kDiskBlockSize = 65536;

// The backup step: the operator's file, or "oldFlash.bak" in the backup
// folder with a box saying so; the status, `length`
// bytes from `read`, saved whole. A read that failed saves nothing.
int BackupDiskBytes(const ProcedureRequest& request, ProcedureHost& host, uint32_t length,
                    const std::function<int(uint8_t* data, uint32_t length)>& read);
// The whole firmware file; false with the status set when it cannot be read
// ("Open File Error!!"), is empty, or holds more than `room` bytes.
bool ReadDiskFirmwareFile(const ProcedureRequest& request, ProcedureHost& host, uint64_t room,
                          std::vector<uint8_t>& file);

// ---- the disk's own data ------------------------------------------------------

// The sectors a step is about to write.
struct DiskWriteTarget {
  uint64_t first = 0;
  uint64_t sectors = 0;
  uint32_t sectorSize = 512;
  std::optional<uint64_t> visibleSectors;  // what the host is shown; unknown: all of it
};

// How many of the target's sectors, from its first on, the host is shown.
uint64_t VisibleSectorsOf(const DiskWriteTarget& target);

// The rule on the disk's own data, before anyone is asked; the procedures
// and the privileged helper both judge by it. Sectors the host is not shown
// are the controller's. Sectors it is shown may be written without the
// operator's word only when they hold zeros, or when the controller's own
// firmware is there (`firmwareCopy`, asked only then). `current` holds the
// target's present bytes from its first sector on (at least the sectors
// the host is shown).
bool DiskWriteNeedsNoConsent(const DiskWriteTarget& target, const uint8_t* current,
                             const std::function<bool()>& firmwareCopy);

// Whether the step may write `target`. The sectors the host is shown belong
// to the disk's user: they are written only when they hold zeros, or when
// the whole target holds the controller's own firmware (`firmwareCopy`
// says so of its bytes), or when the operator allows it: the request's
// choice, or with DiskDataChoice::Ask a Yes in the box that names the
// sectors. `read` reads the target's bytes with the step's own commands.
// 1 when the step may write; 0 with the status saying why.
int MayWriteDiskSectors(
    const ProcedureRequest& request, ProcedureHost& host, const DiskWriteTarget& target,
    const std::function<int(uint8_t* data, uint64_t length)>& read,
    const std::function<bool(const uint8_t* data, uint64_t length)>& firmwareCopy);

// Whether `now` is what a write that started at the target's first sector
// and was cut short leaves over `copy`: from some sector on, to the last,
// every sector still holds the copy's bytes (all of them do when nothing
// was written). Writing the copy back there changes only what that write
// changed.
bool CutShortWriteOver(const uint8_t* now, const uint8_t* copy, uint64_t length,
                       uint32_t sectorSize);

// ---- chip types 5, 15 and 16 -------------------------------------------------

// The firmware area: 256 sectors that end at the last 256-sector boundary
// below the anchor (one sector further when the controller says so).
inline constexpr uint64_t kDiskAreaSectors = 256;

struct DiskFirmwareArea {
  uint64_t start = 0;  // first sector
  uint32_t sectorSize = 512;
  uint32_t anchor = 0;      // what the location marker carries
  bool wide = false;        // a disk of 2^32 sectors or more: the 16-byte commands
  bool markerKept = false;  // the controller keeps its firmware here now
  bool flag17 = false;      // the area ends below the anchor, not below the anchor less one
  // The sectors the host is shown; nullopt when the capacity is unknown.
  std::optional<uint64_t> visibleSectors;

  uint64_t Bytes() const { return kDiskAreaSectors * sectorSize; }
  // Whether a location marker that holds `anchor` (an anchor sector's low
  // 32 bits) points at this area. The arithmetic wraps at 2^32 as the
  // marker does; 256 divides 2^32, so the low halves tell.
  bool MarkedBy(uint32_t anchor) const {
    const auto sectors = static_cast<uint32_t>(kDiskAreaSectors);
    const uint32_t end = (anchor - (flag17 ? 0u : 1u)) / sectors * sectors;
    return end - sectors == static_cast<uint32_t>(start);
  }
};

// Asks the disk and the controller; nullopt with the reason in `why` when
// the area cannot be placed with certainty.
std::optional<DiskFirmwareArea> FindDiskFirmwareArea(const std::string& path, int chipType,
                                                     std::string& why);

// The area of the request's unit; nullopt with the status "The firmware
// area on the disk was not found: " and the reason.
std::optional<DiskFirmwareArea> LocateDiskFirmwareArea(const ProcedureRequest& request,
                                                       ProcedureHost& host);
// `length` bytes from the area's first sector, a block at a time.
int ReadDiskFirmwareAreaBytes(const std::string& path, const DiskFirmwareArea& area, uint8_t* data,
                              uint64_t length);
// `length` bytes (whole blocks) written from the area's first sector, each
// block read back and compared; the status names what failed.
int WriteDiskFirmwareAreaBytes(const std::string& path, ProcedureHost& host,
                               const DiskFirmwareArea& area, const uint8_t* data, uint64_t length);

// Whether the `length` bytes from the area's first sector may be written
// (MayWriteDiskSectors; the controller's own firmware there carries the
// location marker that points at this area).
// `copy` (may be null): the bytes about to be written back, a copy of the
// area; the sectors may then also be written where a cut-short write of
// them is all they hold (CutShortWriteOver).
int MayWriteDiskFirmwareArea(const ProcedureRequest& request, ProcedureHost& host,
                             const DiskFirmwareArea& area, uint64_t length,
                             const uint8_t* copy = nullptr);

int ClearDiskFirmwareArea(const ProcedureRequest& request, ProcedureHost& host);
int BackupDiskFirmwareArea(const ProcedureRequest& request, ProcedureHost& host);
int ProgramDiskFirmwareArea(const ProcedureRequest& request, ProcedureHost& host);

// ---- chip type 12 ------------------------------------------------------------

// 64 KB, 2 MB below the last 1 MB boundary of the disk: the 48 KB code area
// with its CRC-32 in the last four bytes, then the unit's settings.
inline constexpr uint32_t kVqs175RegionSize = 65536;
inline constexpr uint32_t kVqs175CodeSize = 49152;
inline constexpr uint32_t kVqs175CrcAt = 0xBFFC;

struct Vqs175Region {
  uint64_t start = 0;
  uint32_t sectorSize = 512;
  bool ata = false;  // the drive answered IDENTIFY: ATA DMA transfers
  // The sectors the host is shown; nullopt when the capacity is unknown.
  std::optional<uint64_t> visibleSectors;
};

std::optional<Vqs175Region> FindVqs175Region(const std::string& path, std::string& why);

// The region of the request's unit; nullopt with the status "The firmware
// area on the disk was not found: " and the reason.
std::optional<Vqs175Region> LocateVqs175Region(const ProcedureRequest& request,
                                               ProcedureHost& host);
int ReadVqs175Region(const std::string& path, const Vqs175Region& region, uint8_t* data,
                     uint32_t length);
// Writes `length` bytes at the region's start, reads them back and
// compares; the status names what failed.
int WriteVqs175RegionChecked(const std::string& path, ProcedureHost& host,
                             const Vqs175Region& region, const uint8_t* data, uint32_t length);

// Whether the first `length` bytes of the region may be written
// (MayWriteDiskSectors; the controller's own code area ends with its
// CRC-32).
// `copy`: as for MayWriteDiskFirmwareArea.
int MayWriteVqs175Region(const ProcedureRequest& request, ProcedureHost& host,
                         const Vqs175Region& region, uint32_t length,
                         const uint8_t* copy = nullptr);

int ClearVqs175FirmwareRegion(const ProcedureRequest& request, ProcedureHost& host);
int BackupVqs175FirmwareRegion(const ProcedureRequest& request, ProcedureHost& host);
int ProgramVqs175FirmwareRegion(const ProcedureRequest& request, ProcedureHost& host);

}  // namespace fwtool
