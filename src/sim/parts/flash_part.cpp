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

// Datasheets give the whole-chip erase of one density; the other members of
// a family take longer in proportion to their size, though less than
// linearly.
Duration ChipEraseFor(Duration at4Mbit, uint32_t size) {
  const double ratio = static_cast<double>(size) / (512.0 * 1024.0);
  return std::chrono::duration_cast<Duration>(at4Mbit * std::pow(ratio, 0.8));
}

FlashPartSpec Base(std::string name, uint8_t maker, uint32_t sizeKB) {
  FlashPartSpec part;
  part.name = std::move(name);
  part.makerCode = maker;
  part.size = sizeKB * 1024;
  part.pageProgramTime = 1400us;
  part.pageProgramMaxTime = 5ms;
  part.byteProgramTime = 20us;
  part.byteProgramMaxTime = 50us;
  part.chipEraseOpcodes = {0xC7, 0x60};
  return part;
}

// A whole-chip erase figure a datasheet gives for a part of `sizeKB`, as the
// 4 Mbit member of the family would take it (the inverse of ChipEraseFor).
Duration At4Mbit(Duration figure, uint32_t sizeKB) {
  const double ratio = static_cast<double>(sizeKB) / 512.0;
  return std::chrono::duration_cast<Duration>(figure / std::pow(ratio, 0.8));
}

