// SPDX-License-Identifier: GPL-2.0-or-later
// fwtool-gui: the one-click firmware update window.
#include <QtCore/QStringList>
#include <QtCore/QTimer>
#include <QtGui/QIcon>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "access_notice.h"
#include "borrowed_rights.h"
#include "device_change_pump.h"
#include "device_environment.h"
#include "face_driver.h"
#include "form_window.h"
#include "gui_application.h"
#include "gui_options.h"
#include "history.h"
#include "pass_through.h"
#include "qt_operator.h"
#include "qt_timer_service.h"

namespace {

QIcon FormIcon() {
  QIcon icon;
  for (const int size : {16, 32, 48, 64, 256}) {
    icon.addFile(QStringLiteral(":/icons/fwtool-%1.png").arg(size), QSize(size, size));
  }
  return icon;
}

int RunWindow(fwtool::gui::GuiApplication& app, const fwtool::gui::GuiOptions& options) {
  using namespace fwtool;
  using namespace fwtool::gui;

  std::unique_ptr<DeviceEnvironment> devices;
  if (options.simulate.isEmpty()) {
    devices = std::make_unique<DeviceEnvironment>(PlatformEnvironment());
  } else {
    std::string error;
    devices = SimulatedEnvironment(options, error);
    if (!devices) {
      std::fprintf(stderr, "fwtool-gui: %s\n", error.c_str());
      return 2;
    }
    if (options.plugAfterMs >= 0 && devices->unplugAll) devices->unplugAll();
  }

  int code = 0;
  {
    QtOperator op(QString::fromLatin1(kApplicationTitle));
    QtTimerService timers;
    // Constructing the form refreshes the device list and registers for
    // device changes, as the window's construction does.
    // The engineering face lists every recognised controller, not only the
    // ones the bundled image is for.
    FormOptions formOptions;
    if (options.engineering) formOptions.scope = DeviceListScope::AllControllers;
    formOptions.historyPath = DefaultHistoryPath();
    TV77xFwTool form(op, *devices->enumerator, timers, devices->watcher.get(), formOptions);
    if (options.engineering) form.ShowEngineeringFace();
    // The operator's word where identification cannot tell, as a request to
    // the form: every unit that identifies as type 10 is checked and run as
    // type 13.
    if (options.chipType != 0) form.SayChipType({.chipType = options.chipType});
    DeviceChangePump pump(*devices->watcher, devices->pollIntervalMs);

    FormWindow window(form, options.engineering);
    window.setWindowIcon(app.windowIcon());
    // Devices it cannot open: the window asks for the rights (the helper).
    AccessNotice access(form, *devices->enumerator, devices->rights.get());
    QObject::connect(&window, &FormWindow::FaceSettled, &window, [&access](OneClickFace face) {
      if (face == OneClickFace::NothingToDo) access.Check();
    });
    FaceDriver driver(window, {options.screenshotDir, options.clickYes, options.quitWhenDone});

    DeviceEnvironment& env = *devices;
    if (options.plugAfterMs >= 0 && env.plugAll) {
      QTimer::singleShot(options.plugAfterMs, &window, [&env] { env.plugAll(); });
    }
    if (options.unplugAfterMs >= 0 && env.unplugAll) {
      QTimer::singleShot(options.unplugAfterMs, &window, [&env] { env.unplugAll(); });
    }

    window.show();
    code = app.exec();
    // Leaving this block destroys the window, then the form (which sends
    // the closing command to the CD-ROM entries and stops the watch).
  }
  if (devices->atExit) devices->atExit();
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace fwtool::gui;
  namespace host = fwtool::host;
  // A window given rights it did not start with takes no test option and
  // nothing for the toolkit: no argument and no variable of the
  // environment may tell it where to load plugins, styles or settings from.
  const host::RightsFacts rights = host::CurrentRightsFacts();
  if (const auto refused = host::RefusedArgument(
          rights, std::vector<std::string>(argv + 1, argv + argc),
          {kTestOptions, kOptionsTakenWithBorrowedRights, kValueOptionsTakenWithBorrowedRights})) {
    std::fprintf(stderr, "%s\n", host::BorrowedRightsRefusal("fwtool-gui", *refused).c_str());
    return host::kExitBorrowedRights;
  }
  int toolkitArgc = argc;
  if (host::RightsAreBorrowed(rights)) {
    host::KeepOnlyEnvironment(&host::KeptForBorrowedRights);
    toolkitArgc = 1;  // the program's name only
  }
  // Options first: --help and --version need no display.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  const ParsedOptions parsed = ParseGuiOptions(arguments);
  if (parsed.exitNow) {
    std::fprintf(parsed.exitCode == 0 ? stdout : stderr, "%s\n", qPrintable(parsed.message));
    return parsed.exitCode;
  }
  GuiApplication app(toolkitArgc, argv);
  app.setWindowIcon(FormIcon());
  if (parsed.options.trace) {
    fwtool::SetCommandTrace([](const fwtool::CommandTraceRecord& record) {
      std::fprintf(stderr, "%s\n", fwtool::FormatTraceRecord(record).c_str());
    });
  }
  // The program ends with 0 whatever happened in the window.
  const int code = RunGuarded(app, [&] { return RunWindow(app, parsed.options); });
  return code == 2 ? 2 : 0;
}
