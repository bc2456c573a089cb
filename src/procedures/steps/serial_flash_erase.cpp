// SPDX-License-Identifier: GPL-2.0-or-later
// Erasing the whole flash, with the unit's settings area kept unless the
// operator includes it.
#include <algorithm>

#include "block_transfer.h"
#include "chip_tables.h"
#include "clock.h"
#include "flash_commands.h"
#include "operator.h"
#include "procedure_texts.h"
#include "progress.h"
#include "serial_flash_commands.h"
#include "serial_flash_steps.h"
#include "transport.h"

namespace fwtool {

namespace {

// ATMEL parts get a second erase command for the second half of their first
// 64 KB.
constexpr uint32_t kAtmelSecondEraseAt = 0x8000;
// The settings area read and written back around the erase; the erase and
// the read of the whole flash that shows it blank.
constexpr WeightedStep kEraseOnlySteps[] = {{ProgressStep::Prepare, 1},
                                            {ProgressStep::Erase, 85},
                                            {ProgressStep::Verify, 10},
                                            {ProgressStep::Settings, 4}};

// The mode byte of the erase command: the whole chip (MXIC parts with the
// first-block flag that lifts their protection); ATMEL and EON parts erase by
// block.
uint8_t EraseModeFor(int flashMaker) {
  if (flashMaker == FlashMaker::Mxic) return ModeByte(WriteMode::WholeChip) | kWriteModeMxic;
  if (flashMaker == FlashMaker::Atmel || flashMaker == FlashMaker::Eon)
    return ModeByte(WriteMode::LargeUnit);
  return ModeByte(WriteMode::WholeChip);
}

bool IsBlank(const AlignedBuffer& flash, int32_t length) {
  return std::all_of(flash.data(), flash.data() + length, [](uint8_t b) { return b == 0xFF; });
}

// Sends the erase and checks the flash; erases once more by the other way
// when it does not read blank. Returns the failure text, or null when the
// flash reads blank.
const char* EraseAndCheck(const ProcedureRequest& request, ProcedureHost& host,
                          const AlignedBuffer& pattern, AlignedBuffer& readBack, int32_t flashSize,
                          ProgressSteps& steps) {
  const int maker = request.chip.flashMaker;
  const uint8_t mode = EraseModeFor(maker);
  steps.Begin(ProgressStep::Erase);
  if (!WriteFlash(request.path, 0, pattern.data(), kNvramSize, mode))
    return texts::kEraseCommandFail;
  SleepMs(kEraseSettleMs);
  if (maker == FlashMaker::Atmel) {
    WriteFlash(request.path, kAtmelSecondEraseAt, pattern.data(), kNvramSize, mode);
    SleepMs(kEraseSettleMs);
  }
  steps.Begin(ProgressStep::Verify);
  const bool read = ReadFlashRange(host, request.path, 0, readBack.data(), flashSize) != 0;
  if (read && IsBlank(readBack, flashSize)) return nullptr;

  // Not blank, or not known to be: erase again, MXIC parts by the chip
  // erase alone, the others sector by sector.
  steps.Begin(ProgressStep::Erase);
  const bool erasedAgain = maker == FlashMaker::Mxic
                               ? WriteFlash(request.path, 0, pattern.data(), kNvramSize,
                                            ModeByte(WriteMode::WholeChip)) != 0
                               : EraseFlashByWriting(request, host, flashSize) != 0;
  if (erasedAgain) {
    SleepMs(kEraseSettleMs);
    // A flash read in full and not blank, erased again: that erase went
    // through. (After a read that failed nothing is known yet.)
    if (read) host.SetStatusText(texts::kEraseSuccess);
  }
  // Only a flash read in full and blank is erased.
  steps.Begin(ProgressStep::Verify);
  if (!ReadFlashRange(host, request.path, 0, readBack.data(), flashSize))
    return texts::kReadCommandFail;
  if (!IsBlank(readBack, flashSize)) return texts::kDataNotBlank;
  return nullptr;
}

}  // namespace

int EraseFlashOnly(const ProcedureRequest& request, ProcedureHost& host) {
  FlashSettings& settings = host.Settings();
  host.SetStatusText(texts::kEraseOnlyStep);
  host.ProcessMessages();
  settings.LargeEraseCount = 0;
  settings.SmallEraseCount = 0;
  if (request.chip.Row().flashAccessSetup) FlashAccessSetup(request.path);

  const int32_t flashSize = SerialFlashSize(request, settings);
  AlignedBuffer pattern(kNvramSize);
  AlignedBuffer saved(kNvramSize);
  if (!pattern || !saved) {
    host.SetStatusText(texts::kAllocateBuffersError);
    return 0;
  }
  // Everything the erase needs is had before the flash is touched.
  AlignedBuffer readBack(flashSize > 0 ? static_cast<size_t>(flashSize) : 0);
  if (!readBack || flashSize <= 0) {
    host.SetStatusText(texts::kAllocateReadBufferError);
    return 0;
  }
  std::fill(pattern.begin(), pattern.end(), 0xFF);
  const bool keepNvram = !request.options.includeNvram;
  ProgressSteps steps(host.Progress(), kEraseOnlySteps);
  if (keepNvram && !SaveNvram(request, host, saved.data())) return 0;

  const char* failure = EraseAndCheck(request, host, pattern, readBack, flashSize, steps);
  // The settings go back also after a failed erase: the flash may be erased
  // in part, and they exist nowhere else.
  steps.Begin(ProgressStep::Settings);
  if (keepNvram && !WriteNvramBack(request, host, saved.data()))
    failure = texts::kWriteNvramBackFail;
  if (failure != nullptr) {
    host.SetStatusText(failure);
    return 0;
  }
  steps.Finish();
  host.SetStatusText(texts::kEraseSuccess);
  return 1;
}

int EraseFlashByWriting(const ProcedureRequest& request, ProcedureHost& host, int32_t length) {
  AlignedBuffer blank(length > 0 ? static_cast<size_t>(length) : 0);
  if (!blank || length <= 0) return 0;
  std::fill(blank.begin(), blank.end(), 0xFF);
  host.SetStatusText(texts::kEraseByWritingStep);
  host.ProcessMessages();
  FlashSettings& settings = host.Settings();
  settings.LargeEraseCount = 0;
  settings.SmallEraseCount = 0;
  return WriteFlashRange(host, request.path, 0, blank.data(), length,
                         ModeByte(WriteMode::SmallUnit));
}

}  // namespace fwtool
