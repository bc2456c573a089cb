#include "sptd_backend.h"

#include "scsi_pass_through_record.h"

namespace fwtool::platform {

namespace {

// Closes the device on every path out of a command.
class DeviceHandle {
 public:
  explicit DeviceHandle(HANDLE handle) : handle_(handle) {}
  ~DeviceHandle() {
    if (valid()) ::CloseHandle(handle_);
  }
  DeviceHandle(const DeviceHandle&) = delete;
  DeviceHandle& operator=(const DeviceHandle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace

PassThroughResult SptdBackend::Execute(const PassThroughRequest& request) {
  PassThroughResult result;
  if (request.length != 0 && request.data == nullptr) {
    result.detail = "no data buffer for a transfer of " + std::to_string(request.length) + " bytes";
    return result;
  }
  const DeviceHandle device(::CreateFileA(request.path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                          ShareModeFor(request), nullptr, OPEN_EXISTING, 0,
                                          nullptr));
  if (!device.valid()) {
    const DWORD error = ::GetLastError();
    result.errorCode = static_cast<int>(error);
    result.detail = DescribeOpenError(request.path, error);
    return result;
  }
  SptdRecord record = MakeSptdRecord(request);
  DWORD returned = 0;
  ::SetLastError(0);
  const BOOL ok = ::DeviceIoControl(device.get(), IOCTL_SCSI_PASS_THROUGH_DIRECT, &record,
                                    sizeof record, &record, sizeof record, &returned, nullptr);
  const DWORD lastError = ::GetLastError();
  return InterpretSptdReply(record, ok != 0, lastError, request.path);
}

}  // namespace fwtool::platform
