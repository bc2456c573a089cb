// SPDX-License-Identifier: GPL-2.0-or-later
// The disk behind a bridge is its user's. A controller that runs its own
// internal code shows the host the whole disk, and the place it keeps its
// firmware then lies inside what the host partitions and fills: writing
// there destroys the user's last sectors. Such sectors are written only
// when they hold nothing (zeros), when they hold the controller's firmware
// already, or when the operator says so.
#include <algorithm>
#include <string>

#include "disk_hosted_steps.h"
#include "flash_commands.h"
#include "operator.h"
#include "procedure_texts.h"
#include "transport.h"

namespace fwtool {

namespace {

std::string SectorRange(const DiskWriteTarget& target) {
  return std::to_string(target.first) + ".." + std::to_string(target.first + target.sectors - 1);
}

}  // namespace

uint64_t VisibleSectorsOf(const DiskWriteTarget& target) {
  if (!target.visibleSectors) return target.sectors;
  const uint64_t visible = *target.visibleSectors;
  if (target.first >= visible) return 0;
  return std::min(target.sectors, visible - target.first);
}

bool DiskWriteNeedsNoConsent(const DiskWriteTarget& target, const uint8_t* current,
                             const std::function<bool()>& firmwareCopy) {
  const uint64_t visible = VisibleSectorsOf(target);
  if (visible == 0) return true;
  const uint8_t* end = current + visible * target.sectorSize;
  return std::all_of(current, end, [](uint8_t b) { return b == 0; }) || firmwareCopy();
}

bool CutShortWriteOver(const uint8_t* now, const uint8_t* copy, uint64_t length,
                       uint32_t sectorSize) {
  if (sectorSize == 0 || length % sectorSize != 0) return false;
  // The sectors that still hold the copy, counted back from the last.
  uint64_t end = length;
  while (end > 0 && std::equal(now + end - sectorSize, now + end, copy + end - sectorSize))
    end -= sectorSize;
  // A write cut short leaves at least the last sector as it was.
  return end < length || length == 0;
}

int MayWriteDiskSectors(
    const ProcedureRequest& request, ProcedureHost& host, const DiskWriteTarget& target,
    const std::function<int(uint8_t* data, uint64_t length)>& read,
    const std::function<bool(const uint8_t* data, uint64_t length)>& firmwareCopy) {
  if (VisibleSectorsOf(target) == 0 || target.sectors == 0) return 1;
  if (request.options.diskData == DiskDataChoice::Overwrite) return 1;
  auto refuse = [&](const char* text) {
    host.NothingWritten();
    host.SetStatusText(text + SectorRange(target));
    host.ProcessMessages();
    return 0;
  };
  const uint64_t length = target.sectors * target.sectorSize;
  AlignedBuffer data(static_cast<size_t>(length));
  if (!data) {
    host.SetStatusText(texts::kAllocateReadBufferError);
    return 0;
  }
  if (!read(data.data(), length)) return refuse(texts::kDiskDataUnreadable);
  if (DiskWriteNeedsNoConsent(target, data.data(),
                              [&] { return firmwareCopy(data.data(), length); }))
    return 1;
  switch (request.options.diskData) {
    case DiskDataChoice::Ask:
      if (host.QuestionBox(
              texts::kDiskDataQuestion + SectorRange(target) + texts::kDiskDataQuestionEnd,
              kCaptionMessage))
        return 1;
      return refuse(texts::kDiskDataRefused);
    case DiskDataChoice::Keep:
      return refuse(texts::kDiskDataRefused);
    case DiskDataChoice::Overwrite:
      return 1;
  }
  return 0;
}

}  // namespace fwtool
