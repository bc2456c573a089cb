// SPDX-License-Identifier: GPL-2.0-or-later
// The disk-hosted procedure of chip types 5, 15 and 16: the firmware lives
// in a reserved stretch at the end of the attached disk and is moved with
// the standard block commands, 64 KB at a time. Erase only, backup only, or
// program from a file with the location marker put into it.
#include <algorithm>
#include <string>
#include <vector>

#include "disk_commands.h"
#include "disk_hosted_steps.h"
#include "disk_sector_guard.h"
#include "flash_commands.h"
#include "operator.h"
#include "procedure_texts.h"
#include "progress.h"
#include "transport.h"

namespace fwtool {

namespace {

// One block at `lba` with the command form the disk needs.
int WriteBlock(const std::string& path, const DiskFirmwareArea& area, uint64_t lba,
               const uint8_t* data, uint32_t length) {
  if (area.wide)
    return Write16(path, data, static_cast<uint32_t>(lba), static_cast<uint32_t>(lba >> 32), length,
                   area.sectorSize);
  return Write10(path, data, static_cast<uint32_t>(lba), length, area.sectorSize);
}

int ReadBlock(const std::string& path, const DiskFirmwareArea& area, uint64_t lba, uint8_t* data,
              uint32_t length) {
  if (area.wide)
    return Read16(path, data, static_cast<uint32_t>(lba), static_cast<uint32_t>(lba >> 32), length,
                  area.sectorSize);
  return Read10(path, data, static_cast<uint32_t>(lba), length, area.sectorSize);
}

const char* WriteFailText(const DiskFirmwareArea& area) {
  return area.wide ? texts::kWriteHdd16Fail : texts::kWriteHddFail;
}

const char* ReadFailText(const DiskFirmwareArea& area) {
  return area.wide ? texts::kReadHdd16Fail : texts::kReadHddFail;
}

// Finding the area asks the disk and the controller a few questions; the
// blocks then go over the bus at disk speed.
constexpr WeightedStep kClearSteps[] = {{ProgressStep::Prepare, 50}, {ProgressStep::Erase, 50}};
constexpr WeightedStep kBackupSteps[] = {{ProgressStep::Prepare, 50}, {ProgressStep::Backup, 50}};
constexpr WeightedStep kProgramSteps[] = {{ProgressStep::Prepare, 40}, {ProgressStep::Program, 60}};

uint32_t RoundUp(uint64_t value, uint64_t unit) {
  return static_cast<uint32_t>((value + unit - 1) / unit * unit);
}

}  // namespace

int MayWriteDiskFirmwareArea(const ProcedureRequest& request, ProcedureHost& host,
                             const DiskFirmwareArea& area, uint64_t length, const uint8_t* copy) {
  const DiskWriteTarget target{area.start, length / area.sectorSize, area.sectorSize,
                               area.visibleSectors};
  return MayWriteDiskSectors(
      request, host, target,
      [&](uint8_t* data, uint64_t bytes) {
        return ReadDiskFirmwareAreaBytes(request.path, area, data, bytes);
      },
      [&](const uint8_t* data, uint64_t bytes) {
        return AreaHoldsFirmware(area, data) ||
               (copy != nullptr && CutShortWriteOver(data, copy, bytes, area.sectorSize));
      });
}

std::optional<DiskFirmwareArea> LocateDiskFirmwareArea(const ProcedureRequest& request,
                                                       ProcedureHost& host) {
  std::string why;
  auto area = FindDiskFirmwareArea(request.path, request.chip.type, why);
  if (!area) {
    host.NothingWritten();
    host.SetStatusText(texts::kDiskAreaNotFound + why);
    host.ProcessMessages();
  }
  return area;
}

int ReadDiskFirmwareAreaBytes(const std::string& path, const DiskFirmwareArea& area, uint8_t* data,
                              uint64_t length) {
  AlignedBuffer block(kDiskBlockSize);
  if (!block) return 0;
  uint64_t lba = area.start;
  for (uint64_t done = 0; done < length; done += kDiskBlockSize) {
    const auto count = static_cast<uint32_t>(std::min<uint64_t>(kDiskBlockSize, length - done));
    if (!ReadBlock(path, area, lba, block.data(), count)) return 0;
    std::copy_n(block.data(), count, data + done);
    lba += kDiskBlockSize / area.sectorSize;
  }
  return 1;
}

int WriteDiskFirmwareAreaBytes(const std::string& path, ProcedureHost& host,
                               const DiskFirmwareArea& area, const uint8_t* data, uint64_t length) {
  AlignedBuffer written(kDiskBlockSize);
  AlignedBuffer readBack(kDiskBlockSize);
  if (!written || !readBack) {
    host.SetStatusText(texts::kAllocateReadBufferError);
    return 0;
  }
  uint64_t lba = area.start;
  for (uint64_t done = 0; done < length; done += kDiskBlockSize) {
    const auto count = static_cast<uint32_t>(std::min<uint64_t>(kDiskBlockSize, length - done));
    std::fill(readBack.begin(), readBack.end(), 0);
    std::copy_n(data + done, count, written.data());
    if (!WriteBlock(path, area, lba, written.data(), count)) {
      host.SetStatusText(WriteFailText(area));
      return 0;
    }
    if (!ReadBlock(path, area, lba, readBack.data(), count)) {
      host.SetStatusText(ReadFailText(area));
      return 0;
    }
    if (!std::equal(written.data(), written.data() + count, readBack.data())) {
      host.SetStatusText(texts::kCompareHddDataFail);
      return 0;
    }
    lba += kDiskBlockSize / area.sectorSize;
    host.Progress().Advance(done + count, length);
    host.ProcessMessages();
  }
  return 1;
}

int ClearDiskFirmwareArea(const ProcedureRequest& request, ProcedureHost& host) {
  ProgressSteps steps(host.Progress(), kClearSteps);
  const auto area = LocateDiskFirmwareArea(request, host);
  if (!area || !MayWriteDiskFirmwareArea(request, host, *area, kDiskBlockSize)) return 0;
  steps.Begin(ProgressStep::Erase);
  AlignedBuffer written(kDiskBlockSize);
  AlignedBuffer readBack(kDiskBlockSize);
  if (!written || !readBack) {
    host.SetStatusText(texts::kAllocateReadBufferError);
    host.ProcessMessages();
    return 0;
  }
  auto fail = [&host](const char* text) {
    host.SetStatusText(text);
    host.ProcessMessages();
    return 0;
  };
  if (area->markerKept) {
    // The controller finds its firmware by the marker: it survives the clear.
    // Read twice, as the settings are: a marker a bus error changed on its
    // way would send the controller elsewhere.
    AlignedBuffer again(area->sectorSize);
    if (!again) return fail(texts::kAllocateReadBufferError);
    if (!ReadBlock(request.path, *area, area->start, readBack.data(), area->sectorSize) ||
        !ReadBlock(request.path, *area, area->start, again.data(), area->sectorSize)) {
      host.NothingWritten();
      return fail(ReadFailText(*area));
    }
    if (!std::equal(readBack.data() + kMarkerAt, readBack.data() + kMarkerAt + kMarkerLength,
                    again.data() + kMarkerAt)) {
      host.NothingWritten();
      return fail(texts::kMarkerReadsDiffer);
    }
    std::copy_n(readBack.data() + kMarkerAt, kMarkerLength, written.data() + kMarkerAt);
    std::fill(readBack.begin(), readBack.end(), 0);
  }
  if (!WriteBlock(request.path, *area, area->start, written.data(), kDiskBlockSize))
    return fail(WriteFailText(*area));
  if (!ReadBlock(request.path, *area, area->start, readBack.data(), kDiskBlockSize))
    return fail(ReadFailText(*area));
  if (!std::equal(written.begin(), written.end(), readBack.begin()))
    return fail(texts::kCompareHddFail);
  steps.Finish();
  host.SetStatusText(texts::kEraseHddSuccess);
  host.ProcessMessages();
  return 1;
}

int BackupDiskFirmwareArea(const ProcedureRequest& request, ProcedureHost& host) {
  ProgressSteps steps(host.Progress(), kBackupSteps);
  const auto area = LocateDiskFirmwareArea(request, host);
  if (!area) return 0;
  steps.Begin(ProgressStep::Backup);
  // The size the operator chose, in whole sectors, and never past the area.
  const int32_t chosen = std::max(host.Settings().SelectedFlashSize, 0);
  const uint32_t length =
      RoundUp(std::min<uint64_t>(static_cast<uint64_t>(chosen), area->Bytes()), area->sectorSize);
  if (!BackupDiskBytes(request, host, length, [&](uint8_t* data, uint32_t bytes) {
        return ReadBlock(request.path, *area, area->start, data, bytes);
      }))
    return 0;
  // A size beyond the area is cut to the area; the operator is told how
  // much the file holds.
  if (length < static_cast<uint32_t>(chosen)) {
    host.SetStatusText(std::string(texts::kBackupSuccess) + " " + std::to_string(length) +
                       texts::kBackupCutToAreaMiddle + std::to_string(chosen) +
                       texts::kBackupCutToAreaEnd);
    host.ProcessMessages();
  }
  return 1;
}

int ProgramDiskFirmwareArea(const ProcedureRequest& request, ProcedureHost& host) {
  ProgressSteps steps(host.Progress(), kProgramSteps);
  const auto first = LocateDiskFirmwareArea(request, host);
  if (!first) return 0;
  // The controller is asked for its anchor a second time before the write,
  // and the area (on a disk of 2^32 sectors or more its 64-bit start) is
  // placed by that answer. Two answers that disagree leave the place
  // uncertain: nothing is written.
  const auto area = LocateDiskFirmwareArea(request, host);
  if (!area) return 0;
  if (area->anchor != first->anchor || area->start != first->start) {
    host.SetStatusText(std::string(texts::kDiskAreaNotFound) +
                       "the controller named two different places for it");
    host.ProcessMessages();
    return 0;
  }
  std::vector<uint8_t> file;
  if (!ReadDiskFirmwareFile(request, host, area->Bytes(), file)) return 0;
  steps.Begin(ProgressStep::Program);
  // Whole blocks, the bytes past the file zero.
  const uint32_t blocks = RoundUp(file.size(), kDiskBlockSize) / kDiskBlockSize;
  std::vector<uint8_t> image(static_cast<size_t>(blocks) * kDiskBlockSize, 0);
  std::copy(file.begin(), file.end(), image.begin());
  if (!MayWriteDiskFirmwareArea(request, host, *area, image.size())) return 0;
  host.SetStatusText(texts::kProgrammingStep);
  // The marker tells the controller where its firmware lies, whatever the
  // file holds there.
  PutLocationMarker(image.data(), area->anchor);

  if (!WriteDiskFirmwareAreaBytes(request.path, host, *area, image.data(), image.size())) return 0;
  host.SetStatusText(texts::kProgrammingSuccess);
  host.ProcessMessages();
  return 1;
}

int RunDiskHostedUpdate(const ProcedureRequest& request, ProcedureHost& host) {
  const EngineeringOptions& options = request.options;
  if (options.rdVersion && options.eraseOnly) {
    if (!ClearDiskFirmwareArea(request, host)) return 0;
    host.MessageBox(texts::kPowerCycleBox, kCaptionMessage);
    return 1;
  }
  if (options.rdVersion && options.backupOnly) return BackupDiskFirmwareArea(request, host);
  if (!ProgramDiskFirmwareArea(request, host)) return 0;
  host.MessageBox(texts::kPowerCycleBox, kCaptionMessage);
  return 1;
}

}  // namespace fwtool
