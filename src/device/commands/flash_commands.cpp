// SPDX-License-Identifier: GPL-2.0-or-later
#include "flash_commands.h"

#include <algorithm>
#include <array>

#include "command_block.h"
#include "transport.h"

namespace fwtool {

namespace {

constexpr auto In = SendBlockIn;
constexpr auto Out = SendBlockOut;

CommandBlock FlashBlock(uint8_t mode, uint32_t length, uint32_t address, uint8_t code) {
  CommandBlock block = DfBlock(mode, length, code);
  block.Put24(8, address);
  return block;
}

CommandBlock MemoryBlock(uint8_t mode, uint32_t length, uint16_t address, uint8_t code) {
  CommandBlock block = DfBlock(mode, length, code);
  block.Put16(6, address);
  return block;
}

CommandBlock AddressedFf04(uint8_t subCommand, uint32_t address) {
  CommandBlock block = Ff04Block(subCommand);
  block.Put24(3, address);
  return block;
}

// "VQ" opens the host-link and reset blocks.
constexpr uint8_t kV = 0x56;
constexpr uint8_t kQ = 0x51;

}  // namespace

int ReadFlash(std::string_view path, uint32_t address, uint8_t* buffer, uint32_t length) {
  return In(path, FlashBlock(kDfRead, length, address, kCodeFlashRead), buffer, length);
}

int WriteFlash(std::string_view path, uint32_t address, const uint8_t* buffer, uint32_t length,
               uint8_t mode) {
  const auto block = FlashBlock(mode & kWriteModeMask, length, address, kCodeFlashWrite);
  return Out(path, block, buffer, length);
}

int WriteFlashPlain(std::string_view path, uint32_t address, const uint8_t* buffer, uint32_t length,
                    bool flag) {
  return Out(path, FlashBlock(flag ? 1 : 0, length, address, kCodeFlashWrite), buffer, length);
}

int ReadMemory(std::string_view path, uint8_t* buffer, uint16_t address, uint32_t length) {
  return In(path, MemoryBlock(kDfRead, length, address, kCodeMemoryRead), buffer, length);
}

int WriteMemory(std::string_view path, const uint8_t* buffer, uint16_t address, uint32_t length) {
  return Out(path, MemoryBlock(0x00, length, address, kCodeMemoryWrite), buffer, length);
}

int ReadFlashAt(std::string_view path, uint32_t address, uint8_t* buffer, uint32_t length) {
  return In(path, AddressedFf04(codes::kSubFlashReadAt, address), buffer, length);
}

int WriteFlashAt(std::string_view path, uint32_t address, const uint8_t* buffer, uint32_t length) {
  return Out(path, AddressedFf04(codes::kSubFlashWriteAt, address), buffer, length);
}

int ReadFlashStatus(std::string_view path, uint8_t* status) {
  uint8_t byte = 0;
  const int ok = In(path, Ff04Block(codes::kSubFlashStatus), &byte, 1);
  if (status != nullptr) *status = byte;
  return ok;
}

int EraseFlashChip(std::string_view path) {
  return Out(path, Ff04Block(codes::kSubFlashEraseChip), nullptr, 0);
}

int EraseFlashSector(std::string_view path, uint32_t address) {
  return Out(path, AddressedFf04(codes::kSubFlashEraseSector, address), nullptr, 0);
}

uint8_t ReadControllerInfo(std::string_view path, uint8_t* buffer, uint8_t length) {
  CommandBlock block = Ff04Block(codes::kSubControllerInfo);
  block[3] = length;
  // Read into a local buffer large enough for byte 8 whatever the caller asked.
  std::array<uint8_t, 256> data{};
  if (!In(path, block, data.data(), length)) {
    if (buffer != nullptr) std::copy_n(data.begin(), length, buffer);
    return 0;
  }
  if (buffer != nullptr) std::copy_n(data.begin(), length, buffer);
  return length > 8 ? data[8] : 0;
}

int HostLinkOpen(std::string_view path) {
  CommandBlock block = Ff04Block(codes::kSubHostLink);
  block[3] = kQ;
  block[4] = 0x55;
  return Out(path, block, nullptr, 0);
}

int HostLinkClose(std::string_view path) {
  CommandBlock block = Ff04Block(codes::kSubHostLink);
  block[3] = kQ;
  block[4] = 0xAA;
  return Out(path, block, nullptr, 0);
}

int ResetDevice(std::string_view path) {
  CommandBlock block = Ff04Block(codes::kSubReset);
  block[3] = kV;
  block[4] = kQ;
  return In(path, block, nullptr, 0);
}

int MemoryFlag505E(std::string_view path) {
  std::array<uint8_t, 4> data{};
  if (!ReadMemory(path, data.data(), 0x505E, 4)) return 0;
  return data[1] == 0 && data[2] == 1 ? 1 : 0;
}

}  // namespace fwtool
