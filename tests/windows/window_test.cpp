// SPDX-License-Identifier: GPL-2.0-or-later
// The Windows window over simulated controllers: its faces as the window
// system shows them, held to the same table as the Qt window's; caption,
// border, designed places and fonts; dropped files; the refresh timer; the
// engineering face; closing; and the system's message boxes with their
// captions.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h:
#include <shellapi.h>
#include <shlobj.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>

#include "clock.h"
#include "face_facts.h"
#include "fake_enumerator.h"
#include "form_layout.h"
#include "form_views.h"
#include "form_window.h"
#include "simulated_units.h"
#include "simulator.h"
#include "win32_operator.h"
#include "win32_text.h"
#include "win32_timer_service.h"

namespace fwtool::win32 {
namespace {

using fwtool::testing::BandDifferences;
using fwtool::testing::Observed;

// Records boxes instead of showing them and pumps like the real operator,
// then runs the hook (to look at the window in the middle of a transfer).
class RecordingOperator : public Win32Operator {
 public:
  struct Box {
    std::string text;
    std::string caption;  // empty for the simple message box
  };
  RecordingOperator() : Win32Operator("TALVE VQB719 FW Update Utility") {}
  void MessageBox(const std::string& text, const std::string& caption, MessageIcon) override {
    boxes.push_back({text, caption});
  }
  void SimpleMessage(const std::string& text) override { boxes.push_back({text, {}}); }
  void ProcessMessages() override {
    Win32Operator::ProcessMessages();
    if (onProcessMessages) onProcessMessages();
  }
  std::vector<Box> boxes;
  std::function<void()> onProcessMessages;
};

// Lets the message loop run until `done` or about two seconds have passed.
bool PumpUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 200 && !done(); ++i) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    PumpPendingMessages();
  }
  return done();
}

uint32_t TextColorOf(HWND parent, HWND child) {
  HDC dc = ::CreateCompatibleDC(nullptr);
  ::SetTextColor(dc, RGB(1, 2, 3));
  ::SendMessageA(parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(child));
  const COLORREF color = ::GetTextColor(dc);
  ::DeleteDC(dc);
  return static_cast<uint32_t>(GetRValue(color)) << 16 | GetGValue(color) << 8 | GetBValue(color);
}

LOGFONTA FontOf(HWND child) {
  LOGFONTA font{};
  const auto handle = reinterpret_cast<HFONT>(::SendMessageA(child, WM_GETFONT, 0, 0));
  ::GetObjectA(handle, sizeof font, &font);
  return font;
}

// The window over a farm of simulated units on a virtual clock; the
// window's timers are the system's own.
class SimWindow {
 public:
  explicit SimWindow(const char* description, bool engineering = false) {
    if (std::string(description) == "none") {
      // No unit at all.
      units_.farm = std::make_shared<sim::SimFarm>();
      units_.backend = std::make_unique<sim::ScopedSimulatorBackend>(units_.farm);
    } else if (!units_.Build(description)) {
      throw std::runtime_error("no simulated units");
    }
    enumerator_ = units_.farm->Enumerator();
    // The engineering face lists every recognised controller, as the
    // program's does.
    FormOptions options;
    if (engineering) options.scope = DeviceListScope::AllControllers;
    form_ = std::make_unique<TV77xFwTool>(op_, *enumerator_, timers_, nullptr, options);
    if (engineering) form_->ShowEngineeringFace();
    window_ = std::make_unique<FormWindow>(*form_, engineering);
    ::ShowWindow(window_->Window(), SW_SHOWNOACTIVATE);
    PumpPendingMessages();
  }
  ~SimWindow() {
    window_.reset();
    form_.reset();
  }

  Observed Observe(const char* name) const {
    const HWND child = window_->ChildFor(name);
    Observed seen;
    seen.shows = ::IsWindowVisible(child) != 0;
    seen.enabled = ::IsWindowEnabled(child) != 0;
    seen.text = WindowText(child);
    seen.color = TextColorOf(window_->Window(), child);
    return seen;
  }
  std::vector<std::string> Differences(OneClickFace face) const {
    return BandDifferences(face, [this](const char* name) { return Observe(name); });
  }
  void Click(const char* name) { ::SendMessageA(window_->ChildFor(name), BM_CLICK, 0, 0); }

