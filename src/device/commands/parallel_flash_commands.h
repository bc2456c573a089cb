// SPDX-License-Identifier: GPL-2.0-or-later
// The commands of the oldest members (chip types 2 and 21), whose firmware
// lies in a 64 KB parallel flash part. The controller does not know the
// part's command protocol: the host hands it the unlock sequences (address,
// data writes) of the part the operator chose, and the controller plays them
// against the flash before it erases or programs. Each command returns 1 on
// success, 0 on failure, unless said otherwise.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace fwtool {

// The parts a unit may carry, by their index in the "Flash Type" list.
enum class ParallelFlashKind : int { Atmel = 0, Pmc = 1, Sst = 2 };
inline constexpr int kParallelFlashKinds = 3;
inline constexpr std::array<const char*, kParallelFlashKinds> kParallelFlashNames = {
    "ATMELAT 49BV512", "PMC OM39LV512", "SST SST39LF512"};
inline constexpr uint32_t kParallelFlashSize = 65536;

// An unlock sequence as the controller takes it: the addresses (each least
// significant byte first), then the data bytes; write i puts data byte i at
// address i.
inline constexpr int kProgramScriptWrites = 3;
inline constexpr int kEraseScriptWrites = 6;
using ProgramScript = std::array<uint8_t, 3 * kProgramScriptWrites>;
using EraseScript = std::array<uint8_t, 3 * kEraseScriptWrites>;

// The scripts of a flash kind; any other index gives all-zero scripts.
ProgramScript ProgramScriptFor(int kind);
EraseScript EraseScriptFor(int kind);

// FF 04 05: the controller switches to its internal code.
int ParallelFlashSelect(std::string_view path);
// FF 04 04 with the 18-byte erase script.
int LoadParallelEraseScript(std::string_view path, int kind);
// FF 04 01: the controller plays the loaded erase script.
int ParallelFlashEraseStart(std::string_view path);
// FF 04 00: 0 only when the status byte could be read and is not 1; 1 when
// the part is busy or the status cannot be read.
int ParallelFlashBusy(std::string_view path);
// FF 04 02 with the program script in bytes 3-11; `length` bytes from 0.
int ProgramParallelFlash(std::string_view path, const uint8_t* data, uint32_t length, int kind);
// FF 04 03 with a 32-bit address, least significant byte first, in bytes 3-6.
int ReadParallelFlash(std::string_view path, uint32_t address, uint8_t* buffer, uint32_t length);

}  // namespace fwtool
