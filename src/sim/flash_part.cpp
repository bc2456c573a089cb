#include "flash_part.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>

namespace fwtool::sim {

using namespace std::chrono_literals;

namespace {

constexpr std::array<std::string_view, kMakerCount> kMakerShortNames = {
    "unknown", "pmc", "sst", "st", "atmel", "mxic", "winbond", "amic", "eon", "esmt", "sanyo"};

uint8_t SizeStep(uint32_t sizeKB) {
  // 64 KB -> 0, 128 KB -> 1, ...
  if (sizeKB <= 64) return 0;
  return static_cast<uint8_t>(std::bit_width(sizeKB / 64) - 1);
}

// Whole-chip erase grows with the part, though less than linearly.
Duration ChipEraseFor(Duration per64K, uint32_t size) {
  const double ratio = std::max(1.0, static_cast<double>(size) / 65536.0);
  return std::chrono::duration_cast<Duration>(per64K * std::pow(ratio, 0.8));
}

FlashPartSpec Base(std::string name, uint8_t maker, uint32_t sizeKB) {
  FlashPartSpec part;
  part.name = std::move(name);
  part.makerCode = maker;
  part.size = sizeKB * 1024;
  part.pageProgramTime = 1400us;
  part.byteProgramTime = 20us;
  part.chipEraseOpcodes = {0xC7, 0x60};
  return part;
}

}  // namespace

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

FlashPartSpec FlashPartFor(uint8_t makerCode, uint32_t sizeKB) {
  if (sizeKB < 64) sizeKB = 64;
  const uint8_t n = SizeStep(sizeKB);
  const auto capacity = static_cast<uint8_t>(0x10 + n);
  FlashPartSpec part;
  switch (makerCode) {
    case kMakerPmc: {
      part = Base("PMC serial flash", kMakerPmc, sizeKB);
      const auto device = static_cast<uint8_t>(0x7B + n);
      part.jedecId = {0x7F, 0x9D, static_cast<uint8_t>(0x20 + n)};
      part.manufacturerDeviceId = {0x9D, device};
      part.electronicSignature = {0x9D, device};
      part.pageProgramTime = 1500us;
      part.eraseInstructions = {{0xD7, 4096, 40ms}, {0x20, 4096, 40ms}, {0xD8, 32768, 80ms}};
      part.chipEraseTime = ChipEraseFor(80ms, part.size);
      break;
    }
    case kMakerSst: {
      part = Base("SST serial flash", kMakerSst, sizeKB);
      part.hasEnableWriteStatus = true;
      part.byteProgramTime = 14us;
      part.pageSize = 1;
      part.eraseInstructions = {{0x20, 4096, 18ms}, {0x52, 32768, 18ms}};
      part.chipEraseTime = 70ms;
      if (sizeKB <= 128) {
        // The older small parts know only 0x90/0xAB and program in AAI byte mode.
        const auto device = static_cast<uint8_t>(0x48 + n);
        part.manufacturerDeviceId = {0xBF, device};
        part.electronicSignature = {0xBF, device};
        part.aai = AaiMode::Byte;
      } else {
        uint8_t device = 0x8C;
        if (sizeKB == 2048)
          device = 0x41;
        else if (sizeKB == 4096)
          device = 0x4A;
        else
          device = static_cast<uint8_t>(0x8C + (n - 2));
        part.jedecId = {0xBF, 0x25, device};
        part.manufacturerDeviceId = {0xBF, device};
        part.electronicSignature = {0xBF, device};
        part.aai = AaiMode::Word;
        part.eraseInstructions.push_back({0xD8, 65536, 18ms});
        part.chipEraseTime = 35ms;
      }
      break;
    }
    case kMakerSt: {
      part = Base("ST serial flash", kMakerSt, sizeKB);
      part.jedecId = {0x20, 0x20, capacity};
      part.electronicSignature = {static_cast<uint8_t>(n == 0 ? 0x05 : 0x0F + n)};
      const uint32_t sector = sizeKB <= 128 ? 32768 : 65536;
      part.eraseInstructions = {{0xD8, sector, 600ms}};
      part.chipEraseOpcodes = {0xC7};
      part.chipEraseTime = ChipEraseFor(1000ms, part.size);
      break;
    }
    case kMakerAtmel: {
      part = Base("ATMEL serial flash", kMakerAtmel, sizeKB);
      const auto device = static_cast<uint8_t>(0x65 + n);
      part.jedecId = {0x1F, device, 0x01};
      part.id15 = {0x1F, static_cast<uint8_t>(n == 0 ? 0x65 : 0x60)};
      part.pageProgramTime = 1500us;
      part.eraseInstructions = {{0x20, 4096, 50ms}, {0x52, 32768, 250ms}, {0xD8, 65536, 550ms}};
      part.chipEraseOpcodes = {0xC7, 0x60, 0x62};
      part.chipEraseTime = ChipEraseFor(700ms, part.size);
      break;
    }
    case kMakerMxic: {
      part = Base("MXIC serial flash", kMakerMxic, sizeKB);
      part.jedecId = {0xC2, 0x20, capacity};
      part.manufacturerDeviceId = {0xC2, static_cast<uint8_t>(0x05 + n)};
      part.electronicSignature = {static_cast<uint8_t>(0x05 + n)};
      part.eraseInstructions = {{0x20, 4096, 60ms}, {0xD8, 65536, 700ms}};
      part.chipEraseTime = ChipEraseFor(700ms, part.size);
      break;
    }
    case kMakerWinbond: {
      part = Base("WINBOND serial flash", kMakerWinbond, sizeKB);
      part.jedecId = {0xEF, 0x30, capacity};
      part.manufacturerDeviceId = {0xEF, static_cast<uint8_t>(0x05 + n)};
      part.electronicSignature = {static_cast<uint8_t>(0x05 + n)};
      part.pageProgramTime = 1500us;
      part.eraseInstructions = {{0x20, 4096, 100ms}, {0xD8, 65536, 800ms}};
      part.chipEraseTime = ChipEraseFor(1000ms, part.size);
      break;
    }
    case kMakerAmic: {
      part = Base("AMIC serial flash", kMakerAmic, sizeKB);
      part.jedecId = {0x37, 0x30, capacity};
      part.manufacturerDeviceId = {0x37, static_cast<uint8_t>(0x05 + n)};
      part.electronicSignature = {static_cast<uint8_t>(0x05 + n)};
      part.pageProgramTime = 1500us;
      part.eraseInstructions = {{0x20, 4096, 60ms}, {0xD8, 65536, 500ms}};
      part.chipEraseTime = ChipEraseFor(600ms, part.size);
      break;
    }
    case kMakerEon: {
      part = Base("EON serial flash", kMakerEon, sizeKB);
      part.jedecId = {0x1C, 0x31, capacity};
      part.manufacturerDeviceId = {0x1C, static_cast<uint8_t>(0x05 + n)};
      part.electronicSignature = {static_cast<uint8_t>(0x05 + n)};
      part.pageProgramTime = 1500us;
      part.eraseInstructions = {{0x20, 4096, 90ms}, {0x52, 32768, 400ms}, {0xD8, 65536, 700ms}};
      part.chipEraseTime = ChipEraseFor(1000ms, part.size);
      break;
    }
    case kMakerEsmt: {
      part = Base("ESMT serial flash", kMakerEsmt, sizeKB);
      part.jedecId = {0x8C, 0x30, capacity};
      part.manufacturerDeviceId = {0x8C, static_cast<uint8_t>(0x05 + n)};
      part.electronicSignature = {static_cast<uint8_t>(0x05 + n)};
      part.pageProgramTime = 1500us;
      part.eraseInstructions = {{0x20, 4096, 90ms}, {0x52, 32768, 500ms}, {0xD8, 65536, 1000ms}};
      part.chipEraseTime = ChipEraseFor(1000ms, part.size);
      break;
    }
    case kMakerSanyo: {
      part = Base("SANYO serial flash", kMakerSanyo, sizeKB);
      part.jedecId = {0x62, 0x16, capacity};
      part.electronicSignature = {static_cast<uint8_t>(0x42 + n)};
      part.pageProgramTime = 2000us;
      part.eraseInstructions = {{0xD7, 4096, 100ms}, {0xD8, 65536, 800ms}};
      part.chipEraseTime = ChipEraseFor(900ms, part.size);
      break;
    }
    default: {
      // A part that answers none of the identification instructions.
      part = Base("generic serial flash", kMakerUnknown, sizeKB);
      part.pageProgramTime = 1500us;
      part.eraseInstructions = {{0x20, 4096, 90ms}, {0x52, 32768, 400ms}, {0xD8, 65536, 800ms}};
      part.chipEraseTime = ChipEraseFor(1000ms, part.size);
      break;
    }
  }
  return part;
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
    part.eraseInstructions = {{0xD8, 32768, 500ms}};
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
