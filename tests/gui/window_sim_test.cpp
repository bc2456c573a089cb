// SPDX-License-Identifier: GPL-2.0-or-later
// The window against simulated controllers: the faces of the one-click update
// as the operator sees them, the closing command, and hot-plug.
#include <gtest/gtest.h>

#include <QtTest/QTest>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>
#include <algorithm>
#include <memory>
#include <optional>

#include "capture_backend.h"
#include "clock.h"
#include "device_change_pump.h"
#include "enumeration.h"
#include "face_facts.h"
#include "flash_commands.h"
#include "simulated_units.h"
#include "simulator.h"
#include "temp_files.h"
#include "window_rig.h"

namespace fwtool::gui {
namespace {

using testing::RecordingQtOperator;

const QString kPrompt = QStringLiteral("Click 'Yes' to proceed with the firmware update");
const QString kFailed = QStringLiteral("                             Update    fail!!");

// A window over a farm of simulated units. The units and the procedures run
// on a virtual clock (a flash erase costs nothing); the window's timers are
// Qt's own.
class SimWindow {
 public:
  explicit SimWindow(const char* description, bool startUnplugged = false,
                     bool engineering = false) {
    if (!units_.Build(description)) throw std::runtime_error("no simulated units");
    sim::SimFarm& farm = *units_.farm;
    enumerator_ = farm.Enumerator();
    watcher_ = farm.Watcher();
    if (startUnplugged)
      for (size_t i = 0; i < farm.UnitCount(); ++i) farm.Unplug(i);
    FormOptions options;
    if (engineering) options.scope = DeviceListScope::AllControllers;
    form_ = std::make_unique<TV77xFwTool>(op_, *enumerator_, timers_, watcher_.get(), options);
    if (engineering) form_->ShowEngineeringFace();
    pump_ = std::make_unique<DeviceChangePump>(*watcher_, 10);
    window_ = std::make_unique<FormWindow>(*form_, engineering);
    QObject::connect(window_.get(), &FormWindow::FaceSettled,
                     [this](OneClickFace face) { faces_.push_back(face); });
    window_->show();
    QCoreApplication::processEvents();
  }
  ~SimWindow() { Close(); }

  // Destroys the window and the form, as leaving the program does.
  void Close() {
    window_.reset();
    pump_.reset();
    form_.reset();
  }

  template <typename W>
  W* Widget(const char* name) const {
    return qobject_cast<W*>(window_->WidgetFor(name));
  }
  sim::SimFarm& Farm() { return *units_.farm; }
  TV77xFwTool& Form() { return *form_; }
  FormWindow& Window() { return *window_; }
  QtTimerService& Timers() { return timers_; }
  const std::vector<OneClickFace>& FacesSeen() const { return faces_; }
  RecordingQtOperator& Operator() { return op_; }

  // What the operator sees of the one-click band.
  struct Band {
    bool sentence, yes, no, exit, bar, replug;
  };
  Band Shown() const {
    return {window_->WidgetFor("devLable")->isVisible(),
            window_->WidgetFor("EraseButton")->isVisible(),
            window_->WidgetFor("ExitBtn")->isVisible(),
            window_->WidgetFor("ExtBtn")->isVisible(),
            window_->WidgetFor("FwUpdatBar")->isVisible(),
            window_->WidgetFor("replugLable1")->isVisible()};
  }

