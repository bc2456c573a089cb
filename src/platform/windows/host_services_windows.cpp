#include <windows.h>
// After windows.h:
#include <fcntl.h>
#include <io.h>
#include <shlobj.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <filesystem>

#include "host_services.h"

namespace fwtool::host {

namespace fs = std::filesystem;

namespace {

std::atomic<bool> gInterrupted{false};

// Runs on a thread of its own that the console starts for the event; the
// program goes on and sees the flag at its next pass through the message pump.
// Closing the console window cannot be held (the system ends the program a
// few seconds later whatever the handler says), so that event is left alone.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  gInterrupted = true;
  return TRUE;
}

HANDLE StandardHandle(StandardStream stream) {
  switch (stream) {
    case StandardStream::Input:
      return ::GetStdHandle(STD_INPUT_HANDLE);
    case StandardStream::Output:
      return ::GetStdHandle(STD_OUTPUT_HANDLE);
    case StandardStream::Error:
      return ::GetStdHandle(STD_ERROR_HANDLE);
  }
  return INVALID_HANDLE_VALUE;
}

}  // namespace

std::string UserDataFolder() {
  char folder[MAX_PATH] = {};
  if (SUCCEEDED(
          ::SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)) &&
      folder[0] != '\0')
    return (fs::path(folder) / "fwtool").string();
  return {};
}

std::FILE* OpenNewFile(const std::string& path) {
  // The C library of the system has no "x" mode; the exclusive create of
  // the lower level does the same.
  const int fd =
      ::_open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  std::FILE* file = ::_fdopen(fd, "wb");
  if (file == nullptr) ::_close(fd);
  return file;
}

bool FlushToDisk(std::FILE* file) {
  const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
  return handle != INVALID_HANDLE_VALUE && ::FlushFileBuffers(handle) != 0;
}

bool RenameNoReplace(const std::string& from, const std::string& to, std::error_code& ec) {
  ec.clear();
  // Without MOVEFILE_REPLACE_EXISTING the move fails when the name exists.
  if (::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != 0) return true;
  ec.assign(static_cast<int>(::GetLastError()), std::system_category());
  return false;
}

std::string ProgramFolder() {
  char self[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameA(nullptr, self, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    const fs::path path(self);
    if (path.has_parent_path()) return path.parent_path().string();
  }
  std::error_code ec;
  return fs::current_path(ec).string();
}

bool IsTerminal(StandardStream stream) {
  // The null device is a character device too; only a console has a mode.
  const HANDLE handle = StandardHandle(stream);
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         ::GetFileType(handle) == FILE_TYPE_CHAR && ::GetConsoleMode(handle, &mode) != 0;
}

struct InterruptHold::Saved {};

InterruptHold::InterruptHold() : saved_(std::make_unique<Saved>()) {
  ::SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);
}

InterruptHold::~InterruptHold() {
  ::SetConsoleCtrlHandler(&OnConsoleEvent, FALSE);
}

bool TakeInterruptRequest() {
  return gInterrupted.exchange(false);
}

}  // namespace fwtool::host
