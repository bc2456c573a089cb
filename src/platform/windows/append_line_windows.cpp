// SPDX-License-Identifier: GPL-2.0-or-later
// Appending one line to a file that several programs (or the threads of one)
// add to: the lock, the single write, the cut after a failed write.
#include <windows.h>

#include <filesystem>
#include <system_error>

#include "host_services.h"

namespace fwtool::host {

namespace fs = std::filesystem;

namespace {

// The lock is one byte far past any line the file will hold: the system's
// locks keep others from the bytes they cover, and readers of the file must
// not be kept out while a line goes in.
constexpr DWORD kLockOffsetLow = 0xFFFFFFFE;
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

std::string Reason(const std::string& what, DWORD code = ::GetLastError()) {
  return what + ": " + std::system_category().message(static_cast<int>(code));
}

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

class Lock {
 public:
  explicit Lock(HANDLE handle) : handle_(handle) {
    overlapped_.Offset = kLockOffsetLow;
    overlapped_.OffsetHigh = kLockOffsetHigh;
    held_ = ::LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &overlapped_) != 0;
  }
  ~Lock() {
    if (held_) ::UnlockFileEx(handle_, 0, 1, 0, &overlapped_);
  }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  bool Held() const { return held_; }

 private:
  HANDLE handle_;
  OVERLAPPED overlapped_{};
  bool held_ = false;
};

bool MoveTo(HANDLE handle, LONGLONG offset, DWORD from) {
  LARGE_INTEGER distance{};
  distance.QuadPart = offset;
  return ::SetFilePointerEx(handle, distance, nullptr, from) != 0;
}

bool WriteAll(HANDLE handle, std::string_view text) {
  while (!text.empty()) {
    DWORD written = 0;
    if (!::WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written == 0)
      return false;
    text.remove_prefix(written);
  }
  return true;
}

}  // namespace

bool AppendLine(const std::string& path, std::string_view line, std::string& error) {
  const fs::path file(path);
  std::error_code ec;
  if (file.has_parent_path()) fs::create_directories(file.parent_path(), ec);
  if (ec) {
    error = file.parent_path().string() + ": " + ec.message();
    return false;
  }
  // The link itself is opened, never what it leads to, and then refused.
  const Handle handle(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (handle.get() == INVALID_HANDLE_VALUE) {
    error = Reason(path);
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(handle.get(), &info)) {
    error = Reason(path);
    return false;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    error = path + ": a link; the history is not written through links";
    return false;
  }
  if (::GetFileType(handle.get()) != FILE_TYPE_DISK) {
    error = path + ": not a regular file";
    return false;
  }

  const Lock lock(handle.get());
  if (!lock.Held()) {
    error = Reason(path);
    return false;
  }
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(handle.get(), &size)) {
    error = Reason(path);
    return false;
  }
  const LONGLONG before = size.QuadPart;
  std::string text;
  char last = '\n';
  DWORD read = 0;
  if (before > 0 && MoveTo(handle.get(), before - 1, FILE_BEGIN) &&
      (!::ReadFile(handle.get(), &last, 1, &read, nullptr) || read != 1))
    last = '\n';
  if (last != '\n') text += '\n';
  text.append(line);
  if (text.empty() || text.back() != '\n') text += '\n';

  if (!MoveTo(handle.get(), 0, FILE_END) || !WriteAll(handle.get(), text) ||
      !::FlushFileBuffers(handle.get())) {
    const DWORD code = ::GetLastError();
    // Whole or not at all: what went in of this line comes out again.
    if (MoveTo(handle.get(), before, FILE_BEGIN) && ::SetEndOfFile(handle.get()))
      ::FlushFileBuffers(handle.get());
    error = Reason(path, code);
    return false;
  }
  return true;
}

}  // namespace fwtool::host
