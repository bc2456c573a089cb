// SPDX-License-Identifier: GPL-2.0-or-later
// What the steps of the serial flash procedure share: the flash layout of a
// chip type, the size a backup or erase covers, the unit's settings area
// kept across an erase or programming, and the restart afterwards.
#include <algorithm>

#include "block_transfer.h"
#include "chip_rows.h"
#include "flash_commands.h"
#include "operator.h"
#include "procedure_texts.h"
#include "serial_flash_steps.h"
#include "settings_read.h"
#include "transport.h"

namespace fwtool {

namespace {

// On dual-bank units the settings follow the firmware of the first bank.
constexpr uint32_t kBankNvramAddress = 0xC000;
constexpr int32_t kSingleBankKB = 64;
constexpr int kNoErase = 0;

}  // namespace

SerialFlashLayout SerialFlashLayoutOf(const ChipRow& row) {
  switch (row.signature) {
    case SignatureKind::Bank:
      return {kBankNvramAddress, true};
    case SignatureKind::AtZero:
    case SignatureKind::ZeroOrAfterHeader:
    case SignatureKind::Block80:
    case SignatureKind::Upper:
      return {0, false};
  }
  return {0, false};
}

int32_t SerialFlashSize(const ProcedureRequest& request, const FlashSettings& settings) {
  const bool bothBanks =
      SerialFlashLayoutOf(request.chip.Row()).banked && request.chip.flashSizeKB > kSingleBankKB;
  return bothBanks ? kDualBankFlashSize : settings.SelectedFlashSize;
}

int SaveNvram(const ProcedureRequest& request, ProcedureHost& host, uint8_t* saved) {
  std::fill_n(saved, kNvramSize, 0);
  const uint32_t at = SerialFlashLayoutOf(request.chip.Row()).nvramAddress;
  const auto read = [&](uint8_t* data) {
    return ReadFlashRange(host, request.path, at, data, kNvramSize);
  };
  if (!ReadSettingsTwice(saved, kNvramSize, read)) {
    host.SetStatusText(texts::kBackupNvramFail);
    return 0;
  }
  return 1;
}

int WriteNvramBack(const ProcedureRequest& request, ProcedureHost& host, const uint8_t* saved) {
  const uint32_t at = SerialFlashLayoutOf(request.chip.Row()).nvramAddress;
  AlignedBuffer check(kNvramSize);
  if (!check) return 0;
  WaitDeviceReady(request.path);
  if (!WriteFlashRange(host, request.path, at, saved, kNvramSize, kNoErase)) return 0;
  // The settings exist nowhere else once the procedure returns: only a read
  // that shows them in the flash counts.
  WaitDeviceReady(request.path);
  if (!ReadFlashRange(host, request.path, at, check.data(), kNvramSize)) return 0;
  return std::equal(saved, saved + kNvramSize, check.data()) ? 1 : 0;
}

void AskForRestart(const ProcedureRequest& request, ProcedureHost& host) {
  // A unit that did not take the reset command stays attached and needs the
  // operator's power cycle like the others.
  if (request.chip.Row().resetsAfterFlashUpdate && ResetDevice(request.path)) {
    host.MessageBox(texts::kVqs175ResetBox, kCaptionMessage);
    return;
  }
  host.MessageBox(texts::kPowerCycleBox, kCaptionMessage);
}

}  // namespace fwtool
