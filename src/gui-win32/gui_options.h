// SPDX-License-Identifier: GPL-2.0-or-later
// Command-line options of fwtool-gui.exe. The program itself takes no
// arguments; these serve engineers, demonstrations and the screenshot script,
// and match the Linux window's.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace fwtool::win32 {

struct GuiOptions {
  bool engineering = false;  // show the engineering face
  bool trace = false;        // write every command block to the trace file
  std::string traceFile;     // --trace FILE (a window program has no console)
  // --chip-type: what identification cannot tell (13 for a unit that
  // identifies as type 10); 0 for nothing said.
  int chipType = 0;
  std::string simulate;       // --simulate UNITS: simulated controllers instead of the platform's
  std::string simState;       // --sim-state DIR: keep the simulated flash between runs
  double simTimeScale = 1.0;  // --sim-time-scale: 0.1 = ten times faster units
  int plugAfterMs = -1;       // simulated units arrive this long after start
  int unplugAfterMs = -1;     // simulated units leave this long after start
  // Hidden: the screenshot script's remote control.
  std::string faceLog;      // write every settled face to FILE (a new file)
  bool clickYes = false;    // press "YES" once the window is ready
  int quitWhenDoneMs = -1;  // close the window this long after the update ended
};

struct ParsedOptions {
  GuiOptions options;
  bool exitNow = false;  // --help or --version were answered, or a usage error
  int exitCode = 0;
  std::string message;  // usage error or the text to show
};

ParsedOptions ParseGuiOptions(const std::vector<std::string>& arguments);

// What the window takes when it runs with borrowed rights
// (borrowed_rights.h): none of the test options.
inline constexpr std::string_view kTestOptions[] = {
    "--simulate",     "--sim-state", "--sim-time-scale", "--plug-after",
    "--unplug-after", "--face-log",  "--click-yes",      "--quit-when-done"};

}  // namespace fwtool::win32
