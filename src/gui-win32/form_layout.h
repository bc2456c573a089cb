// SPDX-License-Identifier: GPL-2.0-or-later
// Where every control of the form sits in the Windows window. The one-click
// band keeps the designed coordinates of the 419 x 113 client area; the
// engineering column and the "RD Version" panel follow below it, each a
// block of its own whose top the window works out from what shows.
#pragma once

#include <optional>
#include <string_view>

namespace fwtool::win32 {

enum class Section { Band, Column, RdPanel };

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
};

struct Place {
  Section section = Section::Band;
  Rect field;  // the control (the field of a labelled edit), relative to its section
  Rect label;  // a labelled edit's caption; empty otherwise
};

inline constexpr int kColumnHeight = 196;
inline constexpr int kNoticeHeight = 30;
// How far a combo box's list drops down.
inline constexpr int kComboDropHeight = 160;

// The place of the control `name`; nothing for the form and the panels.
std::optional<Place> PlaceOf(std::string_view name);

}  // namespace fwtool::win32
