// SPDX-License-Identifier: GPL-2.0-or-later
// The application object of the window. It keeps the one rule the program has
// for exceptions: one that escapes an event handler is shown in a box and the
// program then ends with exit code 0.
#pragma once

#include <QtWidgets/QApplication>
#include <functional>

namespace fwtool::gui {

inline constexpr char kApplicationTitle[] = "TALVE VQB719 FW Update Utility";

class GuiApplication : public QApplication {
 public:
  using ExceptionDisplay = std::function<void(const QString& message)>;

  GuiApplication(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;

  // Shows `message` the way an escaped exception is shown: a box with the
  // application title as caption. Tests replace the display.
  void ShowException(const QString& message);
  void SetExceptionDisplay(ExceptionDisplay display) { display_ = std::move(display); }
  bool ExceptionSeen() const { return exceptionSeen_; }

 private:
  friend int RunGuarded(GuiApplication& app, const std::function<int()>& body);
  void Escaped(const QString& message);

  ExceptionDisplay display_;
  bool exceptionSeen_ = false;
};

// Runs `body` (which builds the window and runs the event loop) and gives
// its result; an exception that escapes it is shown and the result is 0.
int RunGuarded(GuiApplication& app, const std::function<int()>& body);

}  // namespace fwtool::gui