  TV77xFwTool& Form() { return *form_; }
  FormWindow& Window() { return *window_; }
  RecordingOperator& Operator() { return op_; }
  Win32TimerService& Timers() { return timers_; }

 private:
  fwtool::testing::SimulatedUnits units_;
  std::shared_ptr<InterfaceEnumerator> enumerator_;
  RecordingOperator op_;
  Win32TimerService timers_;
  std::unique_ptr<TV77xFwTool> form_;
  std::unique_ptr<FormWindow> window_;
};

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  return text;
}

TEST(Win32Window, ShowsEveryFaceAsDescribed) {
  {
    SimWindow w("vqb719");
    ASSERT_EQ(w.Form().Face(), OneClickFace::Ready);
    EXPECT_EQ(Joined(w.Differences(OneClickFace::Ready)), "");

    std::string updating = "never seen";
    w.Operator().onProcessMessages = [&] {
      if (updating == "never seen" && w.Form().Face() == OneClickFace::Updating &&
          w.Form().FwUpdatBar.Position() >= 45)
        updating = Joined(w.Differences(OneClickFace::Updating));
    };
    w.Click("EraseButton");
    EXPECT_EQ(updating, "");
    ASSERT_EQ(w.Form().Face(), OneClickFace::Done);
    EXPECT_EQ(Joined(w.Differences(OneClickFace::Done)), "");
  }
  {
    SimWindow w("vqb719:bit-error");
    w.Click("EraseButton");
    ASSERT_EQ(w.Form().Face(), OneClickFace::Failed);
    EXPECT_EQ(Joined(w.Differences(OneClickFace::Failed)), "");
  }
  {
    SimWindow w("none");
    ASSERT_EQ(w.Form().Face(), OneClickFace::NothingToDo);
    EXPECT_EQ(Joined(w.Differences(OneClickFace::NothingToDo)), "");
  }
}

TEST(Win32Window, CaptionFixedBorderAndTheDesignedBand) {
  SimWindow w("vqb719");
  const HWND window = w.Window().Window();
  EXPECT_EQ(WindowText(window), "TALVE VQB719 FW Update Utility v0.2");
  const LONG style = ::GetWindowLongA(window, GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME) << "a single fixed border";
  RECT client{};
  ::GetClientRect(window, &client);
  EXPECT_EQ(client.right, 419);
  EXPECT_EQ(client.bottom, 113);

  struct Expected {
    const char* name;
    RECT rect;
  };
  for (const Expected& e :
       {Expected{"devLable", {8, 16, 411, 42}}, Expected{"EraseButton", {24, 64, 99, 89}},
        Expected{"ExitBtn", {320, 64, 395, 89}}, Expected{"ExtBtn", {172, 64, 247, 89}},
        Expected{"Panel1", {0, 100, 419, 103}}}) {
    RECT r{};
    const HWND child = w.Window().ChildFor(e.name);
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, e.rect.left) << e.name;
    EXPECT_EQ(r.top, e.rect.top) << e.name;
    EXPECT_EQ(r.right, e.rect.right) << e.name;
    EXPECT_EQ(r.bottom, e.rect.bottom) << e.name;
  }
  // The rule is painted navy.
  HDC dc = ::CreateCompatibleDC(nullptr);
  const auto brush = reinterpret_cast<HBRUSH>(
      ::SendMessageA(window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                     reinterpret_cast<LPARAM>(w.Window().ChildFor("Panel1"))));
  ::DeleteDC(dc);
  LOGBRUSH rule{};
  ASSERT_EQ(::GetObjectA(brush, sizeof rule, &rule), static_cast<int>(sizeof rule));
  EXPECT_EQ(rule.lbColor, RGB(0, 0, 128));

  const LOGFONTA sentence = FontOf(w.Window().ChildFor("devLable"));
  EXPECT_STREQ(sentence.lfFaceName, "Arial");
  EXPECT_EQ(sentence.lfHeight, -19);
  const LOGFONTA yes = FontOf(w.Window().ChildFor("EraseButton"));
  EXPECT_STREQ(yes.lfFaceName, "Arial");
  EXPECT_EQ(yes.lfHeight, -13);
  const LOGFONTA label = FontOf(w.Window().ChildFor("RefreshBtn"));
  EXPECT_STREQ(label.lfFaceName, "MS Sans Serif");
  EXPECT_EQ(label.lfHeight, -11);
}

