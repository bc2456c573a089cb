// SPDX-License-Identifier: GPL-2.0-or-later
// The vendor commands that ride inside ATA PASS-THROUGH(12) blocks (ATA
// command 0xB0 with a vendor feature code), and the 48-bit DMA sector
// transfers inside ATA PASS-THROUGH(16). Chip type 13, and the disk-side
// work of chip type 12, reach the controller this way. Single commands
// return 1/0; the range operations return the numeric codes below.
#pragma once

#include <cstdint>
#include <string_view>

#include "command_block.h"
#include "serial_flash_commands.h"

namespace fwtool {

// The ATA registers of one command, from which both block forms are built:
//
//   ATA PASS-THROUGH(12)           ATA PASS-THROUGH(16)
//   byte  0  A1                    byte  0  85
//   byte  1  protocol << 1         byte  1  protocol << 1 | extend
//   byte  2  flags                 byte  2  flags
//   byte  3  features 7-0          byte  3  features 15-8
//   byte  4  count 7-0             byte  4  features 7-0
//   byte  5  lba 7-0               byte  5  count 15-8
//   byte  6  lba 15-8              byte  6  count 7-0
//   byte  7  lba 23-16             byte  7  lba 31-24
//   byte  8  device                byte  8  lba 7-0
//   byte  9  command               byte  9  lba 39-32
//   byte 10  0                     byte 10  lba 15-8
//   byte 11  0                     byte 11  lba 47-40
//                                  byte 12  lba 23-16
//                                  byte 13  device
//                                  byte 14  command
//                                  byte 15  0
struct AtaRegisters {
  enum class Protocol : uint8_t { NonData = 3, PioIn = 4, PioOut = 5, DmaIn = 0x0A, DmaOut = 0x0B };
  Protocol protocol = Protocol::NonData;
  uint8_t flags = 0x0B;  // byte 2 of the block: transfer direction and length place
  uint16_t features = 0;
  uint16_t count = 0;
  uint64_t lba = 0;  // 24 bits in the 12-byte form, 48 in the 16-byte form
  uint8_t device = 0;
  uint8_t command = 0;
  bool extend = false;  // 16-byte form: a 48-bit command
};

// The 12-byte and 16-byte blocks of a register record.
CommandBlock AtaPassThrough12(const AtaRegisters& registers);
CommandBlock AtaPassThrough16(const AtaRegisters& registers);

// Range operation results.
inline constexpr int kAtaRangeOk = 0;
inline constexpr int kAtaNoMemory = 1;
inline constexpr int kAtaEraseRefused = 2;
inline constexpr int kAtaReadFailed = 3;
inline constexpr int kAtaWriteFailed = 4;
inline constexpr int kAtaNotBlank = 6;

inline constexpr uint32_t kAtaChunk = 8192;
inline constexpr int kAtaReadyReReads = 500;

// Single commands (12-byte blocks).
int AtaIdentify(std::string_view path, uint8_t* buffer);      // 512 bytes
int AtaVendorStatus(std::string_view path, uint8_t* buffer);  // 512 bytes
int AtaReadInfo(std::string_view path, uint8_t* buffer, uint32_t length);
int AtaReadFlash(std::string_view path, uint32_t address, uint8_t* buffer, uint32_t length);
int AtaWriteFlash(std::string_view path, uint32_t address, const uint8_t* buffer, uint32_t length);
int AtaEraseFlash(std::string_view path);
// The first five bytes of the pass-through record: N, F, opcode, X1, X2.
int AtaSpiCommand(std::string_view path, const SpiRecord& record, const uint8_t* buffer = nullptr,
                  uint32_t length = 0);
int AtaSpiReadData(std::string_view path, uint8_t* buffer, uint32_t length);
int AtaSetFlashOpcodes(std::string_view path, const FlashProfile& profile);
int AtaSetFlashPageSize(std::string_view path, uint32_t pageSize);

// 16-byte blocks: sector transfers on the attached disk.
int AtaReadDmaExt(std::string_view path, uint64_t lba, uint8_t* buffer, uint32_t length,
                  uint32_t sectorSize);
int AtaWriteDmaExt(std::string_view path, uint64_t lba, const uint8_t* buffer, uint32_t length,
                   uint32_t sectorSize);

// The disk's sector count from IDENTIFY DEVICE (words 60-61, or 100-103
// when those read 0x0FFFFFFF); 0 when the command fails.
uint64_t AtaDriveSectors(std::string_view path);
// The same rule over 512 bytes of IDENTIFY DEVICE data.
uint64_t SectorsFromIdentify(const uint8_t* identify);
// 1 when the vendor status shows not busy within 500 re-reads 10 ms apart.
// A failed first read counts as not busy; a failed re-read keeps the status
// read before it.
int AtaWaitReady(std::string_view path);
// The first n bytes of the 512-byte controller information.
int AtaGetChipInfo(std::string_view path, uint8_t* buffer, uint32_t n);
int AtaSpiReadId(std::string_view path, uint8_t opcode, uint8_t* buffer, uint32_t n);
int AtaDetectSpiFlash(std::string_view path, FlashProfile& profile);
int AtaDetectSpiFlashSize(std::string_view path, FlashProfile& profile);

// 8 KB chunks, each waited for with AtaWaitReady; kAtaRangeOk, or
// kAtaReadFailed / kAtaWriteFailed at the first failing chunk. A last chunk
// shorter than 8 KB still moves 8 KB on the bus: a read keeps what fits the
// caller's buffer, a write pads with 0xFF.
int AtaReadFlashRange(std::string_view path, uint32_t address, uint8_t* buffer, uint32_t length);
int AtaWriteFlashRange(std::string_view path, uint32_t address, const uint8_t* buffer,
                       uint32_t length);
// Erase, then read back `length` bytes and check they are all 0xFF:
// kAtaRangeOk, kAtaNoMemory, kAtaEraseRefused, kAtaReadFailed or kAtaNotBlank.
int AtaEraseAndVerify(std::string_view path, uint32_t length);

}  // namespace fwtool
