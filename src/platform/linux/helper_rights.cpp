// SPDX-License-Identifier: GPL-2.0-or-later
#include "helper_rights.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/auxv.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <utility>
#include <vector>

namespace fwtool::platform {

namespace fs = std::filesystem;

namespace {

// pkexec's own exit codes: the prompt dismissed or the password refused;
// no way to ask (no authentication agent, no polkit daemon).
constexpr int kPkexecNotAuthorized = 126;
constexpr int kPkexecCannotAsk = 127;
// A handed-over helper has said hello long before this.
constexpr int kInheritedHelloMs = 5000;

std::string SelfProgram() {
  std::error_code ec;
  return fs::read_symlink("/proc/self/exe", ec).string();
}

bool Executable(const std::string& path) {
  return !path.empty() && ::access(path.c_str(), X_OK) == 0;
}

// The kernel gives a file capability only where the file carries one.
bool CarriesFileCapability(const std::string& path) {
  return ::getxattr(path.c_str(), "security.capability", nullptr, 0) > 0;
}

// A descriptor number as the variable gives it: decimal, 3 or more (the
// standard streams are no helper).
int ParseDescriptor(std::string_view text) {
  int fd = -1;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), fd);
  if (ec != std::errc() || end != text.data() + text.size() || fd < 3) return -1;
  return fd;
}

// Runs `argv` with one end of a new socket pair as its standard input and
// output; the other end in `fd`. The child's process, or -1.
pid_t StartWithSocket(const std::vector<std::string>& argv, int& fd, std::string& why) {
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    why = fmt::format("no socket pair for {}: {}", kHelperName, std::strerror(errno));
    return -1;
  }
  // Everything the child needs is made before the fork. pkexec and the
  // helper get a fixed search path and the user's language, nothing else
  // of this program's environment.
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> environment = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"};
  if (const char* lang = std::getenv("LANG"); lang != nullptr && std::strlen(lang) < 64)
    environment.push_back(std::string("LANG=") + lang);
  std::vector<char*> env;
  for (auto& e : environment) env.push_back(e.data());
  env.push_back(nullptr);
  const pid_t child = ::fork();
  if (child < 0) {
    why = fmt::format("cannot start {}: {}", argv[0], std::strerror(errno));
    ::close(pair[0]);
    ::close(pair[1]);
    return -1;
  }
  if (child == 0) {
    if (::dup2(pair[1], STDIN_FILENO) < 0 || ::dup2(pair[1], STDOUT_FILENO) < 0) ::_exit(127);
    // The socket and the error stream; no other descriptor of this program.
    ::close_range(3, ~0U, 0);
    ::execve(args[0], args.data(), env.data());
    ::_exit(127);
  }
  ::close(pair[1]);
  fd = pair[0];
  return child;
}

int ExitCodeOf(pid_t child) {
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

std::string InstalledHelperProgram() {
  return FWTOOL_HELPER_INSTALLED;
}

std::string HelperProgramFor(const std::string& program) {
  const fs::path folder = fs::path(program).parent_path();
  if (folder == fs::path(FWTOOL_PACKAGE_BINDIR)) return InstalledHelperProgram();
  const std::string built = (folder.parent_path() / "helper" / "fwtool-helper").string();
  return Executable(built) ? built : InstalledHelperProgram();
}

HelperLaunch LaunchFromEnvironment() {
  HelperLaunch launch;
  launch.helper = HelperProgramFor(SelfProgram());
  const char* value = std::getenv(kHelperFdVariable);
  if (value == nullptr) return launch;
  const std::string text = value;
  ::unsetenv(kHelperFdVariable);
  const int fd = ParseDescriptor(text);
  struct stat st {};
  if (::getauxval(AT_SECURE) != 0) {
    launch.inheritedProblem = fmt::format(
        "{} is not taken by a program started with rights it did not have", kHelperFdVariable);
  } else if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode)) {
    launch.inheritedProblem =
        fmt::format("{}={} names no connected socket", kHelperFdVariable, text);
  } else {
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    launch.inheritedFd = fd;
  }
  return launch;
}

