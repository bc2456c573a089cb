// SPDX-License-Identifier: GPL-2.0-or-later
// Command-line options of fwtool-gui. The program itself takes no arguments;
// these serve engineers, demonstrations and the screenshot script.
#pragma once

#include <QtCore/QString>
#include <QtCore/QStringList>
#include <optional>
#include <string_view>

namespace fwtool::gui {

struct GuiOptions {
  bool engineering = false;  // show the engineering face
  bool trace = false;        // print every command block to stderr
  // --chip-type: what identification cannot tell (13 for a unit that
  // identifies as type 10); 0 for nothing said.
  int chipType = 0;
  QString simulate;           // --simulate UNITS: simulated controllers instead of the platform's
  QString simState;           // --sim-state DIR: keep the simulated flash between runs
  double simTimeScale = 1.0;  // --sim-time-scale: 0.1 = ten times faster units
  int plugAfterMs = -1;       // simulated units arrive this long after start
  int unplugAfterMs = -1;     // simulated units leave this long after start
  // Hidden: the screenshot script's remote control.
  QString screenshotDir;      // grab the window at every face state into DIR
  bool clickYes = false;      // press "YES" once the window is ready
  bool quitWhenDone = false;  // close the window after done, failed or nothing to do
};

struct ParsedOptions {
  GuiOptions options;
  bool exitNow = false;  // --help or --version were answered
  int exitCode = 0;
  QString message;  // usage error or the text to print
};

ParsedOptions ParseGuiOptions(const QStringList& arguments);

// What a window that runs with borrowed rights (borrowed_rights.h) takes:
// none of the test options, and of all arguments only these (no option of
// the toolkit).
inline constexpr std::string_view kTestOptions[] = {
    "--simulate",     "--sim-state",      "--sim-time-scale", "--plug-after",
    "--unplug-after", "--screenshot-dir", "--click-yes",      "--quit-when-done"};
inline constexpr std::string_view kOptionsTakenWithBorrowedRights[] = {
    "--engineering", "--trace", "--chip-type", "-h", "--help", "--version"};
inline constexpr std::string_view kValueOptionsTakenWithBorrowedRights[] = {"--chip-type"};

}  // namespace fwtool::gui
