// SPDX-License-Identifier: GPL-2.0-or-later
// The disk-hosted procedure of chip type 12: a 64 KB region 2 MB below the
// last 1 MB boundary of the disk, whose first 48 KB are code ending with a
// CRC-32 and whose rest, from 0xC000, holds the unit's settings. Without
// "Include 4K NVRAM" only the code area is read, written or cleared. After a
// clear or a programming the controller is reset and attaches again.
#include <algorithm>
#include <vector>

#include "ata_commands.h"
#include "disk_commands.h"
#include "disk_hosted_steps.h"
#include "disk_sector_guard.h"
#include "firmware.h"
#include "flash_commands.h"
#include "operator.h"
#include "procedure_texts.h"
#include "progress.h"
#include "transport.h"

namespace fwtool {

namespace {

// Finding the region asks the disk a few questions; the region then moves
// in one transfer each way.
constexpr WeightedStep kClearSteps[] = {{ProgressStep::Prepare, 40}, {ProgressStep::Erase, 60}};
constexpr WeightedStep kBackupSteps[] = {{ProgressStep::Prepare, 40}, {ProgressStep::Backup, 60}};
constexpr WeightedStep kProgramSteps[] = {{ProgressStep::Prepare, 25}, {ProgressStep::Program, 75}};
// The region written, then read back: one transfer each.
constexpr WeightedStep kWriteSteps[] = {{ProgressStep::Program, 38}, {ProgressStep::Verify, 37}};

uint32_t RegionLength(const ProcedureRequest& request) {
  return request.options.includeNvram ? kVqs175RegionSize : kVqs175CodeSize;
}

int WriteRegion(const std::string& path, const Vqs175Region& region, const uint8_t* data,
                uint32_t length) {
  if (region.ata) return AtaWriteDmaExt(path, region.start, data, length, region.sectorSize);
  return Write16(path, data, static_cast<uint32_t>(region.start),
                 static_cast<uint32_t>(region.start >> 32), length, region.sectorSize);
}

}  // namespace

int MayWriteVqs175Region(const ProcedureRequest& request, ProcedureHost& host,
                         const Vqs175Region& region, uint32_t length, const uint8_t* copy) {
  const DiskWriteTarget target{region.start, length / region.sectorSize, region.sectorSize,
                               region.visibleSectors};
  return MayWriteDiskSectors(
      request, host, target,
      [&](uint8_t* data, uint64_t bytes) {
        return ReadVqs175Region(request.path, region, data, static_cast<uint32_t>(bytes));
      },
      [&](const uint8_t* data, uint64_t bytes) {
        return (copy != nullptr && CutShortWriteOver(data, copy, bytes, region.sectorSize)) ||
               RegionHoldsFirmware(data, bytes);
      });
}

int ReadVqs175Region(const std::string& path, const Vqs175Region& region, uint8_t* data,
                     uint32_t length) {
  if (region.ata) return AtaReadDmaExt(path, region.start, data, length, region.sectorSize);
  return Read16(path, data, static_cast<uint32_t>(region.start),
                static_cast<uint32_t>(region.start >> 32), length, region.sectorSize);
}

std::optional<Vqs175Region> LocateVqs175Region(const ProcedureRequest& request,
                                               ProcedureHost& host) {
  std::string why;
  auto region = FindVqs175Region(request.path, why);
  if (!region) {
    host.NothingWritten();
    host.SetStatusText(texts::kDiskAreaNotFound + why);
    host.ProcessMessages();
  }
  return region;
}

int WriteVqs175RegionChecked(const std::string& path, ProcedureHost& host,
                             const Vqs175Region& region, const uint8_t* data, uint32_t length) {
  AlignedBuffer written(length);
  AlignedBuffer readBack(length);
  if (!written || !readBack) {
    host.SetStatusText(texts::kAllocateReadBufferError);
    return 0;
  }
  std::copy_n(data, length, written.data());
  ProgressSteps steps(host.Progress(), kWriteSteps);
  if (!WriteRegion(path, region, written.data(), length)) {
    host.SetStatusText(texts::kWriteHdd16Fail);
    return 0;
  }
  steps.Begin(ProgressStep::Verify);
  if (!ReadVqs175Region(path, region, readBack.data(), length)) {
    host.SetStatusText(texts::kReadHdd16Fail);
    return 0;
  }
  if (!std::equal(written.begin(), written.end(), readBack.begin())) {
    host.SetStatusText(texts::kCompareHddDataFail);
    return 0;
  }
  steps.Finish();
  return 1;
}

int ClearVqs175FirmwareRegion(const ProcedureRequest& request, ProcedureHost& host) {
  const uint32_t length = RegionLength(request);
  ProgressSteps steps(host.Progress(), kClearSteps);
  const auto region = LocateVqs175Region(request, host);
  if (!region || !MayWriteVqs175Region(request, host, *region, length)) return 0;
  steps.Begin(ProgressStep::Erase);
  AlignedBuffer zeros(length);
  if (!zeros) {
    host.SetStatusText(texts::kAllocateReadBufferError);
    host.ProcessMessages();
    return 0;
  }
  // The controller does not read the region back; only a write it took
  // counts as a clear.
  const int written = WriteRegion(request.path, *region, zeros.data(), length);
  if (written) steps.Finish();
  host.SetStatusText(written ? texts::kEraseHddSuccess : texts::kWriteHdd16Fail);
  host.ProcessMessages();
  return written ? 1 : 0;
}

int BackupVqs175FirmwareRegion(const ProcedureRequest& request, ProcedureHost& host) {
  ProgressSteps steps(host.Progress(), kBackupSteps);
  const auto region = LocateVqs175Region(request, host);
  if (!region) return 0;
  steps.Begin(ProgressStep::Backup);
  return BackupDiskBytes(request, host, RegionLength(request), [&](uint8_t* data, uint32_t bytes) {
    return ReadVqs175Region(request.path, *region, data, bytes);
  });
}

int ProgramVqs175FirmwareRegion(const ProcedureRequest& request, ProcedureHost& host) {
  ProgressSteps steps(host.Progress(), kProgramSteps);
  const auto region = LocateVqs175Region(request, host);
  if (!region) return 0;
  // A file longer than the region does not fit it: refused, not cut.
  std::vector<uint8_t> file;
  if (!ReadDiskFirmwareFile(request, host, kVqs175RegionSize, file)) return 0;
  std::vector<uint8_t> image(kVqs175RegionSize, 0);
  std::copy(file.begin(), file.end(), image.begin());
  uint32_t crc = kCrc32Initial;
  Crc32OverWords(image.data(), kVqs175CrcAt, false, crc);
  for (int i = 0; i < 4; ++i)
    image[kVqs175CrcAt + static_cast<size_t>(i)] = static_cast<uint8_t>(crc >> (8 * i));
  if (!MayWriteVqs175Region(request, host, *region, RegionLength(request))) return 0;
  host.SetStatusText(texts::kProgrammingStep);

  steps.Begin(ProgressStep::Program);
  if (!WriteVqs175RegionChecked(request.path, host, *region, image.data(), RegionLength(request)))
    return 0;
  steps.Finish();
  host.SetStatusText(texts::kProgrammingSuccess);
  host.ProcessMessages();
  return 1;
}

int RunVqs175DiskFirmwareUpdate(const ProcedureRequest& request, ProcedureHost& host) {
  const EngineeringOptions& options = request.options;
  auto resetAndSay = [&] {
    ResetDevice(request.path);
    host.MessageBox(texts::kVqs175ResetBox, kCaptionMessage);
    return 1;
  };
  if (options.rdVersion && options.eraseOnly)
    return ClearVqs175FirmwareRegion(request, host) ? resetAndSay() : 0;
  if (options.rdVersion && options.backupOnly) return BackupVqs175FirmwareRegion(request, host);
  return ProgramVqs175FirmwareRegion(request, host) ? resetAndSay() : 0;
}

}  // namespace fwtool
