// SPDX-License-Identifier: GPL-2.0-or-later
#include "scsi_pass_through_record.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>

namespace fwtool::platform {

namespace {

// The system's own sentence for an error code, without its line break.
std::string SystemMessage(DWORD error) {
  char text[512] = {};
  const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, text, sizeof text, nullptr);
  std::string message(text, length);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.'))
    message.pop_back();
  if (message.empty()) message = fmt::format("error {}", error);
  return message;
}

}  // namespace

SptdRecord MakeSptdRecord(const PassThroughRequest& request) {
  SptdRecord record;
  std::memset(&record, 0, sizeof record);
  SCSI_PASS_THROUGH_DIRECT& sptd = record.sptd;
  sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
  sptd.PathId = request.pathId;
  sptd.TargetId = request.targetId;
  sptd.Lun = request.lun;
  sptd.CdbLength = std::min<UCHAR>(request.cdbLength, sizeof sptd.Cdb);
  sptd.SenseInfoLength = kSptdSenseSize;
  sptd.DataIn = request.direction == DataDirection::In ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_OUT;
  sptd.DataTransferLength = request.data != nullptr ? request.length : 0;
  sptd.TimeOutValue = request.timeoutSeconds;
  sptd.DataBuffer = sptd.DataTransferLength != 0 ? request.data : nullptr;
  sptd.SenseInfoOffset = offsetof(SptdRecord, sense);
  std::copy_n(request.cdb.begin(), sptd.CdbLength, sptd.Cdb);
  return record;
}

DWORD ShareModeFor(bool exclusive) {
  return exclusive ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE;
}

DWORD ShareModeFor(const PassThroughRequest& request) {
  return ShareModeFor(request.exclusive);
}

std::string DescribeOpenError(const std::string& path, DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
      return fmt::format("cannot open {}: {}", path, kNeedsAdministratorText);
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEVICE_NOT_CONNECTED:
      return fmt::format("cannot open {}: no such device (unplugged?)", path);
    case ERROR_SHARING_VIOLATION:
      return fmt::format("cannot open {}: in use by another program", path);
    default:
      return fmt::format("cannot open {}: {}", path, SystemMessage(error));
  }
}

std::string DescribeControlError(const std::string& path, DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
      return fmt::format("SCSI pass-through on {} refused: {}", path, kNeedsAdministratorText);
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
      return fmt::format("{} does not take SCSI commands", path);
    case ERROR_SEM_TIMEOUT:
      return fmt::format("SCSI pass-through on {}: the command timed out", path);
    default:
      return fmt::format("SCSI pass-through on {} failed: {}", path, SystemMessage(error));
  }
}

PassThroughResult InterpretSptdReply(const SptdRecord& record, bool callOk, DWORD lastError,
                                     const std::string& path) {
  PassThroughResult result;
  result.opened = true;
  result.callOk = callOk;
  result.errorCode = static_cast<int>(lastError);
  const SCSI_PASS_THROUGH_DIRECT& sptd = record.sptd;
  result.transferred = sptd.DataTransferLength;
  result.scsiStatus = sptd.ScsiStatus;
  if (!callOk || lastError != 0) {
    result.detail = DescribeControlError(path, lastError);
    return result;
  }
  const size_t senseLength = std::min<size_t>(sptd.SenseInfoLength, kSptdSenseSize);
  if (sptd.ScsiStatus != 0) {
    result.sense.assign(record.sense, record.sense + senseLength);
    result.detail =
        fmt::format("SCSI status 0x{:02X} ({})", sptd.ScsiStatus, ScsiStatusName(sptd.ScsiStatus));
  }
  return result;
}

}  // namespace fwtool::platform
