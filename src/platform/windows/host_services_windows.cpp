// SPDX-License-Identifier: GPL-2.0-or-later
#include <windows.h>
// After windows.h:
#include <shlobj.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "borrowed_rights.h"
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

std::string LocalTimeStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_s(&local, &now);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
  return text;
}

RightsFacts CurrentRightsFacts() {
  // The programs ask for administrator rights when they start (the
  // manifest); nothing is lent to them behind the user's back.
  return {};
}

void KeepOnlyEnvironment(bool (*keep)(std::string_view name)) {
  std::vector<std::string> dropped;
  for (char** entry = _environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const std::string_view name = text.substr(0, text.find('=', 1));
    if (!keep(name)) dropped.emplace_back(name);
  }
  for (const auto& name : dropped) ::_putenv_s(name.c_str(), "");
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