 private:
  fwtool::testing::SimulatedUnits units_;
  std::shared_ptr<InterfaceEnumerator> enumerator_;
  std::shared_ptr<DeviceChangeWatcher> watcher_;
  RecordingQtOperator op_;
  QtTimerService timers_;
  std::unique_ptr<TV77xFwTool> form_;
  std::unique_ptr<DeviceChangePump> pump_;
  std::unique_ptr<FormWindow> window_;
  std::vector<OneClickFace> faces_;
};

bool Same(const SimWindow::Band& a, const SimWindow::Band& b) {
  return a.sentence == b.sentence && a.yes == b.yes && a.no == b.no && a.exit == b.exit &&
         a.bar == b.bar && a.replug == b.replug;
}

TEST(SimulatedWindow, StartsReadyWithTheUnitListed) {
  SimWindow w("vqb719");
  EXPECT_EQ(w.Form().Face(), OneClickFace::Ready);
  EXPECT_TRUE(Same(w.Shown(), {true, true, true, false, false, false}));
  auto* sentence = w.Widget<QLabel>("devLable");
  EXPECT_EQ(sentence->text(), kPrompt);
  EXPECT_EQ(sentence->palette().color(QPalette::WindowText), QColor(0, 0, 0));
  EXPECT_TRUE(w.Widget<QPushButton>("EraseButton")->isEnabled());
  auto* list = w.Widget<QComboBox>("DeviceList");
  ASSERT_EQ(list->count(), 1);
  EXPECT_TRUE(list->itemText(0).startsWith(QStringLiteral("<<USB>> ")));
}

TEST(SimulatedWindow, YesUpdatesThroughTheBarToThePowerCycleLine) {
  SimWindow w("vqb719");
  int highest = 0;
  auto* bar = w.Widget<QProgressBar>("FwUpdatBar");
  QObject::connect(bar, &QProgressBar::valueChanged,
                   [&](int v) { highest = std::max(highest, v); });
  w.Widget<QPushButton>("EraseButton")->click();
  QCoreApplication::processEvents();

  EXPECT_EQ(w.Form().Face(), OneClickFace::Done);
  EXPECT_TRUE(Same(w.Shown(), {false, false, false, true, false, true}))
      << "power-cycle line and EXIT only";
  EXPECT_EQ(w.Widget<QLabel>("replugLable1")->text(),
            QStringLiteral("Please power cycle the device"));
  const auto& seen = w.FacesSeen();
  EXPECT_NE(std::find(seen.begin(), seen.end(), OneClickFace::Updating), seen.end())
      << "the window showed the update while it ran";
  EXPECT_GT(highest, 20) << "the bar moved past the start";
}

// The engineering face by clicks: a type-12 unit is listed, "Load File"
// takes a hand-made bank image, "Run" programs it and the unit is told to
// reset.
TEST(SimulatedWindow, EngineeringFaceProgramsATypeTwelveUnitFromAFile) {
  SimWindow w("vqs175", false, /*engineering=*/true);
  auto* list = w.Widget<QComboBox>("DeviceList");
  ASSERT_EQ(list->count(), 1);
  EXPECT_EQ(w.Form().ChipLabelEdit.Text(), "VQS175 Series");

  // Filler, six version bytes at 0xBFE0, the signature block 55 AA AA 55
  // "1750" at 0xBFF0; the program adds the checksum at 0xBFFE.
  std::vector<uint8_t> image(65536, 0x11);
  const uint8_t version[] = {1, 2, 3, 4, 5, 6};
  std::copy(std::begin(version), std::end(version), image.begin() + 0xBFE0);
  const uint8_t signature[] = {0x55, 0xAA, 0xAA, 0x55, '1', '7', '5', '0', 0, 0};
  std::copy(std::begin(signature), std::end(signature), image.begin() + 0xBFF0);
  fwtool::testing::TempDir dir;
  const std::string file = dir.Write("vqs175.bin", image);

  w.Operator().fileAnswers = {file};
  w.Widget<QPushButton>("LoadBtn")->click();
  QCoreApplication::processEvents();
  auto* run = w.Widget<QPushButton>("UpdateBtn");
  ASSERT_TRUE(run->isEnabled());
  run->click();
  QCoreApplication::processEvents();

  EXPECT_EQ(w.Widget<QLineEdit>("StatusEdit")->text(), QStringLiteral("Programming Success!!"));
  ASSERT_FALSE(w.Operator().boxes.empty());
  EXPECT_EQ(w.Operator().boxes.back().text, "VQS175 Auto reset, Please wait device re-attached!");
  EXPECT_EQ(w.Operator().boxes.back().caption, "Message");
  const auto& flash = w.Farm().Controller(0).Flash().Contents();
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + 0xBFFC, flash.begin()));
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + 0xBFFC, flash.begin() + 0x10000))
      << "both banks";
  EXPECT_TRUE(run->isEnabled()) << "Run is back once the procedure ended";
}

