// SPDX-License-Identifier: GPL-2.0-or-later
// Rights a program did not start with: which processes count as such, which
// arguments they refuse, and which environment variables the window keeps.
#include "borrowed_rights.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace fwtool::host {
namespace {

constexpr RightsFacts kRootShell{
    .kernelMarksSecure = false, .pkexecUidSet = false, .runsAsRoot = true};
constexpr RightsFacts kUser{};
constexpr RightsFacts kFileCapabilities{
    .kernelMarksSecure = true, .pkexecUidSet = false, .runsAsRoot = false};
constexpr RightsFacts kSetUserIdRoot{
    .kernelMarksSecure = true, .pkexecUidSet = false, .runsAsRoot = true};
constexpr RightsFacts kPkexec{.kernelMarksSecure = false, .pkexecUidSet = true, .runsAsRoot = true};
// A user who sets PKEXEC_UID himself gains nothing by it.
constexpr RightsFacts kUserWithPkexecVariable{
    .kernelMarksSecure = false, .pkexecUidSet = true, .runsAsRoot = false};

constexpr std::string_view kCliTestOptions[] = {"--simulate", "--sim-state", "--sim-time-scale"};
constexpr std::string_view kWindowTestOptions[] = {"--simulate", "--screenshot-dir"};
constexpr std::string_view kWindowOptions[] = {"--engineering", "--trace", "--version",
                                               "--chip-type"};
constexpr std::string_view kWindowValueOptions[] = {"--chip-type"};

TEST(BorrowedRights, TestAndToolkitOptionsAreRefusedOnlyWithBorrowedRights) {
  const ArgumentRule cli{kCliTestOptions, {}};
  const ArgumentRule window{kWindowTestOptions, kWindowOptions, kWindowValueOptions};
  struct Case {
    const char* name;
    RightsFacts facts;
    const ArgumentRule* rule;
    std::vector<std::string> arguments;
    const char* refused;  // null: every argument taken
  };
  const std::vector<Case> cases = {
      {"root_shell_keeps_test_options",
       kRootShell,
       &cli,
       {"--simulate", "vqb719", "list"},
       nullptr},
      {"user_keeps_toolkit_options", kUser, &window, {"-platform", "offscreen"}, nullptr},
      {"pkexec_variable_alone", kUserWithPkexecVariable, &cli, {"--simulate", "vqb719"}, nullptr},
      {"capabilities_simulate",
       kFileCapabilities,
       &cli,
       {"--simulate", "vqb719", "list"},
       "--simulate"},
      {"set_user_id_sim_state",
       kSetUserIdRoot,
       &cli,
       {"list", "--sim-state", "/tmp/x"},
       "--sim-state"},
      {"pkexec_joined_value",
       kPkexec,
       &cli,
       {"--simulate=vqb719:fw=/etc/shadow", "list"},
       "--simulate=vqb719:fw=/etc/shadow"},
      {"borrowed_real_run_taken",
       kPkexec,
       &cli,
       {"--record", "run.json", "update", "--yes"},
       nullptr},
      {"window_screenshots",
       kFileCapabilities,
       &window,
       {"--screenshot-dir", "/etc"},
       "--screenshot-dir"},
      {"window_toolkit_option",
       kPkexec,
       &window,
       {"--engineering", "-platformpluginpath", "/tmp/p"},
       "-platformpluginpath"},
      {"window_value_of_its_own", kPkexec, &window, {"--trace", "--engineering"}, nullptr},
      {"window_option_with_its_value",
       kPkexec,
       &window,
       {"--engineering", "--chip-type", "13"},
       nullptr},
      {"window_option_with_joined_value", kPkexec, &window, {"--chip-type=13"}, nullptr},
      {"window_one_value_only",
       kPkexec,
       &window,
       {"--chip-type", "13", "-platformpluginpath", "/tmp/p"},
       "-platformpluginpath"},
      {"window_flag_takes_no_value", kPkexec, &window, {"--engineering", "13"}, "13"},
      {"window_unknown_long_option",
       kSetUserIdRoot,
       &window,
       {"--stylesheet=/tmp/x.qss"},
       "--stylesheet=/tmp/x.qss"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto refused = RefusedArgument(c.facts, c.arguments, *c.rule);
    EXPECT_EQ(refused.value_or("(none)"), c.refused != nullptr ? c.refused : "(none)");
  }
}

TEST(BorrowedRights, TheRefusalSaysWhatAndWhy) {
  EXPECT_EQ(BorrowedRightsRefusal("fwtool", "--simulate"),
            "fwtool: --simulate is not taken while the program runs with rights it did not start "
            "with (set-user-id, file capabilities or pkexec); test and toolkit options need a "
            "start from a root shell or with the user's own rights");
}

TEST(BorrowedRights, TheWindowKeepsTheDisplayAndLocaleAndNothingThatLoadsCode) {
  for (const char* kept : {"DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "HOME",
                           "LANG", "LC_ALL", "LC_MESSAGES", "PATH"})
    EXPECT_TRUE(KeptForBorrowedRights(kept)) << kept;
  for (const char* dropped :
       {"QT_PLUGIN_PATH", "QT_QPA_PLATFORM_PLUGIN_PATH", "QT_QPA_PLATFORM", "QT_STYLE_OVERRIDE",
        "QT_QPA_PLATFORMTHEME", "QML2_IMPORT_PATH", "QT_DEBUG_PLUGINS", "XDG_CONFIG_HOME",
        "XDG_CONFIG_DIRS", "XDG_DATA_DIRS", "GTK_MODULES", "GTK_PATH", "FONTCONFIG_FILE",
        "LD_PRELOAD", "FWTOOL_SIM_EMBEDDED_IMAGE", "LC"})
    EXPECT_FALSE(KeptForBorrowedRights(dropped)) << dropped;
}

TEST(BorrowedRights, TheEnvironmentIsClearedOfWhatIsNotKept) {
  ::setenv("QT_PLUGIN_PATH", "/tmp/plugins", 1);
  ::setenv("XDG_CONFIG_DIRS", "/tmp/config", 1);
  ::setenv("DISPLAY", ":7", 1);
  ::setenv("LC_ALL", "C", 1);
  KeepOnlyEnvironment(&KeptForBorrowedRights);
  EXPECT_EQ(std::getenv("QT_PLUGIN_PATH"), nullptr);
  EXPECT_EQ(std::getenv("XDG_CONFIG_DIRS"), nullptr);
  EXPECT_STREQ(std::getenv("DISPLAY"), ":7");
  EXPECT_STREQ(std::getenv("LC_ALL"), "C");
}

}  // namespace
}  // namespace fwtool::host
