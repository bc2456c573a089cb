// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>
#include <unistd.h>

#include <QtCore/QMimeData>
#include <QtCore/QUrl>
#include <QtGui/QDropEvent>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>

#include "access_notice.h"
#include "device_change_pump.h"
#include "window_rig.h"

namespace fwtool::gui {
namespace {

using testing::WindowRig;

const QString kNoDevice = QStringLiteral("                          No device found!!");

void Drop(QWidget* target, const QStringList& files) {
  QMimeData data;
  QList<QUrl> urls;
  for (const auto& f : files) urls << QUrl::fromLocalFile(f);
  data.setUrls(urls);
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &enter);
  ASSERT_TRUE(enter.isAccepted()) << "the window takes files";
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &drop);
  QCoreApplication::processEvents();
}

TEST(FormWindow, WithoutDevicesShowsTheRedNoticeAndOnlyExit) {
  WindowRig rig;
  rig.Open();
  auto* window = rig.window.get();
  EXPECT_EQ(window->windowTitle(), QStringLiteral("TALVE VQB719 FW Update Utility v0.2"));
  EXPECT_EQ(window->size(), QSize(419, 113));
  EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "fixed border";
  EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(window->windowFlags() & Qt::WindowMinimizeButtonHint);

  auto* notice = rig.Widget<QLabel>("devLable");
  ASSERT_NE(notice, nullptr);
  EXPECT_TRUE(notice->isVisible());
  EXPECT_EQ(notice->text(), kNoDevice);
  EXPECT_EQ(notice->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  EXPECT_EQ(notice->font().pixelSize(), 19);
  EXPECT_TRUE(rig.Widget<QPushButton>("ExtBtn")->isVisible());
  EXPECT_FALSE(rig.Widget<QPushButton>("EraseButton")->isVisible());
  EXPECT_FALSE(rig.Widget<QPushButton>("ExitBtn")->isVisible());
  EXPECT_FALSE(rig.Widget<QProgressBar>("FwUpdatBar")->isVisible());
  EXPECT_FALSE(rig.Widget<QLabel>("replugLable1")->isVisible());
  // The engineering column exists but nothing of it is on screen.
  EXPECT_FALSE(rig.Widget<QComboBox>("DeviceList")->isVisible());
  EXPECT_FALSE(rig.Widget<QCheckBox>("RdCheckBox")->isVisible());
  EXPECT_FALSE(rig.window->WidgetFor("RdPanel")->isVisible());
}

TEST(FormWindow, OneClickBandKeepsTheDesignersOrder) {
  WindowRig rig;
  rig.Open();
  const QRect yes = rig.window->WidgetFor("EraseButton")->geometry();
  const QRect exit = rig.window->WidgetFor("ExtBtn")->geometry();
  const QRect no = rig.window->WidgetFor("ExitBtn")->geometry();
  EXPECT_LT(yes.right(), exit.left());
  EXPECT_LT(exit.right(), no.left());
  const QRect sentence = rig.window->WidgetFor("devLable")->geometry();
  const QRect bar = rig.window->WidgetFor("FwUpdatBar")->geometry();
  const QRect replug = rig.window->WidgetFor("replugLable1")->geometry();
  for (const QRect& r : {sentence, bar, replug}) EXPECT_LT(r.bottom(), yes.top());
  QWidget* rule = rig.window->WidgetFor("Panel1");
  EXPECT_TRUE(rule->isVisible());
  EXPECT_GT(rule->mapTo(rig.window.get(), QPoint(0, 0)).y(), yes.bottom());
  EXPECT_LE(rule->height(), 4) << "a thin rule";
  EXPECT_EQ(rule->palette().color(QPalette::Window), QColor(0, 0, 128));
}

TEST(FormWindow, InfoFieldsTheCheckShowsStayOutOfViewInTheOneClickFace) {
  WindowRig rig;
  rig.Open();
  rig.form->ChipLabelEdit.Show();
  EXPECT_FALSE(rig.Widget<QLineEdit>("ChipLabelEdit")->isVisible());
  EXPECT_EQ(rig.window->size(), QSize(419, 113));
}

TEST(FormWindow, OneDroppedFileFillsTheFirmwareFieldTwoShowTheMessage) {
  WindowRig rig;
  rig.Open();
  Drop(rig.window.get(), {QStringLiteral("/tmp/new firmware.bin")});
  EXPECT_EQ(rig.form->FwFilenameEdit.Text(), "/tmp/new firmware.bin");
  EXPECT_EQ(rig.Widget<QLineEdit>("FwFilenameEdit")->text(),
            QStringLiteral("/tmp/new firmware.bin"));
  EXPECT_TRUE(rig.op.boxes.empty());

  Drop(rig.window.get(), {QStringLiteral("/tmp/a.bin"), QStringLiteral("/tmp/b.bin")});
  ASSERT_EQ(rig.op.boxes.size(), 1u);
  EXPECT_EQ(rig.op.boxes[0].text, "Please Drag and Drop One File Only!");
  EXPECT_EQ(rig.op.boxes[0].caption, "") << "the simple message box";
  EXPECT_EQ(rig.form->FwFilenameEdit.Text(), "/tmp/new firmware.bin") << "unchanged";
}

TEST(FormWindow, DeviceChangesArmTimer101AndOneRefreshFollowsABurst) {
  WindowRig rig;
  rig.Open();
  const int refreshes = rig.enumerator.diskCalls;
  for (int i = 0; i < 3; ++i) rig.watcher.Send(kDeviceArrival, kDeviceTypeInterface);
  EXPECT_EQ(rig.timers.IntervalMs(kRefreshTimerId), 1200);
  rig.watcher.Send(kDeviceArrival, kDeviceTypeVolume);  // a volume: not ours
  EXPECT_EQ(rig.timers.IntervalMs(kRefreshTimerId), 1200);
  rig.watcher.Send(kDeviceRemoveComplete, kDeviceTypeInterface);
  EXPECT_EQ(rig.timers.IntervalMs(kRefreshTimerId), 200) << "a removal re-arms with 200 ms";
  rig.watcher.Send(kDeviceArrival, kDeviceTypeInterface);
  EXPECT_EQ(rig.enumerator.diskCalls, refreshes) << "nothing before the timer";
  EXPECT_TRUE(QTest::qWaitFor([&] { return rig.enumerator.diskCalls > refreshes; }, 5000));
  QTest::qWait(100);
  EXPECT_EQ(rig.enumerator.diskCalls, refreshes + 1) << "one refresh for the burst";
  EXPECT_FALSE(rig.timers.IsPending(kRefreshTimerId));
}

// A watcher with a descriptor, like the udev monitor: one byte in the pipe is
// one arrival.
class PipeWatcher : public DeviceChangeWatcher {
 public:
  PipeWatcher() {
    if (::pipe(fds_) != 0) fds_[0] = fds_[1] = -1;
  }
  ~PipeWatcher() override {
    for (int fd : fds_)
      if (fd >= 0) ::close(fd);
  }
  bool Start(Listener listener) override {
    listener_ = std::move(listener);
    return true;
  }
  void Stop() override { listener_ = nullptr; }
  int PollDescriptor() const override { return fds_[0]; }
  void Dispatch() override {
    char byte = 0;
    if (::read(fds_[0], &byte, 1) == 1 && listener_)
      listener_({kDeviceArrival, kDeviceTypeInterface, "usbsto:/dev/sg9"});
  }
  bool Signal() { return ::write(fds_[1], "x", 1) == 1; }

 private:
  int fds_[2];
  Listener listener_;
};

TEST(DeviceChangePump, ReadableDescriptorDeliversTheEventToTheForm) {
  testing::RecordingQtOperator op;
  fwtool::testing::FakeEnumerator enumerator;
  PipeWatcher watcher;
  QtTimerService timers;
  TV77xFwTool form(op, enumerator, timers, &watcher);
  DeviceChangePump pump(watcher);
  ASSERT_TRUE(pump.Active());
  EXPECT_FALSE(timers.IsPending(kRefreshTimerId));
  ASSERT_TRUE(watcher.Signal());
  EXPECT_TRUE(QTest::qWaitFor([&] { return timers.IsPending(kRefreshTimerId); }, 2000));
  EXPECT_EQ(timers.IntervalMs(kRefreshTimerId), 1200);
}

TEST(FormWindow, ExitClosesTheWindow) {
  WindowRig rig;
  rig.Open();
  rig.Widget<QPushButton>("ExtBtn")->click();
  QCoreApplication::processEvents();
  EXPECT_FALSE(rig.window->isVisible());
  EXPECT_TRUE(rig.form->CloseRequested());
}

TEST(FormWindow, EngineeringFaceShowsTheColumnAndTheRdPanel) {
  WindowRig rig;
  rig.Open(/*engineering=*/true);
  auto* rd = rig.Widget<QCheckBox>("RdCheckBox");
  ASSERT_NE(rd, nullptr);
  EXPECT_TRUE(rd->isVisible());
  EXPECT_TRUE(rd->isChecked());
  EXPECT_TRUE(rig.window->WidgetFor("RdPanel")->isVisible());
  for (const char* name : {"DeviceList", "RefreshBtn", "FwFilenameEdit", "LoadBtn", "StatusEdit",
                           "UpdateBtn", "ExiBtn", "BackupFileEdit", "ChkSumChk"}) {
    EXPECT_TRUE(rig.window->WidgetFor(name)->isVisible()) << name;
  }
  EXPECT_EQ(rig.window->EditLabelFor("FwFilenameEdit")->text(), QStringLiteral("Firmware File "));
  EXPECT_GT(rig.window->height(), 113 + 97 - 1);

  // Unticking "RD Version" hides the panel and the window shrinks with it.
  const int tall = rig.window->height();
  rd->click();
  QCoreApplication::processEvents();
  EXPECT_FALSE(rig.form->RdCheckBox.Checked());
  EXPECT_FALSE(rig.window->WidgetFor("RdPanel")->isVisible());
  EXPECT_LT(rig.window->height(), tall);
}

TEST(FormWindow, EditsClicksAndSelectionsReachTheModelAndBack) {
  WindowRig rig;
  rig.Open(/*engineering=*/true);
  // Operator to model.
  auto* file = rig.Widget<QLineEdit>("FwFilenameEdit");
  file->setFocus();
  QTest::keyClicks(file, "fw.bin");
  EXPECT_EQ(rig.form->FwFilenameEdit.Text(), "fw.bin");
  auto* checksum = rig.Widget<QCheckBox>("ChkSumChk");
  checksum->click();
  EXPECT_TRUE(rig.form->ChkSumChk.Checked());
  EXPECT_TRUE(checksum->isChecked());
  checksum->click();
  EXPECT_FALSE(rig.form->ChkSumChk.Checked());
  EXPECT_FALSE(checksum->isChecked());
  rig.form->ChkSumChk.SetChecked(true);
  EXPECT_TRUE(checksum->isChecked()) << "a change by the program repaints the box";
  // A mode box's click handler runs and its exclusions show on screen.
  rig.Widget<QCheckBox>("BackupFWCheckBox")->click();
  rig.Widget<QCheckBox>("EraseOnlyCheck")->click();
  EXPECT_EQ(rig.form->EraseOnly, 1u);
  EXPECT_FALSE(rig.Widget<QCheckBox>("BackupFWCheckBox")->isChecked())
      << "erase only unticks backup only";
  auto* page = rig.Widget<QComboBox>("FwPgSizeCheck");
  page->activated(3);  // " 4 KB"
  EXPECT_EQ(rig.form->FwPgSizeCheck.ItemIndex(), 3);
  EXPECT_EQ(rig.form->Settings.TransferBlockSize, 4096u);
  // Model to widgets.
  rig.form->SetStatus("Programming...");
  EXPECT_EQ(rig.Widget<QLineEdit>("StatusEdit")->text(), QStringLiteral("Programming..."));
  rig.form->UpdateBtn.SetEnabled(false);
  EXPECT_FALSE(rig.Widget<QPushButton>("UpdateBtn")->isEnabled());
}

TEST(AccessNotice, TellsOnceWhatRightsAreMissing) {
  WindowRig rig;
  rig.enumerator.problem = "1 storage device found, but no read/write access to /dev/sg2";
  rig.Open();
  AccessNotice notice(*rig.form, rig.enumerator);
  EXPECT_TRUE(notice.Check());
  EXPECT_FALSE(notice.Check()) << "once per run";
  ASSERT_EQ(rig.op.boxes.size(), 1u);
  const std::string& text = rig.op.boxes[0].text;
  EXPECT_NE(text.find("/dev/sg2"), std::string::npos);
  EXPECT_NE(text.find("root"), std::string::npos);
  EXPECT_NE(text.find("pkexec"), std::string::npos);
  EXPECT_EQ(rig.op.boxes[0].icon, MessageIcon::Warning);
}

// Rights as the platform would lend them: the answer a test chooses, and
// what the helper changes once it runs (the enumerator's problem goes).
class ScriptedRights : public DeviceRights {
 public:
  explicit ScriptedRights(Answer answer) : answer_(std::move(answer)) {}
  bool Held() const override { return held_; }
  Answer Ask() override {
    ++asks;
    held_ = answer_.outcome == Outcome::Granted;
    if (held_ && onGranted) onGranted();
    return answer_;
  }
  int asks = 0;
  std::function<void()> onGranted;

 private:
  Answer answer_;
  bool held_ = false;
};

constexpr char kClosedProblem[] =
    "1 storage device found, but raw SCSI commands need root or CAP_SYS_RAWIO";

TEST(AccessNotice, AsksForTheRightsAndListsAgainThroughTheHelper) {
  WindowRig rig;
  rig.enumerator.problem = kClosedProblem;
  rig.Open();
  const int refreshes = rig.enumerator.diskCalls;
  ScriptedRights rights({DeviceRights::Outcome::Granted, {}});
  rights.onGranted = [&] { rig.enumerator.problem.clear(); };
  AccessNotice notice(*rig.form, rig.enumerator, &rights);
  EXPECT_FALSE(notice.Check()) << "no box when the rights come";
  EXPECT_EQ(rights.asks, 1);
  EXPECT_EQ(rig.enumerator.diskCalls, refreshes + 1) << "the list is made again";
  EXPECT_TRUE(rig.op.boxes.empty());
  EXPECT_FALSE(notice.Check());
  EXPECT_EQ(rights.asks, 1);
}

TEST(AccessNotice, SaysSoWhenThePromptIsRefusedOrCannotBeShown) {
  const std::string lead =
      std::string("The attached storage devices cannot be opened: ") + kClosedProblem + ".\n\n";
  struct Case {
    DeviceRights::Answer answer;
    std::string box;
  };
  const std::vector<Case> cases = {
      {{DeviceRights::Outcome::Refused, "the password was not given"},
       lead + "The administrator's password was not given, so the helper that sends the commands "
              "(fwtool-helper) did not start. Start fwtool-gui again to be asked once more."},
      {{DeviceRights::Outcome::Unavailable, "/usr/bin/pkexec is not installed"},
       lead +
           "The helper that sends the commands (fwtool-helper) could not be started: "
           "/usr/bin/pkexec is not installed.\n\n" +
           AccessNeededText()},
  };
  for (const auto& c : cases) {
    WindowRig rig;
    rig.enumerator.problem = kClosedProblem;
    rig.Open();
    const int refreshes = rig.enumerator.diskCalls;
    ScriptedRights rights(c.answer);
    AccessNotice notice(*rig.form, rig.enumerator, &rights);
    EXPECT_TRUE(notice.Check());
    EXPECT_FALSE(notice.Check()) << "once per run";
    EXPECT_EQ(rights.asks, 1);
    EXPECT_EQ(rig.enumerator.diskCalls, refreshes);
    ASSERT_EQ(rig.op.boxes.size(), 1u);
    EXPECT_EQ(rig.op.boxes[0].text, c.box);
    EXPECT_EQ(rig.op.boxes[0].caption, "TALVE VQB719 FW Update Utility");
  }
}

TEST(AccessNotice, SilentWhenNothingIsMissing) {
  WindowRig rig;
  rig.Open();
  AccessNotice notice(*rig.form, rig.enumerator);
  EXPECT_FALSE(notice.Check());
  EXPECT_TRUE(rig.op.boxes.empty());
}

}  // namespace
}  // namespace fwtool::gui
