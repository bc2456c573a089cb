// SPDX-License-Identifier: GPL-2.0-or-later
// One application object for all window tests, on the offscreen platform so
// they run without a display (CTest also sets it; test discovery at build
// time runs this too).
#include <gtest/gtest.h>

#include "gui_application.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  fwtool::gui::GuiApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
