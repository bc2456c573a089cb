// SPDX-License-Identifier: GPL-2.0-or-later
// A unit's whole part put back from a backup: the part's size learnt by
// reading it, the backup refused unless it fits (exactly the part's size,
// and no firmware in it that names another chip), then written back through
// the part's own commands with read-back and compare. `fwtool restore` puts
// a backup of any unit back with it; the one-click update reads the flash it
// backs up with ReadWholeFlashTwice.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "file_tests.h"
#include "procedure.h"
#include "whole_part.h"

namespace fwtool {

class ProcedureHost;

// The whole flash through the controller's flash commands (DF FA), its size
// found by where its addresses wrap round (see ReadWrappingPart); the
// running progress step moves by the bytes read.
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
  NotWritten,  // erasing, writing, reading back or comparing failed
};

struct RestoreReport {
  RestoreOutcome outcome = RestoreOutcome::Unreadable;
  uint32_t flashSize = 0;  // the part's size, once known
  std::string reason;      // one sentence for WrongChip
};

// Status texts of our own.
inline constexpr const char* kRestoreStep = "Restoring";
inline constexpr const char* kRestoreSuccess = "Restored from the backup.";
inline constexpr const char* kRestoreSizeMismatch = "The backup does not fit this unit!";
inline constexpr const char* kRestoreChipMismatch = "The backup is not for this chip!";

// Whether a backup may go into a unit of chip type (low byte) and
// sub-revision (high byte) `identification`: firmware meant for it, or no
// firmware signature at all (an erased part, a disk area that holds none),
// or a signature block naming the chip's own model.
FileVerdict BackupMatchesChip(std::span<const uint8_t> backup, uint16_t identification);

// Writes `backup` back into the whole part of the request's unit (its chip
// facts as the information check found them; for a parallel part the kind
// chosen in the options) when it fits: exactly the part's size, and nothing
// in it meant for another chip. A flash part of unknown size whose start is
// erased (an update cut short) is taken to be as large as the backup; the
// read-back shows whether it took it. Returns 1 when the part holds the
// backup.
int RestoreWholePart(const ProcedureRequest& request, WholePart part, ProcedureHost& host,
                     std::span<const uint8_t> backup, RestoreReport* report = nullptr);

// The one-click targets' flash (DF commands, up to three attempts: block
// erase, sector erase, whole chip): RestoreWholePart for a unit known only
// by its path and identification (chip type in the low byte, sub-revision
// in the high byte).
int RestoreFlashBackup(ProcedureHost& host, std::string_view path, uint16_t identification,
                       std::span<const uint8_t> backup, RestoreReport* report = nullptr);

}  // namespace fwtool
