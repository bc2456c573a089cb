// SPDX-License-Identifier: GPL-2.0-or-later
#include <sys/auxv.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
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

extern "C" void OnInterrupt(int) {
  gInterrupted = true;
}

}  // namespace

std::string UserDataFolder() {
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  if (dataHome != nullptr && dataHome[0] == '/') return (fs::path(dataHome) / "fwtool").string();
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return (fs::path(home) / ".local/share/fwtool").string();
  return {};
}

std::string LocalTimeStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
  return text;
}

RightsFacts CurrentRightsFacts() {
  RightsFacts facts;
  facts.kernelMarksSecure = ::getauxval(AT_SECURE) != 0;
  facts.pkexecUidSet = std::getenv("PKEXEC_UID") != nullptr;
  facts.runsAsRoot = ::geteuid() == 0;
  return facts;
}

void KeepOnlyEnvironment(bool (*keep)(std::string_view name)) {
  std::vector<std::string> dropped;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const std::string_view name = text.substr(0, text.find('='));
    if (!keep(name)) dropped.emplace_back(name);
  }
  for (const auto& name : dropped) ::unsetenv(name.c_str());
}

std::string ProgramFolder() {
  std::error_code ec;
  const auto self = fs::read_symlink("/proc/self/exe", ec);
  if (!ec && self.has_parent_path()) return self.parent_path().string();
  return fs::current_path(ec).string();
}

bool IsTerminal(StandardStream stream) {
  switch (stream) {
    case StandardStream::Input:
      return ::isatty(STDIN_FILENO) != 0;
    case StandardStream::Output:
      return ::isatty(STDOUT_FILENO) != 0;
    case StandardStream::Error:
      return ::isatty(STDERR_FILENO) != 0;
  }
  return false;
}

struct InterruptHold::Saved {
  struct sigaction interrupt {};
  struct sigaction terminate {};
};

InterruptHold::InterruptHold() : saved_(std::make_unique<Saved>()) {
  struct sigaction action {};
  action.sa_handler = &OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &saved_->interrupt);
  sigaction(SIGTERM, &action, &saved_->terminate);
}

InterruptHold::~InterruptHold() {
  sigaction(SIGINT, &saved_->interrupt, nullptr);
  sigaction(SIGTERM, &saved_->terminate, nullptr);
}

bool TakeInterruptRequest() {
  return gInterrupted.exchange(false);
}

}  // namespace fwtool::host
