// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <QtCore/QTimer>
#include <stdexcept>

#include "gui_application.h"
#include "gui_options.h"

namespace fwtool::gui {
namespace {

class Thrower : public QObject {
 public:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) throw std::runtime_error("flash part vanished");
    if (e->type() == QEvent::User + 1) throw 42;
    return QObject::event(e);
  }
};

struct ExceptionCase {
  int eventType;
  QString shown;
};

TEST(GuiApplication, EscapedExceptionIsShownAndTheLoopEndsWithZero) {
  auto* app = static_cast<GuiApplication*>(QCoreApplication::instance());
  for (const auto& c : {ExceptionCase{QEvent::User, QStringLiteral("flash part vanished")},
                        ExceptionCase{QEvent::User + 1, QString()}}) {
    GuiApplication::ExceptionDisplay previous;
    QStringList shown;
    app->SetExceptionDisplay([&](const QString& m) { shown << m; });
    Thrower thrower;
    QCoreApplication::postEvent(&thrower, new QEvent(static_cast<QEvent::Type>(c.eventType)));
    // A safety net: the loop must end by itself long before this.
    QTimer::singleShot(5000, [] { QCoreApplication::exit(99); });
    const int code = RunGuarded(*app, [] { return QCoreApplication::exec(); });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(shown, QStringList{c.shown});
    app->SetExceptionDisplay(nullptr);
  }
}

TEST(GuiApplication, ExceptionWhileBuildingTheWindowIsShownToo) {
  auto* app = static_cast<GuiApplication*>(QCoreApplication::instance());
  QStringList shown;
  app->SetExceptionDisplay([&](const QString& m) { shown << m; });
  const int code = RunGuarded(*app, []() -> int { throw std::runtime_error("no form"); });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(shown, QStringList{QStringLiteral("no form")});
  app->SetExceptionDisplay(nullptr);
}

TEST(GuiOptions, ParsesTheDemoAndEngineeringOptions) {
  const auto parsed =
      ParseGuiOptions({"fwtool-gui", "--simulate", "vqb719", "--sim-state", "/tmp/s",
                       "--engineering", "--plug-after", "1500", "--sim-time-scale", "0.25"});
  ASSERT_FALSE(parsed.exitNow) << parsed.message.toStdString();
  EXPECT_EQ(parsed.options.simulate, QStringLiteral("vqb719"));
  EXPECT_EQ(parsed.options.simState, QStringLiteral("/tmp/s"));
  EXPECT_TRUE(parsed.options.engineering);
  EXPECT_EQ(parsed.options.plugAfterMs, 1500);
  EXPECT_EQ(parsed.options.unplugAfterMs, -1);
  EXPECT_DOUBLE_EQ(parsed.options.simTimeScale, 0.25);
}

TEST(GuiOptions, TheEngineeringFaceTakesTheWordIdentificationCannotGive) {
  const auto parsed = ParseGuiOptions({"fwtool-gui", "--engineering", "--chip-type", "13"});
  ASSERT_FALSE(parsed.exitNow) << parsed.message.toStdString();
  EXPECT_EQ(parsed.options.chipType, 13);
  EXPECT_EQ(ParseGuiOptions({"fwtool-gui", "--engineering"}).options.chipType, 0);
}

TEST(GuiOptions, RejectsWhatItCannotUse) {
  const QStringList bad[] = {
      {"fwtool-gui", "--plug-after", "1000"},                           // nothing to plug
      {"fwtool-gui", "--sim-state", "/tmp/s"},                          // nothing to keep
      {"fwtool-gui", "--simulate", "vqb719", "--sim-time-scale", "x"},  // not a scale
      {"fwtool-gui", "--simulate", "vqb719", "--unplug-after", "-5"},   // not a delay
      {"fwtool-gui", "firmware.bin"},                                   // takes no files
      {"fwtool-gui", "--no-such-option"},
      {"fwtool-gui", "--chip-type", "13"},                   // no engineering face to run it
      {"fwtool-gui", "--engineering", "--chip-type", "10"},  // identification tells it
      {"fwtool-gui", "--engineering", "--chip-type", "x"},
  };
  for (const auto& args : bad) {
    const auto parsed = ParseGuiOptions(args);
    EXPECT_TRUE(parsed.exitNow) << args.join(' ').toStdString();
    EXPECT_EQ(parsed.exitCode, 2) << args.join(' ').toStdString();
  }
}

}  // namespace
}  // namespace fwtool::gui
