// SPDX-License-Identifier: GPL-2.0-or-later
// Rights a program of ours runs with but did not start with: set-user-id or
// file capabilities (the kernel then marks the process secure), or a start
// through pkexec. Such a process takes no test option (a simulated unit
// reads and writes files wherever it is told) and no option or environment
// variable of the window toolkit (which loads plugins from where it is
// told), since whoever started it could otherwise do with the borrowed
// rights what those options do. Root starting a program from a root shell
// borrowed nothing and keeps them all.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace fwtool::host {

// What the kernel and the environment say about the process.
struct RightsFacts {
  bool kernelMarksSecure = false;  // AT_SECURE: set-user-id, set-group-id, file capabilities
  bool pkexecUidSet = false;       // PKEXEC_UID is in the environment
  bool runsAsRoot = false;         // effective user id 0
};

// The exit code of a program that refuses an argument for that reason.
inline constexpr int kExitBorrowedRights = 4;

// True when the rights were borrowed: a process the kernel marks secure, or
// one running as root that pkexec started.
bool RightsAreBorrowed(const RightsFacts& facts);

// Which arguments a program takes while its rights are borrowed.
struct ArgumentRule {
  // Refused, as "--name" or "--name=value".
  std::span<const std::string_view> testOptions;
  // When not empty, the only options taken: every other argument (a toolkit
  // option such as -platform, or anything else) is refused too.
  std::span<const std::string_view> onlyOptions;
  // Of the only options, those whose value is the next argument: that
  // argument is taken with them.
  std::span<const std::string_view> valueOptions = {};
};

// The first argument (past the program's name) that a process with these
// facts refuses, or nothing.
std::optional<std::string> RefusedArgument(const RightsFacts& facts,
                                           std::span<const std::string> arguments,
                                           const ArgumentRule& rule);

// The sentence that says so: "fwtool: --simulate is not taken while the
// program runs with rights it did not start with (...)".
std::string BorrowedRightsRefusal(std::string_view program, std::string_view argument);

// True for the environment variables a window with borrowed rights keeps:
// the display, the user's locale and home, and nothing that tells the
// toolkit where to load code or settings from.
bool KeptForBorrowedRights(std::string_view name);

// The facts of this process (on Windows nothing is borrowed: the programs
// ask for administrator rights when they start).
RightsFacts CurrentRightsFacts();

// Takes every variable out of this process's environment that `keep`
// refuses. Call before any thread or toolkit starts.
void KeepOnlyEnvironment(bool (*keep)(std::string_view name));

}  // namespace fwtool::host
