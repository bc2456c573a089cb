// SPDX-License-Identifier: GPL-2.0-or-later
#include "embedded_update.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "backup_file.h"
#include "block_transfer.h"
#include "chip_tables.h"
#include "firmware.h"
#include "flash_programming.h"
#include "flash_restore.h"
#include "procedure_host.h"
#include "progress.h"
#include "transport.h"

namespace fwtool {

namespace {

// The header read, the whole flash read twice into the backup, then the
// attempts (each a write and a read-back of the image).
constexpr WeightedStep kEmbeddedUpdateSteps[] = {
    {ProgressStep::Prepare, 1}, {ProgressStep::Backup, 10}, {ProgressStep::Program, 89}};

void CopyRange(const uint8_t* from, uint8_t* to, HeaderRange range) {
  std::memcpy(to + range.first, from + range.first, range.last - range.first + 1);
}

}  // namespace

void MergeDeviceHeader(std::span<uint8_t> deviceHead, std::span<uint8_t> newHeader) {
  if (deviceHead.size() < kMergedHeaderSize || newHeader.size() < kMergedHeaderSize) return;
  // The first 128 bytes: the unit keeps its own settings except where the
  // new firmware defines the byte.
  for (uint32_t position = 0; position < kMergeTableSize; ++position)
    if (HeaderMergeTable[position] < 256) deviceHead[position] = newHeader[position];
  std::copy(newHeader.begin() + 128, newHeader.begin() + 256, deviceHead.begin() + 128);
  // The unit's own parts of the parameter records go into the new header...
  for (const HeaderRange& range : kDeviceKeptRanges)
    CopyRange(deviceHead.data(), newHeader.data(), range);
  // ...which then makes up the records of the merged header.
  std::copy(newHeader.begin() + 256, newHeader.begin() + kMergedHeaderSize,
            deviceHead.begin() + 256);
}

int UpdateEmbeddedImage(ProcedureHost& host, std::string_view path,
                        const EmbeddedUpdateOptions& options, EmbeddedUpdateReport* report) {
  EmbeddedUpdateReport local;
  EmbeddedUpdateReport& out = report != nullptr ? *report : local;
  out = EmbeddedUpdateReport{};
  FlashSettings& settings = host.Settings();
  settings.TransferBlockSize = 8192;
  const std::string statusPrefix;

  // An image that is missing or does not fit the flash must never reach the
  // unit: a zero-filled or cut image would leave it without firmware.
  if (options.image.empty()) {
    host.SetStatusText(kNoImageToWrite);
    return 0;
  }
  if (options.image.size() > kFlashImageSize) {
    host.SetStatusText(kImageTooLarge);
    return 0;
  }

  ProgressSteps steps(host.Progress(), kEmbeddedUpdateSteps);
  std::vector<uint8_t> newHeader(kMergedHeaderSize, 0);
  CopyImage(options.image, newHeader, 0, kMergedHeaderSize);

  AlignedBuffer deviceHead(kDeviceHeadSize);
  if (!deviceHead) {
    host.SetStatusText(texts::kAllocateBuffersError);
    return 0;
  }
  if (!ReadFlashRange(host, path, 0, deviceHead.data(), kDeviceHeadSize)) {
    host.SetStatusText(texts::kBackupNvramFail);
    return 0;
  }
  const bool valid = HasHeaderMarker(std::span<const uint8_t>(deviceHead.data(), 128), 128);

  AlignedBuffer image(kFlashImageSize);
  AlignedBuffer readBack(kFlashImageSize);
  if (!image || !readBack) {
    host.SetStatusText(texts::kAllocateBuffersError);
    return 0;
  }

  // The unit's whole flash goes to a file before anything is written, so
  // that a unit the update leaves unusable can be put back as it was. The
  // whole part, not only the 64 KB written: the third attempt erases the
  // whole chip.
  // Read twice, and the settings read before must agree with it: a copy that
  // a bus error changed on its way would put wrong settings into the unit
  // and a wrong backup on the disk.
  std::vector<uint8_t> flash;
  steps.Begin(ProgressStep::Backup);
  if (!ReadWholeFlashTwice(host, path, flash) ||
      !std::equal(deviceHead.begin(), deviceHead.end(), flash.begin()) ||
      !SaveBackupFile(options.backupPath, flash.data(), flash.size())) {
    host.SetStatusText(kFlashBackupFail);
    return 0;
  }
  settings.TransferBlockSize = 8192;
  out.backupWritten = true;
  out.backupPath = options.backupPath;
  out.backupSize = static_cast<uint32_t>(flash.size());

  host.StepProgress(kProgressPerStage);
  std::fill(image.begin(), image.end(), 0);
  std::fill(readBack.begin(), readBack.end(), 0);
  CopyImage(options.image, std::span<uint8_t>(image.data(), image.size()), 0, 0);

  if (valid) {
    MergeDeviceHeader(std::span<uint8_t>(deviceHead.data(), deviceHead.size()), newHeader);
    std::copy_n(deviceHead.data(), kMergedHeaderSize, image.data());
    // A record may cover words past the merged 1 KB (an erased record reads
    // N = 255): its checksum is worked over what the flash will hold there,
    // the image's own bytes.
    UpdateWrittenHeaderChecksums(std::span<uint8_t>(image.data(), image.size()));
    out.headerMerged = true;
  }

  steps.Begin(ProgressStep::Program);
  host.SetStatusText(texts::kProgrammingStep);
  settings.LargeEraseCount = 0;
  settings.SmallEraseCount = 0;

  // MXIC parts are switched to their erase sequence by one first block
  // written in block-erase mode.
  if (host.FlashMaker() == FlashMaker::Mxic) PrepareMxicFlash(path, image.data());

  // Block erase first, then sector erase, then the whole chip.
  int mode = settings.DefaultWriteMode;
  bool failed = true;
  for (int attempt = 1; attempt <= kUpdateAttempts; ++attempt) {
    out.attempts = attempt;
    out.lastMode = mode;
    failed = !ProgramAndVerify(host, path, 0, image.data(), readBack.data(), kFlashImageSize, mode,
                               kProgressPerStage);
    if (!failed) break;
    if (attempt < kUpdateAttempts) mode = WriteModeAfterFailedAttempt(attempt);
  }
  host.StepProgress(kProgressPerStage);

  if (failed) return 0;
  host.SetStatusText(statusPrefix + texts::kProgrammingSuccess);
  return 1;
}

}  // namespace fwtool
