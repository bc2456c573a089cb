// SPDX-License-Identifier: GPL-2.0-or-later
// The disk behind the bridge: the standard capacity and block commands, the
// controller's drive identification, and the queries that find where the
// disk-hosted members keep their firmware (a reserved stretch of sectors at
// the end of the disk, beyond what the host is shown).
//
// Two block families, each built from one record:
//
//   READ CAPACITY          (10) 25 ..             (16) 9E 10 .. alloc in byte 13
//   READ / WRITE           (10) 28/2A, LBA 2-5, count 7-8
//                          (16) 88/8A, LBA 2-9, count 10-13
//
// Multi-byte fields are most significant byte first.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "command_block.h"

namespace fwtool {

// ---- block builders ----------------------------------------------------------

enum class CdbForm : uint8_t { Ten, Sixteen };

// READ CAPACITY(10) (sent as a 12-byte block) or READ CAPACITY(16) asking for
// `allocation` bytes.
CommandBlock ReadCapacityBlock(CdbForm form, uint8_t allocation = 0);

struct BlockTransfer {
  bool write = false;
  uint64_t lba = 0;     // 32 bits in the 10-byte form
  uint32_t blocks = 0;  // 16 bits in the 10-byte form
};
CommandBlock BlockTransferBlock(CdbForm form, const BlockTransfer& transfer);

// ---- single commands ---------------------------------------------------------

inline constexpr uint32_t kDefaultSectorSize = 512;
inline constexpr uint32_t kCapacity16Length = 16;

// The block length of READ CAPACITY(10); 512 when the command fails.
uint32_t ReadCapacityOr512(std::string_view path);
// The last LBA of READ CAPACITY(10); 0 when the command fails.
uint32_t ReadCapacity(std::string_view path);
// READ CAPACITY(16) with `length` bytes asked for, into `buffer`.
int ReadCapacity16Raw(std::string_view path, uint8_t* buffer, uint8_t length);
// The 64-bit last LBA of READ CAPACITY(16); 0 when it fails.
uint64_t ReadCapacity16(std::string_view path);

// The number of sectors the host is shown: READ CAPACITY(10), or
// READ CAPACITY(16) when (10) answers 0xFFFFFFFF (a disk of 2^32 sectors or
// more, for which the 10-byte answer saturates). nullopt when it cannot be
// read: a failed command, or a last LBA of all ones in the 16-byte answer.
std::optional<uint64_t> ReadHostCapacity(std::string_view path);
// The same from the last LBA a READ CAPACITY(10) already gave (0 when it
// failed): asks only READ CAPACITY(16), and only when that LBA saturated.
std::optional<uint64_t> HostCapacityAfter(std::string_view path, uint32_t lastLba10);

// Byte length / sector size blocks (integer division); a sector size of 0
// sends nothing and fails.
int Read10(std::string_view path, uint8_t* buffer, uint32_t lba, uint32_t length,
           uint32_t sectorSize);
int Write10(std::string_view path, const uint8_t* buffer, uint32_t lba, uint32_t length,
            uint32_t sectorSize);
int Read16(std::string_view path, uint8_t* buffer, uint32_t lbaLow, uint32_t lbaHigh,
           uint32_t length, uint32_t sectorSize);
int Write16(std::string_view path, const uint8_t* buffer, uint32_t lbaLow, uint32_t lbaHigh,
            uint32_t length, uint32_t sectorSize);

// The drive's sector count as the controller reads it with IDENTIFY DEVICE
// (vendor DF block); 0 when the command fails.
uint64_t IdentifyDriveSectors(std::string_view path);

// A sector size the procedures can work with: a power of two from 512 to
// 65536 bytes.
bool SectorSizeUsable(uint32_t sectorSize);

// ---- the reserved stretch ----------------------------------------------------

// 1 when the controller reports that it keeps firmware in the reserved
// stretch (never for chip type 12, which is asked nothing).
int ReservedAreaSupported(std::string_view path, int chipType);
// Byte 17 of the controller information: the stretch starts one sector
// later than on the other controllers.
int ControllerInfoFlag17(std::string_view path);

// Where the location marker says the stretch is, as the procedures need it.
struct ReservedAreaQuery {
  // The anchor sector: from the marker, or derived from the capacity. A
  // 64-bit value; its low 32 bits go into the marker.
  uint64_t anchor = 0;
  bool known = false;
  // Why the location is unknown (empty when known).
  const char* reason = "";
  // What was learnt on the way, for the procedures' bounds.
  uint32_t lastLba = 0;       // READ CAPACITY(10), 0 when it failed
  uint64_t driveSectors = 0;  // IDENTIFY DEVICE, 0 when it failed
  bool flag17 = false;
  bool supported = false;  // the controller keeps its firmware there
  bool fromMarker = false;
};

// Finds the anchor. Unknown, rather than a guess, when READ CAPACITY fails
// or answers 0xFFFFFFFF on a disk that needs it, when the capacity lies
// beyond the drive, or when the marker sector holds no marker.
ReservedAreaQuery QueryReservedArea(std::string_view path, uint32_t sectorSize, int chipType);
// The anchor's low 32 bits, 0 when the location is unknown.
uint32_t LocateReservedArea(std::string_view path, uint32_t sectorSize, int chipType);

// The six-byte location marker at bytes 150..155 of the area's first
// sector: 0x55, the anchor (32 bits, most significant first), 0xAA.
inline constexpr size_t kMarkerAt = 150;
inline constexpr size_t kMarkerLength = 6;
inline constexpr uint8_t kMarkerOpen = 0x55;
inline constexpr uint8_t kMarkerClose = 0xAA;
void PutLocationMarker(uint8_t* sector, uint32_t anchor);
// The anchor of a marker with its frame; nullopt without one or for 0.
std::optional<uint32_t> ReadLocationMarker(const uint8_t* sector);

}  // namespace fwtool
