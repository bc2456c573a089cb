// SPDX-License-Identifier: GPL-2.0-or-later
// The screenshot script's remote control (hidden options of fwtool-gui.exe):
// writes every face the window settles in to a log, presses "YES" once the
// window is ready, and closes the window a while after the update ended, so
// a script can take the window's picture from the window system meanwhile.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "form_window.h"

namespace fwtool::win32 {

struct FaceDriverOptions {
  std::string faceLog;  // empty: no log
  bool clickYes = false;
  int quitWhenDoneMs = -1;  // -1: stay open
};

class FaceDriver {
 public:
  FaceDriver(FormWindow& window, FaceDriverOptions options);
  // Call with every settled face.
  void Settled(OneClickFace face);

 private:
  static void CALLBACK CloseLater(HWND window, UINT message, UINT_PTR id, DWORD time);

  FormWindow& window_;
  FaceDriverOptions options_;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> log_{nullptr, &std::fclose};
  bool clicked_ = false;
  bool closing_ = false;
};

}  // namespace fwtool::win32
