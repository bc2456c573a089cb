// SPDX-License-Identifier: GPL-2.0-or-later
// The running firmware as the controller reports it: the version text of
// its chip information, and whether it runs from the flash at all.
#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include "ata_commands.h"
#include "chip_info.h"
#include "chip_rows.h"
#include "chip_tables.h"
#include "firmware.h"
#include "flash_commands.h"
#include "identify.h"

namespace fwtool {

namespace {

constexpr uint16_t kRegister506A = 0x506A;
// The status word (its place is in the chip's row).
constexpr uint32_t kStatusWordLength = 4;

// Where the running firmware's signature block can be read back.
constexpr uint16_t kRunningBlockInMemory = 0xC000;
constexpr uint32_t kImageBlockInFlash = 0x1000;
constexpr uint32_t kUpperBlockInFlash = 0x4000;
constexpr uint32_t kBankTailInFlash = 0xBC00;  // the last 1 KB before 0xC000 of bank 0
constexpr uint32_t kFlashProbeLength = 1024;
constexpr uint8_t kControllerInfoLength = 20;
constexpr size_t kControllerInfoRunsFromFlash = 19;

int Unsigned(std::span<const uint8_t> reply, size_t at) {
  return at < reply.size() ? reply[at] : 0;
}

int Signed(std::span<const uint8_t> reply, size_t at) {
  return static_cast<int8_t>(Unsigned(reply, at));
}

template <typename... Numbers>
std::string Print(const char* format, Numbers... numbers) {
  std::array<char, 64> text{};
  std::snprintf(text.data(), text.size(), format, numbers...);
  return text.data();
}

bool NamesChip(const SignatureBlock& block, std::span<const uint8_t> magic,
               const RunningFirmwareRecord& running) {
  if (!block.StartsWith(magic)) return false;
  const std::string id = block.ChipId();
  return std::any_of(running.imageIds.begin(), running.imageIds.end(),
                     [&](std::string_view chipId) {
                       return !chipId.empty() && id.compare(0, chipId.size(), chipId) == 0;
                     });
}

bool StatusBitSet(std::string_view path, const RunningFirmwareRecord& running) {
  std::array<uint8_t, kStatusWordLength> word{};
  // A word that cannot be read counts as a clear bit.
  if (!ReadMemory(path, word.data(), running.statusWord, kStatusWordLength)) return false;
  return (word[running.statusByte] & running.statusBit) != 0;
}

bool ReadBlockNamesChip(int ok, const std::vector<uint8_t>& data, std::span<const uint8_t> magic,
                        const RunningFirmwareRecord& running, size_t at = 0) {
  return ok && NamesChip(SignatureBlock::At(data, at), magic, running);
}

bool ImageTestPasses(std::string_view path, const RunningFirmwareRecord& running, int flashMaker) {
  std::vector<uint8_t> data(kFlashProbeLength, 0);
  switch (running.image) {
    case RunningImageTest::NotTold:
      return true;
    case RunningImageTest::MemoryBlock:
      return ReadBlockNamesChip(
          ReadMemory(path, data.data(), kRunningBlockInMemory, kSignatureBlockSize), data,
          kSignatureMagic, running);
    case RunningImageTest::FlashBlock:
      return ReadBlockNamesChip(ReadFlash(path, kImageBlockInFlash, data.data(), kFlashProbeLength),
                                data, kSignatureMagic, running);
    case RunningImageTest::UpperBlock:
      return ReadBlockNamesChip(
          ReadFlashAt(path, kUpperBlockInFlash, data.data(), kFlashProbeLength), data,
          kFlashSignatureMagicVq, running);
    case RunningImageTest::Bank: {
      // Without a flash part there is nothing the controller could have
      // booted but the firmware it holds.
      if (flashMaker == FlashMaker::Unknown) return true;
      std::array<uint8_t, kControllerInfoLength> info{};
      if (ReadControllerInfo(path, info.data(), kControllerInfoLength) != 0)
        return info[kControllerInfoRunsFromFlash] != 0;
      return ReadBlockNamesChip(ReadFlash(path, kBankTailInFlash, data.data(), kFlashProbeLength),
                                data, kSignatureMagic, running,
                                kBankSignatureOffset - kBankTailInFlash);
    }
  }
  return false;
}

}  // namespace

EraseUnits EraseUnitsForMaker(int makerCode) {
  const size_t index =
      makerCode >= 0 && makerCode < kFlashMakerCount ? static_cast<size_t>(makerCode) : 0;
  return {LargeEraseUnitByMaker[index], SmallEraseUnitByMaker[index]};
}

std::string FormatFirmwareVersion(VersionFormat format, std::span<const uint8_t> reply,
                                  uint32_t replyLength) {
  auto b = [&](size_t at) { return Unsigned(reply, at); };
  switch (format) {
    case VersionFormat::Default:
      if (replyLength > kShortVersionReply) return Print("%d.%.2d.%.2d", b(12), b(13), b(14));
      return Print("%d.%.2d", b(6), b(7));
    case VersionFormat::FiveNumbers:
      return Print("%d.%.2d.%.2d.%.2d.%.2d", b(6), b(7), b(12), b(13), b(14));
    case VersionFormat::Register506A:
      return Print("%d.%.2d.%.2d.%.2d.%.2d", b(6), b(7), b(12), b(13), Signed(reply, 14));
    case VersionFormat::TenToFourteen:
    case VersionFormat::AtaInfo:
      return Print("%.2d.%.2d.%.2d.%.2d.%.2d", b(10), b(11), b(12), b(13), b(14));
    case VersionFormat::TwelveToFifteen:
      return Print("%.2d.%.2d.%.2d.%.2d", b(12), b(13), b(14), b(15));
  }
  return {};
}

FirmwareVersionReading ReadFirmwareVersion(std::string_view path, const ChipRow& row) {
  FirmwareVersionReading reading;
  std::array<uint8_t, kVersionReplyLength> reply{};
  uint32_t length = 0;
  if (!GetChipInfo(path, reply.data(), kVersionReplyLength, &length)) {
    reading.text = std::string(row.fallbackVersion);
    return reading;
  }
  if (reply[0] != kChipInfoSignature0 || reply[1] != kChipInfoSignature1) {
    reading.outcome = FirmwareVersionReading::Outcome::NotOurChip;
    return reading;
  }
  reading.outcome = FirmwareVersionReading::Outcome::Read;
  switch (row.version) {
    case VersionFormat::Default:
    case VersionFormat::FiveNumbers:
    case VersionFormat::TenToFourteen:
    case VersionFormat::TwelveToFifteen:
      break;
    case VersionFormat::Register506A:
      if (ProbeRegister506A(path)) reply[14] ^= 0x01;
      break;
    case VersionFormat::AtaInfo: {
      std::array<uint8_t, kVersionReplyLength> ata{};
      if (AtaGetChipInfo(path, ata.data(), kVersionReplyLength) && ata[0] == kChipInfoSignature0 &&
          ata[1] == kChipInfoSignature1) {
        reading.text = FormatFirmwareVersion(row.version, ata, kVersionReplyLength);
        return reading;
      }
      // The chip information the controller did give still tells the version.
      reading.text = FormatFirmwareVersion(VersionFormat::Default, reply, length);
      return reading;
    }
  }
  reading.text = FormatFirmwareVersion(row.version, reply, length);
  return reading;
}

bool FirmwareUpdatable(std::string_view path, int chipType, const std::string& version,
                       int flashMaker) {
  const RunningFirmwareRecord& running = ChipRowFor(chipType).running;
  if (running.image == RunningImageTest::NotTold) return true;
  if (!StatusBitSet(path, running)) return false;
  if (std::any_of(
          running.internalVersions.begin(), running.internalVersions.end(),
          [&](std::string_view internal) { return !internal.empty() && internal == version; }))
    return false;
  return ImageTestPasses(path, running, flashMaker);
}

bool ProbeRegister506A(std::string_view path) {
  uint8_t saved = 0;
  // A register that cannot be read is left alone: there is no value of its
  // own to put back.
  if (!ReadMemory(path, &saved, kRegister506A, 1)) return false;
  bool readsOne = false;
  const uint8_t zero = 0;
  if (WriteMemory(path, &zero, kRegister506A, 1)) {
    uint8_t back = 0;
    if (ReadMemory(path, &back, kRegister506A, 1) && back == 1) {
      readsOne = true;
      saved ^= 0x01;
    }
  }
  WriteMemory(path, &saved, kRegister506A, 1);
  return readsOne;
}

}  // namespace fwtool
