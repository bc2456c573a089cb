// SPDX-License-Identifier: GPL-2.0-or-later
// Draws the window's icon: a bridge controller chip with an arrow bringing new
// firmware into its flash. Run at build time; writes one PNG per size so the
// window and the desktop entry get crisp pictures instead of scaled ones.
//
//   fwtool_icon_painter OUTPUT_DIR [SIZE...]
#include <QtCore/QDir>
#include <QtCore/QString>
#include <QtGui/QGuiApplication>
#include <QtGui/QImage>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <cstdio>
#include <vector>

namespace {

// Everything is drawn on a 64-unit grid and scaled.
QImage DrawIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 64.0, size / 64.0);

  const QColor navy(0, 0, 128);  // the window's rule colour
  const QColor pin(196, 160, 64);
  const QColor body(40, 44, 52);
  const QColor green(40, 170, 80);

  // Pins on all four sides of the package.
  p.setPen(Qt::NoPen);
  p.setBrush(pin);
  for (int i = 0; i < 5; ++i) {
    const double at = 14 + i * 8;
    p.drawRect(QRectF(at, 4, 4, 8));
    p.drawRect(QRectF(at, 52, 4, 8));
    p.drawRect(QRectF(4, at, 8, 4));
    p.drawRect(QRectF(52, at, 8, 4));
  }

  // Package with a navy edge and the pin-1 notch.
  p.setBrush(body);
  p.setPen(QPen(navy, 2.5));
  p.drawRoundedRect(QRectF(10, 10, 44, 44), 4, 4);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(90, 96, 108));
  p.drawEllipse(QPointF(17, 17), 2.5, 2.5);

  // Flash bar at the bottom of the die: where the firmware lands.
  p.setBrush(QColor(120, 170, 255));
  p.drawRoundedRect(QRectF(18, 42, 28, 6), 1.5, 1.5);

  // The arrow: new firmware going down into the flash.
  QPainterPath arrow;
  arrow.moveTo(28, 14);
  arrow.lineTo(36, 14);
  arrow.lineTo(36, 27);
  arrow.lineTo(43, 27);
  arrow.lineTo(32, 39);
  arrow.lineTo(21, 27);
  arrow.lineTo(28, 27);
  arrow.closeSubpath();
  p.setBrush(green);
  p.setPen(QPen(QColor(255, 255, 255), 1.5));
  p.drawPath(arrow);
  p.end();
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  // Painting needs no screen.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIR [SIZE...]\n", argv[0]);
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  if (!dir.exists() && !QDir().mkpath(dir.path())) {
    std::fprintf(stderr, "cannot create %s\n", argv[1]);
    return 1;
  }
  std::vector<int> sizes;
  for (int i = 2; i < argc; ++i) sizes.push_back(QString::fromLocal8Bit(argv[i]).toInt());
  if (sizes.empty()) sizes = {16, 32, 48, 64, 256};
  for (const int size : sizes) {
    if (size <= 0) continue;
    const QString file = dir.filePath(QStringLiteral("fwtool-%1.png").arg(size));
    if (!DrawIcon(size).save(file, "PNG")) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
      return 1;
    }
  }
  return 0;
}
