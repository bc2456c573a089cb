// SPDX-License-Identifier: GPL-2.0-or-later
// The serial-flash pass-through: single flash instructions, the status
// waits built on them, unprotect, the kind reads and the controller's flash
// configuration blocks.
#include "serial_flash_commands.h"

#include <algorithm>
#include <array>

#include "clock.h"
#include "command_block.h"
#include "flash_commands.h"
#include "transport.h"

namespace fwtool {

namespace {

using codes::kSubMakerCode;
using codes::kSubOpcodes;
using codes::kSubPageSize;
using codes::kSubParams;
using codes::kSubSpiCommand;
using codes::kSubSpiRead;
using codes::kSubSpiReadIdShort;
using codes::kSubSpiWriteData;

constexpr uint8_t kOpWriteStatus = 0x01;
constexpr uint8_t kOpWriteDisable = 0x04;
constexpr uint8_t kOpWriteEnable = 0x06;
constexpr uint8_t kOpEnableWriteStatus = 0x50;
constexpr uint8_t kOpJedecId = 0x9F;
constexpr uint8_t kOpChipErase = 0xC7;

constexpr uint8_t kStatusWriteEnable = 0x02;
constexpr uint8_t kStatusLatchAndProtect = 0x06;

CommandBlock SpiCommandBlock(const SpiRecord& record) {
  CommandBlock block = Ff04Block(kSubSpiCommand);
  std::copy(record.bytes.begin(), record.bytes.end(), block.bytes.begin() + 3);
  return block;
}

// FF 04 21: the read phase of the held instruction; `lengthField` is what
// the block announces, `length` what moves.
int SpiRead(std::string_view path, uint8_t* buffer, uint16_t lengthField, uint32_t length) {
  CommandBlock block = Ff04Block(kSubSpiRead);
  block.Put16(7, lengthField);
  return SendBlockIn(path, block, buffer, length);
}

// The 0x9F answer as the kind reads take it: the instruction sent as
// data-in, then 4 bytes read with a length field of 0.
bool ReadJedecForKind(std::string_view path, std::array<uint8_t, 4>& id) {
  const CommandBlock instruction = SpiCommandBlock(SpiRecord::Of(1, 1, kOpJedecId));
  if (!SendBlockIn(path, instruction, nullptr, 0)) return false;
  return SpiRead(path, id.data(), 0, static_cast<uint32_t>(id.size())) == 1;
}

struct KindRow {
  uint8_t idByte;
  int kind;
};

// AMIC parts answering 7F 37 20: byte 3 names the kind.
constexpr KindRow kAmicKinds[] = {{0x12, 1}, {0x11, 3}, {0x20, 4}, {0x10, 5}};
// Atmel parts answering 1F: byte 1 names the kind.
constexpr KindRow kAtmelKinds[] = {{0x65, 1}, {0x66, 2}};

template <size_t N>
int KindOf(const KindRow (&rows)[N], uint8_t idByte, int otherwise) {
  for (const auto& row : rows)
    if (row.idByte == idByte) return row.kind;
  return otherwise;
}

CommandBlock OpcodesBlock(const FlashProfile& profile) {
  CommandBlock block = Ff04Block(kSubOpcodes);
  block[3] = 0x02;
  block[4] = profile.chipEraseOpcode;
  block[5] = profile.blockEraseOpcode;
  block[6] = profile.programOpcode;
  block[7] = profile.makerCode;
  block[8] = 0x01;
  return block;
}

CommandBlock ParamsBlock(const FlashProfile& profile) {
  CommandBlock block = Ff04Block(kSubParams);
  block[3] = profile.chipEraseOpcode;
  block[4] = profile.blockEraseOpcode;
  block[5] = profile.programOpcode;
  block[6] = profile.sectorEraseOpcode;
  return block;
}

}  // namespace

SpiRecord SpiRecord::Of(uint8_t count, uint8_t follows, uint8_t opcode,
                        std::initializer_list<uint8_t> rest) {
  SpiRecord record;
  record.bytes[0] = count;
  record.bytes[1] = follows;
  record.bytes[2] = opcode;
  std::copy_n(rest.begin(), std::min<size_t>(rest.size(), record.bytes.size() - 3),
              record.bytes.begin() + 3);
  return record;
}

int SpiCommand(std::string_view path, const SpiRecord& record, const uint8_t* buffer,
               uint32_t length) {
  return SendBlockOut(path, SpiCommandBlock(record), buffer, length);
}

int SpiWriteData(std::string_view path, const uint8_t* buffer, uint16_t length) {
  CommandBlock block = Ff04Block(kSubSpiWriteData);
  block.Put16(7, length);
  return SendBlockOut(path, block, buffer, length);
}

int SpiReadId(std::string_view path, uint8_t opcode, uint8_t* buffer, uint8_t length) {
  const CommandBlock instruction = SpiCommandBlock(SpiRecord::Of(1, 1, opcode));
  if (!SendBlockIn(path, instruction, nullptr, 0)) return 0;
  return SpiRead(path, buffer, length, length);
}

int SpiReadIdShort(std::string_view path, uint8_t* buffer, uint8_t opcode, bool dummyBytes) {
  CommandBlock block = Ff04Block(kSubSpiReadIdShort);
  block[3] = 0x03;
  block[4] = opcode;
  block[5] = dummyBytes ? 3 : 0;
  return SendBlockIn(path, block, buffer, 3);
}

int SpiWriteEnable(std::string_view path) {
  return SpiCommand(path, SpiRecord::Of(1, 0, kOpWriteEnable));
}

int SpiWriteDisable(std::string_view path) {
  const int ok = SpiCommand(path, SpiRecord::Of(1, 0, kOpWriteDisable));
  SleepMs(kSpiPauseMs);
  return ok;
}

int SpiClearStatus(std::string_view path) {
  static constexpr uint8_t kData[] = {0x01, 0x00};
  return SpiCommand(path, SpiRecord::Of(2, 0, kOpWriteStatus), kData, sizeof kData);
}

int SpiPrepareWrite(std::string_view path) {
  // SST parts take a status write only after 0x50; the others ignore it.
  SpiCommand(path, SpiRecord::Of(1, 0, kOpEnableWriteStatus));
  static constexpr uint8_t kUnprotected[] = {0x00, 0x00};
  SpiCommand(path, SpiRecord::Of(1, 1, kOpWriteStatus));
  SpiWriteData(path, kUnprotected, sizeof kUnprotected);
  SleepMs(kSpiPauseMs);
  const int ok = SpiWriteEnable(path);
  SleepMs(kSpiPauseMs);
  return ok;
}

int PollFlashStatus(std::string_view path, const std::function<bool(uint8_t)>& done, int reReads) {
  auto read = [&] {
    uint8_t status = 0;
    if (!ReadFlashStatus(path, &status)) status = 0;
    return status;
  };
  if (done(read())) return 1;
  for (int i = 0; i < reReads; ++i) {
    SleepMs(kSpiPauseMs);
    if (done(read())) return 1;
  }
  return 0;
}

int WaitFlashStatusSet(std::string_view path, uint8_t mask) {
  return PollFlashStatus(
      path, [mask](uint8_t status) { return (status & mask) != 0; }, kSpiStatusReReads);
}

int WaitFlashStatusClear(std::string_view path) {
  return PollFlashStatus(
      path, [](uint8_t status) { return (status & kStatusLatchAndProtect) == 0; },
      kSpiStatusReReads);
}

int SpiUnprotect(std::string_view path) {
  const int enabled = SpiWriteEnable(path);
  const int latched = WaitFlashStatusSet(path, kStatusWriteEnable);
  const int cleared = SpiClearStatus(path);
  const int settled = WaitFlashStatusClear(path);
  return enabled && cleared && latched && settled ? 1 : 0;
}

int GetFlashMakerCode(std::string_view path, uint8_t* buffer) {
  CommandBlock block = Ff04Block(kSubMakerCode);
  block[3] = 0x04;
  return SendBlockIn(path, block, buffer, 4);
}

int ReadAmicFlashKind(std::string_view path) {
  std::array<uint8_t, 4> id{};
  if (!ReadJedecForKind(path, id)) return -1;
  if (id[0] != 0x7F || id[1] != 0x37 || id[2] != 0x20) return -1;
  return KindOf(kAmicKinds, id[3], -1);
}

int ReadAtmelFlashKind(std::string_view path) {
  std::array<uint8_t, 4> id{};
  if (!ReadJedecForKind(path, id)) return -1;
  if (id[0] != 0x1F) return -1;
  return KindOf(kAtmelKinds, id[1], 0);
}

int SetFlashOpcodes(std::string_view path, const FlashProfile& profile) {
  return SendBlockIn(path, OpcodesBlock(profile), nullptr, 0);
}

int SetFlashOpcodesEcho(std::string_view path, const FlashProfile& profile) {
  std::array<uint8_t, 2> echo{};
  return SendBlockIn(path, OpcodesBlock(profile), echo.data(), static_cast<uint32_t>(echo.size()));
}

int SetFlashPageSize(std::string_view path, uint32_t pageSize, uint32_t dataLength) {
  CommandBlock block = Ff04Block(kSubPageSize);
  block[3] = 0x02;
  block[4] = static_cast<uint8_t>(pageSize / 4);
  std::array<uint8_t, 2> echo{};
  const uint32_t length = std::min<uint32_t>(dataLength, static_cast<uint32_t>(echo.size()));
  return SendBlockIn(path, block, length != 0 ? echo.data() : nullptr, length);
}

int FlashAccessSetup(std::string_view path) {
  return SendBlockOut(path, Ff04Block(kSubPageSize), nullptr, 0);
}

int SetFlashParams(std::string_view path, const FlashProfile& profile, uint32_t pageSize) {
  CommandBlock block = ParamsBlock(profile);
  block[7] = static_cast<uint8_t>(pageSize / 4);
  return SendBlockOut(path, block, nullptr, 0);
}

int SetFlashParamsWide(std::string_view path, const FlashProfile& profile, uint32_t pageSize) {
  CommandBlock block = ParamsBlock(profile);
  block.Put16(7, pageSize);
  return SendBlockOut(path, block, nullptr, 0);
}

int SpiChipErase(std::string_view path) {
  SpiPrepareWrite(path);
  const int ok = SpiCommand(path, SpiRecord::Of(1, 0, kOpChipErase));
  SpiWriteDisable(path);
  return ok;
}

}  // namespace fwtool