// Typical and maximum whole-chip erase, from the family's 4 Mbit figures.
void ChipErase(FlashPartSpec& part, Duration typical4Mbit, Duration maximum4Mbit) {
  part.chipEraseTime = ChipEraseFor(typical4Mbit, part.size);
  part.chipEraseMaxTime = ChipEraseFor(maximum4Mbit, part.size);
}

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
      // PMC 25LV family. The small parts' own datasheet (512 Kbit to
      // 4 Mbit) was not found here; the Pm25LV080B/016B datasheet
      // (advanced information, the 8 and 16 Mbit members) gives page
      // program 2 ms typical and 40 ms typical for a sector, block or chip
      // erase, and those are taken. The maximums (page 5 ms, any erase
      // 100 ms) were not found in a datasheet here: the family's usual
      // figures.
      part.pageProgramTime = 2000us;
      part.eraseInstructions = {
          {0xD7, 4096, 40ms, 100ms}, {0x20, 4096, 40ms, 100ms}, {0xD8, 32768, 40ms, 100ms}};
      // The same for every size, as the sheet gives it.
      part.chipEraseTime = 40ms;
      part.chipEraseMaxTime = 100ms;
      break;
    }
    case kMakerSst: {
      part = Base("SST serial flash", kMakerSst, sizeKB);
      part.hasEnableWriteStatus = true;
      // SST25VF512 datasheet (DS25076A, 10/11): byte (or AAI) program 14 us
      // typical; 4 KB sector and 32 KB block erase 18 ms typical; chip erase
      // 70 ms typical. SST25VF040B datasheet (DS20005051D): byte program
      // 7 us, sector and block erase 18 ms, chip erase 35 ms typical. The
      // maximums (program 20 us, sector and block 25 ms, chip 100 / 50 ms)
      // were not found in a datasheet here: the family's usual figures.
      part.byteProgramTime = 14us;
      part.byteProgramMaxTime = 20us;
      part.pageSize = 1;
      part.eraseInstructions = {{0x20, 4096, 18ms, 25ms}, {0x52, 32768, 18ms, 25ms}};
      part.chipEraseTime = 70ms;
      part.chipEraseMaxTime = 100ms;
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
        part.byteProgramTime = 7us;
        part.eraseInstructions.push_back({0xD8, 65536, 18ms, 25ms});
        part.chipEraseTime = 35ms;
        part.chipEraseMaxTime = 50ms;
      }
      break;
    }
    case kMakerSt: {
      part = Base("ST serial flash", kMakerSt, sizeKB);
      part.jedecId = {0x20, 0x20, capacity};
      part.electronicSignature = {static_cast<uint8_t>(n == 0 ? 0x05 : 0x0F + n)};
      const uint32_t sector = sizeKB <= 128 ? 32768 : 65536;
      // M25P05-A datasheet (Rev 11, April 2008): page program 1.4 ms
      // typical; sector erase 0.65 s typical; bulk erase of the 512 Kbit
      // chip: 0.85 s typical. The maximums (page 5 ms, sector 3 s, bulk 10 s
      // at 4 Mbit) were not found in a datasheet here: the family's usual
      // figures.
      part.eraseInstructions = {{0xD8, sector, 650ms, 3000ms}};
      part.chipEraseOpcodes = {0xC7};
      ChipErase(part, At4Mbit(850ms, 64), 10000ms);
      break;
    }
    case kMakerAtmel: {
      part = Base("ATMEL serial flash", kMakerAtmel, sizeKB);
      const auto device = static_cast<uint8_t>(0x65 + n);
      part.jedecId = {0x1F, device, 0x01};
      part.id15 = {0x1F, static_cast<uint8_t>(n == 0 ? 0x65 : 0x60)};
      // AT25DF041A datasheet (3668F-DFLASH-11/2013): page program 1.2 ms
      // typical; 4 KB block erase 50 ms, 32 KB 250 ms, 64 KB 400 ms
      // typical. The maximums (page 5 ms, 4 KB 200 ms, 32 KB 600 ms, 64 KB
      // 950 ms) and the chip erase (4 / 7 s at 4 Mbit) were not found in a
      // datasheet here: the family's usual figures.
      part.pageProgramTime = 1200us;
      part.eraseInstructions = {
          {0x20, 4096, 50ms, 200ms}, {0x52, 32768, 250ms, 600ms}, {0xD8, 65536, 400ms, 950ms}};
      part.chipEraseOpcodes = {0xC7, 0x60, 0x62};
      ChipErase(part, 4000ms, 7000ms);
      break;
    }
    case kMakerMxic: {
      part = Base("MXIC serial flash", kMakerMxic, sizeKB);
      part.jedecId = {0xC2, 0x20, capacity};
      part.manufacturerDeviceId = {0xC2, static_cast<uint8_t>(0x05 + n)};
      part.electronicSignature = {static_cast<uint8_t>(0x05 + n)};
      // MXIC 25L family, 512 Kbit to 4 Mbit: not found in a datasheet here;
      // the family's usual figures: page program 1.4 ms typical, 5 ms
      // maximum; 4 KB sector 60 / 120 ms; 64 KB block 0.7 / 2 s; chip erase
      // of the 4 Mbit chip: 3.5 / 7.5 s. (The 8 Mbit KH25L8005 datasheet,
      // PM1307 rev. 1.1, Dec. 2007, gives the same page and 4 KB sector
      // figures, and 1 / 2 s for its 64 KB block.)
      part.eraseInstructions = {{0x20, 4096, 60ms, 120ms}, {0xD8, 65536, 700ms, 2000ms}};
      ChipErase(part, 3500ms, 7500ms);
      break;
    }
    case kMakerWinbond: {
      part = Base("WINBOND serial flash", kMakerWinbond, sizeKB);
      part.jedecId = {0xEF, 0x30, capacity};
      part.manufacturerDeviceId = {0xEF, static_cast<uint8_t>(0x05 + n)};
      part.electronicSignature = {static_cast<uint8_t>(0x05 + n)};
      // WINBOND 25X family: not found in a datasheet here (the W25X10/20/40/
      // 80 features list says only "page program up to 256 bytes <2ms");
      // the family's usual figures: page program 1.5 ms typical, 5 ms
      // maximum; 4 KB sector 100 / 250 ms; 64 KB block 0.8 / 2 s; chip erase
      // of the 4 Mbit chip: 4 / 10 s.
      part.pageProgramTime = 1500us;
      part.eraseInstructions = {{0x20, 4096, 100ms, 250ms}, {0xD8, 65536, 800ms, 2000ms}};
      ChipErase(part, 4000ms, 10000ms);
      break;
    }
    case kMakerAmic: {
      part = Base("AMIC serial flash", kMakerAmic, sizeKB);
      part.jedecId = {0x37, 0x30, capacity};
      part.manufacturerDeviceId = {0x37, static_cast<uint8_t>(0x05 + n)};
      part.electronicSignature = {static_cast<uint8_t>(0x05 + n)};
      // A25L020/A25L010/A25L512 datasheet (version 2.0, May 2012): page
      // program 2 ms typical; 4 KB sector erase 0.2 s typical; 64 KB block
      // 0.5 s typical. The maximums and the chip erase were not found in a
      // datasheet here: page 5 ms, 64 KB block 2 s and chip erase 3.2 / 8 s
      // at 4 Mbit are the family's usual figures, and the 4 KB sector's
      // usual 200 ms maximum is no longer than the typical time above.
      part.pageProgramTime = 2000us;
      part.eraseInstructions = {{0x20, 4096, 200ms, 200ms}, {0xD8, 65536, 500ms, 2000ms}};
      ChipErase(part, 3200ms, 8000ms);
      break;
    }
    case kMakerEon: {
      part = Base("EON serial flash", kMakerEon, sizeKB);
      part.jedecId = {0x1C, 0x31, capacity};
      part.manufacturerDeviceId = {0x1C, static_cast<uint8_t>(0x05 + n)};
      part.electronicSignature = {static_cast<uint8_t>(0x05 + n)};
      // EN25F20 datasheet (Rev. B, 2007/05/15): page program 1.5 ms
      // typical; 4 KB sector erase 150 ms typical; 64 KB block 800 ms
      // typical; chip erase of the 2 Mbit chip: 3 s typical. The maximums
      // (page 5 ms, 4 KB 300 ms, 64 KB 2 s, chip 8 s at 4 Mbit) and the
      // 32 KB erase (400 / 1000 ms) were not found in a datasheet here: the
      // family's usual figures.
      part.pageProgramTime = 1500us;
      part.eraseInstructions = {
          {0x20, 4096, 150ms, 300ms}, {0x52, 32768, 400ms, 1000ms}, {0xD8, 65536, 800ms, 2000ms}};
      ChipErase(part, At4Mbit(3000ms, 256), 8000ms);
      break;
    }
    case kMakerEsmt: {
      part = Base("ESMT serial flash", kMakerEsmt, sizeKB);
      part.jedecId = {0x8C, 0x30, capacity};
      part.manufacturerDeviceId = {0x8C, static_cast<uint8_t>(0x05 + n)};
      part.electronicSignature = {static_cast<uint8_t>(0x05 + n)};
      // F25L004A datasheet (rev. 1.1, Oct. 2007): 4 KB sector erase 60 ms
      // typical; 64 KB block 1 s typical; chip erase of the 4 Mbit chip: 4 s
      // typical. F25L01PA datasheet (rev. 1.3, Apr. 2013): 256-byte page
      // program 1.5 ms typical. The maximums (page 3 ms, 4 KB 300 ms, 64 KB
      // 2 s, chip 10 s) and the 32 KB erase (500 / 1200 ms) were not found
      // in a datasheet here: the family's usual figures.
      part.pageProgramTime = 1500us;
      part.pageProgramMaxTime = 3ms;
      part.eraseInstructions = {
          {0x20, 4096, 60ms, 300ms}, {0x52, 32768, 500ms, 1200ms}, {0xD8, 65536, 1000ms, 2000ms}};
      ChipErase(part, 4000ms, 10000ms);
      break;
    }
    case kMakerSanyo: {
      part = Base("SANYO serial flash", kMakerSanyo, sizeKB);
      part.jedecId = {0x62, 0x16, capacity};
      part.electronicSignature = {static_cast<uint8_t>(0x42 + n)};
      // LE25FW406 preliminary datasheet (revision 2.3, Sep. 28, 2004; 4 Mbit):
      // page program 1.5 ms typical, 2.5 ms maximum for 256 bytes; 64 KB
      // sector erase 25 ms typical, 0.5 s maximum; chip erase 250 ms
      // typical, 5 s maximum. (LE25FW403A, EN*A1229A: the same 1.5 ms
      // typical page.) The small 4 KB sector (100 / 250 ms) was not found
      // in a datasheet here: the family's usual figure.
      part.pageProgramTime = 1500us;
      part.pageProgramMaxTime = 2500us;
      part.eraseInstructions = {{0xD7, 4096, 100ms, 250ms}, {0xD8, 65536, 25ms, 500ms}};
      ChipErase(part, 250ms, 5000ms);
      break;
    }
    default: {
      // A part that answers none of the identification instructions.
      part = Base("generic serial flash", kMakerUnknown, sizeKB);
      // No one part's datasheet: the common figures of these families, page
      // 1.5 / 5 ms, 4 KB 90 / 300 ms, 32 KB 400 / 1000 ms, 64 KB 0.8 / 2 s,
      // 4 Mbit chip 5 / 10 s.
      part.pageProgramTime = 1500us;
      part.eraseInstructions = {
          {0x20, 4096, 90ms, 300ms}, {0x52, 32768, 400ms, 1000ms}, {0xD8, 65536, 800ms, 2000ms}};
      ChipErase(part, 5000ms, 10000ms);
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
