// SPDX-License-Identifier: GPL-2.0-or-later
// as-user: runs a command as an ordinary user, optionally beside a
// fwtool-helper started as root, as polkit would start it on a desktop.
//
//   as-user UID [--helper PROGRAM] -- COMMAND [ARGS...]
//
// Run as root. The command gets uid and gid UID, no supplementary groups,
// a fresh home folder of its own (/tmp/as-user-UID, its working folder)
// and no way back to root. With --helper, PROGRAM runs as root with one
// end of a socket pair as its standard input and output, and the command
// finds the other end in FWTOOL_HELPER_FD. Exit code: the command's, or 1
// when the helper did not end cleanly (0) once the command had gone.
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

int Usage() {
  std::fprintf(stderr, "usage: as-user UID [--helper PROGRAM] -- COMMAND [ARGS...]\n");
  return 2;
}

int Wait(pid_t child) {
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

[[noreturn]] void Die(const char* what) {
  std::fprintf(stderr, "as-user: %s: %s\n", what, std::strerror(errno));
  ::_exit(127);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return Usage();
  unsigned uid = 0;
  const std::string_view uidText = argv[1];
  const auto [end, ec] = std::from_chars(uidText.data(), uidText.data() + uidText.size(), uid);
  if (ec != std::errc() || end != uidText.data() + uidText.size() || uid == 0) return Usage();
  int at = 2;
  const char* helper = nullptr;
  if (std::string_view(argv[at]) == "--helper" && at + 1 < argc) {
    helper = argv[at + 1];
    at += 2;
  }
  if (at >= argc || std::string_view(argv[at]) != "--" || at + 1 >= argc) return Usage();
  char** command = argv + at + 1;
  if (::geteuid() != 0) {
    std::fprintf(stderr, "as-user: run me as root\n");
    return 2;
  }

  const std::string home = "/tmp/as-user-" + std::to_string(uid);
  if (::mkdir(home.c_str(), 0700) != 0 && errno != EEXIST) Die("mkdir");
  if (::chown(home.c_str(), uid, uid) != 0) Die("chown");

  int pair[2] = {-1, -1};
  pid_t helperChild = -1;
  if (helper != nullptr) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) Die("socketpair");
    helperChild = ::fork();
    if (helperChild < 0) Die("fork");
    if (helperChild == 0) {
      ::close(pair[1]);
      if (::dup2(pair[0], 0) < 0 || ::dup2(pair[0], 1) < 0) Die("dup2");
      ::close(pair[0]);
      char* helperArgv[] = {const_cast<char*>(helper), nullptr};
      ::execv(helper, helperArgv);
      Die(helper);
    }
    ::close(pair[0]);
  }

  const pid_t user = ::fork();
  if (user < 0) Die("fork");
  if (user == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setresgid(uid, uid, uid) != 0 ||
        ::setresuid(uid, uid, uid) != 0)
      Die("dropping to the user");
    if (::setuid(0) == 0 || ::geteuid() == 0) {
      std::fprintf(stderr, "as-user: still root\n");
      ::_exit(127);
    }
    if (::chdir(home.c_str()) != 0) Die("chdir");
    ::setenv("HOME", home.c_str(), 1);
    ::unsetenv("XDG_DATA_HOME");
    if (pair[1] >= 0) ::setenv("FWTOOL_HELPER_FD", std::to_string(pair[1]).c_str(), 1);
    ::execvp(command[0], command);
    Die(command[0]);
  }
  if (pair[1] >= 0) ::close(pair[1]);

  const int code = Wait(user);
  if (helperChild > 0) {
    // The helper ends when the command's end of the socket closes.
    const int helperCode = Wait(helperChild);
    std::printf("as-user: fwtool-helper ended with %d\n", helperCode);
    if (helperCode != 0) return 1;
  }
  return code;
}