std::vector<std::string> RoutedEnumerator::DiskInterfaces() {
  if (auto helper = Helper()) {
    std::string why;
    auto listed = AskInterfaces(*helper, why);
    return listed ? std::move(listed->disks) : std::vector<std::string>{};
  }
  return local_->DiskInterfaces();
}

std::vector<std::string> RoutedEnumerator::CdromInterfaces() {
  if (auto helper = Helper()) {
    std::string why;
    auto listed = AskInterfaces(*helper, why);
    return listed ? std::move(listed->cdroms) : std::vector<std::string>{};
  }
  return local_->CdromInterfaces();
}

std::string RoutedEnumerator::AccessProblem() {
  if (auto helper = Helper()) {
    if (!helper->Gone()) return {};
    return fmt::format("{} has ended, and this program has no rights of its own to the devices",
                       kHelperName);
  }
  return local_->AccessProblem();
}

void RoutedEnumerator::RouteThrough(std::shared_ptr<HelperConnection> helper) {
  const std::lock_guard lock(mutex_);
  helper_ = std::move(helper);
}

std::shared_ptr<HelperConnection> RoutedEnumerator::Helper() const {
  const std::lock_guard lock(mutex_);
  return helper_;
}

HelperRights::~HelperRights() {
  if (connection_) {
    enumerator_->RouteThrough(nullptr);
    SetPlatformBackend(previousBackend_);
  }
  if (launch_.inheritedFd >= 0) ::close(launch_.inheritedFd);
}

bool HelperRights::Held() const {
  return connection_ != nullptr && !connection_->Gone();
}

DeviceRights::Answer HelperRights::Ask() {
  if (!asked_) {
    asked_ = true;
    answer_ = Start();
  }
  return answer_;
}

DeviceRights::Answer HelperRights::Route(std::shared_ptr<HelperConnection> connection) {
  connection_ = std::move(connection);
  previousBackend_ = SetPlatformBackend(std::make_shared<HelperBackend>(connection_));
  enumerator_->RouteThrough(connection_);
  return {Outcome::Granted, {}};
}

DeviceRights::Answer HelperRights::Start() {
  std::string why;
  if (launch_.inheritedFd >= 0) {
    const int fd = std::exchange(launch_.inheritedFd, -1);
    auto connection = HelperConnection::Take(fd, kInheritedHelloMs, why);
    if (!connection) return {Outcome::Unavailable, fmt::format("{}: {}", kHelperFdVariable, why)};
    return Route(std::move(connection));
  }
  if (!launch_.inheritedProblem.empty()) return {Outcome::Unavailable, launch_.inheritedProblem};
  if (!Executable(launch_.helper))
    return {Outcome::Unavailable, fmt::format("{} is not installed", launch_.helper)};

  // With the capability on the helper there is nothing to ask.
  const bool direct = CarriesFileCapability(launch_.helper);
  if (!direct && !Executable(launch_.pkexec))
    return {Outcome::Unavailable,
            fmt::format("{} is not installed, so no administrator's password can be asked for",
                        launch_.pkexec)};
  const std::vector<std::string> argv =
      direct ? std::vector<std::string>{launch_.helper}
             : std::vector<std::string>{launch_.pkexec, launch_.helper};
  int fd = -1;
  const pid_t child = StartWithSocket(argv, fd, why);
  if (child < 0) return {Outcome::Unavailable, why};
  auto connection = HelperConnection::Take(fd, -1, why);
  if (connection) {
    connection->ReapOnClose(child);
    return Route(std::move(connection));
  }
  const int code = ExitCodeOf(child);
  if (!direct && code == kPkexecNotAuthorized)
    return {Outcome::Refused,
            "the administrator's password was not given (the prompt was dismissed or refused)"};
  if (!direct && code == kPkexecCannotAsk)
    return {Outcome::Unavailable,
            "polkit has no way to ask for an administrator's password here (no authentication "
            "agent)"};
  return {Outcome::Unavailable, fmt::format("{} (exit code {})", why, code)};
}

}  // namespace fwtool::platform
