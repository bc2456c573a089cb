// SPDX-License-Identifier: GPL-2.0-or-later
// fwtool-helper: sends the commands of firmware work to the units of one
// controller family behind USB-storage, UAS and SBP-2 disk and CD-ROM
// interfaces, for fwtool and fwtool-gui, which run with the user's rights.
// Started through polkit (pkexec, action org.fwtool.helper) or, where an
// administrator gave it CAP_SYS_RAWIO, directly. It talks only over its
// standard input and output (helper_protocol.h), takes no argument but
// --version, writes no file, keeps no right but CAP_SYS_RAWIO, and ends
// when the program that started it goes.
#include <linux/capability.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "helper_link.h"
#include "helper_server.h"
#include "sg_io_backend.h"
#include "sysfs_enumerator.h"

namespace {

// Every capability goes but the one SG_IO needs for the controller's vendor
// blocks; the helper stays uid 0, which owns the device nodes it opens.
// Where the helper has fewer rights to begin with (started directly with
// a file capability), it keeps what it has of that one.
bool KeepOnlyRawIo() {
  ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
  for (unsigned long cap = 0; cap <= 63; ++cap) {
    if (cap != CAP_SYS_RAWIO) ::prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);  // past the last: EINVAL
  }
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (::syscall(SYS_capget, &header, data) != 0) return false;
  const unsigned index = CAP_TO_INDEX(CAP_SYS_RAWIO);
  const uint32_t mask = CAP_TO_MASK(CAP_SYS_RAWIO);
  for (unsigned i = 0; i < 2; ++i) {
    const uint32_t keep = i == index ? mask : 0;
    data[i].permitted &= keep;
    data[i].effective = data[i].permitted;
    data[i].inheritable = 0;
  }
  return ::syscall(SYS_capset, &header, data) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace fwtool;
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("fwtool-helper %s\n", FWTOOL_VERSION);
    return 0;
  }
  if (argc != 1) {
    std::fprintf(stderr,
                 "fwtool-helper takes no arguments (--version prints its version); fwtool and "
                 "fwtool-gui start it and talk to it over its standard input and output.\n");
    return 2;
  }
  // A peer that goes while a reply is written ends the helper through the
  // failed write, not a signal; nothing it runs gains rights from here on.
  ::signal(SIGPIPE, SIG_IGN);
  // The helper goes with the program that started it, even while a command
  // keeps it from reading its input (a program gone before this line ends
  // it through the end of its input).
  ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
  ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
  if (!KeepOnlyRawIo()) {
    std::fprintf(stderr, "fwtool-helper: cannot give up the rights it does not need\n");
    return 1;
  }
  ::umask(077);
  if (::chdir("/") != 0) return 1;

  platform::SysfsEnumerator devices;
  platform::SgIoBackend backend;
  helper::HelperServer server(devices, backend, FWTOOL_VERSION,
                              [](const std::string& path) { return platform::DiskInUse(path); });
  helper::FrameLink link(STDIN_FILENO, STDOUT_FILENO);
  return server.Serve(link);
}
