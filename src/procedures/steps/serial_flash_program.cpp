// SPDX-License-Identifier: GPL-2.0-or-later
// Programming the flash from a firmware file: the unit's settings area kept
// unless the operator includes the file's, the bank checksum of dual-bank
// units, then write, read back and compare, up to three attempts per bank.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "chip_tables.h"
#include "firmware.h"
#include "flash_programming.h"
#include "procedure_texts.h"
#include "progress.h"
#include "serial_flash_commands.h"
#include "serial_flash_steps.h"
#include "transport.h"

namespace fwtool {

namespace {

// Files are written in whole 256-byte pages, padded with zeros.
constexpr int32_t kFileUnit = 256;
constexpr int32_t kBufferUnit = 8192;
constexpr int32_t kBank = static_cast<int32_t>(kBankSize);
// A file of two whole banks brings one image per bank.
constexpr int32_t kTwoBankFile = 2 * kBank;
// The bank checksum is stored in the last two bytes of the covered firmware.
constexpr int32_t kBankFirmwareEnd = static_cast<int32_t>(kBankCrcLowAt) + 1;
constexpr int32_t kDualBankMinKB = 128;

int32_t RoundUp(int32_t value, int32_t unit) {
  return (value + unit - 1) / unit * unit;
}

// The firmware file in full; false when it cannot be opened or read, is
// empty, or brings nothing but the settings area that is to be kept.
bool ReadFirmwareFile(const ProcedureRequest& request, const SerialFlashLayout& layout,
                      bool keepNvram, std::vector<uint8_t>& file) {
  auto opened = ImageFile::Open(request.options.firmwareFile);
  if (!opened || !opened->ReadAll(file) || file.empty()) return false;
  // The file's first 4 KB give way to the unit's settings area; a file that
  // ends there would write the area alone.
  // (Image files stop at kMaxImageFileSize, well inside the int32 lengths.)
  return !(keepNvram && !layout.banked && file.size() <= static_cast<size_t>(kNvramSize));
}

// The bytes that go to the flash: the file, with the saved settings area in
// its place.
void FillImage(const std::vector<uint8_t>& file, const SerialFlashLayout& layout,
               const uint8_t* saved, uint8_t* image) {
  if (saved == nullptr) {
    std::copy(file.begin(), file.end(), image);
    return;
  }
  if (layout.banked) {
    std::copy(file.begin(), file.end(), image);
    // Every bank the file brings keeps the unit's settings.
    for (size_t bank = 0; bank < file.size(); bank += kBankSize)
      std::copy_n(saved, kNvramSize, image + bank + layout.nvramAddress);
    return;
  }
  std::copy_n(saved, kNvramSize, image);
  std::copy(file.begin() + kNvramSize, file.end(), image + kNvramSize);
}

}  // namespace

int ProgramFlashFromFile(const ProcedureRequest& request, ProcedureHost& host) {
  const ChipFacts& chip = request.chip;
  const SerialFlashLayout layout = SerialFlashLayoutOf(chip.Row());
  const bool keepNvram = !request.options.includeNvram;
  FlashSettings& settings = host.Settings();
  if (chip.Row().flashAccessSetup) FlashAccessSetup(request.path);

  // One pass per bank written, each its attempts of write and read-back.
  const int passes = layout.banked && chip.flashSizeKB >= kDualBankMinKB ? 2 : 1;
  std::vector<WeightedStep> plan = {{ProgressStep::Prepare, 1}};
  for (int pass = 0; pass < passes; ++pass) plan.push_back({ProgressStep::Program, 99 / passes});
  ProgressSteps steps(host.Progress(), plan);

  AlignedBuffer saved(kNvramSize);
  if (keepNvram) {
    if (!saved) {
      host.SetStatusText(texts::kAllocateBuffersError);
      return 0;
    }
    if (!SaveNvram(request, host, saved.data())) return 0;
  }

  std::vector<uint8_t> file;
  if (!ReadFirmwareFile(request, layout, keepNvram, file)) {
    host.SetStatusText(texts::kOpenFileError);
    return 0;
  }
  const auto fileSize = static_cast<int32_t>(file.size());
  int32_t length = RoundUp(fileSize, kFileUnit);
  int32_t bufferSize = RoundUp(length, kBufferUnit);
  // A bank image is whole whatever the file's size: the checksum covers its
  // first 48 KB and the settings area lies behind them.
  if (layout.banked) bufferSize = std::max(bufferSize, RoundUp(fileSize, kBank));
  AlignedBuffer image(static_cast<size_t>(bufferSize));
  AlignedBuffer readBack(static_cast<size_t>(bufferSize));
  if (!image || !readBack) {
    host.SetStatusText(texts::kAllocateBuffersError);
    return 0;
  }
  FillImage(file, layout, keepNvram ? saved.data() : nullptr, image.data());

  if (layout.banked) {
    // Only a file of one bank gets a new checksum; larger files bring their own.
    if (fileSize <= kBank) {
      const uint16_t crc = Crc16OverWords(image.data(), kBankCrcCoveredLength, 0);
      image[kBankCrcHighAt] = static_cast<uint8_t>(crc >> 8);
      image[kBankCrcLowAt] = static_cast<uint8_t>(crc & 0xFF);
    }
    // The write reaches the checksum, and the settings area when it is kept,
    // even for a short file; it never leaves the bank.
    const int32_t through =
        keepNvram ? static_cast<int32_t>(layout.nvramAddress) + kNvramSize : kBankFirmwareEnd;
    length = std::min(std::max(length, through), kBank);
  }

  steps.Begin(ProgressStep::Program);
  host.SetStatusText(texts::kProgrammingStep);
  settings.LargeEraseCount = 0;
  settings.SmallEraseCount = 0;
  if (chip.flashMaker == FlashMaker::Mxic) PrepareMxicFlash(request.path, image.data());

  // Block erase first, then sector erase, then the whole chip; the mode a
  // bank ended with is where the next bank starts.
  int mode = settings.DefaultWriteMode;
  std::string failure;
  for (int pass = 0; pass < passes; ++pass) {
    if (pass > 0) steps.Next();
    const uint32_t address = pass == 0 ? 0 : static_cast<uint32_t>(kBank);
    if (pass == 1 && fileSize >= kTwoBankFile)
      std::memcpy(image.data(), image.data() + kBank, static_cast<size_t>(kBank));
    bool passed = false;
    for (int attempt = 1; attempt <= kProgramAttempts && !passed; ++attempt) {
      passed = ProgramAndVerify(host, request.path, address, image.data(), readBack.data(), length,
                                mode) != 0;
      if (!passed) mode = WriteModeAfterFailedAttempt(attempt);
    }
    // A bank that failed fails the whole programming, whatever the next one does.
    if (!passed) failure = host.StatusText();
  }
  if (!failure.empty()) {
    host.SetStatusText(failure);
    return 0;
  }
  host.SetStatusText(texts::kProgrammingSuccess);
  AskForRestart(request, host);
  return 1;
}

}  // namespace fwtool
