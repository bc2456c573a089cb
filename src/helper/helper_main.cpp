// SPDX-License-Identifier: GPL-2.0-or-later
// fwtool-helper: sends SCSI commands to USB-storage, UAS and SBP-2 disk and
// CD-ROM interfaces for fwtool and fwtool-gui, which run with the user's
// rights. Started through polkit (pkexec, action org.fwtool.helper) or,
// where an administrator gave it CAP_SYS_RAWIO, directly. It talks only
// over its standard input and output (helper_protocol.h), takes no
// argument but --version, reads and writes no file, and ends when the
// program that started it goes.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "helper_link.h"
#include "helper_server.h"
#include "sg_io_backend.h"
#include "sysfs_enumerator.h"

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
  ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
  ::umask(077);
  if (::chdir("/") != 0) return 1;

  platform::SysfsEnumerator devices;
  platform::SgIoBackend backend;
  helper::HelperServer server(devices, backend, FWTOOL_VERSION);
  helper::FrameLink link(STDIN_FILENO, STDOUT_FILENO);
  return server.Serve(link);
}
