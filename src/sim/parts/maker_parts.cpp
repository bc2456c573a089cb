// SPDX-License-Identifier: GPL-2.0-or-later
// The typical serial flash part of each maker: how it answers the
// identification instructions and the datasheet figures for its program and
// erase times. One row per maker (two where the parts change with size).
#include <bit>
#include <cmath>
#include <span>

#include "flash_part.h"

namespace fwtool::sim {

using namespace std::chrono_literals;

namespace {

// How a maker's parts encode themselves and their size in the answers to
// the identification instructions (n: 0 for 64 KB, 1 for 128 KB, ...).
enum class IdAnswers : uint8_t {
  None,       // no instruction answers
  SizeCoded,  // 9F: maker, type, capacity 0x10 + n; 90: maker, 0x05 + n; AB: 0x05 + n
  Pmc,        // 9F: 7F, maker, 0x20 + n; 90 and AB: maker, 0x7B + n
  SstOlder,   // 90 and AB only: BF, 0x48 + n
  SstJedec,   // 9F: BF 25 and the device; 90 and AB: BF and the device
  St,         // 9F: maker, type, capacity; AB: 0x05 for 64 KB, else 0x0F + n
  Atmel,      // 9F: 1F, 0x65 + n, 01; 15: 1F, 0x65 for 64 KB, else 0x60
  Sanyo,      // 9F: maker, type, capacity; AB: 0x42 + n
};

// A whole-chip erase figure as a datasheet gives it: for the chip of
// `ofSizeKB`, or for every size when that is 0. The other members of a
// family take longer in proportion to their size, though less than linearly.
struct ChipEraseFigure {
  Duration time{};
  uint32_t ofSizeKB = 0;
};

constexpr uint32_t kFourMbitKB = 512;

struct MakerPartRow {
  uint8_t maker = kMakerUnknown;
  uint32_t aboveKB = 0;  // the row serves parts larger than this
  std::string_view name;
  IdAnswers ids = IdAnswers::None;
  uint8_t jedecMaker = 0;
  uint8_t jedecType = 0;
  Duration pageProgram = 1400us;  // one full page
  Duration pageProgramMax = 5ms;
  Duration byteProgram = 20us;  // one byte or AAI word
  Duration byteProgramMax = 50us;
  uint32_t pageSize = 256;
  AaiMode aai = AaiMode::None;
  bool hasEnableWriteStatus = false;
  std::array<EraseInstruction, 3> erases{};  // unit 0: unused
  std::array<uint8_t, 3> chipEraseOpcodes = {0xC7, 0x60};
  ChipEraseFigure chipErase;
  ChipEraseFigure chipEraseMax;
};

constexpr MakerPartRow kMakerParts[] = {
    // A part that answers none of the identification instructions. No one
    // part's datasheet: the common figures of these families, page 1.5 /
    // 5 ms, 4 KB 90 / 300 ms, 32 KB 400 / 1000 ms, 64 KB 0.8 / 2 s, 4 Mbit
    // chip 5 / 10 s.
    {.maker = kMakerUnknown,
     .name = "generic serial flash",
     .pageProgram = 1500us,
     .erases = {{{0x20, 4096, 90ms, 300ms},
                 {0x52, 32768, 400ms, 1000ms},
                 {0xD8, 65536, 800ms, 2000ms}}},
     .chipErase = {5000ms, kFourMbitKB},
     .chipEraseMax = {10000ms, kFourMbitKB}},
    // PMC 25LV family. The small parts' own datasheet (512 Kbit to 4 Mbit)
    // was not found here; the Pm25LV080B/016B datasheet (advanced
    // information, the 8 and 16 Mbit members) gives page program 2 ms typical
    // and 40 ms typical for a sector, block or chip erase, and those are
    // taken. The maximums (page 5 ms, any erase 100 ms) were not found in a
    // datasheet here: the family's usual figures. The chip erase is the same
    // for every size, as the sheet gives it.
    {.maker = kMakerPmc,
     .name = "PMC serial flash",
     .ids = IdAnswers::Pmc,
     .jedecMaker = 0x9D,
     .pageProgram = 2000us,
     .erases = {{{0xD7, 4096, 40ms, 100ms}, {0x20, 4096, 40ms, 100ms}, {0xD8, 32768, 40ms, 100ms}}},
     .chipErase = {40ms, 0},
     .chipEraseMax = {100ms, 0}},
    // SST25VF512 datasheet (DS25076A, 10/11): byte (or AAI) program 14 us
    // typical; 4 KB sector and 32 KB block erase 18 ms typical; chip erase
    // 70 ms typical. The maximums (program 20 us, sector and block 25 ms,
    // chip 100 ms) were not found in a datasheet here: the family's usual
    // figures. The older small parts know only 0x90/0xAB and program in AAI
    // byte mode.
    {.maker = kMakerSst,
     .name = "SST serial flash",
     .ids = IdAnswers::SstOlder,
     .byteProgram = 14us,
     .byteProgramMax = 20us,
     .pageSize = 1,
     .aai = AaiMode::Byte,
     .hasEnableWriteStatus = true,
     .erases = {{{0x20, 4096, 18ms, 25ms}, {0x52, 32768, 18ms, 25ms}}},
     .chipErase = {70ms, 0},
     .chipEraseMax = {100ms, 0}},
    // SST25VF040B datasheet (DS20005051D): byte program 7 us, sector and
    // block erase 18 ms, chip erase 35 ms typical. The maximums (program
    // 20 us, sector and block 25 ms, chip 50 ms) were not found in a
    // datasheet here: the family's usual figures. These parts answer 0x9F
    // and program in AAI word mode.
    {.maker = kMakerSst,
     .aboveKB = 128,
     .name = "SST serial flash",
     .ids = IdAnswers::SstJedec,
     .byteProgram = 7us,
     .byteProgramMax = 20us,
     .pageSize = 1,
     .aai = AaiMode::Word,
     .hasEnableWriteStatus = true,
     .erases = {{{0x20, 4096, 18ms, 25ms}, {0x52, 32768, 18ms, 25ms}, {0xD8, 65536, 18ms, 25ms}}},
     .chipErase = {35ms, 0},
     .chipEraseMax = {50ms, 0}},
    // M25P05-A datasheet (Rev 11, April 2008): page program 1.4 ms typical;
    // sector erase 0.65 s typical; bulk erase of the 512 Kbit chip: 0.85 s
    // typical. The maximums (page 5 ms, sector 3 s, bulk 10 s at 4 Mbit)
    // were not found in a datasheet here: the family's usual figures. The
    // parts up to 128 KB have 32 KB sectors, the larger ones 64 KB.
    {.maker = kMakerSt,
     .name = "ST serial flash",
     .ids = IdAnswers::St,
     .jedecMaker = 0x20,
     .jedecType = 0x20,
     .erases = {{{0xD8, 32768, 650ms, 3000ms}}},
     .chipEraseOpcodes = {0xC7},
     .chipErase = {850ms, 64},
     .chipEraseMax = {10000ms, kFourMbitKB}},
    {.maker = kMakerSt,
     .aboveKB = 128,
     .name = "ST serial flash",
     .ids = IdAnswers::St,
     .jedecMaker = 0x20,
     .jedecType = 0x20,
     .erases = {{{0xD8, 65536, 650ms, 3000ms}}},
     .chipEraseOpcodes = {0xC7},
     .chipErase = {850ms, 64},
     .chipEraseMax = {10000ms, kFourMbitKB}},
    // AT25DF041A datasheet (3668F-DFLASH-11/2013): page program 1.2 ms
    // typical; 4 KB block erase 50 ms, 32 KB 250 ms, 64 KB 400 ms typical.
    // The maximums (page 5 ms, 4 KB 200 ms, 32 KB 600 ms, 64 KB 950 ms) and
    // the chip erase (4 / 7 s at 4 Mbit) were not found in a datasheet here:
    // the family's usual figures.
    {.maker = kMakerAtmel,
     .name = "ATMEL serial flash",
     .ids = IdAnswers::Atmel,
     .pageProgram = 1200us,
     .erases = {{{0x20, 4096, 50ms, 200ms},
                 {0x52, 32768, 250ms, 600ms},
                 {0xD8, 65536, 400ms, 950ms}}},
     .chipEraseOpcodes = {0xC7, 0x60, 0x62},
     .chipErase = {4000ms, kFourMbitKB},
     .chipEraseMax = {7000ms, kFourMbitKB}},
    // MXIC 25L family, 512 Kbit to 4 Mbit: not found in a datasheet here;
    // the family's usual figures: page program 1.4 ms typical, 5 ms maximum;
    // 4 KB sector 60 / 120 ms; 64 KB block 0.7 / 2 s; chip erase of the
    // 4 Mbit chip: 3.5 / 7.5 s. (The 8 Mbit KH25L8005 datasheet, PM1307 rev.
    // 1.1, Dec. 2007, gives the same page and 4 KB sector figures, and 1 / 2 s
    // for its 64 KB block.)
    {.maker = kMakerMxic,
     .name = "MXIC serial flash",
     .ids = IdAnswers::SizeCoded,
     .jedecMaker = 0xC2,
     .jedecType = 0x20,
     .erases = {{{0x20, 4096, 60ms, 120ms}, {0xD8, 65536, 700ms, 2000ms}}},
     .chipErase = {3500ms, kFourMbitKB},
     .chipEraseMax = {7500ms, kFourMbitKB}},
    // WINBOND 25X family: not found in a datasheet here (the W25X10/20/40/80
    // features list says only "page program up to 256 bytes <2ms"); the
    // family's usual figures: page program 1.5 ms typical, 5 ms maximum; 4 KB
    // sector 100 / 250 ms; 64 KB block 0.8 / 2 s; chip erase of the 4 Mbit
    // chip: 4 / 10 s.
    {.maker = kMakerWinbond,
     .name = "WINBOND serial flash",
     .ids = IdAnswers::SizeCoded,
     .jedecMaker = 0xEF,
     .jedecType = 0x30,
     .pageProgram = 1500us,
     .erases = {{{0x20, 4096, 100ms, 250ms}, {0xD8, 65536, 800ms, 2000ms}}},
     .chipErase = {4000ms, kFourMbitKB},
     .chipEraseMax = {10000ms, kFourMbitKB}},
    // A25L020/A25L010/A25L512 datasheet (version 2.0, May 2012): page program
    // 2 ms typical; 4 KB sector erase 0.2 s typical; 64 KB block 0.5 s
    // typical. The maximums and the chip erase were not found in a datasheet
    // here: page 5 ms, 64 KB block 2 s and chip erase 3.2 / 8 s at 4 Mbit are
    // the family's usual figures, and the 4 KB sector's usual 200 ms maximum
    // is no longer than the typical time above.
    {.maker = kMakerAmic,
     .name = "AMIC serial flash",
     .ids = IdAnswers::SizeCoded,
     .jedecMaker = 0x37,
     .jedecType = 0x30,
     .pageProgram = 2000us,
     .erases = {{{0x20, 4096, 200ms, 200ms}, {0xD8, 65536, 500ms, 2000ms}}},
     .chipErase = {3200ms, kFourMbitKB},
     .chipEraseMax = {8000ms, kFourMbitKB}},
    // EN25F20 datasheet (Rev. B, 2007/05/15): page program 1.5 ms typical;
    // 4 KB sector erase 150 ms typical; 64 KB block 800 ms typical; chip
    // erase of the 2 Mbit chip: 3 s typical. The maximums (page 5 ms, 4 KB
    // 300 ms, 64 KB 2 s, chip 8 s at 4 Mbit) and the 32 KB erase (400 /
    // 1000 ms) were not found in a datasheet here: the family's usual figures.
    {.maker = kMakerEon,
     .name = "EON serial flash",
     .ids = IdAnswers::SizeCoded,
     .jedecMaker = 0x1C,
     .jedecType = 0x31,
     .pageProgram = 1500us,
     .erases = {{{0x20, 4096, 150ms, 300ms},
                 {0x52, 32768, 400ms, 1000ms},
                 {0xD8, 65536, 800ms, 2000ms}}},
     .chipErase = {3000ms, 256},
     .chipEraseMax = {8000ms, kFourMbitKB}},
    // F25L004A datasheet (rev. 1.1, Oct. 2007): 4 KB sector erase 60 ms
    // typical; 64 KB block 1 s typical; chip erase of the 4 Mbit chip: 4 s
    // typical. F25L01PA datasheet (rev. 1.3, Apr. 2013): 256-byte page
    // program 1.5 ms typical. The maximums (page 3 ms, 4 KB 300 ms, 64 KB
    // 2 s, chip 10 s) and the 32 KB erase (500 / 1200 ms) were not found in a
    // datasheet here: the family's usual figures.
    {.maker = kMakerEsmt,
     .name = "ESMT serial flash",
     .ids = IdAnswers::SizeCoded,
     .jedecMaker = 0x8C,
     .jedecType = 0x30,
     .pageProgram = 1500us,
     .pageProgramMax = 3ms,
     .erases = {{{0x20, 4096, 60ms, 300ms},
                 {0x52, 32768, 500ms, 1200ms},
                 {0xD8, 65536, 1000ms, 2000ms}}},
     .chipErase = {4000ms, kFourMbitKB},
     .chipEraseMax = {10000ms, kFourMbitKB}},
    // LE25FW406 preliminary datasheet (revision 2.3, Sep. 28, 2004; 4 Mbit):
    // page program 1.5 ms typical, 2.5 ms maximum for 256 bytes; 64 KB sector
    // erase 25 ms typical, 0.5 s maximum; chip erase 250 ms typical, 5 s
    // maximum. (LE25FW403A, EN*A1229A: the same 1.5 ms typical page.) The
    // small 4 KB sector (100 / 250 ms) was not found in a datasheet here: the
    // family's usual figure.
    {.maker = kMakerSanyo,
     .name = "SANYO serial flash",
     .ids = IdAnswers::Sanyo,
     .jedecMaker = 0x62,
     .jedecType = 0x16,
     .pageProgram = 1500us,
     .pageProgramMax = 2500us,
     .erases = {{{0xD7, 4096, 100ms, 250ms}, {0xD8, 65536, 25ms, 500ms}}},
     .chipErase = {250ms, kFourMbitKB},
     .chipEraseMax = {5000ms, kFourMbitKB}},
};

uint8_t SizeStep(uint32_t sizeKB) {
  // 64 KB -> 0, 128 KB -> 1, ...
  if (sizeKB <= 64) return 0;
  return static_cast<uint8_t>(std::bit_width(sizeKB / 64) - 1);
}

Duration ChipEraseFor(Duration at4Mbit, uint32_t size) {
  const double ratio = static_cast<double>(size) / (512.0 * 1024.0);
  return std::chrono::duration_cast<Duration>(at4Mbit * std::pow(ratio, 0.8));
}

// A figure given for a chip of `sizeKB`, as the 4 Mbit member of the family
// would take it (the inverse of ChipEraseFor).
Duration At4Mbit(Duration figure, uint32_t sizeKB) {
  const double ratio = static_cast<double>(sizeKB) / 512.0;
  return std::chrono::duration_cast<Duration>(figure / std::pow(ratio, 0.8));
}

Duration ChipEraseOf(const ChipEraseFigure& figure, uint32_t size) {
  if (figure.ofSizeKB == 0) return figure.time;
  if (figure.ofSizeKB == kFourMbitKB) return ChipEraseFor(figure.time, size);
  return ChipEraseFor(At4Mbit(figure.time, figure.ofSizeKB), size);
}

// The maker's row for a part of this size; the generic part for a maker
// code without one.
const MakerPartRow& RowFor(uint8_t makerCode, uint32_t sizeKB) {
  const MakerPartRow* found = &kMakerParts[0];
  for (const MakerPartRow& row : kMakerParts)
    if (row.maker == makerCode && sizeKB > row.aboveKB) found = &row;
  return *found;
}

// The SST device byte of a part that answers 0x9F.
uint8_t SstJedecDevice(uint32_t sizeKB, uint8_t n) {
  if (sizeKB == 2048) return 0x41;
  if (sizeKB == 4096) return 0x4A;
  return static_cast<uint8_t>(0x8C + (n - 2));
}

void PutIdAnswers(FlashPartSpec& part, const MakerPartRow& row, uint32_t sizeKB) {
  const uint8_t n = SizeStep(sizeKB);
  const auto capacity = static_cast<uint8_t>(0x10 + n);
  const uint8_t maker = row.jedecMaker;
  switch (row.ids) {
    case IdAnswers::None:
      break;
    case IdAnswers::SizeCoded: {
      const auto device = static_cast<uint8_t>(0x05 + n);
      part.jedecId = {maker, row.jedecType, capacity};
      part.manufacturerDeviceId = {maker, device};
      part.electronicSignature = {device};
      break;
    }
    case IdAnswers::Pmc: {
      const auto device = static_cast<uint8_t>(0x7B + n);
      part.jedecId = {0x7F, maker, static_cast<uint8_t>(0x20 + n)};
      part.manufacturerDeviceId = {maker, device};
      part.electronicSignature = {maker, device};
      break;
    }
    case IdAnswers::SstOlder: {
      const auto device = static_cast<uint8_t>(0x48 + n);
      part.manufacturerDeviceId = {0xBF, device};
      part.electronicSignature = {0xBF, device};
      break;
    }
    case IdAnswers::SstJedec: {
      const uint8_t device = SstJedecDevice(sizeKB, n);
      part.jedecId = {0xBF, 0x25, device};
      part.manufacturerDeviceId = {0xBF, device};
      part.electronicSignature = {0xBF, device};
      break;
    }
    case IdAnswers::St:
      part.jedecId = {maker, row.jedecType, capacity};
      part.electronicSignature = {static_cast<uint8_t>(n == 0 ? 0x05 : 0x0F + n)};
      break;
    case IdAnswers::Atmel: {
      const auto device = static_cast<uint8_t>(0x65 + n);
      part.jedecId = {0x1F, device, 0x01};
      part.id15 = {0x1F, static_cast<uint8_t>(n == 0 ? 0x65 : 0x60)};
      break;
    }
    case IdAnswers::Sanyo:
      part.jedecId = {maker, row.jedecType, capacity};
      part.electronicSignature = {static_cast<uint8_t>(0x42 + n)};
      break;
  }
}

}  // namespace

FlashPartSpec FlashPartFor(uint8_t makerCode, uint32_t sizeKB) {
  if (sizeKB < 64) sizeKB = 64;
  const MakerPartRow& row = RowFor(makerCode, sizeKB);
  FlashPartSpec part;
  part.name = std::string(row.name);
  part.makerCode = row.maker;
  part.size = sizeKB * 1024;
  part.pageProgramTime = row.pageProgram;
  part.pageProgramMaxTime = row.pageProgramMax;
  part.byteProgramTime = row.byteProgram;
  part.byteProgramMaxTime = row.byteProgramMax;
  part.pageSize = row.pageSize;
  part.aai = row.aai;
  part.hasEnableWriteStatus = row.hasEnableWriteStatus;
  for (const EraseInstruction& erase : row.erases)
    if (erase.unit != 0) part.eraseInstructions.push_back(erase);
  part.chipEraseOpcodes.clear();
  for (uint8_t opcode : row.chipEraseOpcodes)
    if (opcode != 0) part.chipEraseOpcodes.push_back(opcode);
  part.chipEraseTime = ChipEraseOf(row.chipErase, part.size);
  part.chipEraseMaxTime = ChipEraseOf(row.chipEraseMax, part.size);
  PutIdAnswers(part, row, sizeKB);
  return part;
}

}  // namespace fwtool::sim
