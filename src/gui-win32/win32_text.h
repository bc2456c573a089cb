// SPDX-License-Identifier: GPL-2.0-or-later
// Window texts: the form's texts are UTF-8, and the programs ask Windows for
// UTF-8 as their code page (application manifest), so the "A" functions take
// them as they are; systems older than that show the ASCII texts alike.
#pragma once

#include <windows.h>

#include <string>

namespace fwtool::win32 {

inline std::string WindowText(HWND window) {
  const int length = ::GetWindowTextLengthA(window);
  std::string text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
  const int got = ::GetWindowTextA(window, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<size_t>(got > 0 ? got : 0));
  return text;
}

}  // namespace fwtool::win32