// What the shell hands to the window for files dropped on it.
HDROP MakeDrop(const std::vector<std::string>& files) {
  size_t size = sizeof(DROPFILES) + 1;
  for (const auto& f : files) size += f.size() + 1;
  const HGLOBAL memory = ::GlobalAlloc(GHND, size);
  auto* drop = static_cast<DROPFILES*>(::GlobalLock(memory));
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = FALSE;
  char* names = reinterpret_cast<char*>(drop) + sizeof(DROPFILES);
  for (const auto& f : files) {
    std::memcpy(names, f.c_str(), f.size() + 1);
    names += f.size() + 1;
  }
  ::GlobalUnlock(memory);
  return static_cast<HDROP>(memory);
}

TEST(Win32Window, OneDroppedFileFillsTheFirmwareFieldTwoShowTheMessage) {
  SimWindow w("none");
  const HWND window = w.Window().Window();
  ASSERT_TRUE(::GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
  ::SendMessageA(window, WM_DROPFILES,
                 reinterpret_cast<WPARAM>(MakeDrop({"C:\\fw\\new firmware.bin"})), 0);
  EXPECT_EQ(w.Form().FwFilenameEdit.Text(), "C:\\fw\\new firmware.bin");
  EXPECT_EQ(WindowText(w.Window().ChildFor("FwFilenameEdit")), "C:\\fw\\new firmware.bin");
  EXPECT_TRUE(w.Operator().boxes.empty());

  ::SendMessageA(window, WM_DROPFILES,
                 reinterpret_cast<WPARAM>(MakeDrop({"C:\\a.bin", "C:\\b.bin"})), 0);
  ASSERT_EQ(w.Operator().boxes.size(), 1u);
  EXPECT_EQ(w.Operator().boxes[0].text, "Please Drag and Drop One File Only!");
  EXPECT_EQ(w.Operator().boxes[0].caption, "") << "the simple message box";
  EXPECT_EQ(w.Form().FwFilenameEdit.Text(), "C:\\fw\\new firmware.bin") << "unchanged";
}

TEST(Win32Window, DeviceChangesArmTimer101AndItsMessageRefreshesTheList) {
  RecordingOperator op;
  fwtool::testing::FakeEnumerator enumerator;
  fwtool::testing::FakeWatcher watcher;
  Win32TimerService timers;
  TV77xFwTool form(op, enumerator, timers, &watcher);
  const int refreshes = enumerator.diskCalls;
  for (int i = 0; i < 3; ++i) watcher.Send(kDeviceArrival, kDeviceTypeInterface);
  EXPECT_EQ(timers.IntervalMs(kRefreshTimerId), 1200);
  watcher.Send(kDeviceRemoveComplete, kDeviceTypeInterface);
  EXPECT_EQ(timers.IntervalMs(kRefreshTimerId), 200) << "a removal re-arms with 200 ms";
  EXPECT_EQ(enumerator.diskCalls, refreshes) << "nothing before the timer";
  EXPECT_TRUE(PumpUntil([&] { return enumerator.diskCalls > refreshes; }));
  EXPECT_EQ(enumerator.diskCalls, refreshes + 1) << "one refresh for the burst";
  EXPECT_FALSE(timers.IsPending(kRefreshTimerId));
}

TEST(Win32Window, EngineeringFaceShowsTheColumnAndTheRdPanel) {
  SimWindow w("vqb719", /*engineering=*/true);
  const HWND window = w.Window().Window();
  for (const char* name : {"DeviceList", "RefreshBtn", "FwFilenameEdit", "LoadBtn", "StatusEdit",
                           "UpdateBtn", "ExiBtn", "RdCheckBox", "BackupFileEdit", "ChkSumChk"})
    EXPECT_TRUE(::IsWindowVisible(w.Window().ChildFor(name))) << name;
  EXPECT_EQ(WindowText(w.Window().EditLabelFor("FwFilenameEdit")), "Firmware File ");
  EXPECT_EQ(::SendMessageA(w.Window().ChildFor("RdCheckBox"), BM_GETCHECK, 0, 0), BST_CHECKED);
  const HWND list = w.Window().ChildFor("DeviceList");
  std::string item(64, '\0');
  ::SendMessageA(list, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(item.data()));
  EXPECT_EQ(std::string(item.c_str()), w.Form().DeviceList.Items().at(0));
  RECT client{};
  ::GetClientRect(window, &client);
  const int tall = client.bottom;
  EXPECT_GT(tall, 113 + 97);

  // Unticking "RD Version" hides the panel and the window shrinks by it.
  w.Click("RdCheckBox");
  EXPECT_FALSE(w.Form().RdCheckBox.Checked());
  EXPECT_FALSE(::IsWindowVisible(w.Window().ChildFor("BackupFileEdit")));
  ::GetClientRect(window, &client);
  EXPECT_EQ(client.bottom, tall - 97);
}

// The engineering face as it first shows, for the unit selected at start
// (the table in face_facts.h).
TEST(Win32Window, EngineeringFaceAsFirstShownIsArrangedForTheSelectedUnit) {
  for (const auto& c : fwtool::testing::kEngineeringFaceCases) {
    SCOPED_TRACE(c.units);
    SimWindow w(c.units, /*engineering=*/true);
    ASSERT_EQ(w.Form().ChipType, c.chipType);
    const FormWindow& window = w.Window();
    auto shows = [&](const char* name) { return ::IsWindowVisible(window.ChildFor(name)) != 0; };
    auto captionShows = [&](const char* name) {
      return ::IsWindowVisible(window.EditLabelFor(name)) != 0;
    };
    EXPECT_TRUE(shows("FwPgSizeCheck")) << "the column shows whatever the unit";
    EXPECT_TRUE(shows("BackupFileEdit")) << "the RD panel is open";
    EXPECT_EQ(shows("SFlashTypeLable"), c.shown.makerField);
    EXPECT_EQ(captionShows("SFlashTypeLable"), c.shown.makerField);
    EXPECT_EQ(shows("FwVerLableEdit"), c.shown.version);
    EXPECT_EQ(captionShows("FwVerLableEdit"), c.shown.version);
    EXPECT_EQ(shows("FlashTypeLabel"), c.shown.partLabel);
    EXPECT_EQ(shows("FlashTypeList"), c.shown.partList);
    EXPECT_EQ(shows("A1ChipCheck"), c.shown.a1Chip);
    EXPECT_EQ(shows("NVRAMCheck"), c.shown.nvram);
    if (c.shown.hddBox) {
      EXPECT_EQ(shows("VQS175HDDFwChk"), *c.shown.hddBox);
    }
    if (c.shown.partList) {
      EXPECT_TRUE(::IsWindowEnabled(window.ChildFor("FlashTypeList")));
      EXPECT_TRUE(::IsWindowEnabled(window.ChildFor("A1ChipCheck")));
    }
    // At most one field named "Flash Type" is on screen.
    EXPECT_LE(int{shows("SFlashTypeLable")} + int{shows("FlashTypeLabel")}, 1);
  }
}

// The extent of `text` in the font the control `child` draws with.
SIZE TextExtent(HWND child, const std::string& text) {
  HDC dc = ::GetDC(child);
  const auto font = reinterpret_cast<HFONT>(::SendMessageA(child, WM_GETFONT, 0, 0));
  const HGDIOBJ before = ::SelectObject(dc, font);
  SIZE size{};
  ::GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
  ::SelectObject(dc, before);
  ::ReleaseDC(child, dc);
  return size;
}

// Every label of the engineering column and the RD panel, and every caption
// of a labelled edit there, holds its whole text on one line: a static
// control wraps a text wider than itself and cuts off the lines below its
// height. A check box needs its box and a gap beside its text.
TEST(Win32Window, EveryLabelOfTheEngineeringFaceHoldsItsWholeText) {
  // A unit on each bus, so that "USB Disk" and "1394 DISK" are both measured;
  // every text of a label is set whether or not it shows.
  for (const char* units : {"vq64771:maker=mxic", "vqb717:bus=sbp2"}) {
    SCOPED_TRACE(units);
    SimWindow w(units, /*engineering=*/true);
    int measured = 0;
    for (Control* control : w.Form().Controls()) {
      const auto place = PlaceOf(control->Name());
      if (!place || place->section == Section::Band) continue;
      struct Shown {
        HWND window;
        std::string text;
        int room;  // what the control leaves beside the text
      };
      std::vector<Shown> shown;
      switch (control->Kind()) {
        case ControlKind::Label:
          shown.push_back({w.Window().ChildFor(control->Name()), control->Text(), 0});
          break;
        case ControlKind::LabeledEdit:
          shown.push_back({w.Window().EditLabelFor(control->Name()), control->EditLabel(), 0});
          break;
        case ControlKind::CheckBox:
          shown.push_back({w.Window().ChildFor(control->Name()), control->Text(),
                           ::GetSystemMetrics(SM_CXMENUCHECK) + 6});
          break;
        default:
          break;
      }
      for (const Shown& s : shown) {
        SCOPED_TRACE(control->Name() + " \"" + s.text + "\"");
        ASSERT_NE(s.window, nullptr);
        ASSERT_FALSE(s.text.empty());
        EXPECT_EQ(WindowText(s.window), s.text);
        RECT client{};
        ::GetClientRect(s.window, &client);
        const SIZE extent = TextExtent(s.window, s.text);
        EXPECT_LE(extent.cx + s.room, client.right) << "the text is cut";
        EXPECT_LE(extent.cy, client.bottom) << "the line is cut";
        ++measured;
      }
    }
    // The column's three labels, six captions and the "RD Version" box; the
    // panel's label, caption and six check boxes.
    EXPECT_EQ(measured, 18);
  }
}

TEST(Win32Window, ExitClosesTheWindow) {
  SimWindow w("none");
  bool destroyed = false;
  w.Window().SetDestroyedHandler([&] { destroyed = true; });
  w.Click("ExtBtn");
  EXPECT_TRUE(PumpUntil([&] { return destroyed; }));
  EXPECT_TRUE(w.Form().CloseRequested());
  EXPECT_EQ(w.Window().Window(), nullptr);
}

// The real boxes: a helper thread finds the box by its caption, reads its
// text and presses OK.
struct BoxSeen {
  std::string caption;
  std::string text;
};

BoxSeen ShowAndCloseBox(const std::function<void()>& show, const char* caption) {
  BoxSeen seen;
  std::atomic<bool> stop{false};
  std::thread closer([&] {
    for (int i = 0; i < 500 && !stop; ++i) {
      if (HWND box = ::FindWindowA("#32770", caption)) {
        seen.caption = WindowText(box);
        char text[256] = {};
        ::GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
        seen.text = text;
        ::PostMessageA(box, WM_COMMAND, IDOK, 0);
        return;
      }
      ::Sleep(10);
    }
  });
  show();
  stop = true;
  closer.join();
  return seen;
}

TEST(Win32Operator, BoxesCarryTheirCaptions) {
  Win32Operator op("TALVE VQB719 FW Update Utility");
  const BoxSeen message = ShowAndCloseBox(
      [&] {
        op.MessageBox("Please Turn-Off the Power and Turn-On Again!", "Message", MessageIcon::None);
      },
      "Message");
  EXPECT_EQ(message.caption, "Message");
  EXPECT_EQ(message.text, "Please Turn-Off the Power and Turn-On Again!");

  const BoxSeen simple =
      ShowAndCloseBox([&] { op.SimpleMessage("Please Drag and Drop One File Only!"); },
                      "TALVE VQB719 FW Update Utility");
  EXPECT_EQ(simple.caption, "TALVE VQB719 FW Update Utility");
  EXPECT_EQ(simple.text, "Please Drag and Drop One File Only!");
}

TEST(Win32Operator, DialogFilterListsTheFormsFilters) {
  const std::string filter =
      DialogFilter({{"BinaryFile", "*.bin"}, {"All Files", "*.*"}, {"VQT Files", "*.vqt"}});
  EXPECT_EQ(filter, std::string("BinaryFile\0*.bin\0All Files\0*.*\0VQT Files\0*.vqt\0\0", 48));
}

}  // namespace
}  // namespace fwtool::win32
