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

// Where the controller keeps its status word; the dual-bank chip keeps it
// elsewhere.
constexpr uint16_t kStatusWord = 0x7038;
constexpr uint16_t kBankChipStatusWord = 0x70F0;
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

// How a chip proves that it runs firmware from its flash.
enum class ImageTest : uint8_t {
  MemoryBlock,  // the running image's signature block at memory 0xC000
  FlashBlock,   // a signature block at flash 0x1000, behind the settings area
  UpperBlock,   // 55 AA "VQ" at flash 0x4000, read by address
  Bank,         // the controller's own word, else bank 0's signature block
};

struct UpdatableRow {
  uint8_t type;
  uint16_t statusWord;
  uint8_t statusByte;
  uint8_t statusBit;
  // The versions the internal code reports: a controller that reports one of
  // them does not run firmware from its flash.
  std::array<std::string_view, 5> internalVersions;
  ImageTest image;
  // Chip ids (first three characters) the signature block must carry.
  std::array<std::string_view, 2> chipIds;
};

constexpr UpdatableRow kUpdatableRows[] = {
    {4, kStatusWord, 2, 0x01, {}, ImageTest::MemoryBlock, {"775"}},
    {6, kStatusWord, 2, 0x04, {}, ImageTest::MemoryBlock, {"716"}},
    {8,
     kStatusWord,
     2,
     0x04,
     {"7.07.00.16.00", "11.19.02.16.00", "4.10.02.16.00"},
     ImageTest::FlashBlock,
     {"719", "711"}},
    {9,
     kStatusWord,
     2,
     0x04,
     {"7.07.00.16.00", "11.19.02.16.00", "4.10.02.16.00"},
     ImageTest::FlashBlock,
     {"719", "711"}},
    {11,
     kStatusWord,
     2,
     0x10,
     {"9.18.01.16.00", "12.01.02.16.00", "2.05.11.16.00", "4.08.11.16.00", "5.13.11.16.00"},
     ImageTest::FlashBlock,
     {"118"}},
    {12,
     kBankChipStatusWord,
     3,
     0x01,
     {"49.48.48.48", "49.48.48.49"},
     ImageTest::Bank,
     {kBankChipModel}},
    {14,
     kStatusWord,
     2,
     0x01,
     {"2.00.00", "0.160.144"},
     ImageTest::UpperBlock,
     {ChipModelTable[14]}},
    {16,
     kStatusWord,
     2,
     0x01,
     {"2.00.00", "0.160.144"},
     ImageTest::UpperBlock,
     {ChipModelTable[16]}},
};

const UpdatableRow* UpdatableRowFor(int chipType) {
  for (const UpdatableRow& row : kUpdatableRows)
    if (row.type == chipType) return &row;
  return nullptr;
}

bool NamesChip(const SignatureBlock& block, std::span<const uint8_t> magic,
               const UpdatableRow& row) {
  if (!block.StartsWith(magic)) return false;
  const std::string id = block.ChipId();
  return std::any_of(row.chipIds.begin(), row.chipIds.end(), [&](std::string_view chipId) {
    return !chipId.empty() && id.compare(0, chipId.size(), chipId) == 0;
  });
}

bool StatusBitSet(std::string_view path, const UpdatableRow& row) {
  std::array<uint8_t, kStatusWordLength> word{};
  // A word that cannot be read counts as a clear bit.
  if (!ReadMemory(path, word.data(), row.statusWord, kStatusWordLength)) return false;
  return (word[row.statusByte] & row.statusBit) != 0;
}

bool ReadBlockNamesChip(int ok, const std::vector<uint8_t>& data, std::span<const uint8_t> magic,
                        const UpdatableRow& row, size_t at = 0) {
  return ok && NamesChip(SignatureBlock::At(data, at), magic, row);
}

bool ImageTestPasses(std::string_view path, const UpdatableRow& row, int flashMaker) {
  std::vector<uint8_t> data(kFlashProbeLength, 0);
  switch (row.image) {
    case ImageTest::MemoryBlock:
      return ReadBlockNamesChip(
          ReadMemory(path, data.data(), kRunningBlockInMemory, kSignatureBlockSize), data,
          kSignatureMagic, row);
    case ImageTest::FlashBlock:
      return ReadBlockNamesChip(ReadFlash(path, kImageBlockInFlash, data.data(), kFlashProbeLength),
                                data, kSignatureMagic, row);
    case ImageTest::UpperBlock:
      return ReadBlockNamesChip(
          ReadFlashAt(path, kUpperBlockInFlash, data.data(), kFlashProbeLength), data,
          kFlashSignatureMagicVq, row);
    case ImageTest::Bank: {
      // Without a flash part there is nothing the controller could have
      // booted but the firmware it holds.
      if (flashMaker == 0) return true;
      std::array<uint8_t, kControllerInfoLength> info{};
      if (ReadControllerInfo(path, info.data(), kControllerInfoLength) != 0)
        return info[kControllerInfoRunsFromFlash] != 0;
      return ReadBlockNamesChip(ReadFlash(path, kBankTailInFlash, data.data(), kFlashProbeLength),
                                data, kSignatureMagic, row,
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
  const UpdatableRow* row = UpdatableRowFor(chipType);
  if (row == nullptr) return true;
  if (!StatusBitSet(path, *row)) return false;
  if (std::any_of(
          row->internalVersions.begin(), row->internalVersions.end(),
          [&](std::string_view internal) { return !internal.empty() && internal == version; }))
    return false;
  return ImageTestPasses(path, *row, flashMaker);
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
