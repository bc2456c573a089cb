// SPDX-License-Identifier: GPL-2.0-or-later
// The steps of the serial flash procedure (chip types 8, 9, 11 and 12): back
// the flash up to a file, erase it, program it from a firmware file. Each
// reads only its request and the host, reports through the status line and
// returns 1 on success, 0 on failure.
#pragma once

#include <cstdint>

#include "procedure.h"

namespace fwtool {

// The unit's own settings area ("4K NVRAM").
inline constexpr int32_t kNvramSize = 4096;
// Flash of a dual-bank unit with more than 64 KB.
inline constexpr int32_t kDualBankFlashSize = 131072;
// Every flash command of these procedures carries at most this many bytes.
inline constexpr int32_t kSerialFlashBlockSize = 8192;

// Where a unit keeps its settings and how its firmware lies in the flash.
struct SerialFlashLayout {
  // First byte of the settings area: the start of the flash, or right after
  // the firmware of the first bank on dual-bank units.
  uint32_t nvramAddress = 0;
  // 64 KB banks, each with its CRC-16 at 0xBFFE; two of them on a flash of
  // 128 KB or more.
  bool banked = false;
};
SerialFlashLayout SerialFlashLayoutOf(const ChipRow& row);

// Bytes of flash a backup or an erase covers: the size chosen in the
// engineering face, or both banks of a dual-bank unit with more than 64 KB.
int32_t SerialFlashSize(const ProcedureRequest& request, const FlashSettings& settings);

// Reads the whole flash and writes it to the operator's backup file, which
// must not exist yet, or else to "oldFlash.bak" in the backup folder
// ("oldFlash-2.bak" and on when that name is taken), with a box saying so;
// a file is there only once it is complete. `excludeLength` 0
// saves everything; kNvramSize leaves the settings area out (for dual-bank
// units everything from it on).
int BackupFlashToFile(const ProcedureRequest& request, ProcedureHost& host, int32_t excludeLength);

// Erases the whole flash and checks that it reads blank; the settings area
// is written back unless "Include 4K NVRAM" is ticked, also when the erase
// failed.
int EraseFlashOnly(const ProcedureRequest& request, ProcedureHost& host);

// Writes 0xFF over `length` bytes from address 0 in sector-erase mode, so
// that every sector is erased when the write enters it.
int EraseFlashByWriting(const ProcedureRequest& request, ProcedureHost& host, int32_t length);

// Programs the firmware file with read-back and compare, up to three attempts
// per bank, keeping the unit's settings unless "Include 4K NVRAM" is ticked.
// Returns 1 only when every bank written holds what was asked; on success it
// asks for the restart the unit needs.
int ProgramFlashFromFile(const ProcedureRequest& request, ProcedureHost& host);

// Reads the settings area into `saved` (kNvramSize bytes), twice; status
// "Backup NVRAM command fail!" when it cannot be read or the reads differ.
int SaveNvram(const ProcedureRequest& request, ProcedureHost& host, uint8_t* saved);
// Programs the saved settings area back without an erase and reads it back:
// 1 when the flash holds it. The status line is left to the caller.
int WriteNvramBack(const ProcedureRequest& request, ProcedureHost& host, const uint8_t* saved);

// After a successful erase or programming: units that restart on command are
// reset and say they re-attach; the others ask for a power cycle.
void AskForRestart(const ProcedureRequest& request, ProcedureHost& host);

}  // namespace fwtool