// The engineering face as it first shows, for the unit selected at start
// (the table in face_facts.h).
TEST(SimulatedWindow, EngineeringFaceAsFirstShownIsArrangedForTheSelectedUnit) {
  for (const auto& c : fwtool::testing::kEngineeringFaceCases) {
    SCOPED_TRACE(c.units);
    SimWindow w(c.units, false, /*engineering=*/true);
    ASSERT_EQ(w.Form().ChipType, c.chipType);
    FormWindow& window = w.Window();
    auto shows = [&](const char* name) { return window.WidgetFor(name)->isVisible(); };
    EXPECT_TRUE(shows("RdPanel"));
    EXPECT_TRUE(shows("FwPgSizeCheck")) << "the column shows whatever the unit";
    EXPECT_EQ(shows("SFlashTypeLable"), c.shown.makerField);
    EXPECT_EQ(window.EditLabelFor("SFlashTypeLable")->isVisible(), c.shown.makerField);
    EXPECT_EQ(shows("FwVerLableEdit"), c.shown.version);
    EXPECT_EQ(window.EditLabelFor("FwVerLableEdit")->isVisible(), c.shown.version);
    EXPECT_EQ(shows("FlashTypeLabel"), c.shown.partLabel);
    EXPECT_EQ(shows("FlashTypeList"), c.shown.partList);
    EXPECT_EQ(shows("A1ChipCheck"), c.shown.a1Chip);
    EXPECT_EQ(shows("NVRAMCheck"), c.shown.nvram);
    if (c.shown.hddBox) {
      EXPECT_EQ(shows("VQS175HDDFwChk"), *c.shown.hddBox);
    }
    if (c.shown.partList) {
      auto* list = w.Widget<QComboBox>("FlashTypeList");
      EXPECT_TRUE(list->isEnabled());
      EXPECT_TRUE(window.WidgetFor("A1ChipCheck")->isEnabled());
      // The box's own size hint holds its longest item.
      EXPECT_GE(list->width(), list->sizeHint().width()) << "the part's name is cut";
    }
    // At most one field named "Flash Type" is on screen.
    EXPECT_LE(int{shows("SFlashTypeLable")} + int{shows("FlashTypeLabel")}, 1);
  }
}

TEST(SimulatedWindow, YesOnAUnitThatCannotBeProgrammedEndsInTheRedNotice) {
  SimWindow w("vqb719:bit-error");
  ASSERT_EQ(w.Form().Face(), OneClickFace::Ready);
  w.Widget<QPushButton>("EraseButton")->click();
  QCoreApplication::processEvents();

  EXPECT_EQ(w.Form().Face(), OneClickFace::Failed);
  EXPECT_TRUE(Same(w.Shown(), {true, false, false, true, false, false}));
  auto* sentence = w.Widget<QLabel>("devLable");
  EXPECT_EQ(sentence->text(), kFailed);
  EXPECT_EQ(sentence->palette().color(QPalette::WindowText), QColor(255, 0, 0));
}

TEST(SimulatedWindow, NoClosesTheWindowAndTheCdromEntriesGetTheClosingCommand) {
  // The block the closing command sends, taken from the command itself.
  std::vector<uint8_t> closing;
  {
    fwtool::testing::ScopedCaptureBackend capture;
    HostLinkClose("/dev/probe");
    ASSERT_EQ(capture->commands.size(), 1u);
    const auto& rq = capture->commands[0].request;
    closing.assign(rq.cdb.begin(), rq.cdb.begin() + rq.cdbLength);
  }
  for (const char* button : {"ExitBtn", "ExtBtn"}) {
    SimWindow w("vqb719:cdrom");
    if (std::string(button) == "ExtBtn") {
      w.Widget<QPushButton>("EraseButton")->click();  // EXIT shows after the update
      QCoreApplication::processEvents();
    }
    ASSERT_TRUE(w.Window().WidgetFor(button)->isVisible()) << button;
    const std::string cdrom = w.Farm().Unit(0).cdromPath;
    w.Farm().ClearCommandLog();
    w.Widget<QPushButton>(button)->click();
    QCoreApplication::processEvents();
    EXPECT_FALSE(w.Window().isVisible()) << button;
    w.Close();
    int closings = 0;
    for (const auto& c : w.Farm().CommandLog()) {
      const std::vector<uint8_t> block(c.cdb.begin(), c.cdb.begin() + c.cdbLength);
      if (block == closing) {
        EXPECT_EQ(c.path, cdrom) << "only the CD-ROM entry is closed";
        ++closings;
      }
    }
    EXPECT_EQ(closings, 1) << button;
  }
}

