// SPDX-License-Identifier: GPL-2.0-or-later
// The steps that the procedures of the older family members share: their
// controllers read, program and erase the flash by address (FF 04 10..14).
// Each step reports through the status line and returns 1 on success, 0 on
// failure.
#pragma once

#include <cstdint>
#include <vector>

#include "procedure.h"

namespace fwtool {

// Time the controller is given after an erase before its status is polled.
inline constexpr uint32_t kShortWaitMs = 500;
inline constexpr uint32_t kLongWaitMs = 1000;

// Sleeps `ms`, then polls the flash status until the controller is ready
// (bounded); the result is the poll's.
int ShortWait(std::string_view path, uint32_t ms = kShortWaitMs);

// 1 when every byte is 0xFF.
bool IsErased(const uint8_t* data, size_t length);

// Bytes of the whole flash that backup-only covers: the size picked in the
// engineering face, or the detected size where the row says so. 0 when it is
// not known.
int32_t WholeFlashSize(const ProcedureRequest& request, const FlashSettings& settings);

// The firmware file, its first `skip` bytes left out. Refuses a file that
// cannot be read or leaves nothing after `skip` (status "Open File
// Error!!"), and one whose bytes plus `extraFlashBytes` would not fit a
// flash whose size is known. Nothing is sent to the unit.
int LoadFirmwareFile(const ProcedureRequest& request, ProcedureHost& host, size_t skip,
                     int64_t extraFlashBytes, std::vector<uint8_t>& file);

// Erases the flash and checks that the size picked in "Firmware size" reads
// blank.
int EraseAllAndVerify(const ProcedureRequest& request, ProcedureHost& host);

// Reads the whole flash and writes it, the first `leaveOut` bytes left out,
// to the operator's backup file or to "oldflash.bak" (with a box saying so),
// replacing a file of that name only with a complete copy.
int BackupFlashImage(const ProcedureRequest& request, ProcedureHost& host, int32_t leaveOut);

// Sector erases over `length` bytes from 0, one per transfer block.
int EraseFlashBlocks(const ProcedureRequest& request, ProcedureHost& host, int32_t length);
// Reads `length` bytes from `start` one transfer block at a time.
int ReadFlashBlocks(const ProcedureRequest& request, ProcedureHost& host, uint32_t start,
                    uint8_t* destination, int32_t length);

// Writes `data` at `address`, waits, reads it back and compares. Status
// "Write command fail!" when the write or the read fails, "Data compare fail
// !!" when the flash holds something else.
int WritePageAndVerify(const ProcedureRequest& request, ProcedureHost& host, uint32_t address,
                       const uint8_t* data, uint32_t length, bool overSpi);

// Writes and verifies `pages` 16 KB pages of `image` from address 0 (over
// the serial-flash sequence when `overSpi`), a dot in the status line after
// each; stops at the first page that fails, its text in the status line.
int WritePagesAndVerify(const ProcedureRequest& request, ProcedureHost& host,
                        const uint8_t* image, uint32_t pages, bool overSpi);

// Erases `units` 32 KB units from 0 with a sector erase each and checks
// both 16 KB pages of every unit blank ("Erase command fail!!", "Read back
// after erase fail!!", "Data not 0xff !!").
inline constexpr uint32_t kPageSize = 16384;
inline constexpr uint32_t kEraseUnitSize = 32768;
int EraseUnitsAndCheck(const ProcedureRequest& request, ProcedureHost& host, uint32_t units);

// The status text of a result code of the device-side flash operations
// (0 and codes above 7 read as success).
const char* FlashOpResultText(int code);

// The power-cycle box after a successful erase or programming.
void AskForPowerCycle(ProcedureHost& host);

}  // namespace fwtool
