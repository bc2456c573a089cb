// SPDX-License-Identifier: GPL-2.0-or-later
// Reading and writing the controller's firmware flash and internal memory,
// and the host-link and reset controls. Each returns 1 on success, 0 on
// failure, unless said otherwise.
#pragma once

#include <cstdint>
#include <string_view>

namespace fwtool {

// What the controller erases before it programs the block of a WriteFlash:
// the low three bits of the mode byte. Modes 4, 5 and 6, 7 erase as 1, 2 and
// 3 do.
enum class WriteMode : uint8_t {
  NoErase = 0,
  SmallUnit = 1,  // the small erase unit the block starts in
  LargeUnit = 2,  // the large erase unit the block starts in
  WholeChip = 3,  // the whole chip, with a block at address 0
};
inline constexpr uint8_t kWriteModeMask = 0x87;  // erase code in bits 0-2, bit 7 for MXIC parts
// Bit 7 tells the controller that an MXIC part (maker code 5) takes the
// block that starts the flash.
inline constexpr uint8_t kWriteModeMxic = 0x80;

// The mode byte of a write mode.
constexpr uint8_t ModeByte(WriteMode mode) {
  return static_cast<uint8_t>(mode);
}
// The erase a mode value asks for: its low seven bits 0..7 as above; any
// other value erases nothing.
constexpr WriteMode WriteModeOf(int mode) {
  constexpr WriteMode kByValue[] = {
      WriteMode::NoErase,   WriteMode::SmallUnit, WriteMode::LargeUnit, WriteMode::WholeChip,
      WriteMode::SmallUnit, WriteMode::LargeUnit, WriteMode::WholeChip, WriteMode::WholeChip};
  const int value = mode & 0x7F;
  return value < 8 ? kByValue[value] : WriteMode::NoErase;
}

// DF blocks, 24-bit flash address in bytes 8-10.
int ReadFlash(std::string_view path, uint32_t address, uint8_t* buffer, uint32_t length);
int WriteFlash(std::string_view path, uint32_t address, const uint8_t* buffer, uint32_t length,
               uint8_t mode);
int WriteFlashPlain(std::string_view path, uint32_t address, const uint8_t* buffer, uint32_t length,
                    bool flag);
// DF blocks, 16-bit memory address in bytes 6-7.
int ReadMemory(std::string_view path, uint8_t* buffer, uint16_t address, uint32_t length);
int WriteMemory(std::string_view path, const uint8_t* buffer, uint16_t address, uint32_t length);

// FF-04 blocks of the older chip types, 24-bit address in bytes 3-5.
int ReadFlashAt(std::string_view path, uint32_t address, uint8_t* buffer, uint32_t length);
int WriteFlashAt(std::string_view path, uint32_t address, const uint8_t* buffer, uint32_t length);
// Moves 2 bytes over the bus and hands back the first.
int ReadFlashStatus(std::string_view path, uint8_t* status);
int EraseFlashChip(std::string_view path);
int EraseFlashSector(std::string_view path, uint32_t address);

// Returns byte 8 of the response when the command succeeds, 0 when it fails
// (a successful read whose byte 8 is 0 looks the same). `buffer` receives
// `length` bytes and must hold at least 9 for byte 8 to be read.
uint8_t ReadControllerInfo(std::string_view path, uint8_t* buffer, uint8_t length);
int HostLinkOpen(std::string_view path);
int HostLinkClose(std::string_view path);
int ResetDevice(std::string_view path);

// 1 when 4 bytes at 0x505E read back with byte 1 = 0 and byte 2 = 1.
int MemoryFlag505E(std::string_view path);

inline constexpr const char* kCaptionError = "Error";
inline constexpr const char* kCaptionMessage = "Message";

}  // namespace fwtool
