// SPDX-License-Identifier: GPL-2.0-or-later
// Builders for the vendor block families. Multi-byte fields are most
// significant byte first.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "command_table.h"
#include "transport.h"

namespace fwtool {

struct CommandBlock {
  std::array<uint8_t, 16> bytes{};
  int length = 12;

  uint8_t& operator[](int i) { return bytes[i]; }
  uint8_t operator[](int i) const { return bytes[i]; }
  const uint8_t* data() const { return bytes.data(); }

  void Put16(int at, uint32_t value) {
    bytes[at] = static_cast<uint8_t>(value >> 8);
    bytes[at + 1] = static_cast<uint8_t>(value);
  }
  void Put24(int at, uint32_t value) {
    bytes[at] = static_cast<uint8_t>(value >> 16);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
    bytes[at + 2] = static_cast<uint8_t>(value);
  }
};

// DF family: byte 0 0xDF, byte 1 direction/mode, bytes 3-4 length, byte 11
// the command code.
inline CommandBlock DfBlock(uint8_t mode, uint32_t length, uint8_t code) {
  CommandBlock block;
  block[0] = codes::kDf;
  block[1] = mode;
  block.Put16(3, length);
  block[codes::kDfCodeAt] = code;
  return block;
}

// FF-04 family: sub-command in byte 2, parameters after it.
inline CommandBlock Ff04Block(uint8_t subCommand) {
  CommandBlock block;
  block[0] = codes::kFf;
  block[1] = codes::kFf04;
  block[codes::kSubAt] = subCommand;
  return block;
}

// One block through the transport, data-in or data-out; the transferred
// count is not wanted by the commands.
inline int SendBlockIn(std::string_view path, const CommandBlock& block, void* buffer,
                       uint32_t length) {
  uint32_t transferred = 0;
  return SendCommandIn(path, block.data(), block.length, buffer, length, &transferred);
}
inline int SendBlockOut(std::string_view path, const CommandBlock& block, const void* buffer,
                        uint32_t length) {
  uint32_t transferred = 0;
  return SendCommandOut(path, block.data(), block.length, buffer, length, &transferred);
}

inline constexpr uint8_t kDfRead = 0x10;
using codes::kCodeConfigWord;
using codes::kCodeDriveIdentify;
using codes::kCodeFlashRead;
using codes::kCodeFlashWrite;
using codes::kCodeMemoryRead;
using codes::kCodeMemoryWrite;

}  // namespace fwtool
