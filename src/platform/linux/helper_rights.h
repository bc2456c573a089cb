// SPDX-License-Identifier: GPL-2.0-or-later
// How fwtool and fwtool-gui, running with the user's rights, come to reach
// the devices: when the enumerator says that the attached storage cannot be
// opened, they ask for the rights (DeviceRights::Ask) and this starts
// fwtool-helper through pkexec, which has polkit ask for an administrator's
// password (action org.fwtool.helper). A helper that carries the
// CAP_SYS_RAWIO file capability is started directly, without a prompt.
// From then on the platform's pass-through backend and the device lists go
// through the helper.
//
// A helper already running can be handed over instead: FWTOOL_HELPER_FD
// names an inherited descriptor, a connected socket whose other end a
// helper serves (the kernel harness starts the helper as root and the
// program as an ordinary user this way). It gives the program nothing it
// did not have: the program only talks over a socket its parent already
// had, and no command is started.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "device_rights.h"
#include "enumeration.h"
#include "helper_client.h"

namespace fwtool::platform {

inline constexpr char kHelperFdVariable[] = "FWTOOL_HELPER_FD";

// The helper's installed place (the Debian package's), and the one a
// program takes: a program in the packages' bindir runs the installed
// helper; one elsewhere (a build tree) the helper built beside it,
// <its folder>/../helper/fwtool-helper, when that exists.
std::string InstalledHelperProgram();
std::string HelperProgramFor(const std::string& program);

// The device lists of the system until the helper runs, the helper's after.
class RoutedEnumerator final : public InterfaceEnumerator {
 public:
  explicit RoutedEnumerator(std::shared_ptr<InterfaceEnumerator> local)
      : local_(std::move(local)) {}
  std::vector<std::string> DiskInterfaces() override;
  std::vector<std::string> CdromInterfaces() override;
  // The system's access problem until the helper runs; none while it
  // serves; that it has gone when it has.
  std::string AccessProblem() override;
  void RouteThrough(std::shared_ptr<HelperConnection> helper);

 private:
  std::shared_ptr<HelperConnection> Helper() const;
  mutable std::mutex mutex_;
  std::shared_ptr<InterfaceEnumerator> local_;
  std::shared_ptr<HelperConnection> helper_;
};

inline constexpr char kPkexecProgram[] = "/usr/bin/pkexec";

struct HelperLaunch {
  std::string helper;                   // absolute path of fwtool-helper
  std::string pkexec = kPkexecProgram;  // never looked up in PATH
  int inheritedFd = -1;                 // a running helper to take instead
  std::string inheritedProblem;         // why FWTOOL_HELPER_FD could not be taken
};

// The launch of this process: the helper beside the running program, and
// FWTOOL_HELPER_FD taken out of the environment (so that no program started
// later inherits it).
HelperLaunch LaunchFromEnvironment();

class HelperRights final : public DeviceRights {
 public:
  HelperRights(std::shared_ptr<RoutedEnumerator> enumerator, HelperLaunch launch)
      : enumerator_(std::move(enumerator)), launch_(std::move(launch)) {}
  ~HelperRights() override;
  bool Held() const override;
  Answer Ask() override;

 private:
  Answer Start();
  Answer Route(std::shared_ptr<HelperConnection> connection);
  std::shared_ptr<RoutedEnumerator> enumerator_;
  HelperLaunch launch_;
  std::shared_ptr<HelperConnection> connection_;
  std::shared_ptr<PassThroughBackend> previousBackend_;
  bool asked_ = false;
  Answer answer_;
};

}  // namespace fwtool::platform
