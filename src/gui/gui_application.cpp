// SPDX-License-Identifier: GPL-2.0-or-later
#include "gui_application.h"

#include <QtWidgets/QMessageBox>
#include <exception>

namespace fwtool::gui {

GuiApplication::GuiApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("fwtool-gui"));
  // No display name: Qt would append it to every window title (the form's
  // caption and the boxes' "Message" / "Error"), and those are exact texts.
}

bool GuiApplication::notify(QObject* receiver, QEvent* event) {
  // Qt cannot unwind an exception through its event loop, so it stops here:
  // shown once, then the loop is asked to end.
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    Escaped(QString::fromLocal8Bit(e.what()));
  } catch (...) {
    // Anything that is not a standard exception is shown with an empty text.
    Escaped(QString());
  }
  return true;
}

void GuiApplication::Escaped(const QString& message) {
  if (!exceptionSeen_) {
    exceptionSeen_ = true;
    ShowException(message);
  }
  exit(0);
}

void GuiApplication::ShowException(const QString& message) {
  if (display_) {
    display_(message);
    return;
  }
  QMessageBox box(QMessageBox::Critical, QString::fromLatin1(kApplicationTitle), message,
                  QMessageBox::Ok);
  box.exec();
}

int RunGuarded(GuiApplication& app, const std::function<int()>& body) {
  app.exceptionSeen_ = false;
  try {
    return body();
  } catch (const std::exception& e) {
    app.ShowException(QString::fromLocal8Bit(e.what()));
  } catch (...) {
    app.ShowException(QString());
  }
  return 0;
}

}  // namespace fwtool::gui
