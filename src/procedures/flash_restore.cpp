// SPDX-License-Identifier: GPL-2.0-or-later
#include "flash_restore.h"

#include <fmt/format.h>

#include "block_transfer.h"
#include "chip_tables.h"
#include "image_layout.h"
#include "procedure_host.h"
#include "progress.h"

namespace fwtool {

namespace {

constexpr int32_t kTransferBlock = 8192;
// The part read once to learn its size, then written back (each kind with
// the steps of its own).
constexpr WeightedStep kRestoreSteps[] = {{ProgressStep::Prepare, 5}, {ProgressStep::Program, 95}};

// The first signature block of the type's places that carries its magic
// (the full one where the place names none); nullopt when none does.
std::optional<SignatureBlock> SignatureIn(std::span<const uint8_t> image, int chipType) {
  for (const SignaturePlace& place : SignaturePlacesFor(chipType)) {
    const SignatureBlock block = SignatureBlock::At(image, place.offset);
    const auto magic = place.magic == MagicKind::None ? std::span<const uint8_t>(kSignatureMagic)
                                                      : MagicBytes(place.magic);
    if (block.StartsWith(magic)) return block;
  }
  return std::nullopt;
}

}  // namespace

int ReadWholeFlash(ProcedureHost& host, std::string_view path, std::vector<uint8_t>& flash,
                   uint32_t sizeIfErased) {
  host.Settings().TransferBlockSize = kTransferBlock;
  return ReadWrappingPart(
      host.Progress(),
      [&](uint32_t start, uint8_t* data, uint32_t length) {
        return ReadFlashRange(host, path, start, data, static_cast<int32_t>(length));
      },
      flash, sizeIfErased);
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

FileVerdict BackupMatchesChip(std::span<const uint8_t> backup, uint16_t identification) {
  const int type = identification & 0xFF;
  FileVerdict verdict = ImageMatchesChip(backup, identification);
  if (verdict.passes) return verdict;
  const auto block = SignatureIn(backup, type);
  verdict.opened = true;
  if (!block) {
    verdict.passes = true;
    verdict.reason = "the backup holds no firmware signature; nothing in it names another chip.";
  } else if (ChipIdMatchesModel(type, block->ChipId())) {
    verdict.passes = true;
    verdict.reason = fmt::format("its chip id \"{}\" names model {}.",
                                 PrintableChipId(block->ChipId()), ChipModel(type));
  }
  return verdict;
}

int RestoreWholePart(const ProcedureRequest& request, WholePart part, ProcedureHost& host,
                     std::span<const uint8_t> backup, RestoreReport* report) {
  RestoreReport local;
  RestoreReport& out = report != nullptr ? *report : local;
  out = RestoreReport{};

  // The part as it is now tells its size; nothing is written before.
  ProgressSteps steps(host.Progress(), kRestoreSteps);
  std::vector<uint8_t> current;
  if (!ReadWholePart(request, part, host, current, static_cast<uint32_t>(backup.size()))) {
    out.outcome = RestoreOutcome::Unreadable;
    return 0;
  }
  out.flashSize = static_cast<uint32_t>(current.size());
  if (backup.size() != current.size()) {
    out.outcome = RestoreOutcome::WrongSize;
    host.SetStatusText(kRestoreSizeMismatch);
    return 0;
  }
  const auto identification = static_cast<uint16_t>(request.chip.subRev << 8 | request.chip.type);
  const FileVerdict verdict = BackupMatchesChip(backup, identification);
  if (!verdict.passes) {
    out.outcome = RestoreOutcome::WrongChip;
    out.reason = verdict.reason;
    host.SetStatusText(kRestoreChipMismatch);
    return 0;
  }

  steps.Begin(ProgressStep::Program);
  host.SetStatusText(kRestoreStep);
  if (!WriteWholePart(request, part, host, backup)) {
    out.outcome = RestoreOutcome::NotWritten;
    return 0;
  }
  steps.Finish();
  out.outcome = RestoreOutcome::Restored;
  host.SetStatusText(kRestoreSuccess);
  return 1;
}

int RestoreFlashBackup(ProcedureHost& host, std::string_view path, uint16_t identification,
                       std::span<const uint8_t> backup, RestoreReport* report) {
  ProcedureRequest request;
  request.path = std::string(path);
  request.chip.type = static_cast<uint8_t>(identification & 0xFF);
  request.chip.subRev = static_cast<uint8_t>(identification >> 8);
  request.chip.flashMaker = host.FlashMaker();
  request.chip.row = &ChipRowFor(request.chip.type);
  return RestoreWholePart(request, WholePart::FlashRange, host, backup, report);
}

}  // namespace fwtool
