// SPDX-License-Identifier: GPL-2.0-or-later
#include "parallel_flash_commands.h"

#include "command_block.h"

namespace fwtool {

namespace {

// The two unlock addresses of each part and the data of its sequences.
struct UnlockAddresses {
  uint16_t first;
  uint16_t second;
};

constexpr std::array<UnlockAddresses, kParallelFlashKinds> kUnlock = {{
    {0x5555, 0x2AAA},  // ATMELAT 49BV512
    {0x0555, 0x02AA},  // PMC OM39LV512
    {0x5555, 0x2AAA},  // SST SST39LF512
}};

// Program one byte: U1 AA, U2 55, U1 A0, then the byte at its address.
// Erase the chip: U1 AA, U2 55, U1 80, U1 AA, U2 55, U1 10.
enum Unlock : uint8_t { U1, U2 };
struct ScriptWrite {
  Unlock address;
  uint8_t data;
};
constexpr std::array<ScriptWrite, kProgramScriptWrites> kProgramWrites = {{
    {U1, 0xAA},
    {U2, 0x55},
    {U1, 0xA0},
}};
constexpr std::array<ScriptWrite, kEraseScriptWrites> kEraseWrites = {{
    {U1, 0xAA},
    {U2, 0x55},
    {U1, 0x80},
    {U1, 0xAA},
    {U2, 0x55},
    {U1, 0x10},
}};

template <size_t N>
std::array<uint8_t, 3 * N> Script(const std::array<ScriptWrite, N>& writes, int kind) {
  std::array<uint8_t, 3 * N> script{};
  if (kind < 0 || kind >= kParallelFlashKinds) return script;
  const UnlockAddresses& unlock = kUnlock[static_cast<size_t>(kind)];
  for (size_t i = 0; i < N; ++i) {
    const uint16_t address = writes[i].address == U1 ? unlock.first : unlock.second;
    script[2 * i] = static_cast<uint8_t>(address);
    script[2 * i + 1] = static_cast<uint8_t>(address >> 8);
    script[2 * N + i] = writes[i].data;
  }
  return script;
}

}  // namespace

ProgramScript ProgramScriptFor(int kind) {
  return Script(kProgramWrites, kind);
}

EraseScript EraseScriptFor(int kind) {
  return Script(kEraseWrites, kind);
}

int ParallelFlashSelect(std::string_view path) {
  return SendBlockOut(path, Ff04Block(codes::kSubParallelSelect), nullptr, 0);
}

int LoadParallelEraseScript(std::string_view path, int kind) {
  const EraseScript script = EraseScriptFor(kind);
  return SendBlockOut(path, Ff04Block(codes::kSubParallelEraseScript), script.data(),
                      script.size());
}

int ParallelFlashEraseStart(std::string_view path) {
  return SendBlockOut(path, Ff04Block(codes::kSubParallelEraseStart), nullptr, 0);
}

int ParallelFlashBusy(std::string_view path) {
  uint8_t status = 1;
  if (!SendBlockIn(path, Ff04Block(codes::kSubParallelBusy), &status, 1)) return 1;
  return status == 1 ? 1 : 0;
}

int ProgramParallelFlash(std::string_view path, const uint8_t* data, uint32_t length, int kind) {
  CommandBlock block = Ff04Block(codes::kSubParallelProgram);
  const ProgramScript script = ProgramScriptFor(kind);
  for (size_t i = 0; i < script.size(); ++i) block[3 + static_cast<int>(i)] = script[i];
  return SendBlockOut(path, block, data, length);
}

int ReadParallelFlash(std::string_view path, uint32_t address, uint8_t* buffer, uint32_t length) {
  CommandBlock block = Ff04Block(codes::kSubParallelRead);
  for (int i = 0; i < 4; ++i) block[3 + i] = static_cast<uint8_t>(address >> (8 * i));
  return SendBlockIn(path, block, buffer, length);
}

}  // namespace fwtool
