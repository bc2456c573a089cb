// SPDX-License-Identifier: GPL-2.0-or-later
// The fonts of the form as its designer chose them, mapped onto fonts that
// exist on this machine with the same metrics. The form description gives
// heights as negative numbers: those are character heights in pixels, so the
// window keeps its layout whatever the screen's DPI says.
#pragma once

#include <QtCore/QString>
#include <QtGui/QFont>

namespace fwtool::gui {

inline constexpr char kArial[] = "Arial";
inline constexpr char kMsSansSerif[] = "MS Sans Serif";

// The installed family that stands in for `family`: the family itself when it
// is installed, else a metric-compatible one (Arial -> Liberation Sans), else
// the closest sans serif at hand.
QString SubstituteFamily(const QString& family);

// `height` as in the form description: negative = pixel height of the
// characters, positive = cell height (treated the same, the form only uses
// negative heights).
QFont DesignerFont(const QString& family, int height);

}  // namespace fwtool::gui
