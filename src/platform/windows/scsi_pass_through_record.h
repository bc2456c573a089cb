// SPDX-License-Identifier: GPL-2.0-or-later
// The request record of one direct SCSI pass-through call on Windows: the
// system's SCSI_PASS_THROUGH_DIRECT followed by a sense area, filled from a
// PassThroughRequest. Kept apart from the call itself so that the bytes the
// driver receives can be checked without a device.
#pragma once

#include <windows.h>
// After windows.h:
#include <ntddscsi.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "pass_through.h"

namespace fwtool::platform {

// Sense bytes asked for with every command.
inline constexpr size_t kSptdSenseSize = 32;

struct SptdRecord {
  SCSI_PASS_THROUGH_DIRECT sptd;
  ULONG filler;  // keeps the sense area on a 32-bit boundary
  UCHAR sense[kSptdSenseSize];
};

// The record's layout on both Windows ABIs. The 32-bit record is 44 bytes
// with the data pointer at 20; on 64-bit the pointer grows to 8 bytes, sits
// at 24, and the record is 56 bytes. `Length` carries the size of the build's
// own record, which is what the driver checks.
#if defined(_WIN64)
static_assert(sizeof(void*) == 8);
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 56);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 24);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset) == 32);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == 36);
static_assert(offsetof(SptdRecord, sense) == 60);
#else
static_assert(sizeof(void*) == 4);
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 44);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 20);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset) == 24);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == 28);
static_assert(offsetof(SptdRecord, sense) == 48);
#endif
// The fields before the pointer are the same on both.
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, ScsiStatus) == 2);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, TargetId) == 4);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, CdbLength) == 6);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoLength) == 7);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataIn) == 8);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength) == 12);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, TimeOutValue) == 16);
static_assert(IOCTL_SCSI_PASS_THROUGH_DIRECT == 0x4D014);

// The record for one request: Length = sizeof the build's record, TargetId 1,
// data-in for SendCommandIn and data-out otherwise (also without data), the
// request's time-out, a null buffer for no data, and the sense area after
// the record.
SptdRecord MakeSptdRecord(const PassThroughRequest& request);

// CreateFile share mode: data-in commands share the device for reading and
// writing, data-out commands want it to themselves.
DWORD ShareModeFor(const PassThroughRequest& request);
// The share mode of an open for exclusive access (0) or shared.
DWORD ShareModeFor(bool exclusive);

// The result of a finished control call on an open device: `callOk` is what
// DeviceIoControl returned, `lastError` the thread's error code read at once
// after it (cleared before the call).
PassThroughResult InterpretSptdReply(const SptdRecord& record, bool callOk, DWORD lastError,
                                     const std::string& path);

// Texts for a device that cannot be opened and a control call that fails.
inline constexpr const char* kNeedsAdministratorText = "needs administrator rights";
std::string DescribeOpenError(const std::string& path, DWORD error);
std::string DescribeControlError(const std::string& path, DWORD error);

}  // namespace fwtool::platform
