// SPDX-License-Identifier: GPL-2.0-or-later
// Serial NOR flash parts the simulated controllers carry: what each answers
// to the identification instructions, how it erases and programs, and how
// long that takes (the datasheet's typical and maximum figures).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "clock.h"

namespace fwtool::sim {

// Flash maker codes as the program and the controllers number them.
inline constexpr uint8_t kMakerUnknown = 0;
inline constexpr uint8_t kMakerPmc = 1;
inline constexpr uint8_t kMakerSst = 2;
inline constexpr uint8_t kMakerSt = 3;
inline constexpr uint8_t kMakerAtmel = 4;
inline constexpr uint8_t kMakerMxic = 5;
inline constexpr uint8_t kMakerWinbond = 6;
inline constexpr uint8_t kMakerAmic = 7;
inline constexpr uint8_t kMakerEon = 8;
inline constexpr uint8_t kMakerEsmt = 9;
inline constexpr uint8_t kMakerSanyo = 10;
inline constexpr int kMakerCount = 11;

// The erase units a controller's flash write uses for its small-unit and
// large-unit erase modes, by the maker code it detected.
inline constexpr std::array<uint32_t, kMakerCount> kControllerLargeEraseUnit = {
    32768, 32768, 32768, 65536, 65536, 65536, 65536, 65536, 65536, 65536, 65536};
inline constexpr std::array<uint32_t, kMakerCount> kControllerSmallEraseUnit = {
    4096, 4096, 4096, 32768, 32768, 4096, 4096, 4096, 32768, 4096, 4096};

// Auto-address-increment programming (SST parts).
enum class AaiMode : uint8_t { None, Byte, Word };

// One erase instruction of a part: opcode, unit size, typical and maximum
// time.
struct EraseInstruction {
  uint8_t opcode = 0;
  uint32_t unit = 0;
  Duration time{};
  Duration maxTime{};
};

// Status register bits.
inline constexpr uint8_t kStatusBusy = 0x01;
inline constexpr uint8_t kStatusWriteEnable = 0x02;
inline constexpr uint8_t kStatusProtectBits = 0x3C;  // BP0..BP3
inline constexpr uint8_t kStatusAai = 0x40;          // SST: in AAI mode
inline constexpr uint8_t kStatusWriteProtectLock = 0x80;

struct FlashPartSpec {
  std::string name;       // e.g. "MXIC serial flash"
  uint8_t makerCode = 0;  // what detection should conclude
  uint32_t size = 65536;  // bytes
  // Answer to 0x9F (JEDEC id), read right after the opcode; repeats. Empty:
  // the part does not know the instruction (its output stays high: 0xFF).
  std::vector<uint8_t> jedecId;
  // Answer to 0x90 after three address bytes: maker, device (address bit 0
  // swaps them). Empty: not known.
  std::vector<uint8_t> manufacturerDeviceId;
  // Answer to 0xAB after three dummy bytes; repeats.
  std::vector<uint8_t> electronicSignature;
  // Answer to 0x15 right after the opcode (some makers' own id instruction).
  std::vector<uint8_t> id15;
  // Bytes one page program instruction may carry before the address wraps
  // inside the page; 1 for parts whose 0x02 programs a single byte.
  uint32_t pageSize = 256;
  AaiMode aai = AaiMode::None;
  // Sector and block erase instructions. An instruction with a non-empty
  // `sectorMap` (sector start addresses, ascending) erases the irregular
  // sector that holds the address instead of an aligned unit.
  std::vector<EraseInstruction> eraseInstructions;
  std::vector<uint32_t> sectorMap;
  uint8_t sectorMapOpcode = 0;
  std::vector<uint8_t> chipEraseOpcodes;
  // Typical and maximum times.
  Duration chipEraseTime{};
  Duration chipEraseMaxTime{};
  Duration pageProgramTime{};  // one full page
  Duration pageProgramMaxTime{};
  Duration byteProgramTime{};  // one byte or AAI word
  Duration byteProgramMaxTime{};
  // Status register write: not found in a datasheet here; the families'
  // usual 10 ms typical, 15 ms maximum.
  Duration statusWriteTime = std::chrono::milliseconds(10);
  Duration statusWriteMaxTime = std::chrono::milliseconds(15);
  // SST parts accept a status write only after 0x50 (or 0x06).
  bool hasEnableWriteStatus = false;
  // Block-protect bits a controller sets when it protects the part.
  uint8_t protectBits = 0x0C;

  // The same part taking the maximum time for everything (a slow sample).
  FlashPartSpec AtMaximum() const;

  // Time of one program instruction carrying `bytes` bytes.
  Duration ProgramTime(uint32_t bytes) const;
  // Time to erase one unit of `unitBytes` (the nearest instruction's figure,
  // scaled by size when no instruction has exactly that unit).
  Duration EraseTime(uint32_t unitBytes) const;
  // The range [start, start + length) an erase opcode clears at an address;
  // length 0 when the part does not know the opcode. The whole part for a
  // chip-erase opcode.
  struct Range {
    uint32_t start = 0;
    uint32_t length = 0;
  };
  Range EraseRangeFor(uint8_t opcode, uint32_t address) const;
  bool IsChipErase(uint8_t opcode) const;
  // Smallest erase unit the part has at an address (irregular sectors
  // included) and the instruction for it.
  std::optional<EraseInstruction> SmallestEraseAt(uint32_t address) const;
};

// A typical part of the maker with the given size in KB (a power of two, 64
// and up); its identification bytes encode the size the way that maker does.
FlashPartSpec FlashPartFor(uint8_t makerCode, uint32_t sizeKB);
// The same part answering 0x9F with other bytes (for detection tests); a
// part whose bytes read C2 22 xx takes 32-byte pages like those MXIC parts.
FlashPartSpec WithJedecId(FlashPartSpec part, std::vector<uint8_t> jedecId);

// "mxic", "winbond", ... or a number 0..10; nullopt when unknown.
std::optional<uint8_t> MakerCodeFromName(std::string_view name);
// Lower-case short name of a maker code ("mxic").
std::string_view MakerShortName(uint8_t makerCode);

}  // namespace fwtool::sim
