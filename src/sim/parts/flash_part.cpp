// SPDX-License-Identifier: GPL-2.0-or-later
#include "flash_part.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace fwtool::sim {

using namespace std::chrono_literals;

namespace {

constexpr std::array<std::string_view, kMakerCount> kMakerShortNames = {
    "unknown", "pmc", "sst", "st", "atmel", "mxic", "winbond", "amic", "eon", "esmt", "sanyo"};

}  // namespace

FlashPartSpec FlashPartSpec::AtMaximum() const {
  FlashPartSpec slow = *this;
  for (auto& instruction : slow.eraseInstructions)
    instruction.time = std::max(instruction.time, instruction.maxTime);
  slow.chipEraseTime = std::max(chipEraseTime, chipEraseMaxTime);
  slow.pageProgramTime = std::max(pageProgramTime, pageProgramMaxTime);
  slow.byteProgramTime = std::max(byteProgramTime, byteProgramMaxTime);
  slow.statusWriteTime = std::max(statusWriteTime, statusWriteMaxTime);
  return slow;
}

Duration FlashPartSpec::ProgramTime(uint32_t bytes) const {
  if (bytes == 0) return Duration{0};
  if (pageSize <= 1) return byteProgramTime;
  // A program instruction costs a fixed start plus time per byte; a full
  // page takes the datasheet's typical page-program time.
  const double fraction = std::min(1.0, static_cast<double>(bytes) / pageSize);
  return std::chrono::duration_cast<Duration>(pageProgramTime * (0.1 + 0.9 * fraction));
}

Duration FlashPartSpec::EraseTime(uint32_t unitBytes) const {
  if (unitBytes >= size) return chipEraseTime;
  const EraseInstruction* nearest = nullptr;
  for (const auto& instruction : eraseInstructions) {
    if (instruction.unit == unitBytes) return instruction.time;
    if (nearest == nullptr || (instruction.unit <= unitBytes && instruction.unit > nearest->unit))
      nearest = &instruction;
  }
  if (nearest == nullptr || nearest->unit == 0) return chipEraseTime;
  return std::chrono::duration_cast<Duration>(nearest->time *
                                              (static_cast<double>(unitBytes) / nearest->unit));
}

bool FlashPartSpec::IsChipErase(uint8_t opcode) const {
  return std::find(chipEraseOpcodes.begin(), chipEraseOpcodes.end(), opcode) !=
         chipEraseOpcodes.end();
}

FlashPartSpec::Range FlashPartSpec::EraseRangeFor(uint8_t opcode, uint32_t address) const {
  address %= size;
  if (IsChipErase(opcode)) return {0, size};
  if (opcode == sectorMapOpcode && !sectorMap.empty()) {
    auto next = std::upper_bound(sectorMap.begin(), sectorMap.end(), address);
    const uint32_t start = *(next - 1);
    const uint32_t end = next == sectorMap.end() ? size : *next;
    return {start, end - start};
  }
  for (const auto& instruction : eraseInstructions) {
    if (instruction.opcode == opcode) {
      const uint32_t unit = std::min(instruction.unit, size);
      return {address / unit * unit, unit};
    }
  }
  return {0, 0};
}

std::optional<EraseInstruction> FlashPartSpec::SmallestEraseAt(uint32_t address) const {
  std::optional<EraseInstruction> best;
  for (const auto& instruction : eraseInstructions) {
    EraseInstruction candidate = instruction;
    if (instruction.opcode == sectorMapOpcode && !sectorMap.empty())
      candidate.unit = EraseRangeFor(instruction.opcode, address).length;
    if (!best || candidate.unit < best->unit) best = candidate;
  }
  return best;
}

FlashPartSpec WithJedecId(FlashPartSpec part, std::vector<uint8_t> jedecId) {
  part.jedecId = std::move(jedecId);
  const auto& id = part.jedecId;
  if (id.size() >= 2 && id[0] == 0xC2 && id[1] == 0x22) {
    // These MXIC parts take 32-byte pages.
    part.pageSize = 32;
  }
  if (id.size() >= 3 && id[0] == 0x7F && id[1] == 0x37 && id[2] == 0x20) {
    // AMIC parts of this family erase irregular sectors: 4, 8, 16 and 32 KB
    // from the bottom, and the top 4 KB.
    part.name = "AMIC serial flash, irregular sectors";
    part.sectorMap = {0x0000, 0x1000, 0x3000, 0x7000, 0xF000};
    for (uint32_t start = 0x10000; start < part.size; start += 0x10000)
      part.sectorMap.push_back(start);
    part.sectorMapOpcode = 0xD8;
    part.eraseInstructions = {{0xD8, 32768, 500ms, 2000ms}};
  }
  return part;
}

std::optional<uint8_t> MakerCodeFromName(std::string_view name) {
  std::string lower;
  for (char c : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (int i = 0; i < kMakerCount; ++i)
    if (lower == kMakerShortNames[i]) return static_cast<uint8_t>(i);
  if (lower == "none") return kMakerUnknown;
  unsigned value = 0;
  const auto* end = lower.data() + lower.size();
  auto [ptr, ec] = std::from_chars(lower.data(), end, value);
  if (ec == std::errc{} && ptr == end && !lower.empty() && value < kMakerCount)
    return static_cast<uint8_t>(value);
  return std::nullopt;
}

std::string_view MakerShortName(uint8_t makerCode) {
  return makerCode < kMakerCount ? kMakerShortNames[makerCode] : "unknown";
}

}  // namespace fwtool::sim
