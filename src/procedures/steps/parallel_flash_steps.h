// SPDX-License-Identifier: GPL-2.0-or-later
// The steps of the parallel flash procedure (chip types 2 and 21): erase
// only, back up to a file, program from a file. Each reads only its request
// and the host, reports through the status line and returns 1 on success,
// 0 on failure.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "procedure.h"

namespace fwtool {

// The part is polled without a pause: this many rounds of this many busy
// answers before it counts as stuck.
inline constexpr int kParallelReadyRounds = 100;
inline constexpr int kParallelReadyPollsPerRound = 500;

// 1 once the controller reports the part not busy; 0 when it stays busy (or
// unreadable) for every poll.
int WaitParallelFlashReady(std::string_view path);

// Erases the part with the chosen kind's script and checks that all 64 KB
// read blank; asks for a power cycle on success.
int EraseParallelFlash(const ProcedureRequest& request, ProcedureHost& host);

// Reads the 64 KB into the operator's backup file (or "oldflash.bak" in the
// current folder, with a box saying so), replacing a file of that name only
// once the new one is complete.
int BackupParallelFlash(const ProcedureRequest& request, ProcedureHost& host);

// Erases the part, programs `file` (1 to 65,536 bytes; the rest of the part
// stays erased), reads it back and compares; asks for a power cycle on
// success.
int ProgramParallelFlashFromFile(const ProcedureRequest& request, ProcedureHost& host,
                                 const std::vector<uint8_t>& file);

// Erases the part with the chosen kind's script, programs the 65,536 bytes
// of `image`, reads them back and compares: 1 when the part holds them.
// The status names what failed; no box.
int WriteParallelImage(const ProcedureRequest& request, ProcedureHost& host, const uint8_t* image);

// The switch to the controller's internal code that every access to the part
// needs, unless the unit is the A1 member.
int SelectParallelFlash(const ProcedureRequest& request, ProcedureHost& host);

}  // namespace fwtool
