// SPDX-License-Identifier: GPL-2.0-or-later
#include "sptd_backend.h"

#include "held_node.h"
#include "scsi_pass_through_record.h"

namespace fwtool::platform {

namespace {

// A device open for one command or for a session; closed on every path.
struct DeviceHandle final : OpenNode {
  explicit DeviceHandle(HANDLE handle) : handle(handle) {}
  ~DeviceHandle() override { ::CloseHandle(handle); }
  DeviceHandle(const DeviceHandle&) = delete;
  DeviceHandle& operator=(const DeviceHandle&) = delete;
  const HANDLE handle;
};

// Errors of a handle whose device has left: the request never reached it.
bool DeviceGone(DWORD error) {
  return error == ERROR_DEVICE_NOT_CONNECTED || error == ERROR_DEV_NOT_EXIST ||
         error == ERROR_FILE_NOT_FOUND;
}

}  // namespace

PassThroughResult SptdBackend::Execute(const PassThroughRequest& request) {
  if (request.length != 0 && request.data == nullptr) {
    PassThroughResult result;
    result.detail = "no data buffer for a transfer of " + std::to_string(request.length) + " bytes";
    return result;
  }
  NodeOps ops;
  ops.open = [&](bool exclusive, PassThroughResult& failure) -> std::unique_ptr<OpenNode> {
    const HANDLE handle =
        ::CreateFileA(request.path.c_str(), GENERIC_READ | GENERIC_WRITE, ShareModeFor(exclusive),
                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      failure.errorCode = static_cast<int>(error);
      failure.detail = DescribeOpenError(request.path, error);
      return nullptr;
    }
    return std::make_unique<DeviceHandle>(handle);
  };
  ops.send = [&](OpenNode& open, bool& gone) {
    SptdRecord record = MakeSptdRecord(request);
    DWORD returned = 0;
    ::SetLastError(0);
    const BOOL ok =
        ::DeviceIoControl(static_cast<DeviceHandle&>(open).handle, IOCTL_SCSI_PASS_THROUGH_DIRECT,
                          &record, sizeof record, &record, sizeof record, &returned, nullptr);
    const DWORD lastError = ::GetLastError();
    gone = ok == 0 && DeviceGone(lastError);
    return InterpretSptdReply(record, ok != 0, lastError, request.path);
  };
  return ExecuteOnNode(request, ops);
}

}  // namespace fwtool::platform
