// SPDX-License-Identifier: GPL-2.0-or-later
#include "borrowed_rights.h"

#include <algorithm>
#include <array>

namespace fwtool::host {

namespace {

// The option an argument names: "--simulate" for "--simulate=vqb719".
std::string_view OptionOf(std::string_view argument) {
  if (!argument.starts_with("--")) return argument;
  return argument.substr(0, argument.find('='));
}

bool Names(std::span<const std::string_view> options, std::string_view option) {
  return std::find(options.begin(), options.end(), option) != options.end();
}

}  // namespace

bool RightsAreBorrowed(const RightsFacts& facts) {
  return facts.kernelMarksSecure || (facts.pkexecUidSet && facts.runsAsRoot);
}

std::optional<std::string> RefusedArgument(const RightsFacts& facts,
                                           std::span<const std::string> arguments,
                                           const ArgumentRule& rule) {
  if (!RightsAreBorrowed(facts)) return std::nullopt;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const std::string_view option = OptionOf(argument);
    if (Names(rule.testOptions, option)) return argument;
    if (rule.onlyOptions.empty()) continue;
    if (!Names(rule.onlyOptions, option)) return argument;
    // "--name value": the value goes with its option ("--name=value" holds it).
    if (option == argument && Names(rule.valueOptions, option)) ++i;
  }
  return std::nullopt;
}

std::string BorrowedRightsRefusal(std::string_view program, std::string_view argument) {
  return std::string(program) + ": " + std::string(argument) +
         " is not taken while the program runs with rights it did not start with "
         "(set-user-id, file capabilities or pkexec); test and toolkit options need a start "
         "from a root shell or with the user's own rights";
}

bool KeptForBorrowedRights(std::string_view name) {
  static constexpr std::array<std::string_view, 14> kKept = {"DISPLAY",
                                                             "XAUTHORITY",
                                                             "WAYLAND_DISPLAY",
                                                             "XDG_RUNTIME_DIR",
                                                             "XDG_SESSION_TYPE",
                                                             "HOME",
                                                             "USER",
                                                             "LOGNAME",
                                                             "PATH",
                                                             "SHELL",
                                                             "TERM",
                                                             "LANG",
                                                             "LANGUAGE",
                                                             "TZ"};
  return Names(kKept, name) || name.starts_with("LC_");
}

}  // namespace fwtool::host
