// SPDX-License-Identifier: GPL-2.0-or-later
// The procedure of the older family members whose controllers reach a small
// flash by address: erase only, backup only, or program from a file. The
// flash is erased (by sector up to 64 KB, the whole chip above), checked
// blank, written a transfer block at a time, read back and compared.
#include <algorithm>
#include <string>
#include <vector>

#include "address_flash_steps.h"
#include "block_transfer.h"
#include "chip_tables.h"
#include "flash_commands.h"
#include "operator.h"
#include "procedure_texts.h"
#include "progress.h"
#include "serial_flash_commands.h"
#include "settings_read.h"

namespace fwtool {

namespace {

// The unit's settings lie in 512 bytes at 0x8000 of a small flash.
constexpr uint32_t kSettingsAt = 0x8000;
constexpr uint32_t kSettingsSize = 512;
constexpr int32_t kMinImage = 32768;
constexpr int32_t kSectorEraseLimit = 65536;
constexpr uint32_t kUpperSectorAmic = 0xF000;
constexpr uint32_t kAmicSectors[] = {0x0000, 0x1000, 0x3000, 0x7000};
// The erase (with its blank check), the blocks, the settings put back, and
// the read-back after the controller is given a second.
constexpr WeightedStep kBasicProgramSteps[] = {{ProgressStep::Erase, 50},
                                               {ProgressStep::Program, 12},
                                               {ProgressStep::Settings, 1},
                                               {ProgressStep::Verify, 37}};

int32_t RoundUp(int32_t value, int32_t unit) {
  return (value + unit - 1) / unit * unit;
}

// Sector erases for an image of up to 64 KB; the text of the failure, or
// null.
const char* EraseSectors(const ProcedureRequest& request, ProcedureHost& host, size_t fileLength) {
  const std::string& path = request.path;
  const bool beyondFirstHalf = fileLength > static_cast<size_t>(kMinImage);
  switch (request.chip.amicFlashKind) {
    case 1:
    case 3:
    case 5:
      // The boot sectors of the lower 32 KB; one that fails is passed over,
      // the blank check shows whether the flash took the erase.
      for (uint32_t sector : kAmicSectors)
        if (EraseFlashSector(path, sector) && !ShortWait(path))
          host.SetStatusText(texts::kNotReadyAfterErase);
      if (beyondFirstHalf) {
        if (!EraseFlashSector(path, kUpperSectorAmic)) return texts::kEraseCommandFail;
        ShortWait(path);
      }
      return nullptr;
    case -1:
    case 4:
      if (!EraseFlashSector(path, 0)) return texts::kEraseCommandFail;
      if (!ShortWait(path)) host.SetStatusText(texts::kNotReadyAfterErase);
      if (beyondFirstHalf) {
        if (!EraseFlashSector(path, kSettingsAt)) return texts::kEraseCommandFail;
        ShortWait(path);
      }
      return nullptr;
    default:
      return texts::kAmicKindNotSupported;
  }
}

int ProgramFromFile(const ProcedureRequest& request, ProcedureHost& host) {
  const std::string& path = request.path;
  // The transfer block size divides the image; the block count is not
  // limited to 255.
  const int32_t block = std::max(host.Settings().TransferBlockSize, kTransferUnit);
  std::vector<uint8_t> file;
  if (!LoadFirmwareFile(request, host, 0, 0, file)) return 0;
  const auto fileLength = file.size();
  const int32_t size = RoundUp(std::max(static_cast<int32_t>(fileLength), kMinImage), block);
  std::vector<uint8_t> image(static_cast<size_t>(size), 0);
  std::copy(file.begin(), file.end(), image.begin());
  std::vector<uint8_t> readBack(static_cast<size_t>(size));

  ProgressSteps steps(host.Progress(), kBasicProgramSteps);
  if (!WaitDeviceReady(path)) host.DebugOutput(texts::kDeviceInitialNotReady);

  // A short image leaves the settings at 0x8000 outside the file, but the
  // erase at 0 may take them: they are read first and go back afterwards.
  // Without a good copy nothing is erased.
  const bool restoreSettings = size <= kMinImage;
  std::vector<uint8_t> settings(kSettingsSize);
  if (size > kSectorEraseLimit) {
    if (!EraseFlashChip(path)) {
      host.SetStatusText(texts::kEraseCommandFail);
      return 0;
    }
    if (!ShortWait(path)) host.SetStatusText(texts::kNotReadyAfterErase);
  } else {
    const auto read = [&](uint8_t* data) {
      return ReadFlashAt(path, kSettingsAt, data, kSettingsSize);
    };
    const bool saved = ReadSettingsTwice(settings.data(), kSettingsSize, read) != 0;
    host.DebugOutput(saved ? texts::kNvramReadOk : texts::kNvramReadFail);
    if (restoreSettings && !saved) {
      host.SetStatusText(texts::kBackupNvramFail);
      return 0;
    }
    if (const char* failure = EraseSectors(request, host, fileLength)) {
      host.SetStatusText(failure);
      return 0;
    }
  }

  // From here on the settings exist only in `settings`: every way out puts
  // them back first, a second try where the first did not show them in the
  // flash.
  auto settingsBack = [&] {
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (!WriteFlashAt(path, kSettingsAt, settings.data(), kSettingsSize)) continue;
      host.DebugOutput(texts::kNvramWrittenOk);
      std::vector<uint8_t> check(kSettingsSize);
      if (ReadFlashAt(path, kSettingsAt, check.data(), kSettingsSize) && check == settings)
        return true;
    }
    return false;
  };
  auto fail = [&](const char* text) {
    if (restoreSettings) settingsBack();
    host.SetStatusText(text);
    return 0;
  };
  if (!ReadFlashAt(path, 0, readBack.data(), static_cast<uint32_t>(size)))
    return fail(texts::kReadBackErasedError);
  if (!IsErased(readBack.data(), readBack.size())) return fail(texts::kDataNotBlank);

