// SPDX-License-Identifier: GPL-2.0-or-later
// Where the disk-hosted controllers keep their firmware. The place is
// derived from the disk's capacity, its drive size and the location marker,
// and each of them can fail or be wrong; a place that cannot be trusted is
// refused with the reason rather than guessed.
#include "ata_commands.h"
#include "backup_file.h"
#include "disk_commands.h"
#include "disk_hosted_steps.h"
#include "firmware.h"
#include "flash_commands.h"
#include "operator.h"
#include "procedure_texts.h"
#include "transport.h"

namespace fwtool {

namespace {

constexpr uint64_t kOneMegabyte = 1048576;

BackupTarget DiskBackupFile(const ProcedureRequest& request, ProcedureHost& host) {
  BackupTarget file =
      EngineeringBackupTarget(request.options.backupFile, texts::kDefaultBackupFile);
  if (!file.named) host.MessageBox(texts::kDefaultBackupBox, kCaptionMessage);
  return file;
}

}  // namespace

int BackupDiskBytes(const ProcedureRequest& request, ProcedureHost& host, uint32_t length,
                    const std::function<int(uint8_t* data, uint32_t length)>& read) {
  const BackupTarget file = DiskBackupFile(request, host);
  host.SetStatusText(texts::kBackupStep);
  host.ProcessMessages();
  auto fail = [&host] {
    host.SetStatusText(texts::kReadBackToBackupError);
    host.ProcessMessages();
    return 0;
  };
  AlignedBuffer data(length);
  if (length == 0 || !data) {
    host.SetStatusText(texts::kAllocateReadBufferError);
    return fail();
  }
  // A copy of what could not be read would be no backup.
  if (!read(data.data(), length)) return fail();
  host.Progress().Advance(1, 1);
  if (!SaveEngineeringBackup(host, file, data.data(), length)) return fail();
  host.SetStatusText(texts::kBackupSuccess);
  host.ProcessMessages();
  return 1;
}

bool ReadDiskFirmwareFile(const ProcedureRequest& request, ProcedureHost& host, uint64_t room,
                          std::vector<uint8_t>& file) {
  auto opened = ImageFile::Open(request.options.firmwareFile);
  if (!opened || !opened->ReadAll(file)) {
    host.SetStatusText(texts::kOpenFileError);
    return false;
  }
  if (file.empty()) {
    host.SetStatusText(texts::kFirmwareFileEmpty);
    return false;
  }
  if (file.size() > room) {
    host.SetStatusText(texts::kFileLargerThanDiskArea);
    return false;
  }
  return true;
}

std::optional<DiskFirmwareArea> FindDiskFirmwareArea(const std::string& path, int chipType,
                                                     std::string& why) {
  DiskFirmwareArea area;
  area.sectorSize = ReadCapacityOr512(path);
  if (!SectorSizeUsable(area.sectorSize)) {
    why = "the disk reports sectors of " + std::to_string(area.sectorSize) + " bytes";
    return std::nullopt;
  }
  const ReservedAreaQuery q = QueryReservedArea(path, area.sectorSize, chipType);
  if (!q.known) {
    why = q.reason;
    return std::nullopt;
  }
  area.wide = (q.driveSectors >> 32) != 0;
  area.anchor = static_cast<uint32_t>(q.anchor);
  area.markerKept = q.supported;
  area.flag17 = q.flag17;
  // The area ends at the last 256-sector boundary at or below the anchor
  // less one (the anchor itself with the flag); on a small disk there is no
  // room below it.
  const uint64_t back = q.flag17 ? 0 : 1;
  if (q.anchor < back + 2 * kDiskAreaSectors) {
    why = "the disk is too small to hold a firmware area";
    return std::nullopt;
  }
  const uint64_t end = (q.anchor - back) / kDiskAreaSectors * kDiskAreaSectors;
  area.start = end - kDiskAreaSectors;
  if (q.driveSectors == 0) {
    // Without the drive's own count only the capacity is known, and a
    // controller that keeps its firmware on the disk hides the stretch
    // behind it: where the disk ends is not known.
    if (end > static_cast<uint64_t>(q.lastLba) + 1) {
      why = "the drive's size is unknown: it does not answer IDENTIFY DEVICE";
      return std::nullopt;
    }
  } else if (end > q.driveSectors) {
    why = "the firmware area would lie beyond the end of the disk";
    return std::nullopt;
  }
  // What the host is shown; on a disk of 2^32 sectors or more the 10-byte
  // answer saturates and READ CAPACITY(16) tells it.
  area.visibleSectors = HostCapacityAfter(path, q.lastLba);
  if (area.visibleSectors) {
    const uint64_t visible = *area.visibleSectors;
    // A controller that runs its firmware from the disk hides the area
    // behind the capacity it reports; the others show their whole disk.
    if (q.supported && area.start < visible) {
      why = "the firmware area would lie inside the capacity the host is shown";
      return std::nullopt;
    }
    if (!q.supported && q.driveSectors != 0 && visible != q.driveSectors) {
      why = "the capacity the controller reports does not match the drive";
      return std::nullopt;
    }
  }
  return area;
}

std::optional<Vqs175Region> FindVqs175Region(const std::string& path, std::string& why) {
  Vqs175Region region;
  region.sectorSize = ReadCapacityOr512(path);
  if (!SectorSizeUsable(region.sectorSize) || kVqs175CodeSize % region.sectorSize != 0) {
    why = "the disk reports sectors of " + std::to_string(region.sectorSize) + " bytes";
    return std::nullopt;
  }
  const uint64_t lastLba = ReadCapacity16(path);
  const uint64_t driveSectors = AtaDriveSectors(path);
  const uint64_t unit = kOneMegabyte / region.sectorSize;
  uint64_t top = 0;
  uint64_t diskSectors = 0;
  if (driveSectors != 0) {
    region.ata = true;
    top = (driveSectors - 1) / unit * unit;
    diskSectors = driveSectors;
  } else {
    // Without the drive's own count only READ CAPACITY(16) is left.
    if (lastLba == 0 || lastLba == UINT64_MAX) {
      why = "the disk's capacity cannot be read";
      return std::nullopt;
    }
    top = lastLba / unit * unit;
    diskSectors = lastLba + 1;
  }
  if (top < 2 * unit) {
    why = "the disk is smaller than the firmware region";
    return std::nullopt;
  }
  // The first megabyte holds the partition table and the boot code.
  if (top < 3 * unit) {
    why = "the firmware region would start inside the first 1 MB of the disk";
    return std::nullopt;
  }
  region.start = top - 2 * unit;
  if (region.start + kVqs175RegionSize / region.sectorSize > diskSectors) {
    why = "the firmware region would lie beyond the end of the disk";
    return std::nullopt;
  }
  region.visibleSectors = ReadHostCapacity(path);
  return region;
}

}  // namespace fwtool
