// SPDX-License-Identifier: GPL-2.0-or-later
// fwtool-gui.exe: the one-click firmware update window on Windows.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "access_notice.h"
#include "borrowed_rights.h"
#include "device_environment.h"
#include "enumeration.h"
#include "face_driver.h"
#include "form_texts.h"
#include "form_views.h"
#include "form_window.h"
#include "gui_options.h"
#include "history.h"
#include "host_services.h"
#include "pass_through.h"
#include "win32_operator.h"
#include "win32_timer_service.h"

namespace {

using namespace fwtool;
using namespace fwtool::win32;

// Timer ids of the program's own window timers (the form's is 101).
constexpr UINT_PTR kPollTimerId = 201;
constexpr UINT_PTR kPlugTimerId = 202;
constexpr UINT_PTR kUnplugTimerId = 203;

DeviceEnvironment* gEnvironment = nullptr;

void CALLBACK OnProgramTimer(HWND window, UINT, UINT_PTR id, DWORD) {
  if (gEnvironment == nullptr) return;
  switch (id) {
    case kPollTimerId:
      if (gEnvironment->watcher) gEnvironment->watcher->Dispatch();
      return;
    case kPlugTimerId:
      ::KillTimer(window, id);
      if (gEnvironment->plugAll) gEnvironment->plugAll();
      return;
    case kUnplugTimerId:
      ::KillTimer(window, id);
      if (gEnvironment->unplugAll) gEnvironment->unplugAll();
      return;
    default:
      return;
  }
}

void ShowText(const std::string& text, bool error) {
  ::MessageBoxA(nullptr, text.c_str(), "fwtool-gui", MB_OK | (error ? MB_ICONERROR : 0));
}

int RunWindow(const GuiOptions& options) {
  std::unique_ptr<DeviceEnvironment> devices;
  if (options.simulate.empty()) {
    devices = std::make_unique<DeviceEnvironment>(PlatformEnvironment());
  } else {
    std::string error;
    devices = SimulatedEnvironment(options, error);
    if (!devices) {
      ShowText("fwtool-gui: " + error, true);
      return 2;
    }
    if (options.plugAfterMs >= 0 && devices->unplugAll) devices->unplugAll();
  }
  gEnvironment = devices.get();

  int code = 0;
  {
    Win32Operator op(texts::kApplicationTitle);
    Win32TimerService timers;
    // Constructing the form refreshes the device list and registers for
    // device changes, as the window's construction does.
    // The engineering face lists every recognised controller.
    FormOptions formOptions;
    if (options.engineering) formOptions.scope = DeviceListScope::AllControllers;
    formOptions.historyPath = DefaultHistoryPath();
    TV77xFwTool form(op, *devices->enumerator, timers, devices->watcher.get(), formOptions);
    if (options.engineering) form.ShowEngineeringFace();
    // The operator's word where identification cannot tell, as a request to
    // the form: every unit that identifies as type 10 is checked and run as
    // type 13.
    if (options.chipType != 0) form.SayChipType({.chipType = options.chipType});

    FormWindow window(form, options.engineering);
    if (window.Window() == nullptr) return 1;
    window.SetDestroyedHandler([] { ::PostQuitMessage(0); });
    AccessNotice access(form, *devices->enumerator);
    FaceDriver driver(window, {options.faceLog, options.clickYes, options.quitWhenDoneMs});
    window.SetSettledHandler([&](OneClickFace face) {
      if (face == OneClickFace::NothingToDo) access.Check();
      driver.Settled(face);
    });

    const HWND main = window.Window();
    if (devices->pollIntervalMs > 0)
      ::SetTimer(main, kPollTimerId, static_cast<UINT>(devices->pollIntervalMs), &OnProgramTimer);
    if (options.plugAfterMs >= 0)
      ::SetTimer(main, kPlugTimerId, static_cast<UINT>(options.plugAfterMs), &OnProgramTimer);
    if (options.unplugAfterMs >= 0)
      ::SetTimer(main, kUnplugTimerId, static_cast<UINT>(options.unplugAfterMs), &OnProgramTimer);

    ::ShowWindow(main, SW_SHOWNORMAL);
    ::UpdateWindow(main);
    MSG message;
    while (::GetMessageA(&message, nullptr, 0, 0) > 0) {
      if (window.Window() != nullptr && ::IsDialogMessageA(window.Window(), &message)) continue;
      ::TranslateMessage(&message);
      ::DispatchMessageA(&message);
    }
    code = static_cast<int>(message.wParam);
    // Leaving this block destroys the window, then the form (which sends
    // the closing command to the CD-ROM entries and stops the watch).
  }
  gEnvironment = nullptr;
  if (devices->atExit) devices->atExit();
  return code;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  std::vector<std::string> arguments(__argv, __argv + __argc);
  if (const auto refused = host::RefusedArgument(
          host::CurrentRightsFacts(), std::span(arguments).subspan(arguments.empty() ? 0 : 1),
          {kTestOptions, {}})) {
    ShowText(host::BorrowedRightsRefusal("fwtool-gui", *refused), true);
    return host::kExitBorrowedRights;
  }
  const ParsedOptions parsed = ParseGuiOptions(arguments);
  if (parsed.exitNow) {
    ShowText(parsed.message, parsed.exitCode != 0);
    return parsed.exitCode;
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> trace(nullptr, &std::fclose);
  if (parsed.options.trace) {
    // A new file: the trace never takes the place of another.
    trace.reset(host::OpenNewFile(parsed.options.traceFile));
    if (!trace) {
      ShowText("fwtool-gui: --trace: cannot create " + parsed.options.traceFile + ": " +
                   std::strerror(errno),
               true);
      return 2;
    }
    SetCommandTrace([file = trace.get()](const CommandTraceRecord& record) {
      std::fprintf(file, "%s\n", FormatTraceRecord(record).c_str());
      std::fflush(file);
    });
  }
  // An error that escapes the window is shown; the program then ends with 0.
  int code = 0;
  try {
    code = RunWindow(parsed.options);
  } catch (const std::exception& e) {
    ::MessageBoxA(nullptr, e.what(), texts::kApplicationTitle, MB_OK | MB_ICONERROR);
  } catch (...) {
    ::MessageBoxA(nullptr, "", texts::kApplicationTitle, MB_OK | MB_ICONERROR);
  }
  SetCommandTrace(nullptr);
  return code == 2 ? 2 : 0;
}
