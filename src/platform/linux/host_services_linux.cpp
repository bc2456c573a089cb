#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

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

std::FILE* OpenNewFile(const std::string& path) {
  return std::fopen(path.c_str(), "wbx");
}

bool FlushToDisk(std::FILE* file) {
  return ::fsync(::fileno(file)) == 0;
}

bool RenameNoReplace(const std::string& from, const std::string& to, std::error_code& ec) {
  ec.clear();
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) {
    ec.assign(errno, std::generic_category());
    return false;
  }
  // A file system without the no-replace rename: a hard link fails as
  // surely when the name exists; the last resort only looks first.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return true;
  }
  if (errno == EEXIST) {
    ec.assign(EEXIST, std::generic_category());
    return false;
  }
  if (fs::exists(to, ec) || ec) {
    if (!ec) ec.assign(EEXIST, std::generic_category());
    return false;
  }
  fs::rename(from, to, ec);
  return !ec;
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
