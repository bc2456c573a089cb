// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Fwupdate.h"
#include "capture_backend.h"
#include "clock.h"
#include "fake_enumerator.h"
#include "form_texts.h"
#include "recording_operator.h"

namespace fwtool {
namespace {

using testing::FakeEnumerator;
using testing::FakeWatcher;
using testing::ScopedCaptureBackend;

class FormTest : public ::testing::Test {
 protected:
  std::shared_ptr<VirtualClock> clock = std::make_shared<VirtualClock>();
  ScopedClock scopedClock{clock};
  ScopedCaptureBackend backend;
  RecordingOperator op;
  FakeEnumerator enumerator;
  FakeWatcher watcher;
  ClockTimerService timers;
  std::unique_ptr<TV77xFwTool> form;
  int closes = 0;

  TV77xFwTool& Create() {
    form = std::make_unique<TV77xFwTool>(op, enumerator, timers, &watcher);
    form->SetCloseHandler([this] { ++closes; });
    return *form;
  }
  int Refreshes() const { return enumerator.diskCalls; }
};

struct DesignRow {
  const char* name;
  ControlKind kind;
  const char* parent;
  const char* text;
  bool visible;
  bool enabled;
  const char* handler;  // click or change
};

TEST_F(FormTest, ControlsAsDesigned) {
  auto& f = Create();
  const DesignRow rows[] = {
      {"V77xFwTool", ControlKind::Form, "", "TALVE VQB719 FW Update Utility v0.2", true, true, ""},
      {"Panel1", ControlKind::Panel, "V77xFwTool", "", true, true, ""},
      {"RdPanel", ControlKind::Panel, "V77xFwTool", "", false, true, ""},
      {"FwSizeLable", ControlKind::Label, "RdPanel", "Firmware size", false, true, ""},
      {"BackupFWCheckBox", ControlKind::CheckBox, "RdPanel", "Backup Old Firmware Only", true, true,
       "EraseOnlyCheckClick"},
      {"EraseOnlyCheck", ControlKind::CheckBox, "RdPanel", "Erase All Flash Only ", true, true,
       "EraseOnlyCheckClick"},
      {"BackupFileEdit", ControlKind::LabeledEdit, "RdPanel", "", true, true, ""},
      {"BackupBtn", ControlKind::Button, "RdPanel", "Browse", true, true, "BackupBtnClick"},
      {"A1ChipCheck", ControlKind::CheckBox, "RdPanel", "A1 Chip", true, false, ""},
      {"NVRAMCheck", ControlKind::CheckBox, "RdPanel", "Include 4K NVRAM", false, true,
       "NVRAMCheckClick"},
      {"FwSizeCheck", ControlKind::ComboBox, "RdPanel", "32KB", false, true, "FwSizeCheckChange"},
      {"ChkSumChk", ControlKind::CheckBox, "RdPanel", "Check CheckSum", true, true, ""},
      {"VQ175Path", ControlKind::ComboBox, "RdPanel", "1.SETNVRAM", false, true,
       "FwPgSizeCheckChange"},
      {"VQS175HDDFwChk", ControlKind::CheckBox, "RdPanel", "VQS175 HDD FW ", false, true,
       "EraseOnlyCheckClick"},
      {"Panel2", ControlKind::Panel, "V77xFwTool", "", true, true, ""},
      {"diskLabel", ControlKind::Label, "Panel2", "USB Disk", false, true, ""},
      {"FwPgBurnSizeLabel", ControlKind::Label, "Panel2", "Flash PgSz", false, true, ""},
      {"FlashTypeLabel", ControlKind::Label, "Panel2", "Flash Type ", false, true, ""},
      {"devLable", ControlKind::Label, "Panel2", texts::kNoDeviceNotice, true, true, ""},
      {"replugLable1", ControlKind::Label, "Panel2", "Please power cycle the device", false, true,
       ""},
      {"RefreshBtn", ControlKind::Button, "Panel2", "Refresh Device", false, true,
       "RefreshBtnClick"},
      {"ChipLabelEdit", ControlKind::LabeledEdit, "Panel2", "", false, true, ""},
      {"DeviceList", ControlKind::ComboBox, "Panel2", "No available device!!!", false, false,
       "UpdateBtnCheck"},
      {"FwFilenameEdit", ControlKind::LabeledEdit, "Panel2", "", false, true, "UpdateBtnCheck"},
      {"DiskLetterLable", ControlKind::LabeledEdit, "Panel2", "", false, true, ""},
      {"LoadBtn", ControlKind::Button, "Panel2", "Load File", false, true, "LoadBtnClick"},
      {"FwVerLableEdit", ControlKind::LabeledEdit, "Panel2", "", false, true, ""},
      {"SFlashTypeLable", ControlKind::LabeledEdit, "Panel2", "", false, true, ""},
      {"FwPgSizeCheck", ControlKind::ComboBox, "Panel2", "16 KB", false, true,
       "FwPgSizeCheckChange"},
      {"FlashTypeList", ControlKind::ComboBox, "Panel2", "ATMELAT 49BV512", false, false,
       "UpdateBtnCheck"},
      {"StatusEdit", ControlKind::LabeledEdit, "Panel2", "", false, true, ""},
      {"UpdateBtn", ControlKind::Button, "Panel2", "Run", false, false, "UpdateBtnClick"},
      {"ExiBtn", ControlKind::Button, "Panel2", "Exit", false, true, "ExiBtnClick"},
      {"RdCheckBox", ControlKind::CheckBox, "Panel2", "RD Version", false, true, "RdCheckBoxClick"},
      {"EraseButton", ControlKind::Button, "Panel2", "YES", false, false, "EraseButtonClick"},
      {"ExtBtn", ControlKind::Button, "Panel2", "EXIT", true, true, "ExiBtnClick"},
      {"FwUpdatBar", ControlKind::ProgressBar, "Panel2", "", false, true, ""},
      {"ExitBtn", ControlKind::Button, "Panel2", "NO", false, false, "ExiBtnClick"},
  };
  ASSERT_EQ(f.Controls().size(), std::size(rows));
  for (size_t i = 0; i < std::size(rows); ++i) {
    const auto& row = rows[i];
    SCOPED_TRACE(row.name);
    const Control& c = *f.Controls()[i];  // creation order
    EXPECT_EQ(c.Name(), row.name);
    EXPECT_EQ(c.Kind(), row.kind);
    EXPECT_EQ(c.Parent() ? c.Parent()->Name() : "", row.parent);
    EXPECT_EQ(c.Text(), row.text);
    EXPECT_EQ(c.Visible(), row.visible);
    EXPECT_EQ(c.Enabled(), row.enabled);
    const std::string handler = !c.OnClick().name.empty() ? c.OnClick().name : c.OnChange().name;
    EXPECT_EQ(handler, row.handler);
    EXPECT_EQ(f.FindControl(row.name), &c);
  }
  EXPECT_EQ(f.BackupFWCheckBox.Tag(), 1);
  EXPECT_EQ(f.EraseOnlyCheck.Tag(), 0);
  EXPECT_EQ(f.VQS175HDDFwChk.Tag(), 0);
  EXPECT_EQ(f.FwSizeCheck.Items(),
            (std::vector<std::string>{"32KB", "64KB", "128KB", "256KB", "512KB", "   1MB"}));
  EXPECT_EQ(f.FwPgSizeCheck.Items(),
            (std::vector<std::string>{"32 KB", "16 KB", " 8 KB", " 4 KB", " 2 KB"}));
  EXPECT_EQ(f.devLable.Font().name, "Arial");
  EXPECT_EQ(f.devLable.Font().height, -19);
  EXPECT_EQ(f.EraseButton.Font().height, -13);
  EXPECT_EQ(f.FwSizeCheck.Font().height, -13);
  EXPECT_EQ(f.Window.Font().name, "MS Sans Serif");
  EXPECT_EQ(f.Panel1.Color(), kColorNavy);
  EXPECT_EQ(f.BackupFileEdit.EditLabel(), "Backup FileName ");
  EXPECT_TRUE(f.BackupFileEdit.EditLabelOnLeft());
  EXPECT_TRUE(f.StatusEdit.ReadOnly());
  EXPECT_EQ(f.OpenDialog1.DefaultExt, "bin");
  ASSERT_EQ(f.OpenDialog1.Filter.size(), 3u);
  EXPECT_EQ(f.OpenDialog1.Filter[2].pattern, "*.vqt");
  // The RD panel is taken off the window's height.
  EXPECT_EQ(f.Window.Height(), 113);
  EXPECT_EQ(f.IncludeNvram, 1u);
  EXPECT_EQ(f.EraseOnly, 0u);
  EXPECT_EQ(f.Settings.TransferBlockSize, 8192);
  EXPECT_EQ(f.Settings.SelectedFlashSize, 65536);
  EXPECT_TRUE(f.AcceptsDrops());
  EXPECT_TRUE(f.DeviceNotifyHandle);
}

TEST_F(FormTest, NoDeviceAtAll) {
  auto& f = Create();
  EXPECT_EQ(f.DeviceCount, 0);
  EXPECT_EQ(f.DeviceList.Items(), std::vector<std::string>{"No available device!!!"});
  EXPECT_EQ(f.DeviceList.ItemIndex(), 0);
  EXPECT_FALSE(f.DeviceList.Enabled());
  EXPECT_EQ(f.Face(), OneClickFace::NothingToDo);
  EXPECT_EQ(f.devLable.Text(), "                          No device found!!");
  EXPECT_EQ(f.devLable.FontColor(), kColorRed);
  EXPECT_TRUE(f.ExtBtn.Visible());
  EXPECT_FALSE(f.EraseButton.Visible());
  EXPECT_FALSE(f.ExitBtn.Visible());
  EXPECT_TRUE(backend->commands.empty());
}

TEST_F(FormTest, EnumerationFiltersAndKeepsToSixteenSlots) {
  for (int i = 0; i < 20; ++i)
    enumerator.disks.push_back("\\\\?\\usbstor#disk#" + std::to_string(i));
  enumerator.disks.insert(enumerator.disks.begin(), "\\\\?\\ide#disk#0");
  enumerator.disks.insert(enumerator.disks.begin(), "\\\\?\\USBSTOR#DISK#UPPER");
  enumerator.disks.insert(enumerator.disks.begin(), "usbsto:" + std::string(300, 'x'));
  enumerator.cdroms = {"\\\\?\\sbp2#cdrom#0"};
  auto& f = Create();
  std::array<std::string, kMaxDevices> slots;
  EXPECT_EQ(f.EnumerateDiskInterfaces(slots, true), 16);
  EXPECT_EQ(slots[0], "\\\\?\\usbstor#disk#0");
  EXPECT_EQ(slots[15], "\\\\?\\usbstor#disk#15");
  EXPECT_EQ(f.EnumerateCdromInterfaces(slots, 16, true), 0);
  EXPECT_EQ(f.DeviceCount, 16);

  enumerator.disks = {"\\\\?\\usbstor#disk#a", "\\\\?\\sbp2#disk#b"};
  EXPECT_EQ(f.EnumerateDiskInterfaces(slots, false), 1);
  EXPECT_EQ(f.EnumerateDiskInterfaces(slots, true), 2);
  EXPECT_EQ(f.EnumerateCdromInterfaces(slots, 2, true), 1);
  EXPECT_EQ(slots[2], "\\\\?\\sbp2#cdrom#0");
}

TEST_F(FormTest, DeviceChangesEndInOneRefresh) {
  Create();
  const int base = Refreshes();
  // Three arrivals within a second: one refresh, 1200 ms after the last.
  watcher.Send(kDeviceArrival, kDeviceTypeInterface);
  timers.RunFor(std::chrono::milliseconds(400));
  watcher.Send(kDeviceArrival, kDeviceTypeInterface);
  timers.RunFor(std::chrono::milliseconds(400));
  watcher.Send(kDeviceArrival, kDeviceTypeInterface);
  timers.RunFor(std::chrono::milliseconds(1199));
  EXPECT_EQ(Refreshes(), base);
  timers.RunFor(std::chrono::milliseconds(1));
  EXPECT_EQ(Refreshes(), base + 1);
  timers.RunFor(std::chrono::milliseconds(5000));
  EXPECT_EQ(Refreshes(), base + 1);
  EXPECT_FALSE(timers.IsPending(kRefreshTimerId));

  // A removal after an arrival re-arms the timer with 200 ms.
  watcher.Send(kDeviceArrival, kDeviceTypeInterface);
  timers.RunFor(std::chrono::milliseconds(100));
  watcher.Send(kDeviceRemoveComplete, kDeviceTypeInterface);
  EXPECT_EQ(timers.DueMs(kRefreshTimerId), NowMs() + 200);
  timers.RunFor(std::chrono::milliseconds(200));
  EXPECT_EQ(Refreshes(), base + 2);

  // Volume headers and other events do not touch the timer.
  watcher.Send(kDeviceArrival, kDeviceTypeVolume);
  watcher.Send(0x8001, kDeviceTypeInterface);
  watcher.Send(0x0007, kDeviceTypeInterface);
  EXPECT_FALSE(timers.IsPending(kRefreshTimerId));
  // Other timers are not ours.
  form->OnTimer(102);
  EXPECT_EQ(Refreshes(), base + 2);
}

TEST_F(FormTest, DroppedFiles) {
  auto& f = Create();
  f.NVRAMCheck.Show();
  std::vector<std::pair<std::string, ControlProperty>> changes;
  const int id =
      f.Subscribe([&](const Control& c, ControlProperty p) { changes.emplace_back(c.Name(), p); });
  f.OnDropFiles({"/home/op/firmware/new image.bin"});
  EXPECT_EQ(f.FwFilenameEdit.Text(), "/home/op/firmware/new image.bin");
  // The field's change handler ran (it hides the NVRAM box first thing).
  EXPECT_FALSE(f.NVRAMCheck.Visible());
  ASSERT_FALSE(changes.empty());
  EXPECT_EQ(changes.front(), std::make_pair(std::string("FwFilenameEdit"), ControlProperty::Text));
  EXPECT_TRUE(op.shown.empty());

  f.Unsubscribe(id);
  changes.clear();
  f.OnDropFiles({"/a.bin", "/b.bin"});
  f.OnDropFiles({});
  EXPECT_EQ(f.FwFilenameEdit.Text(), "/home/op/firmware/new image.bin");
  ASSERT_EQ(op.shown.size(), 2u);
  EXPECT_EQ(op.shown[0].kind, RecordingOperator::Kind::Simple);
  EXPECT_EQ(op.shown[0].text, "Please Drag and Drop One File Only!");
  EXPECT_TRUE(changes.empty());
}

TEST_F(FormTest, ExitButtonsCloseTheForm) {
  auto& f = Create();
  f.ExtBtn.Click();
  EXPECT_EQ(closes, 1);
  EXPECT_TRUE(f.CloseRequested());
  f.ExitBtn.Click();  // hidden: the click does not reach it
  EXPECT_EQ(closes, 1);
  f.ExiBtnClick(f.ExiBtn);
  EXPECT_EQ(closes, 2);
}

TEST_F(FormTest, RdVersionSwitchesTheEngineeringPanel) {
  auto& f = Create();
  f.RdCheckBox.SetChecked(true);  // fires its click handler
  EXPECT_TRUE(f.RdPanel.Visible());
  EXPECT_EQ(f.Window.Height(), 210);
  f.FwPgSizeCheck.SetItemIndex(3);
  f.FwPgSizeCheckChange(f.FwPgSizeCheck);
  EXPECT_EQ(f.Settings.TransferBlockSize, 4096);
  f.VQ175Path.SetItemIndex(2);  // shares the handler; "Flash PgSz" still picks the size
  f.FwPgSizeCheckChange(f.VQ175Path);
  EXPECT_EQ(f.Settings.TransferBlockSize, 4096);
  f.FwSizeCheck.Show();
  f.FwSizeCheck.Type("100KB");  // typed: no item, the setting stays
  EXPECT_EQ(f.Settings.SelectedFlashSize, 65536);
  f.FwSizeCheck.Select(5);
  EXPECT_EQ(f.Settings.SelectedFlashSize, 1048576);

  f.RdCheckBox.SetChecked(false);
  EXPECT_FALSE(f.RdPanel.Visible());
  EXPECT_FALSE(f.FwSizeCheck.Visible());
  EXPECT_EQ(f.Window.Height(), 113);
  EXPECT_FALSE(f.UpdateBtn.Enabled());
}

TEST_F(FormTest, ModeBoxesExcludeEachOther) {
  auto& f = Create();
  f.RdCheckBox.SetChecked(true);
  f.BackupFWCheckBox.Click();
  EXPECT_TRUE(f.BackupFWCheckBox.Checked());
  EXPECT_TRUE(f.UpdateBtn.Enabled());  // backup only needs no file
  f.EraseOnlyCheck.Click();
  EXPECT_TRUE(f.EraseOnlyCheck.Checked());
  EXPECT_FALSE(f.BackupFWCheckBox.Checked());
  EXPECT_EQ(f.EraseOnly, 1u);
  EXPECT_FALSE(f.FwFilenameEdit.Enabled());
  EXPECT_FALSE(f.UpdateBtn.Enabled());  // no device
  f.BackupFWCheckBox.Click();
  EXPECT_FALSE(f.EraseOnlyCheck.Checked());
  EXPECT_EQ(f.EraseOnly, 0u);
  f.VQS175HDDFwChk.SetChecked(true);
  EXPECT_FALSE(f.BackupFWCheckBox.Checked());
  // Chip type 4 shows the flash size box while a mode box is ticked.
  f.ChipType = 4;
  f.EraseOnlyCheck.SetChecked(true);
  EXPECT_TRUE(f.FwSizeCheck.Visible());
  EXPECT_TRUE(f.FwSizeLable.Visible());
  f.EraseOnlyCheck.SetChecked(false);
  EXPECT_FALSE(f.FwSizeCheck.Visible());
}

TEST_F(FormTest, FileChoosers) {
  auto& f = Create();
  f.StatusEdit.SetText("old");
  op.fileAnswers = {std::nullopt, std::string("/fw/new.bin"), std::string("/tmp/old.bak")};
  f.LoadBtnClick(f.LoadBtn);  // cancelled
  EXPECT_EQ(f.FwFilenameEdit.Text(), "");
  EXPECT_EQ(f.StatusEdit.Text(), "");
  f.LoadBtnClick(f.LoadBtn);
  EXPECT_EQ(f.FwFilenameEdit.Text(), "/fw/new.bin");
  EXPECT_TRUE(f.UpdateBtn.Enabled());
  f.BackupBtnClick(f.BackupBtn);
  EXPECT_EQ(f.BackupFileEdit.Text(), "/tmp/old.bak");
  ASSERT_EQ(op.dialogs.size(), 3u);
  EXPECT_EQ(op.dialogs[0].defaultExtension, "bin");
  EXPECT_EQ(op.dialogs[0].filters.size(), 3u);
  EXPECT_FALSE(f.OpenDialog1.InitialDir.empty());
}

TEST_F(FormTest, UpdateWithoutADeviceFails) {
  auto& f = Create();
  f.EraseButtonClick(f.EraseButton);
  EXPECT_EQ(f.Face(), OneClickFace::Failed);
  EXPECT_EQ(f.devLable.Text(), "                             Update    fail!!");
  EXPECT_EQ(f.devLable.FontColor(), kColorRed);
  EXPECT_TRUE(f.EraseButton.Enabled());
  EXPECT_FALSE(f.EraseButton.Visible());
  EXPECT_FALSE(f.FwUpdatBar.Visible());
  EXPECT_TRUE(backend->commands.empty());
}

// Events that arrive while an operation holds the form: here while a
// refresh runs (the enumeration hook stands for a message processed between
// two blocks).
TEST_F(FormTest, EventsInsideAnOperationWait) {
  auto& f = Create();
  const int base = Refreshes();
  int depth = 0;
  int maxDepth = 0;
  bool yesEnabledInside = true;
  bool runEnabledInside = true;
  bool dropped = false;
  enumerator.onEnumerate = [&] {
    maxDepth = std::max(maxDepth, ++depth);
    if (Refreshes() == base + 1) {
      f.OnTimer(kRefreshTimerId);
      f.RefreshBtnClick(f.RefreshBtn);
      f.OnDropFiles({"/x.bin"});
      dropped = !f.FwFilenameEdit.Text().empty();
      yesEnabledInside = f.EraseButton.Enabled();
      runEnabledInside = f.UpdateBtn.Enabled();
      EXPECT_FALSE(f.Notice().empty());
    }
    --depth;
  };
  f.UpdateBtn.SetEnabled(true);
  f.RefreshBtnClick(f.RefreshBtn);
  EXPECT_EQ(maxDepth, 1);            // never nested
  EXPECT_EQ(Refreshes(), base + 2);  // the held refreshes ran once, afterwards
  EXPECT_FALSE(dropped);
  EXPECT_FALSE(yesEnabledInside);
  EXPECT_FALSE(runEnabledInside);
  EXPECT_TRUE(f.Notice().empty());
  EXPECT_FALSE(f.Busy());
}

TEST_F(FormTest, CloseDuringAnOperationIsHeldUntilItEnds) {
  auto& f = Create();
  const int base = Refreshes();
  bool allowedInside = true;
  std::string noticeInside;
  enumerator.onEnumerate = [&] {
    if (Refreshes() != base + 1) return;
    f.OnTimer(kRefreshTimerId);
    allowedInside = f.RequestClose();
    f.ExtBtn.Click();
    noticeInside = f.Notice();
    EXPECT_EQ(closes, 0);
  };
  f.RefreshBtnClick(f.RefreshBtn);
  EXPECT_FALSE(allowedInside);
  EXPECT_EQ(noticeInside, texts::kCloseHeldNotice);
  EXPECT_EQ(closes, 1);
  EXPECT_TRUE(f.CloseRequested());
  // The window is closing: the held refresh is dropped.
  EXPECT_EQ(Refreshes(), base + 1);
  EXPECT_TRUE(f.RequestClose());
}

TEST_F(FormTest, WatcherStartsAndStops) {
  Create();
  EXPECT_EQ(watcher.starts, 1);
  form.reset();
  EXPECT_EQ(watcher.stops, 1);
  EXPECT_FALSE(timers.IsPending(kRefreshTimerId));
}

}  // namespace
}  // namespace fwtool
