// SPDX-License-Identifier: GPL-2.0-or-later
#include "gui_options.h"

#include <QtCore/QCommandLineParser>

#include "chip_rows.h"

namespace fwtool::gui {

namespace {

std::optional<int> Milliseconds(const QString& text) {
  bool ok = false;
  const int value = text.toInt(&ok);
  if (!ok || value < 0) return std::nullopt;
  return value;
}

}  // namespace

ParsedOptions ParseGuiOptions(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("fwtool-gui: the one-click firmware update window"));
  const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                QStringLiteral("Show this help."));
  const QCommandLineOption version(QStringLiteral("version"),
                                   QStringLiteral("Show the program version."));
  const QCommandLineOption engineering(
      QStringLiteral("engineering"),
      QStringLiteral("Show the engineering face (RD Version options, device list, Run)."));
  const QCommandLineOption trace(QStringLiteral("trace"),
                                 QStringLiteral("Print every command block sent (stderr)."));
  const QCommandLineOption chipType(
      QStringLiteral("chip-type"),
      QStringLiteral("With --engineering: what identification cannot tell (13 for a VQS175/713 "
                     "unit, which identifies as type 10)."),
      QStringLiteral("TYPE"));
  const QCommandLineOption simulate(
      QStringLiteral("simulate"),
      QStringLiteral("Use simulated controllers instead of the attached devices."),
      QStringLiteral("UNITS"));
  const QCommandLineOption simState(
      QStringLiteral("sim-state"),
      QStringLiteral("Keep the simulated units' flash and disks in DIR between runs."),
      QStringLiteral("DIR"));
  const QCommandLineOption simTimeScale(
      QStringLiteral("sim-time-scale"),
      QStringLiteral("Multiply the simulated units' bus, erase and program times (0.1 = ten "
                     "times faster, 0 = instant)."),
      QStringLiteral("SCALE"));
  const QCommandLineOption plugAfter(
      QStringLiteral("plug-after"),
      QStringLiteral("Simulated units start unplugged and arrive after MS milliseconds."),
      QStringLiteral("MS"));
  const QCommandLineOption unplugAfter(
      QStringLiteral("unplug-after"),
      QStringLiteral("Simulated units are unplugged after MS milliseconds."), QStringLiteral("MS"));
  QCommandLineOption screenshotDir(QStringLiteral("screenshot-dir"),
                                   QStringLiteral("Grab the window at each face state."),
                                   QStringLiteral("DIR"));
  QCommandLineOption clickYes(QStringLiteral("click-yes"),
                              QStringLiteral("Press YES once the window is ready."));
  QCommandLineOption quitWhenDone(QStringLiteral("quit-when-done"),
                                  QStringLiteral("Close the window once the update ended."));
  for (QCommandLineOption* hidden : {&screenshotDir, &clickYes, &quitWhenDone}) {
    hidden->setFlags(QCommandLineOption::HiddenFromHelp);
  }
  parser.addOptions({help, version, engineering, trace, chipType, simulate, simState, simTimeScale,
                     plugAfter, unplugAfter, screenshotDir, clickYes, quitWhenDone});

  ParsedOptions parsed;
  if (!parser.parse(arguments)) {
    parsed.exitNow = true;
    parsed.exitCode = 2;
    parsed.message = parser.errorText();
    return parsed;
  }
  if (parser.isSet(help)) {
    parsed.exitNow = true;
    // Parsed before the application object exists, so the name is ours to give.
    parsed.message = parser.helpText().replace(QStringLiteral("<executable_name>"),
                                               QStringLiteral("fwtool-gui"));
    return parsed;
  }
  if (parser.isSet(version)) {
    parsed.exitNow = true;
    parsed.message = QStringLiteral("fwtool-gui %1\n").arg(QStringLiteral(FWTOOL_VERSION));
    return parsed;
  }
  if (!parser.positionalArguments().isEmpty()) {
    parsed.exitNow = true;
    parsed.exitCode = 2;
    parsed.message =
        QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().front());
    return parsed;
  }
  GuiOptions& o = parsed.options;
  o.engineering = parser.isSet(engineering);
  o.trace = parser.isSet(trace);
  if (parser.isSet(chipType)) {
    bool ok = false;
    o.chipType = parser.value(chipType).toInt(&ok);
    if (!ok || !ChipRowFor(o.chipType).identifiedAs) {
      parsed.exitNow = true;
      parsed.exitCode = 2;
      parsed.message = QStringLiteral(
                           "--chip-type takes 13 (a unit that identifies as type 10), "
                           "not \"%1\"")
                           .arg(parser.value(chipType));
      return parsed;
    }
    if (!o.engineering) {
      parsed.exitNow = true;
      parsed.exitCode = 2;
      parsed.message = QStringLiteral("--chip-type needs --engineering");
      return parsed;
    }
  }
  o.simulate = parser.value(simulate);
  o.simState = parser.value(simState);
  o.screenshotDir = parser.value(screenshotDir);
  o.clickYes = parser.isSet(clickYes);
  o.quitWhenDone = parser.isSet(quitWhenDone);
  for (auto [option, target] :
       {std::pair{&plugAfter, &o.plugAfterMs}, std::pair{&unplugAfter, &o.unplugAfterMs}}) {
    if (!parser.isSet(*option)) continue;
    const auto ms = Milliseconds(parser.value(*option));
    if (!ms) {
      parsed.exitNow = true;
      parsed.exitCode = 2;
      parsed.message = QStringLiteral("--%1 wants milliseconds, not \"%2\"")
                           .arg(option->names().front(), parser.value(*option));
      return parsed;
    }
    *target = *ms;
  }
  if (parser.isSet(simTimeScale)) {
    bool ok = false;
    o.simTimeScale = parser.value(simTimeScale).toDouble(&ok);
    if (!ok || o.simTimeScale < 0) {
      parsed.exitNow = true;
      parsed.exitCode = 2;
      parsed.message = QStringLiteral("--sim-time-scale wants a number of at least 0, not \"%1\"")
                           .arg(parser.value(simTimeScale));
      return parsed;
    }
  }
  const bool simOnly = o.plugAfterMs >= 0 || o.unplugAfterMs >= 0 || !o.simState.isEmpty() ||
                       parser.isSet(simTimeScale);
  if (simOnly && o.simulate.isEmpty()) {
    parsed.exitNow = true;
    parsed.exitCode = 2;
    parsed.message = QStringLiteral(
        "--sim-state, --sim-time-scale, --plug-after and --unplug-after need --simulate");
    return parsed;
  }
  return parsed;
}

}  // namespace fwtool::gui