  steps.Begin(ProgressStep::Program);
  std::string progress = host.StatusText();
  for (int32_t offset = 0; offset < size; offset += block) {
    if (!WriteFlashAt(path, static_cast<uint32_t>(offset), image.data() + offset,
                      static_cast<uint32_t>(block)))
      return fail(texts::kProgrammingFail);
    host.Progress().Advance(static_cast<uint64_t>(offset + block), static_cast<uint64_t>(size));
    progress += kBlockDot;
    host.SetStatusText(progress);
    host.ProcessMessages();
  }
  steps.Begin(ProgressStep::Settings);
  if (restoreSettings && !settingsBack()) {
    host.SetStatusText(texts::kWriteNvramBackFail);
    return 0;
  }

  steps.Begin(ProgressStep::Verify);
  ShortWait(path, kLongWaitMs);
  if (!ReadFlashAt(path, 0, readBack.data(), static_cast<uint32_t>(size))) {
    host.SetStatusText(texts::kReadFail);
    return 0;
  }
  if (readBack != image) {
    host.SetStatusText(texts::kCompareFail);
    return 0;
  }
  steps.Finish();
  host.SetStatusText(texts::kProgrammingSuccess);
  host.MessageBox(texts::kPowerCycleBoxSpaced, kCaptionMessage);
  return 1;
}

}  // namespace

int RunBasicFlashUpdate(const ProcedureRequest& request, ProcedureHost& host) {
  const ChipFacts& chip = request.chip;
  if (chip.atmelFlashKind != -1) {
    SpiWriteEnable(request.path);
    if (!WaitFlashStatusSet(request.path, 2)) {
      host.SetStatusText(texts::kAtmelWriteEnableFail);
      return 0;
    }
  }
  if (chip.flashMaker == FlashMaker::StEonMxic || chip.flashMaker == FlashMaker::Mxic)
    SpiUnprotect(request.path);

  const EngineeringOptions& options = request.options;
  if (options.rdVersion && options.eraseOnly) {
    if (!EraseAllAndVerify(request, host)) return 0;
    AskForPowerCycle(host);
    return 1;
  }
  if (options.rdVersion && options.backupOnly) return BackupFlashImage(request, host, 0);
  return ProgramFromFile(request, host);
}

}  // namespace fwtool
