// SPDX-License-Identifier: GPL-2.0-or-later
// Which flash part the selected controller drives: found by the host's own
// probe, by the code the controller reports, by the AMIC and Atmel kind
// reads, or over ATA PASS-THROUGH; and what the controller is told about it.
#include <array>

#include "Fwupdate.h"
#include "ata_commands.h"
#include "chip_rows.h"
#include "chip_tables.h"
#include "serial_flash_commands.h"

namespace fwtool {

namespace {

constexpr uint8_t kJedecIdOpcode = 0x9F;
constexpr uint8_t kJedecIdLength = 4;
constexpr uint32_t kMxicPageSize = 32;
constexpr uint32_t kSetupEchoLength = 2;

// The opcodes the controller is told for an MXIC part with 32-byte pages.
constexpr uint8_t kMxicChipErase = 0xC7;
constexpr uint8_t kMxicBlockErase = 0xD8;
constexpr uint8_t kMxicProgram = 0x02;
constexpr uint8_t kMxicSectorErase = 0x20;

// What the part answered to its JEDEC identification instruction.
struct JedecAnswer {
  bool answered = false;
  std::array<uint8_t, kJedecIdLength> bytes{};

  // MXIC parts that program in 32-byte pages: C2 22 10, C2 22 11, C2 22 13.
  bool IsMxicSmallPage() const {
    return answered && bytes[0] == 0xC2 && bytes[1] == 0x22 &&
           (bytes[2] == 0x10 || bytes[2] == 0x11 || bytes[2] == 0x13);
  }
  // SST parts that take the alternative flash procedure: BF 25.
  bool IsSst25() const { return answered && bytes[0] == 0xBF && bytes[1] == 0x25; }
};

JedecAnswer ReadJedecId(const std::string& path) {
  JedecAnswer answer;
  answer.answered = SpiReadId(path, kJedecIdOpcode, answer.bytes.data(), kJedecIdLength) != 0;
  return answer;
}

JedecAnswer ReadJedecIdOverAta(const std::string& path) {
  JedecAnswer answer;
  answer.answered = AtaSpiReadId(path, kJedecIdOpcode, answer.bytes.data(), kJedecIdLength) != 0;
  return answer;
}

}  // namespace

void TV77xFwTool::ShowFlashMaker(int makerCode) {
  // A code the table does not know shows as "Unknown".
  SFlashTypeLable.SetText(std::string(FlashMakerName(makerCode)));
}

void TV77xFwTool::TakeEraseUnits(int makerCode) {
  const EraseUnits units = EraseUnitsForMaker(makerCode);
  Settings.LargeEraseUnit = units.large;
  Settings.SmallEraseUnit = units.small;
}

void TV77xFwTool::SetUpMxicOrSst(const std::string& path, const ChipRow& row,
                                 FlashProfile& profile) {
  if (FlashMaker == FlashMaker::Mxic && row.mxicSetup != MxicPageSetup::None) {
    const JedecAnswer answer = ReadJedecId(path);
    if (answer.answered) {
      profile.chipEraseOpcode = kMxicChipErase;
      profile.blockEraseOpcode = kMxicBlockErase;
      profile.programOpcode = kMxicProgram;
      profile.sectorEraseOpcode = kMxicSectorErase;
    }
    if (!answer.IsMxicSmallPage()) return;
    switch (row.mxicSetup) {
      case MxicPageSetup::None:
        break;
      case MxicPageSetup::PageSize:
        SetFlashPageSize(path, kMxicPageSize, row.setupEcho ? kSetupEchoLength : 0);
        break;
      case MxicPageSetup::Params:
        SetFlashParams(path, profile, kMxicPageSize);
        break;
      case MxicPageSetup::ParamsWide:
        SetFlashParamsWide(path, profile, kMxicPageSize);
        break;
    }
  } else if (FlashMaker == FlashMaker::Sst) {
    if (ReadJedecId(path).IsSst25()) AltFlashProc = 1;
  }
}

void TV77xFwTool::DetectByHostProbe(const std::string& path, const ChipRow& row) {
  FlashProfile profile = FlashProfile::Zeroed();
  if (DetectSpiFlash(path, profile) && profile.makerCode != FlashMaker::Unknown) {
    DetectSpiFlashSize(path, profile);
    FlashSizeKB = profile.sizeKB;
    if (row.setupEcho) {
      SetFlashOpcodesEcho(path, profile);
    } else {
      SetFlashOpcodes(path, profile);
    }
  }
  FlashMaker = profile.makerCode;
  ShowFlashMaker(FlashMaker);
  SetUpMxicOrSst(path, row, profile);
}

void TV77xFwTool::DetectByControllerCode(const std::string& path, const ChipRow& row) {
  SFlashTypeLable.Show();
  VQS175HDDFwChk.Show();
  std::array<uint8_t, 4> code{};
  if (GetFlashMakerCode(path, code.data())) {
    FlashMaker = code[0];
    ShowFlashMaker(FlashMaker);
    TakeEraseUnits(FlashMaker);
  }
  if (!row.hostProbeFrom || ChipSubRev < *row.hostProbeFrom) return;

  // The controller found no part: the host asks the part itself.
  FlashProfile profile = FlashProfile::Zeroed();
  if (FlashMaker == FlashMaker::Unknown && DetectSpiFlash(path, profile)) {
    FlashMaker = profile.makerCode;
    ShowFlashMaker(FlashMaker);
    TakeEraseUnits(FlashMaker);
  }
  if (row.signature == SignatureKind::Bank) {
    // A flash of two 64 KB banks: its size tells whether there is a second
    // bank to repair from.
    profile.makerCode = static_cast<uint8_t>(FlashMaker);
    DetectSpiFlashSize(path, profile);
    FlashSizeKB = profile.sizeKB;
    if (bankRepair_) RecoverBankImage(path, ChipType);
  }
  SetUpMxicOrSst(path, row, profile);
}

void TV77xFwTool::DetectByKindReads(const std::string& path) {
  AmicFlashKind = ReadAmicFlashKind(path);
  AtmelFlashKind = ReadAtmelFlashKind(path);
  if (AmicFlashKind != -1) {
    ShowFlashMaker(MakerCode(FlashMaker::Amic));
    return;
  }
  if (AtmelFlashKind != -1) {
    ShowFlashMaker(MakerCode(FlashMaker::Atmel));
    return;
  }
  // A controller that names no maker, or does not answer at all, leaves the
  // code 0: the host then asks the part itself.
  std::array<uint8_t, 4> code{};
  if (GetFlashMakerCode(path, code.data()) && code[0] != FlashMaker::Unknown) {
    FlashMaker = code[0];
    ShowFlashMaker(FlashMaker);
    return;
  }
  FlashProfile profile = FlashProfile::Zeroed();
  if (DetectSpiFlash(path, profile)) {
    FlashMaker = profile.makerCode;
    ShowFlashMaker(FlashMaker);
  }
}

void TV77xFwTool::DetectOverAta(const std::string& path) {
  FlashProfile profile = FlashProfile::Zeroed();
  if (AtaDetectSpiFlash(path, profile) && profile.makerCode != FlashMaker::Unknown) {
    AtaDetectSpiFlashSize(path, profile);
    FlashSizeKB = profile.sizeKB;
    AtaSetFlashOpcodes(path, profile);
  }
  FlashMaker = profile.makerCode;
  ShowFlashMaker(FlashMaker);
  if (FlashMaker == FlashMaker::Mxic && ReadJedecIdOverAta(path).IsMxicSmallPage())
    AtaSetFlashPageSize(path, kMxicPageSize);
}

}  // namespace fwtool
