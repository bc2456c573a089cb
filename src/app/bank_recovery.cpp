// SPDX-License-Identifier: GPL-2.0-or-later
// RecoverBankImage: the controller of chip type 12 boots from whichever of
// its two 64 KB flash banks holds a valid image. When only one does (an
// update cut short), the valid bank is copied over the other, after the
// unit's whole flash has been saved to a file.
#include <algorithm>
#include <span>

#include "Fwupdate.h"
#include "chip_rows.h"
#include "firmware.h"
#include "form_texts.h"
#include "operation_record.h"
#include "procedures.h"
#include "serial_flash_commands.h"
#include "transport.h"

namespace fwtool {

namespace {

constexpr int32_t kDualBankFlashKB = 128;
constexpr uint32_t kBank = static_cast<uint32_t>(kBankSize);
// The flash commands address 24 bits.
constexpr uint32_t kAddressableFlash = 1u << 24;
// Write modes of the two attempts: large-unit erase, then small-unit erase.
constexpr int kRepairModes[] = {2, 1};

}  // namespace

std::optional<std::array<bool, 2>> TV77xFwTool::ReadBankStates(const std::string& path,
                                                               uint8_t chipType) {
  BusyScope busy(*this);
  AlignedBuffer bank(kBank);
  if (!bank) return std::nullopt;
  std::array<bool, 2> valid{};
  for (uint32_t i = 0; i < valid.size(); ++i) {
    const int read = ReadFlashRange(host_, path, i * kBank, bank.data(), kBank);
    ClearStatus();
    if (!read) return std::nullopt;
    valid[i] = BankImageIsValid(std::span<const uint8_t>(bank.data(), kBank), chipType);
  }
  return valid;
}

bool TV77xFwTool::RecoverBankImage(const std::string& path, uint8_t chipType) {
  DeviceRecord* record = nullptr;
  for (int i = 0; i < listedCount_ && i < kMaxDevices; ++i)
    if (Devices[static_cast<size_t>(i)].Path == path) record = &Devices[static_cast<size_t>(i)];
  // Only a listed unit is repaired, and only once between two refreshes.
  if (FlashSizeKB < kDualBankFlashKB || record == nullptr || record->RecoveryDone != 0 ||
      ChipRowFor(chipType).signature != SignatureKind::Bank)
    return true;

  // While the banks are read and written, "Run" and "YES" are held disabled
  // (each returns to its own state afterwards), a refresh waits and the
  // window does not close.
  BusyScope busy(*this);
  const uint32_t flashSize =
      std::min(static_cast<uint32_t>(FlashSizeKB) * 1024u, kAddressableFlash);
  AlignedBuffer flash(flashSize);
  AlignedBuffer work(kBank);
  if (!flash || !work) return false;

  const int readBank0 = ReadFlashRange(host_, path, 0, flash.data(), kBank);
  ClearStatus();
  if (!readBank0) return false;
  const bool bank0Valid = BankImageIsValid(std::span<const uint8_t>(flash.data(), kBank), chipType);
  const int readBank1 = ReadFlashRange(host_, path, kBank, flash.data() + kBank, kBank);
  ClearStatus();
  if (!readBank1) return false;
  const bool bank1Valid =
      BankImageIsValid(std::span<const uint8_t>(flash.data() + kBank, kBank), chipType);
  record->RecoveryDone = 1;
  // Two good banks need nothing; two bad ones give nothing to copy.
  if (bank0Valid == bank1Valid) return false;
  const uint8_t* good = bank0Valid ? flash.data() : flash.data() + kBank;
  const uint32_t target = bank0Valid ? kBank : 0;

  // The unit's flash goes to a file before anything is written: a repair
  // that goes wrong must leave a way back.
  const std::string backupPath = backupTarget_.empty() ? DefaultBackupPath(path) : backupTarget_;
  const uint32_t rest = flashSize - 2 * kBank;
  const bool complete =
      rest == 0 || ReadFlashRange(host_, path, 2 * kBank, flash.data() + 2 * kBank,
                                  static_cast<int32_t>(rest)) != 0;
  if (!complete || !SaveBackupFile(backupPath, flash.data(), flashSize)) {
    lastBackupPath_.clear();
    SetNotice(texts::kBackupMissingNotice);
    SetStatus(texts::kRepairBackupFail);
    return false;
  }
  lastBackupPath_ = backupPath;
  OperationRecord history(*this, path, texts::kBankRepairProcedure);
  SetNotice(texts::kRepairBackupSavedNotice + backupPath);
  const std::string saved = texts::kRepairBackupSaved + backupPath + texts::kRepairBackupSavedEnd;
  SetStatus(saved);

  // The controller write-protects an MXIC part at boot and lifts it only
  // for a write that starts the flash; the second bank's write never does.
  // Lifting it over the serial pass-through leaves the good bank untouched.
  if (FlashMaker == FlashMaker::Mxic) SpiUnprotect(path);
  bool repaired = false;
  for (const int mode : kRepairModes) {
    // Each attempt erases the bank again from its first unit.
    Settings.LargeEraseCount = static_cast<int32_t>(target) / Settings.LargeEraseUnit;
    Settings.SmallEraseCount = static_cast<int32_t>(target) / Settings.SmallEraseUnit;
    std::fill(work.begin(), work.end(), 0);
    const int written = WriteFlashRange(host_, path, target, good, kBank, mode);
    const int readBack = ReadFlashRange(host_, path, target, work.data(), kBank);
    ClearStatus();
    // Bytes that could not be read prove nothing.
    if (written && readBack && std::equal(work.begin(), work.end(), good)) {
      repaired = true;
      break;
    }
  }
  SetStatus(saved + (repaired ? texts::kRecoverySuccessful : texts::kRecoveryFail));
  history.Finish(repaired ? 1 : 0, backupPath);
  return repaired;
}

}  // namespace fwtool
