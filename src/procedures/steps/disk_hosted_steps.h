// The procedures of the controllers that keep their firmware on the attached
// disk: where that firmware lies, and the steps that back it up, clear it
// and program it. Each step reads only its request and the host, reports
// through the status line and returns 1 on success, 0 on failure. Nothing
// is written unless every sector of the write lies inside the stretch the
// controller reserves at the end of its disk.
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

  uint64_t Bytes() const { return kDiskAreaSectors * sectorSize; }
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

int ClearVqs175FirmwareRegion(const ProcedureRequest& request, ProcedureHost& host);
int BackupVqs175FirmwareRegion(const ProcedureRequest& request, ProcedureHost& host);
int ProgramVqs175FirmwareRegion(const ProcedureRequest& request, ProcedureHost& host);

}  // namespace fwtool
