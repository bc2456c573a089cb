// SPDX-License-Identifier: GPL-2.0-or-later
#include "gui_options.h"

#include <charconv>
#include <optional>

#include "chip_rows.h"

namespace fwtool::win32 {

namespace {

constexpr const char* kUsage =
    "fwtool-gui: the one-click firmware update window\n"
    "\n"
    "Options:\n"
    "  --engineering         Show the engineering face (RD Version options, device list, Run).\n"
    "  --chip-type TYPE      With --engineering: what identification cannot tell (13 for a\n"
    "                        VQS175/713 unit, which identifies as type 10).\n"
    "  --trace FILE          Write every command block sent to FILE.\n"
    "  --simulate UNITS      Use simulated controllers instead of the attached devices.\n"
    "  --sim-state DIR       Keep the simulated units' flash and disks in DIR between runs.\n"
    "  --sim-time-scale F    Multiply the simulated units' times (0.1 = ten times faster).\n"
    "  --plug-after MS       Simulated units start unplugged and arrive after MS milliseconds.\n"
    "  --unplug-after MS     Simulated units are unplugged after MS milliseconds.\n"
    "  --version             Show the program version.\n"
    "  -h, --help            Show this help.\n";

std::optional<int> Milliseconds(const std::string& text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
  return value;
}

ParsedOptions Fail(std::string message) {
  ParsedOptions parsed;
  parsed.exitNow = true;
  parsed.exitCode = 2;
  parsed.message = std::move(message);
  return parsed;
}

}  // namespace

ParsedOptions ParseGuiOptions(const std::vector<std::string>& arguments) {
  ParsedOptions parsed;
  GuiOptions& o = parsed.options;
  bool simTimeScaleSet = false;
  for (size_t i = 1; i < arguments.size(); ++i) {
    const std::string& option = arguments[i];
    auto value = [&](std::string& target) {
      if (i + 1 >= arguments.size()) return false;
      target = arguments[++i];
      return true;
    };
    auto milliseconds = [&](int& target) -> std::optional<std::string> {
      std::string text;
      if (!value(text)) return option + " wants milliseconds";
      const auto ms = Milliseconds(text);
      if (!ms) return option + " wants milliseconds, not \"" + text + "\"";
      target = *ms;
      return std::nullopt;
    };
    if (option == "-h" || option == "--help") {
      parsed.exitNow = true;
      parsed.message = kUsage;
      return parsed;
    }
    if (option == "--version") {
      parsed.exitNow = true;
      parsed.message = std::string("fwtool-gui ") + FWTOOL_VERSION + "\n";
      return parsed;
    }
    if (option == "--engineering") {
      o.engineering = true;
    } else if (option == "--click-yes") {
      o.clickYes = true;
    } else if (option == "--trace") {
      if (!value(o.traceFile)) return Fail("--trace wants a file");
      o.trace = true;
    } else if (option == "--chip-type") {
      std::string text;
      if (!value(text)) return Fail("--chip-type wants a chip type");
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), o.chipType);
      if (error != std::errc() || end != text.data() + text.size() ||
          !ChipRowFor(o.chipType).identifiedAs)
        return Fail("--chip-type takes 13 (a unit that identifies as type 10), not \"" + text +
                    "\"");
    } else if (option == "--simulate") {
      if (!value(o.simulate)) return Fail("--simulate wants units");
    } else if (option == "--sim-state") {
      if (!value(o.simState)) return Fail("--sim-state wants a folder");
    } else if (option == "--face-log") {
      if (!value(o.faceLog)) return Fail("--face-log wants a file");
    } else if (option == "--sim-time-scale") {
      std::string text;
      if (!value(text)) return Fail("--sim-time-scale wants a number");
      const auto [end, error] =
          std::from_chars(text.data(), text.data() + text.size(), o.simTimeScale);
      if (error != std::errc() || end != text.data() + text.size() || o.simTimeScale < 0)
        return Fail("--sim-time-scale wants a number of at least 0, not \"" + text + "\"");
      simTimeScaleSet = true;
    } else if (option == "--plug-after") {
      if (auto error = milliseconds(o.plugAfterMs)) return Fail(*error);
    } else if (option == "--unplug-after") {
      if (auto error = milliseconds(o.unplugAfterMs)) return Fail(*error);
    } else if (option == "--quit-when-done") {
      if (auto error = milliseconds(o.quitWhenDoneMs)) return Fail(*error);
    } else {
      return Fail("unexpected argument: " + option + "\n\n" + kUsage);
    }
  }
  if (o.chipType != 0 && !o.engineering) return Fail("--chip-type needs --engineering");
  const bool simOnly =
      o.plugAfterMs >= 0 || o.unplugAfterMs >= 0 || !o.simState.empty() || simTimeScaleSet;
  if (simOnly && o.simulate.empty())
    return Fail("--sim-state, --sim-time-scale, --plug-after and --unplug-after need --simulate");
  return parsed;
}

}  // namespace fwtool::win32
