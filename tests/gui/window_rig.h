// SPDX-License-Identifier: GPL-2.0-or-later
// A window over a form with test doubles for everything outside: an operator
// that records boxes instead of showing them (and pumps the Qt loop like the
// real one), a scripted enumerator and watcher, and the real Qt timers.
#pragma once

#include <QtCore/QCoreApplication>
#include <QtTest/QTest>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Fwupdate.h"
#include "fake_enumerator.h"
#include "form_window.h"
#include "qt_operator.h"
#include "qt_timer_service.h"

namespace fwtool::gui::testing {

class RecordingQtOperator : public QtOperator {
 public:
  struct Box {
    std::string text;
    std::string caption;  // empty for the simple message box
    MessageIcon icon;
  };
  RecordingQtOperator() : QtOperator(QStringLiteral("TALVE VQB719 FW Update Utility")) {}
  void MessageBox(const std::string& text, const std::string& caption, MessageIcon icon) override {
    boxes.push_back({text, caption, icon});
  }
  void SimpleMessage(const std::string& text) override {
    boxes.push_back({text, {}, MessageIcon::None});
  }
  // Answers with the next scripted file, or cancels.
  std::optional<std::string> OpenFileDialog(const FileDialogRequest&) override {
    if (fileAnswers.empty()) return std::nullopt;
    std::string file = fileAnswers.front();
    fileAnswers.erase(fileAnswers.begin());
    return file;
  }
  // Pumps the Qt loop like the window's operator, then runs the hook (to act
  // in the middle of a transfer).
  void ProcessMessages() override {
    QtOperator::ProcessMessages();
    if (onProcessMessages) onProcessMessages();
  }
  std::vector<Box> boxes;
  std::vector<std::string> fileAnswers;
  std::function<void()> onProcessMessages;
};

class AccessDeniedEnumerator : public fwtool::testing::FakeEnumerator {
 public:
  std::string AccessProblem() override {
    ++accessCalls;
    return problem;
  }
  std::string problem;
  int accessCalls = 0;
};

struct WindowRig {
  RecordingQtOperator op;
  AccessDeniedEnumerator enumerator;
  fwtool::testing::FakeWatcher watcher;
  QtTimerService timers;
  std::unique_ptr<TV77xFwTool> form;
  std::unique_ptr<FormWindow> window;

  void Open(bool engineering = false) {
    form = std::make_unique<TV77xFwTool>(op, enumerator, timers, &watcher);
    if (engineering) form->ShowEngineeringFace();
    window = std::make_unique<FormWindow>(*form, engineering);
    window->show();
    QCoreApplication::processEvents();
  }
  ~WindowRig() {
    window.reset();  // the view goes before the form it shows
    form.reset();
  }
  template <typename W>
  W* Widget(const char* name) const {
    return qobject_cast<W*>(window->WidgetFor(name));
  }
};

}  // namespace fwtool::gui::testing
