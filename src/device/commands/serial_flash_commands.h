// SPDX-License-Identifier: GPL-2.0-or-later
// Commands that reach the serial (SPI) flash part behind the controller: the
// raw pass-through of one flash instruction, the identification of the part
// by its own instructions, the opcodes and page size the controller is told
// to use, unprotect, chip erase and programming by page or by SST's
// auto-address-increment mode. Each returns 1 on success, 0 on failure,
// unless said otherwise.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string_view>

namespace fwtool {

// The parameters of one flash instruction as the controller takes them
// (bytes 3..11 of the FF 04 20 block): N bytes clocked out (opcode
// included), F = 1 when a data phase of the same instruction follows, the
// opcode, then address or data bytes.
struct SpiRecord {
  std::array<uint8_t, 9> bytes{};
  static SpiRecord Of(uint8_t count, uint8_t follows, uint8_t opcode,
                      std::initializer_list<uint8_t> rest = {});
};

// A detected serial flash part: the opcodes the controller is to use, the
// flash maker code (FlashMakerTable index, 0 = not found) and the size.
struct FlashProfile {
  uint8_t chipEraseOpcode = 0xC7;
  uint8_t blockEraseOpcode = 0xD8;
  uint8_t programOpcode = 0x02;
  uint8_t makerCode = 0;
  uint8_t sectorEraseOpcode = 0x20;
  int32_t sizeKB = 64;

  // All fields zero: how the information check starts a profile.
  static FlashProfile Zeroed() { return {0, 0, 0, 0, 0, 0}; }
};

// Pauses of the serial-flash routines.
inline constexpr uint32_t kSpiPauseMs = 10;
// Re-reads of the flash status while waiting for a bit.
inline constexpr int kSpiStatusReReads = 300;
// Bytes per programming block.
inline constexpr uint32_t kSpiProgramBlock = 8192;

// FF 04 20 with the record in bytes 3..11, data-out with no data.
int SpiCommand(std::string_view path, const SpiRecord& record, const uint8_t* buffer = nullptr,
               uint32_t length = 0);
// FF 04 22, length in bytes 7-8: the data phase of the held instruction.
int SpiWriteData(std::string_view path, const uint8_t* buffer, uint16_t length);
// The instruction 01 01 OP (sent as data-in without data), then FF 04 21
// with the length in bytes 7-8 reading `length` bytes.
int SpiReadId(std::string_view path, uint8_t opcode, uint8_t* buffer, uint8_t length);
// FF 04 15 03 OP DD: the opcode, 3 dummy bytes when asked, then 3 bytes read.
int SpiReadIdShort(std::string_view path, uint8_t* buffer, uint8_t opcode, bool dummyBytes);

int SpiWriteEnable(std::string_view path);   // 01 00 06
int SpiWriteDisable(std::string_view path);  // 01 00 04, then 10 ms
int SpiClearStatus(std::string_view path);   // 02 00 01 with the data 01 00
// Lifts the status-register protection (SST's 0x50 first) and sets the
// write-enable latch.
int SpiPrepareWrite(std::string_view path);

// Reads the flash status (FF 04 12; a failed read counts as 0) until
// `done` holds, re-reading up to `reReads` times 10 ms apart. 1 when it held
// in time.
int PollFlashStatus(std::string_view path, const std::function<bool(uint8_t)>& done, int reReads);
// 1 when (status AND mask) becomes non-zero within 300 re-reads 10 ms apart.
int WaitFlashStatusSet(std::string_view path, uint8_t mask);
// 1 when (status AND 0x06) becomes 0 within 300 re-reads 10 ms apart.
int WaitFlashStatusClear(std::string_view path);
int SpiUnprotect(std::string_view path);

// FF 04 23 04: 4 bytes, byte 0 the flash maker code the controller itself
// detected at boot (0 when it found none).
int GetFlashMakerCode(std::string_view path, uint8_t* buffer);

// AMIC part kind 1, 3, 4 or 5 from its 0x9F answer, else -1.
int ReadAmicFlashKind(std::string_view path);
// Atmel part kind 0, 1 or 2 from its 0x9F answer, else -1.
int ReadAtmelFlashKind(std::string_view path);

// Probes the part with its identification instructions and fills the
// profile (defaults first). 1 when a probe matched, or when the first
// probe's command failed (maker 0); else 0.
int DetectSpiFlash(std::string_view path, FlashProfile& profile);
// Fills the profile's size in KB by the maker's identification rules
// (64 when no rule applies). Always 1.
int DetectSpiFlashSize(std::string_view path, FlashProfile& profile);

// FF 04 24 02 CE BE PP MK 01: the opcodes and maker code, no data.
int SetFlashOpcodes(std::string_view path, const FlashProfile& profile);
// The same block with 2 bytes read back and dropped.
int SetFlashOpcodesEcho(std::string_view path, const FlashProfile& profile);
// FF 04 25 02 (page size / 4), reading `dataLength` (0 or 2) bytes.
int SetFlashPageSize(std::string_view path, uint32_t pageSize, uint32_t dataLength);
// FF 04 25 data-out with no data: flash access set-up (chip type 11).
int FlashAccessSetup(std::string_view path);
// FF 04 0F CE BE PP SE (page size / 4).
int SetFlashParams(std::string_view path, const FlashProfile& profile, uint32_t pageSize);
// FF 04 0F CE BE PP SE PH PL (16-bit page size).
int SetFlashParamsWide(std::string_view path, const FlashProfile& profile, uint32_t pageSize);

// Prepare write, C7, write disable; the result of the C7 instruction.
int SpiChipErase(std::string_view path);
// Programs `length` bytes at `address` in blocks of up to 8 KB: page
// programming (32-byte pages for maker 5, else 256), or AAI for maker 2
// (word mode when `wordMode`; the address is named again at every 16 KB
// boundary). Every byte is written, a short tail included, and every
// instruction's result counts. 1 when every block was written; 0 for a
// length of 0 or at the first failing block (an AAI run is still ended with
// a write-disable). `onProgress`, when given, hears the bytes programmed so
// far after each page or AAI run of 512 bytes.
using SpiProgramProgress = std::function<void(uint32_t programmed)>;
int SpiProgramFlash(std::string_view path, uint32_t address, const uint8_t* data, uint32_t length,
                    int makerCode, bool wordMode, const SpiProgramProgress& onProgress = {});

}  // namespace fwtool
