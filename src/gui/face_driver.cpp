// SPDX-License-Identifier: GPL-2.0-or-later
#include "face_driver.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QTimer>
#include <QtGui/QGuiApplication>
#include <QtGui/QPixmap>
#include <QtGui/QScreen>
#include <QtWidgets/QPushButton>
#include <cstdio>

namespace fwtool::gui {

namespace {

// The update picture is taken once the bar shows real progress.
constexpr int kUpdatingShotPosition = 45;
// Time for the window to be mapped and painted before "YES" is pressed, and
// for the last picture to be written before the window closes.
constexpr int kClickDelayMs = 300;
constexpr int kCloseDelayMs = 200;
// How long the first picture waits for a window manager to frame the window.
constexpr int kFramePollMs = 50;
constexpr int kFrameWaitMs = 5000;
constexpr int kFramedPaintMs = 300;

// On a window system the picture comes from the screen, frame and all: the
// title bar the window manager draws around the window shows the caption as
// the window system has it. Offscreen there is no frame; the client area is
// all there is.
QPixmap ScreenGrab(QWidget& window) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return window.grab();
  window.repaint();
  QCoreApplication::processEvents();
  QScreen* screen = window.screen();
  const QRect frame = window.frameGeometry();
  return screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
}

// A window manager has taken the window in once its frame is larger than
// the window itself.
bool Framed(const QWidget& window) {
  return window.frameGeometry().size() != window.geometry().size();
}

}  // namespace

FaceDriver::FaceDriver(FormWindow& window, FaceDriverOptions options)
    : QObject(&window), window_(window), options_(std::move(options)) {
  connect(&window_, &FormWindow::FaceSettled, this, &FaceDriver::Settled);
}

QString FaceDriver::FileNameFor(OneClickFace face) {
  switch (face) {
    case OneClickFace::Ready:
      return QStringLiteral("ready.png");
    case OneClickFace::NothingToDo:
      return QStringLiteral("no-device.png");
    case OneClickFace::Updating:
      return QStringLiteral("updating.png");
    case OneClickFace::Done:
      return QStringLiteral("done.png");
    case OneClickFace::Failed:
      return QStringLiteral("failed.png");
    case OneClickFace::Other:
      break;
  }
  return {};
}

void FaceDriver::Grab(OneClickFace face) {
  if (options_.screenshotDir.isEmpty() || grabbed_.count(face) != 0) return;
  const QString name = FileNameFor(face);
  if (name.isEmpty()) return;
  if (face == OneClickFace::Updating) {
    const Control* bar = window_.Form().FindControl("FwUpdatBar");
    if (bar == nullptr || bar->Position() < kUpdatingShotPosition) return;
  }
  QDir().mkpath(options_.screenshotDir);
  const QString file = QDir(options_.screenshotDir).filePath(name);
  if (ScreenGrab(window_).save(file, "PNG")) {
    grabbed_.insert(face);
    std::fprintf(stderr, "fwtool-gui: wrote %s\n", qPrintable(file));
  } else {
    std::fprintf(stderr, "fwtool-gui: cannot write %s\n", qPrintable(file));
  }
}

void FaceDriver::Settled(OneClickFace face) {
  if (!window_.isVisible() || closing_) return;
  // The first face settles as the window appears; on a window system with a
  // window manager, wait for the frame (the picture shows it) first.
  // The manager then draws the frame and the window paints itself.
  if (!framedOrGaveUp_ && !options_.screenshotDir.isEmpty() &&
      QGuiApplication::platformName() == QLatin1String("xcb")) {
    if (!Framed(window_) && frameWaitedMs_ < kFrameWaitMs) {
      frameWaitedMs_ += kFramePollMs;
      QTimer::singleShot(kFramePollMs, this, [this, face] { Settled(face); });
      return;
    }
    if (!Framed(window_)) std::fprintf(stderr, "fwtool-gui: no window manager framed the window\n");
    framedOrGaveUp_ = true;
    QTimer::singleShot(kFramedPaintMs, this, [this, face] { Settled(face); });
    return;
  }
  framedOrGaveUp_ = true;
  Grab(face);
  if (face == OneClickFace::Ready && options_.clickYes && !clicked_) {
    clicked_ = true;
    QTimer::singleShot(kClickDelayMs, this, [this] {
      if (auto* yes = qobject_cast<QPushButton*>(window_.WidgetFor("EraseButton"))) yes->click();
    });
    return;
  }
  if (!options_.quitWhenDone) return;
  const bool ended = face == OneClickFace::Done || face == OneClickFace::Failed ||
                     face == OneClickFace::NothingToDo ||
                     (face == OneClickFace::Ready && !options_.clickYes);
  if (ended) {
    closing_ = true;
    QTimer::singleShot(kCloseDelayMs, &window_, [this] { window_.close(); });
  }
}

}  // namespace fwtool::gui
