// SPDX-License-Identifier: GPL-2.0-or-later
// How the program comes to its helper: through pkexec (stand-ins answer as
// pkexec does: run the helper, 126 for a refused prompt, 127 for no way to
// ask), through a descriptor handed over in FWTOOL_HELPER_FD, and the real
// fwtool-helper program on its standard input and output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "fake_enumerator.h"
#include "helper_rig.h"
#include "helper_rights.h"
#include "sysfs_enumerator.h"
#include "temp_files.h"

namespace fwtool::helper::testing {
namespace {

using platform::HelperLaunch;
using platform::HelperRights;
using platform::RoutedEnumerator;
using Outcome = DeviceRights::Outcome;

class Launch : public ::testing::Test {
 protected:
  fwtool::testing::TempDir dir;
  std::shared_ptr<fwtool::testing::FakeEnumerator> local =
      std::make_shared<fwtool::testing::FakeEnumerator>();
  std::shared_ptr<RoutedEnumerator> devices = std::make_shared<RoutedEnumerator>(local);

  // A stand-in for pkexec: logs its arguments, then runs `body`.
  std::string StandIn(const std::string& body) {
    const std::string script = dir.Path("pkexec");
    std::ofstream(script) << "#!/bin/sh\necho \"$*\" >>'" << dir.Path("log") << "'\n"
                          << body << "\n";
    ::chmod(script.c_str(), 0700);
    return script;
  }
  std::string Log() {
    const auto bytes = fwtool::testing::ReadFile(dir.Path("log"));
    return std::string(bytes.begin(), bytes.end());
  }
  HelperLaunch Through(const std::string& pkexec) {
    HelperLaunch launch;
    launch.helper = FWTOOL_HELPER_BINARY;
    launch.pkexec = pkexec;
    return launch;
  }
};

TEST_F(Launch, AGrantedPromptStartsTheHelperAndRoutesTheDevicesThroughIt) {
  local->disks = {"usbsto:/dev/sg7"};
  {
    HelperRights rights(devices, Through(StandIn("exec \"$@\"")));
    EXPECT_FALSE(rights.Held());
    const auto answer = rights.Ask();
    EXPECT_EQ(answer.outcome, Outcome::Granted) << answer.reason;
    EXPECT_TRUE(rights.Held());
    EXPECT_EQ(Log(), std::string(FWTOOL_HELPER_BINARY) + "\n") << "pkexec gets the helper alone";
    // The helper lists what it finds itself: the same as this process finds.
    EXPECT_EQ(devices->DiskInterfaces(), platform::SysfsEnumerator().DiskInterfaces());
    EXPECT_EQ(local->diskCalls, 0);
    EXPECT_EQ(devices->AccessProblem(), "");
  }
  // The rights gone, the system's own lists again.
  EXPECT_EQ(devices->DiskInterfaces(), local->disks);
}

// pkexec and the helper get nothing of the program's own: a fixed search
// path, and no descriptor beyond the socket and the error stream.
TEST_F(Launch, PkexecGetsAFixedPathAndNoDescriptorButTheSocket) {
  // Not closed on exec, and above the descriptors a shell uses itself.
  const int opened = ::open("/dev/null", O_RDONLY);
  const int leak = ::fcntl(opened, F_DUPFD, 200);
  ::close(opened);
  ASSERT_GE(leak, 200);
  ::setenv("FWTOOL_TEST_SECRET", "x", 1);
  const std::string probe =
      "echo \"PATH=$PATH SECRET=${FWTOOL_TEST_SECRET-unset} FD=$(test -e /proc/$$/fd/" +
      std::to_string(leak) + " && echo open || echo closed)\" >>'" + dir.Path("log") +
      "'\nexec \"$@\"";
  {
    HelperRights rights(devices, Through(StandIn(probe)));
    const auto answer = rights.Ask();
    EXPECT_EQ(answer.outcome, Outcome::Granted) << answer.reason;
  }
  ::unsetenv("FWTOOL_TEST_SECRET");
  ::close(leak);
  EXPECT_EQ(Log(), std::string(FWTOOL_HELPER_BINARY) +
                       "\nPATH=/usr/sbin:/usr/bin:/sbin:/bin SECRET=unset FD=closed\n");
}

struct Refusal {
  const char* name;
  std::string body;
  Outcome outcome;
  const char* reason;
};

TEST_F(Launch, ARefusedOrImpossiblePromptSaysWhyAndIsNotAskedAgain) {
  const std::vector<Refusal> cases = {
      {"prompt refused", "exit 126", Outcome::Refused,
       "the administrator's password was not given (the prompt was dismissed or refused)"},
      {"no agent", "exit 127", Outcome::Unavailable,
       "polkit has no way to ask for an administrator's password here (no authentication agent)"},
      {"something else", "exit 3", Outcome::Unavailable,
       "fwtool-helper ended before it said hello (exit code 3)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(dir.Path("log").c_str());
    HelperRights rights(devices, Through(StandIn(c.body)));
    for (int i = 0; i < 2; ++i) {
      const auto answer = rights.Ask();
      EXPECT_EQ(answer.outcome, c.outcome);
      EXPECT_EQ(answer.reason, c.reason);
    }
    EXPECT_FALSE(rights.Held());
    EXPECT_EQ(Log(), std::string(FWTOOL_HELPER_BINARY) + "\n") << "asked once";
  }
}

TEST_F(Launch, WithoutPkexecOrHelperNothingIsStarted) {
  HelperLaunch noPkexec = Through(dir.Path("no-pkexec"));
  EXPECT_EQ(HelperRights(devices, noPkexec).Ask().reason,
            dir.Path("no-pkexec") +
                " is not installed, so no administrator's password can be "
                "asked for");
  HelperLaunch noHelper = Through(StandIn("exec \"$@\""));
  noHelper.helper = dir.Path("no-helper");
  const auto answer = HelperRights(devices, noHelper).Ask();
  EXPECT_EQ(answer.outcome, Outcome::Unavailable);
  EXPECT_EQ(answer.reason, dir.Path("no-helper") + " is not installed");
  EXPECT_EQ(Log(), "");
}

TEST_F(Launch, AHelperHandedOverIsTakenWithoutAPrompt) {
  HelperRig rig("vqb719");
  HelperLaunch launch = Through(StandIn("exit 126"));
  launch.inheritedFd = rig.TakeProgramEnd();
  HelperRights rights(devices, launch);
  EXPECT_EQ(rights.Ask().outcome, Outcome::Granted);
  EXPECT_EQ(devices->DiskInterfaces(), rig.farm->DiskInterfaces());
  EXPECT_EQ(Log(), "") << "no prompt";
}

TEST_F(Launch, AHandedOverPeerThatSaysNoHelloIsNoHelper) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  ::close(pair[1]);
  HelperLaunch launch = Through(StandIn("exec \"$@\""));
  launch.inheritedFd = pair[0];
  const auto answer = HelperRights(devices, launch).Ask();
  EXPECT_EQ(answer.outcome, Outcome::Unavailable);
  EXPECT_EQ(answer.reason, "FWTOOL_HELPER_FD: fwtool-helper ended before it said hello");
  EXPECT_EQ(Log(), "") << "a handed-over helper is never replaced by a prompt";
}

TEST(HelperFdVariable, OnlyAnInheritedSocketIsTakenAndTheVariableGoes) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  struct Case {
    std::string value;
    int taken;
  };
  const std::vector<Case> cases = {
      {std::to_string(pair[0]), pair[0]},
      {"1", -1},  // standard output
      {"x", -1},
      {std::to_string(pair[0]) + "x", -1},
      {std::to_string(pipeFds[0]), -1},
      {"999", -1},  // not open
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    ::setenv(platform::kHelperFdVariable, c.value.c_str(), 1);
    const HelperLaunch launch = platform::LaunchFromEnvironment();
    EXPECT_EQ(std::getenv(platform::kHelperFdVariable), nullptr);
    EXPECT_EQ(launch.inheritedFd, c.taken);
    if (c.taken >= 0) {
      EXPECT_TRUE(launch.inheritedProblem.empty());
      EXPECT_EQ(::fcntl(c.taken, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
    } else {
      EXPECT_EQ(launch.inheritedProblem,
                "FWTOOL_HELPER_FD=" + c.value + " names no connected socket");
    }
  }
  for (int fd : {pair[0], pair[1], pipeFds[0], pipeFds[1]}) ::close(fd);
}

TEST(HelperPlace, APackagedProgramTakesTheInstalledHelperABuiltOneItsNeighbour) {
  EXPECT_EQ(platform::InstalledHelperProgram(), "/usr/libexec/fwtool/fwtool-helper");
  EXPECT_EQ(platform::HelperProgramFor("/usr/bin/fwtool"), platform::InstalledHelperProgram());
  const std::string built = FWTOOL_HELPER_BINARY;
  const std::string buildTree = built.substr(0, built.rfind("/helper/fwtool-helper"));
  EXPECT_EQ(platform::HelperProgramFor(buildTree + "/cli/fwtool"), built);
  EXPECT_EQ(platform::HelperProgramFor("/opt/elsewhere/bin/fwtool"),
            platform::InstalledHelperProgram());
}

// The real program, on a socket pair as pkexec would leave it.
struct Ran {
  int code = -1;
  std::vector<Message> replies;
};

Ran RunHelper(const std::vector<std::string>& args, const std::vector<uint8_t>& input) {
  int pair[2];
  EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  std::vector<char*> argv{const_cast<char*>(FWTOOL_HELPER_BINARY)};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(pair[1], 0);
    ::dup2(pair[1], 1);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(pair[1]);
  // A helper that refuses its arguments may be gone before anything is
  // sent: nothing to send then, and no signal when its end is closed.
  if (!input.empty()) {
    EXPECT_EQ(::send(pair[0], input.data(), input.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(input.size()));
  }
  ::shutdown(pair[0], SHUT_WR);
  Ran ran;
  FrameLink link(pair[0], pair[0]);
  for (;;) {
    Incoming incoming = link.Receive(10000);
    if (incoming.kind != Incoming::Kind::Message) break;
    ran.replies.push_back(std::move(incoming.message));
  }
  ::close(pair[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  ran.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return ran;
}

std::vector<uint8_t> Frames(const std::vector<Message>& messages) {
  std::vector<uint8_t> out;
  for (const auto& m : messages) {
    const auto frame = EncodeFrame(m);
    out.insert(out.end(), frame.begin(), frame.end());
  }
  return out;
}

TEST(HelperProgram, TakesNoArgumentButVersion) {
  EXPECT_EQ(RunHelper({"--help"}, {}).code, 2);
  EXPECT_EQ(RunHelper({"--version", "x"}, {}).code, 2);
  EXPECT_EQ(RunHelper({"--simulate"}, {}).code, 2);
}

TEST(HelperProgram, RefusesWhatItDidNotListThenEndsWithItsPeer) {
  const Ran ran = RunHelper(
      {}, Frames({Open{"/etc/shadow", false}, Open{"usbsto:/dev/sda", true}, Enumerate{}}));
  EXPECT_EQ(ran.code, 0);
  ASSERT_EQ(ran.replies.size(), 4u);
  const auto* hello = std::get_if<Hello>(&ran.replies[0]);
  ASSERT_TRUE(hello);
  EXPECT_EQ(hello->version, FWTOOL_VERSION);
  EXPECT_EQ(hello->maxData, kMaxData);
  for (int i : {1, 2}) {
    ASSERT_TRUE(std::holds_alternative<Refused>(ran.replies[i])) << i;
    EXPECT_EQ(std::get<Refused>(ran.replies[i]).reason, RefusalReason::NotListed);
  }
  EXPECT_TRUE(std::holds_alternative<Interfaces>(ran.replies[3]));
}

TEST(HelperProgram, AMalformedFrameIsRefusedAndEndsIt) {
  std::vector<uint8_t> input = Frames({Enumerate{}});
  for (uint8_t b : {2, 0, 0, 0, 1, 0x63}) input.push_back(b);
  const auto rest = Frames({Enumerate{}});
  input.insert(input.end(), rest.begin(), rest.end());
  const Ran ran = RunHelper({}, input);
  EXPECT_EQ(ran.code, 1);
  ASSERT_EQ(ran.replies.size(), 3u) << "hello, the list, the refusal; nothing after";
  ASSERT_TRUE(std::holds_alternative<Refused>(ran.replies[2]));
  EXPECT_EQ(std::get<Refused>(ran.replies[2]).reason, RefusalReason::Malformed);
}

}  // namespace
}  // namespace fwtool::helper::testing
