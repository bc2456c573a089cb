// Reading and writing the controller's firmware flash and internal memory,
// and the host-link and reset controls. Each returns 1 on success, 0 on
// failure, unless said otherwise.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace fwtool {

class OperatorServices;

inline constexpr uint8_t kWriteModeMask = 0x87;  // erase code in bits 0-2, bit 7 for maker 5
inline constexpr uint8_t kWriteModeMaker5 = 0x80;

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

// Size of an open file; its position is kept. -1 when the file cannot seek.
long FileSizeOf(std::FILE* file);
// 1 when the file's size is at most flashSizeKB * 1024 bytes; a file that
// cannot be opened shows "Open Firmware File Error!!" and gives 0.
int FirmwareFitsFlash(OperatorServices& op, const std::string& fileName, uint32_t flashSizeKB);

inline constexpr const char* kOpenFirmwareFileError = "Open Firmware File Error!!";
inline constexpr const char* kCaptionError = "Error";
inline constexpr const char* kCaptionMessage = "Message";

}  // namespace fwtool
