// The unit's whole flash as one piece: read from the first byte to the last
// one the part holds (its size found by where its addresses wrap round), and
// written back from a backup with read-back and compare. The one-click
// update backs up with the first, `fwtool restore` puts a backup back with
// the second.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fwtool {

class ProcedureHost;

// The smallest part the controllers carry, and the most their 24-bit flash
// addresses reach.
inline constexpr uint32_t kSmallestFlashSize = 65536;
inline constexpr uint32_t kLargestFlashSize = 1u << 24;
// Bytes compared at each place where the addresses may have wrapped.
inline constexpr uint32_t kWrapProbeSize = 4096;

// Reads the whole flash into `flash`: the first 64 KB, then on in 64 KB
// steps until the bytes read at a power of two equal those at 0 (a part
// decodes only the address bits it needs, so its addresses wrap round to
// the start at its size), at most 16 MB. 1 when everything was read; the
// vector then holds exactly the part's bytes. A part whose first 64 KB hold
// one value throughout (erased) cannot show its size that way and is read
// up to `sizeIfErased` (a power of two from 64 KB to 16 MB; else 64 KB).
// The running progress step moves by the bytes read against `sizeIfErased`
// (at least 64 KB), the size the caller expects.
int ReadWholeFlash(ProcedureHost& host, std::string_view path, std::vector<uint8_t>& flash,
                   uint32_t sizeIfErased = kSmallestFlashSize);

// The same, read twice: 1 only when both reads agree on the size and byte
// for byte, so that a bit the bus turned on the way never ends up in a
// backup.
int ReadWholeFlashTwice(ProcedureHost& host, std::string_view path, std::vector<uint8_t>& flash);

// Why a restore stopped.
enum class RestoreOutcome {
  Restored,    // the flash holds the backup byte for byte
  Unreadable,  // the unit's flash could not be read to learn its size
  WrongSize,   // the backup is not as large as the part
  WrongChip,   // the firmware in the backup is not meant for this chip
  NotWritten,  // writing, reading back or comparing failed three times
};

struct RestoreReport {
  RestoreOutcome outcome = RestoreOutcome::Unreadable;
  uint32_t flashSize = 0;  // the part's size, once known
  int attempts = 0;
  std::string reason;  // one sentence for WrongChip
};

// Status texts of our own.
inline constexpr const char* kRestoreStep = "Restoring";
inline constexpr const char* kRestoreSuccess = "Flash restored from the backup.";
inline constexpr const char* kRestoreSizeMismatch = "The backup does not fit this flash!";
inline constexpr const char* kRestoreChipMismatch = "The backup is not for this chip!";

// Writes `backup` back into the flash of the unit at `path` (chip type in
// the low byte of `identification`, sub-revision in the high byte) when it
// fits: exactly the part's size, and firmware meant for the chip. A part
// whose start is erased (an update cut short) is taken to be as large as the
// backup; the read-back shows whether it took it. Up to three
// attempts with read-back and compare (block erase, sector erase, whole
// chip), as the update writes. Returns 1 when the flash holds the backup.
int RestoreFlashBackup(ProcedureHost& host, std::string_view path, uint16_t identification,
                       std::span<const uint8_t> backup, RestoreReport* report = nullptr);

}  // namespace fwtool
