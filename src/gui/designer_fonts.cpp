// SPDX-License-Identifier: GPL-2.0-or-later
#include "designer_fonts.h"

#include <QtCore/QStringList>
#include <QtGui/QFontDatabase>
#include <QtGui/QFontInfo>
#include <cstdlib>
#include <initializer_list>

namespace fwtool::gui {

namespace {

// Candidates in order of preference. Liberation Sans has Arial's advance
// widths, so the captions break and fit where the designer saw them; at 11
// pixels it also comes closest to the old bitmap sans of the dialogs.
QString FirstInstalled(std::initializer_list<const char*> candidates) {
  const QStringList installed = QFontDatabase::families();
  for (const char* candidate : candidates) {
    const QString name = QString::fromLatin1(candidate);
    if (installed.contains(name, Qt::CaseInsensitive)) return name;
  }
  return {};
}

}  // namespace

QString SubstituteFamily(const QString& family) {
  QString found;
  if (family.compare(QLatin1String(kArial), Qt::CaseInsensitive) == 0) {
    found = FirstInstalled({"Arial", "Liberation Sans", "Arimo", "Helvetica"});
  } else if (family.compare(QLatin1String(kMsSansSerif), Qt::CaseInsensitive) == 0) {
    found = FirstInstalled({"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "Arial",
                            "Arimo", "DejaVu Sans"});
  } else {
    found = FirstInstalled({family.toLatin1().constData()});
  }
  if (found.isEmpty()) found = FirstInstalled({"Liberation Sans", "DejaVu Sans"});
  if (found.isEmpty()) found = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
  return found;
}

QFont DesignerFont(const QString& family, int height) {
  QFont font(SubstituteFamily(family));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(std::abs(height) > 0 ? std::abs(height) : 11);
  return font;
}

}  // namespace fwtool::gui
