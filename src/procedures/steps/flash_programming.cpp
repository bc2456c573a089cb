// SPDX-License-Identifier: GPL-2.0-or-later
#include "flash_programming.h"

#include <algorithm>

#include "block_transfer.h"
#include "clock.h"
#include "flash_commands.h"
#include "flash_settings.h"
#include "procedure_host.h"
#include "procedure_texts.h"
#include "progress.h"

namespace fwtool {

namespace {

// The write (with the erases it brings) takes most of an attempt; the
// read-back goes at the controller's read speed.
constexpr WeightedStep kProgramAndVerifySteps[] = {{ProgressStep::Program, 9},
                                                   {ProgressStep::Verify, 1}};

}  // namespace

int WriteModeAfterFailedAttempt(int attempt) {
  return ModeByte(attempt <= 1 ? WriteMode::SmallUnit : WriteMode::WholeChip);
}

void PrepareMxicFlash(std::string_view path, const uint8_t* image) {
  WaitDeviceReady(path);
  if (WriteFlash(path, 0, image, kMxicFirstBlock, ModeByte(WriteMode::LargeUnit)))
    SleepMs(kEraseSettleMs);
}

int ProgramAndVerify(ProcedureHost& host, std::string_view path, uint32_t start,
                     const uint8_t* image, uint8_t* readBack, int32_t length, int mode,
                     int progressPerStage) {
  FlashSettings& settings = host.Settings();
  host.SetStatusText(texts::kProgrammingStep);
  // Every attempt erases its range again: the counts start at the range.
  settings.LargeEraseCount =
      settings.LargeEraseUnit > 0 ? static_cast<int32_t>(start / settings.LargeEraseUnit) : 0;
  settings.SmallEraseCount =
      settings.SmallEraseUnit > 0 ? static_cast<int32_t>(start / settings.SmallEraseUnit) : 0;

  const char* failure = nullptr;
  auto stage = [&] {
    if (progressPerStage > 0) host.StepProgress(progressPerStage);
  };
  ProgressSteps steps(host.Progress(), kProgramAndVerifySteps);
  if (!WriteFlashRange(host, path, start, image, length, mode)) {
    failure = texts::kWriteBinFileFail;
    host.SetStatusText(failure);
  }
  stage();
  steps.Begin(ProgressStep::Verify);
  WaitDeviceReady(path);
  const bool readOk = ReadFlashRange(host, path, start, readBack, length) != 0;
  if (!readOk) failure = texts::kReadCommandFail;
  stage();
  // Bytes that could not be read prove nothing: the read failure stands.
  if (readOk && !std::equal(image, image + length, readBack)) failure = texts::kDataCompareFail;
  stage();
  // The read-back wrote its own step into the status line; the last failure
  // is what the operator is left with.
  if (failure != nullptr) host.SetStatusText(failure);
  return failure == nullptr ? 1 : 0;
}

}  // namespace fwtool
