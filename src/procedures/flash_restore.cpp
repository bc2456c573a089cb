#include "flash_restore.h"

#include <algorithm>

#include "block_transfer.h"
#include "file_tests.h"
#include "flash_programming.h"
#include "flash_settings.h"
#include "procedure_host.h"
#include "progress.h"
#include "transport.h"

namespace fwtool {

namespace {

constexpr int32_t kTransferBlock = 8192;
constexpr int kProgressPerStage = 10;
// The flash read once to learn the part's size, then the attempts (each a
// write and a read-back of the whole part).
constexpr WeightedStep kRestoreSteps[] = {{ProgressStep::Prepare, 5}, {ProgressStep::Program, 95}};

bool Uniform(std::span<const uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [&](uint8_t b) { return b == bytes.front(); });
}

// Reads [start, start + length) into the end of `flash`; the step moves on
// by the bytes read against the `expected` size of the part.
bool Append(ProcedureHost& host, std::string_view path, std::vector<uint8_t>& flash, uint32_t start,
            uint32_t length, uint32_t expected) {
  const size_t at = flash.size();
  const ProgressPart piece(host.Progress(), at, length, expected);
  flash.resize(at + length);
  return ReadFlashRange(host, path, start, flash.data() + at, static_cast<int32_t>(length)) != 0;
}

// Whether the bytes at `place` are those at 0 again: the part's addresses
// wrapped round. A first 64 KB that says little is compared whole. The
// probes do not move the step: they read nothing that is kept.
bool WrapsAt(ProcedureHost& host, std::string_view path, std::span<const uint8_t> first,
             uint32_t place, uint32_t expected, bool* readOk) {
  const ProgressPart none(host.Progress(), place, 0, expected);
  std::vector<uint8_t> probe(kWrapProbeSize);
  *readOk = ReadFlashRange(host, path, place, probe.data(), kWrapProbeSize) != 0;
  if (!*readOk || !std::equal(probe.begin(), probe.end(), first.begin())) return false;
  if (!Uniform(first.first(kWrapProbeSize))) return true;
  std::vector<uint8_t> whole(kSmallestFlashSize);
  *readOk = ReadFlashRange(host, path, place, whole.data(), kSmallestFlashSize) != 0;
  return *readOk && std::equal(whole.begin(), whole.end(), first.begin());
}

}  // namespace

int ReadWholeFlash(ProcedureHost& host, std::string_view path, std::vector<uint8_t>& flash,
                   uint32_t sizeIfErased) {
  host.Settings().TransferBlockSize = kTransferBlock;
  flash.clear();
  const uint32_t expected = std::max(sizeIfErased, kSmallestFlashSize);
  if (!Append(host, path, flash, 0, kSmallestFlashSize, expected)) return 0;
  const std::vector<uint8_t> first(flash.begin(), flash.end());
  // A blank or one-valued start cannot tell a wrap from more of the same.
  if (Uniform(first)) {
    const bool usable = sizeIfErased > kSmallestFlashSize && sizeIfErased <= kLargestFlashSize &&
                        (sizeIfErased & (sizeIfErased - 1)) == 0;
    if (!usable) return 1;
    return Append(host, path, flash, kSmallestFlashSize, sizeIfErased - kSmallestFlashSize,
                  expected)
               ? 1
               : 0;
  }
  for (uint32_t size = kSmallestFlashSize; size < kLargestFlashSize; size *= 2) {
    bool readOk = false;
    if (WrapsAt(host, path, first, size, expected, &readOk)) return 1;
    if (!readOk) return 0;
    if (!Append(host, path, flash, size, size, expected)) return 0;
  }
  return 1;
}

int ReadWholeFlashTwice(ProcedureHost& host, std::string_view path, std::vector<uint8_t>& flash) {
  // Both reads find the size on their own: a bit turned in a probe would
  // otherwise make the part look larger, and the copy hold it twice.
  std::vector<uint8_t> again;
  ProgressSteps reads(host.Progress(), {{ProgressStep::Backup, 1}, {ProgressStep::Backup, 1}});
  if (!ReadWholeFlash(host, path, flash)) return 0;
  reads.Next();
  if (!ReadWholeFlash(host, path, again)) return 0;
  return again == flash ? 1 : 0;
}

int RestoreFlashBackup(ProcedureHost& host, std::string_view path, uint16_t identification,
                       std::span<const uint8_t> backup, RestoreReport* report) {
  RestoreReport local;
  RestoreReport& out = report != nullptr ? *report : local;
  out = RestoreReport{};

  ProgressSteps steps(host.Progress(), kRestoreSteps);
  std::vector<uint8_t> flash;
  if (!ReadWholeFlash(host, path, flash, static_cast<uint32_t>(backup.size()))) {
    out.outcome = RestoreOutcome::Unreadable;
    return 0;
  }
  out.flashSize = static_cast<uint32_t>(flash.size());
  if (backup.size() != flash.size()) {
    out.outcome = RestoreOutcome::WrongSize;
    host.SetStatusText(kRestoreSizeMismatch);
    return 0;
  }
  const FileVerdict verdict = ImageMatchesChip(backup, identification);
  if (!verdict.passes) {
    out.outcome = RestoreOutcome::WrongChip;
    out.reason = verdict.reason;
    host.SetStatusText(kRestoreChipMismatch);
    return 0;
  }

  FlashSettings& settings = host.Settings();
  settings.TransferBlockSize = kTransferBlock;
  steps.Begin(ProgressStep::Program);
  host.SetStatusText(kRestoreStep);
  // MXIC parts are switched to their erase sequence by one first block
  // written in block-erase mode, as before an update.
  if (host.FlashMaker() == kFlashMakerMxic) PrepareMxicFlash(path, backup.data());

  std::vector<uint8_t> readBack(backup.size());
  const auto length = static_cast<int32_t>(backup.size());
  int mode = settings.DefaultWriteMode;
  for (int attempt = 1; attempt <= kProgramAttempts; ++attempt) {
    out.attempts = attempt;
    if (ProgramAndVerify(host, path, 0, backup.data(), readBack.data(), length, mode,
                         kProgressPerStage)) {
      out.outcome = RestoreOutcome::Restored;
      host.SetStatusText(kRestoreSuccess);
      return 1;
    }
    if (attempt < kProgramAttempts) mode = WriteModeAfterFailedAttempt(attempt);
  }
  out.outcome = RestoreOutcome::NotWritten;
  return 0;
}

}  // namespace fwtool
