// SPDX-License-Identifier: GPL-2.0-or-later
// The screenshot script's remote control (hidden options of fwtool-gui):
// grabs the window into DIR at each face state, presses "YES" once the window
// is ready, and closes the window when the update has ended.
#pragma once

#include <QtCore/QObject>
#include <QtCore/QString>
#include <set>

#include "form_window.h"

namespace fwtool::gui {

struct FaceDriverOptions {
  QString screenshotDir;  // empty: no screenshots
  bool clickYes = false;
  bool quitWhenDone = false;
};

class FaceDriver : public QObject {
  Q_OBJECT

 public:
  FaceDriver(FormWindow& window, FaceDriverOptions options);

  // The file name (without folder) a face is saved under.
  static QString FileNameFor(OneClickFace face);
  const std::set<OneClickFace>& Grabbed() const { return grabbed_; }

 private:
  void Settled(OneClickFace face);
  void Grab(OneClickFace face);

  FormWindow& window_;
  FaceDriverOptions options_;
  std::set<OneClickFace> grabbed_;
  bool clicked_ = false;
  bool closing_ = false;
  bool framedOrGaveUp_ = false;
  int frameWaitedMs_ = 0;
};

}  // namespace fwtool::gui
