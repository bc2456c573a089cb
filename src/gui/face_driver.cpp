#include "face_driver.h"

#include <QtCore/QDir>
#include <QtCore/QTimer>
#include <QtGui/QLinearGradient>
#include <QtGui/QPainter>
#include <QtGui/QPixmap>
#include <QtWidgets/QPushButton>
#include <cstdio>

#include "designer_fonts.h"

namespace fwtool::gui {

namespace {

// The update picture is taken once the bar shows real progress.
constexpr int kUpdatingShotPosition = 45;
// Time for the window to be mapped and painted before "YES" is pressed, and
// for the last picture to be written before the window closes.
constexpr int kClickDelayMs = 300;
constexpr int kCloseDelayMs = 200;

// The window with a frame drawn around it: a virtual display has no window
// manager, and the caption, icon and title-bar boxes belong in the picture.
// Drawn in the classic style of the platform the window was designed for.
QPixmap FramedGrab(QWidget& window) {
  constexpr int kBorder = 1;
  constexpr int kTitle = 22;
  const QPixmap client = window.grab();
  const QSize clientSize = client.deviceIndependentSize().toSize();
  QPixmap framed(clientSize.width() + 2 * kBorder, clientSize.height() + kTitle + 2 * kBorder);
  framed.fill(QColor(96, 96, 96));
  QPainter p(&framed);
  const QRect title(kBorder, kBorder, clientSize.width(), kTitle);
  QLinearGradient gradient(title.topLeft(), title.topRight());
  gradient.setColorAt(0, QColor(0, 0, 128));
  gradient.setColorAt(1, QColor(16, 132, 208));
  p.fillRect(title, gradient);
  window.windowIcon().paint(&p, QRect(title.left() + 3, title.top() + 3, 16, 16));
  QFont font = DesignerFont(QString::fromLatin1(kArial), -12);
  font.setBold(true);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(title.adjusted(24, 0, -48, 0), Qt::AlignVCenter | Qt::AlignLeft, window.windowTitle());
  // Minimize and close boxes; the window has no maximize box.
  const QSize box(16, 14);
  const int boxTop = title.top() + (kTitle - box.height()) / 2;
  const QRect close(QPoint(title.right() - 2 - box.width(), boxTop), box);
  const QRect minimize(QPoint(close.left() - 2 - box.width(), boxTop), box);
  for (const QRect& r : {minimize, close}) {
    p.fillRect(r, QColor(212, 208, 200));
    p.setPen(Qt::white);
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(QColor(64, 64, 64));
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
  }
  p.setPen(QPen(Qt::black, 2));
  p.drawLine(minimize.left() + 4, minimize.bottom() - 3, minimize.left() + 10,
             minimize.bottom() - 3);
  p.drawLine(close.left() + 4, close.top() + 3, close.right() - 4, close.bottom() - 3);
  p.drawLine(close.left() + 4, close.bottom() - 3, close.right() - 4, close.top() + 3);
  p.drawPixmap(kBorder, kBorder + kTitle, client);
  p.end();
  return framed;
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
  if (FramedGrab(window_).save(file, "PNG")) {
    grabbed_.insert(face);
    std::fprintf(stderr, "fwtool-gui: wrote %s\n", qPrintable(file));
  } else {
    std::fprintf(stderr, "fwtool-gui: cannot write %s\n", qPrintable(file));
  }
}

void FaceDriver::Settled(OneClickFace face) {
  if (!window_.isVisible() || closing_) return;
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