TEST(SimulatedWindow, ClosingDuringTheUpdateWaitsForTheDeviceAndSaysSo) {
  for (const bool closeBox : {false, true}) {
    SimWindow w("vqb719");
    bool asked = false;
    bool stayedOpen = false;
    QString noticeShown;
    w.Operator().onProcessMessages = [&] {
      if (asked || w.Form().Face() != OneClickFace::Updating) return;
      asked = true;
      if (closeBox) {
        w.Window().close();
      } else {
        w.Widget<QPushButton>("ExitBtn")->click();
      }
      stayedOpen = w.Window().isVisible();
      noticeShown =
          w.Window().NoticeLabel()->isVisible() ? w.Window().NoticeLabel()->text() : QString();
    };
    w.Widget<QPushButton>("EraseButton")->click();
    QCoreApplication::processEvents();
    ASSERT_TRUE(asked);
    EXPECT_TRUE(stayedOpen) << "the write is not cut off";
    EXPECT_FALSE(noticeShown.isEmpty()) << "the operator is told why the window stays";
    EXPECT_EQ(w.Form().Face(), OneClickFace::Done) << "the update ran to its end";
    EXPECT_FALSE(w.Window().isVisible()) << "and then the window closed";
  }
}

TEST(SimulatedWindow, AnArrivalRefreshesTheList1200msLater) {
  SimWindow w("vqb719", /*startUnplugged=*/true);
  ASSERT_EQ(w.Form().Face(), OneClickFace::NothingToDo);
  w.Farm().Plug(0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.Timers().IsPending(kRefreshTimerId); }, 2000))
      << "the arrival reached the form through the watcher";
  EXPECT_EQ(w.Timers().IntervalMs(kRefreshTimerId), 1200);
  EXPECT_EQ(w.Form().Face(), OneClickFace::NothingToDo) << "not before the timer";
  EXPECT_TRUE(QTest::qWaitFor([&] { return w.Form().Face() == OneClickFace::Ready; }, 5000));
  EXPECT_EQ(w.Widget<QComboBox>("DeviceList")->count(), 1);
  EXPECT_TRUE(w.Widget<QPushButton>("EraseButton")->isVisible());

  // Pulled out again: 200 ms later the window says there is nothing.
  w.Farm().Unplug(0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.Timers().IsPending(kRefreshTimerId); }, 2000));
  EXPECT_EQ(w.Timers().IntervalMs(kRefreshTimerId), 200);
  EXPECT_TRUE(QTest::qWaitFor([&] { return w.Form().Face() == OneClickFace::NothingToDo; }, 3000));
}

// What the Qt window shows of a band control, for the table that the
// Windows window's tests hold their view to as well.
fwtool::testing::Observed ObserveQt(FormWindow& window, const char* name) {
  QWidget* widget = window.WidgetFor(name);
  fwtool::testing::Observed seen;
  seen.shows = widget->isVisible();
  seen.enabled = widget->isEnabled();
  QColor color;
  if (auto* label = qobject_cast<QLabel*>(widget)) {
    seen.text = label->text().toStdString();
    color = label->palette().color(QPalette::WindowText);
  } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
    seen.text = button->text().toStdString();
    color = button->palette().color(QPalette::ButtonText);
  }
  seen.color = static_cast<uint32_t>(color.red()) << 16 | color.green() << 8 | color.blue();
  return seen;
}

std::string Differences(SimWindow& w, OneClickFace face) {
  std::string text;
  for (const auto& line : fwtool::testing::BandDifferences(
           face, [&](const char* name) { return ObserveQt(w.Window(), name); }))
    text += line + "\n";
  return text;
}

TEST(SimulatedWindow, ShowsEveryFaceAsDescribed) {
  {
    SimWindow w("vqb719");
    ASSERT_EQ(w.Form().Face(), OneClickFace::Ready);
    EXPECT_EQ(Differences(w, OneClickFace::Ready), "");
    std::string updating = "never seen";
    w.Operator().onProcessMessages = [&] {
      if (updating == "never seen" && w.Form().Face() == OneClickFace::Updating &&
          w.Form().FwUpdatBar.Position() >= 45)
        updating = Differences(w, OneClickFace::Updating);
    };
    w.Widget<QPushButton>("EraseButton")->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(updating, "");
    ASSERT_EQ(w.Form().Face(), OneClickFace::Done);
    EXPECT_EQ(Differences(w, OneClickFace::Done), "");
  }
  {
    SimWindow w("vqb719:bit-error");
    w.Widget<QPushButton>("EraseButton")->click();
    QCoreApplication::processEvents();
    ASSERT_EQ(w.Form().Face(), OneClickFace::Failed);
    EXPECT_EQ(Differences(w, OneClickFace::Failed), "");
  }
  {
    SimWindow w("vqb719", /*startUnplugged=*/true);
    ASSERT_EQ(w.Form().Face(), OneClickFace::NothingToDo);
    EXPECT_EQ(Differences(w, OneClickFace::NothingToDo), "");
  }
}

}  // namespace
}  // namespace fwtool::gui
