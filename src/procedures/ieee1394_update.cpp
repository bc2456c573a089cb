// SPDX-License-Identifier: GPL-2.0-or-later
// The procedure of chip type 7 reached over IEEE 1394: erase only (the
// unit's settings area kept), backup only, or program from a file (a file
// of up to 32 KB leaves the settings area alone, a longer one replaces it).
#include <algorithm>
#include <string>
#include <vector>

#include "block_transfer.h"
#include "clock.h"
#include "firmware.h"
#include "flash_commands.h"
#include "ieee1394_steps.h"
#include "operator.h"
#include "procedure_texts.h"
#include "progress.h"
#include "serial_flash_steps.h"
#include "settings_read.h"
#include "transport.h"

namespace fwtool {

namespace {

constexpr int32_t kFlashSize1394 = 2 * static_cast<int32_t>(kHalfSize1394);
// One dot for every 2 KB written, after the block that ends 256 bytes into
// the 2 KB.
constexpr uint32_t kDotEvery = 2048;
// The settings area read first; the 256-byte blocks take far longer than
// the read-back.
constexpr WeightedStep kProgram1394Steps[] = {
    {ProgressStep::Prepare, 1}, {ProgressStep::Program, 94}, {ProgressStep::Verify, 5}};
constexpr WeightedStep kErase1394Steps[] = {{ProgressStep::Prepare, 1},
                                            {ProgressStep::Erase, 70},
                                            {ProgressStep::Verify, 20},
                                            {ProgressStep::Settings, 9}};

int32_t RoundUp(int32_t value, int32_t unit) {
  return (value + unit - 1) / unit * unit;
}

bool StartsHalf(uint32_t address) {
  return address % kHalfSize1394 == 0;
}

// Reads the settings area into `saved`, twice; status "Backup NVRAM command
// fail!" when it cannot be read or the reads differ.
int SaveNvram1394(ProcedureHost& host, std::string_view path, uint8_t* saved) {
  std::fill_n(saved, kNvramSize1394, 0);
  const auto read = [&](uint8_t* data) {
    return ReadFlashRange(host, path, kNvramAddress1394, data, kNvramSize1394);
  };
  if (ReadSettingsTwice(saved, kNvramSize1394, read)) return 1;
  host.SetStatusText(texts::kBackupNvramFail);
  return 0;
}

// Writes the saved settings area back and reads it again: 1 only when the
// flash shows it. The area exists nowhere else, and a write the unit took
// can still come to nothing (its power gone before the part finished).
int WriteNvramBack1394(ProcedureHost& host, std::string_view path, const uint8_t* saved) {
  AlignedBuffer check(kNvramSize1394);
  if (!check) return 0;
  if (!WriteFlashRange1394(host, path, kNvramAddress1394, saved, kNvramSize1394)) return 0;
  WaitDeviceReady(path);
  return ReadFlashRange(host, path, kNvramAddress1394, check.data(), kNvramSize1394) &&
         std::equal(saved, saved + kNvramSize1394, check.data());
}

}  // namespace

int WriteFlashRange1394(ProcedureHost& host, std::string_view path, uint32_t address,
                        const uint8_t* data, int32_t length) {
  if (length <= 0) return 0;
  const int32_t rounded = RoundUp(length, kBlockSize1394);
  AlignedBuffer buffer(static_cast<size_t>(rounded));
  if (!buffer) return 0;
  std::copy_n(data, length, buffer.data());
  const int32_t blockLimit = std::max(1, host.Settings().TransferBlockSize);
  int32_t offset = 0;
  while (offset < rounded) {
    const uint32_t at = address + static_cast<uint32_t>(offset);
    // A block never runs into the next half, whose first block erases it.
    const auto toHalfEnd = static_cast<int32_t>(kHalfSize1394 - at % kHalfSize1394);
    const int32_t block = std::min({blockLimit, rounded - offset, toHalfEnd});
    WaitDeviceReady(path);
    if (!WriteFlashPlain(path, at, buffer.data() + offset, static_cast<uint32_t>(block),
                         StartsHalf(at)))
      return 0;
    offset += block;
    host.Progress().Advance(static_cast<uint64_t>(offset), static_cast<uint64_t>(rounded));
    if ((at + static_cast<uint32_t>(block)) % kDotEvery == static_cast<uint32_t>(kBlockSize1394)) {
      host.SetStatusText(host.StatusText() + kBlockDot);
      host.ProcessMessages();
    }
  }
  return 1;
}

int ProgramFlash1394(const ProcedureRequest& request, ProcedureHost& host) {
  std::vector<uint8_t> file;
  auto opened = ImageFile::Open(request.options.firmwareFile);
  if (!opened || !opened->ReadAll(file) || file.empty()) {
    host.SetStatusText(texts::kOpenFileError);
    return 0;
  }
  if (file.size() > static_cast<size_t>(kFlashSize1394)) {
    host.SetStatusText(texts::kFileBiggerThanFlash);
    return 0;
  }
  // A short file fills the first half, zero padded; the second half, and
  // the settings area in it, are not touched. A file that reaches the second
  // half erases it and brings the settings area's bytes itself: a whole
  // 64 KB copy of a unit goes back exactly as it was saved.
  const int32_t length =
      RoundUp(std::max(static_cast<int32_t>(file.size()), static_cast<int32_t>(kHalfSize1394)),
              kBlockSize1394);
  const bool secondHalf = length > static_cast<int32_t>(kHalfSize1394);

  AlignedBuffer image(static_cast<size_t>(length));
  AlignedBuffer readBack(static_cast<size_t>(length));
  if (!image || !readBack) {
    host.SetStatusText(texts::kAllocateBuffersError);
    return 0;
  }
  ProgressSteps steps(host.Progress(), kProgram1394Steps);
  if (!secondHalf) {
    // The settings area is read first, as for every file that leaves it
    // where it is: a unit that cannot read it is not written.
    AlignedBuffer saved(kNvramSize1394);
    if (!saved) {
      host.SetStatusText(texts::kAllocateBuffersError);
      return 0;
    }
    if (!SaveNvram1394(host, request.path, saved.data())) return 0;
  }
  std::copy(file.begin(), file.end(), image.data());

  steps.Begin(ProgressStep::Program);
  host.SetStatusText(texts::kProgrammingStep);
  if (!WriteFlashRange1394(host, request.path, 0, image.data(), length)) {
    host.SetStatusText(texts::kWriteBinFileFail);
    return 0;
  }
  steps.Begin(ProgressStep::Verify);
  WaitDeviceReady(request.path);
  if (!ReadFlashRange(host, request.path, 0, readBack.data(), length)) {
    host.SetStatusText(texts::kReadCommandFail);
    return 0;
  }
  if (!std::equal(image.data(), image.data() + length, readBack.data())) {
    host.SetStatusText(texts::kDataCompareFail);
    return 0;
  }
  host.SetStatusText(texts::kProgrammingSuccess);
  return 1;
}

int EraseFlash1394(const ProcedureRequest& request, ProcedureHost& host) {
  host.SetStatusText(texts::kEraseOnlyStep);
  host.ProcessMessages();
  const int32_t size = host.Settings().SelectedFlashSize;
  AlignedBuffer pattern(kBlockSize1394);
  AlignedBuffer saved(kNvramSize1394);
  if (!pattern || !saved) {
    host.SetStatusText(texts::kAllocateBuffersError);
    return 0;
  }
  AlignedBuffer readBack(size > 0 ? static_cast<size_t>(size) : 0);
  if (!readBack || size <= 0) {
    host.SetStatusText(texts::kAllocateReadBufferError);
    return 0;
  }
  std::fill(pattern.begin(), pattern.end(), 0xFF);
  ProgressSteps steps(host.Progress(), kErase1394Steps);
  if (!SaveNvram1394(host, request.path, saved.data())) return 0;

  // Each flagged block erases its half. From here on the settings area may
  // be gone from the flash: it is written back whatever happens next.
  const char* failure = nullptr;
  steps.Begin(ProgressStep::Erase);
  WriteFlashPlain(request.path, 0, pattern.data(), kBlockSize1394, true);
  SleepMs(kEraseSettleMs);
  if (!WriteFlashPlain(request.path, kHalfSize1394, pattern.data(), kBlockSize1394, true)) {
    failure = texts::kEraseFlashCommandFail;
  } else {
    // Both erases were taken; the check that follows decides.
    host.SetStatusText(texts::kEraseSuccess);
    host.ProcessMessages();
    steps.Begin(ProgressStep::Verify);
    if (!ReadFlashRange(host, request.path, 0, readBack.data(), size)) {
      failure = texts::kReadCommandFail;
    } else if (!std::all_of(readBack.begin(), readBack.end(),
                            [](uint8_t b) { return b == 0xFF; })) {
      failure = texts::kDataNotBlank;
    }
  }
  steps.Begin(ProgressStep::Settings);
  WaitDeviceReady(request.path);
  if (!WriteNvramBack1394(host, request.path, saved.data())) failure = texts::kWriteNvramBackFail;
  if (failure != nullptr) {
    host.SetStatusText(failure);
    return 0;
  }
  steps.Finish();
  host.SetStatusText(texts::kEraseSuccess);
  return 1;
}

int Run1394Update(const ProcedureRequest& request, ProcedureHost& host) {
  // The controller takes its flash in 256-byte blocks; the setting stays so
  // afterwards.
  host.Settings().TransferBlockSize = kBlockSize1394;
  const EngineeringOptions& options = request.options;
  if (options.rdVersion && options.eraseOnly) {
    if (!EraseFlash1394(request, host)) return 0;
    host.MessageBox(texts::kPowerCycleBox, kCaptionMessage);
    return 1;
  }
  if (options.rdVersion && options.backupOnly) return BackupFlashToFile(request, host, 0);
  if (!ProgramFlash1394(request, host)) return 0;
  host.MessageBox(texts::kPowerCycleBox, kCaptionMessage);
  return 1;
}

}  // namespace fwtool
