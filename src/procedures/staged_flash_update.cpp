// SPDX-License-Identifier: GPL-2.0-or-later
// The staged procedure of the controller reached over ATA PASS-THROUGH: the
// controller erases, programs and reads whole ranges itself and answers with
// a result code; the host announces four stages (erase, program, read back,
// compare) and turns every code into its one status text. The unit's first
// 4 KB (its settings) are merged into the new image unless the file brings
// its own and the operator includes it.
#include <algorithm>
#include <vector>

#include "address_flash_steps.h"
#include "ata_commands.h"
#include "file_tests.h"
#include "operator.h"
#include "procedure_texts.h"
#include "progress.h"
#include "settings_read.h"

namespace fwtool {

namespace {

constexpr uint32_t kSettingsArea = 4096;
constexpr uint32_t kImageUnit = 8192;
constexpr size_t kIdentificationAt = 128;
constexpr size_t kIdentificationLength = 80;

// A controller that stays busy after its erase; no current firmware
// answers it, but the text is kept for one that does.
constexpr int kNotReadyAfterErase = 5;
// The code the host gives a read-back that differs from the image.
constexpr int kCompareMismatch = 7;

// The controller's own erase (read back blank), the program, the read-back.
constexpr WeightedStep kStagedSteps[] = {{ProgressStep::Prepare, 1},
                                         {ProgressStep::Erase, 60},
                                         {ProgressStep::Program, 31},
                                         {ProgressStep::Verify, 8}};

// Announces the stages and turns a stage's code into its text.
struct StageRun {
  ProcedureHost& host;
  bool Passed(int code) {
    if (code == kAtaRangeOk) return true;
    host.SetStatusText(FlashOpResultText(code));
    host.ProcessMessages();
    return false;
  }
  void Announce(const char* stage) {
    host.SetStatusText(stage);
    host.ProcessMessages();
  }
};

}  // namespace

const char* FlashOpResultText(int code) {
  switch (code) {
    case kAtaNoMemory:
      return texts::kAllocateBufferFail;
    case kAtaEraseRefused:
      return texts::kIssueEraseFail;
    case kAtaReadFailed:
      return texts::kIssueReadFail;
    case kAtaWriteFailed:
      return texts::kIssueWriteFail;
    case kNotReadyAfterErase:
      return texts::kNotReadyAfterEraseCmd;
    case kAtaNotBlank:
      return texts::kDataNotBlank;
    case kCompareMismatch:
      return texts::kStagedCompareFail;
    default:
      return texts::kFlashOpsSuccess;
  }
}

int RunStagedFlashUpdate(const ProcedureRequest& request, ProcedureHost& host) {
  const ChipFacts& chip = request.chip;
  const EngineeringOptions& options = request.options;
  StageRun stage{host};

  if (options.rdVersion && options.eraseOnly) {
    const ProgressSteps steps(host.Progress(), {{ProgressStep::Erase, 1}});
    host.SetStatusText(texts::kEraseOnlyStep);
    host.ProcessMessages();
    const int32_t length = WholeFlashSize(request, host.Settings());
    if (length <= 0) {
      host.SetStatusText(texts::kAllocateBufferFail);
      return 0;
    }
    const int code = AtaEraseAndVerify(request.path, static_cast<uint32_t>(length));
    host.SetStatusText(FlashOpResultText(code));
    host.ProcessMessages();
    if (code != kAtaRangeOk) return 0;
    host.Progress().Advance(1, 1);
    AskForPowerCycle(host);
    return 1;
  }
  if (options.rdVersion && options.backupOnly) return BackupFlashImage(request, host, 0);

  const bool fileHasArea = FileHasHeaderArea(options.firmwareFile, chip.type);
  host.SetImageHasHeaderArea(fileHasArea);
  const bool keep = !(fileHasArea && options.includeNvram);
  // An empty file, or one too large for the flash, is refused before the
  // unit is touched.
  std::vector<uint8_t> file;
  if (!LoadFirmwareFile(request, host, 0, 0, file)) return 0;

  ProgressSteps steps(host.Progress(), kStagedSteps);
  std::vector<uint8_t> settings(kSettingsArea, 0);
  if (keep) {
    AtaWaitReady(request.path);
    const auto read = [&](uint8_t* data) {
      return AtaReadFlash(request.path, 0, data, kSettingsArea);
    };
    if (!ReadSettingsTwice(settings.data(), kSettingsArea, read)) {
      host.SetStatusText(texts::kBackupNvramFail);
      return 0;
    }
  }
  const auto size = static_cast<uint32_t>((file.size() + kImageUnit - 1) / kImageUnit * kImageUnit);
  std::vector<uint8_t> image(size, 0);
  std::copy(file.begin(), file.end(), image.begin());
  // The new firmware's identification: the bytes of it the file has (a
  // short file may end inside it); the unit's own stay past its end.
  if (fileHasArea && !options.includeNvram && file.size() > kIdentificationAt)
    std::copy_n(file.begin() + kIdentificationAt,
                std::min(kIdentificationLength, file.size() - kIdentificationAt),
                settings.begin() + kIdentificationAt);
  if (keep) std::copy_n(settings.begin(), std::min<size_t>(kSettingsArea, size), image.begin());

  // After the erase the settings exist only here: a failed stage puts them
  // back as far as the unit lets it.
  auto restoreSettings = [&] {
    if (keep) AtaWriteFlashRange(request.path, 0, settings.data(), kSettingsArea);
  };
  steps.Begin(ProgressStep::Erase);
  stage.Announce(texts::kStagedErasing);
  if (!stage.Passed(AtaEraseAndVerify(request.path, size))) {
    restoreSettings();
    return 0;
  }
  steps.Begin(ProgressStep::Program);
  stage.Announce(texts::kStagedProgramming);
  if (!stage.Passed(AtaWriteFlashRange(request.path, 0, image.data(), size))) {
    restoreSettings();
    return 0;
  }
  steps.Begin(ProgressStep::Verify);
  stage.Announce(texts::kStagedReadBack);
  std::vector<uint8_t> readBack(size, 0);
  if (!stage.Passed(AtaReadFlashRange(request.path, 0, readBack.data(), size))) return 0;
  stage.Announce(texts::kStagedCompare);
  if (!stage.Passed(readBack == image ? kAtaRangeOk : kCompareMismatch)) return 0;
  steps.Finish();
  host.SetStatusText(texts::kProgrammingSuccess);
  AskForPowerCycle(host);
  return 1;
}

}  // namespace fwtool
