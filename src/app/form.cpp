// SPDX-License-Identifier: GPL-2.0-or-later
// The form: its controls as the designer left them, construction and
// destruction in their fixed order, change notification, the busy state and
// the status-line and progress-bar conventions.
#include <algorithm>

#include "Fwupdate.h"
#include "firmware.h"
#include "form_texts.h"

namespace fwtool {

namespace {

template <size_t N>
std::vector<std::string> ItemList(const char* const (&items)[N]) {
  return std::vector<std::string>(std::begin(items), std::end(items));
}

}  // namespace

const char* OneClickFaceName(OneClickFace face) {
  switch (face) {
    case OneClickFace::Ready:
      return "ready";
    case OneClickFace::NothingToDo:
      return "nothing to do";
    case OneClickFace::Updating:
      return "updating";
    case OneClickFace::Done:
      return "update done";
    case OneClickFace::Failed:
      return "update failed";
    case OneClickFace::Other:
      return "other";
  }
  return "other";
}

TV77xFwTool::TV77xFwTool(OperatorServices& op, InterfaceEnumerator& enumerator,
                         TimerService& timers, DeviceChangeWatcher* watcher, FormOptions options)
    : Window(*this, texts::kFormName, ControlKind::Form, nullptr),
      Panel1(*this, "Panel1", ControlKind::Panel, &Window),
      RdPanel(*this, "RdPanel", ControlKind::Panel, &Window),
      FwSizeLable(*this, "FwSizeLable", ControlKind::Label, &RdPanel),
      BackupFWCheckBox(*this, "BackupFWCheckBox", ControlKind::CheckBox, &RdPanel),
      EraseOnlyCheck(*this, "EraseOnlyCheck", ControlKind::CheckBox, &RdPanel),
      BackupFileEdit(*this, "BackupFileEdit", ControlKind::LabeledEdit, &RdPanel),
      BackupBtn(*this, "BackupBtn", ControlKind::Button, &RdPanel),
      A1ChipCheck(*this, "A1ChipCheck", ControlKind::CheckBox, &RdPanel),
      NVRAMCheck(*this, "NVRAMCheck", ControlKind::CheckBox, &RdPanel),
      FwSizeCheck(*this, "FwSizeCheck", ControlKind::ComboBox, &RdPanel),
      ChkSumChk(*this, "ChkSumChk", ControlKind::CheckBox, &RdPanel),
      VQ175Path(*this, "VQ175Path", ControlKind::ComboBox, &RdPanel),
      VQS175HDDFwChk(*this, "VQS175HDDFwChk", ControlKind::CheckBox, &RdPanel),
      Panel2(*this, "Panel2", ControlKind::Panel, &Window),
      diskLabel(*this, "diskLabel", ControlKind::Label, &Panel2),
      FwPgBurnSizeLabel(*this, "FwPgBurnSizeLabel", ControlKind::Label, &Panel2),
      FlashTypeLabel(*this, "FlashTypeLabel", ControlKind::Label, &Panel2),
      devLable(*this, "devLable", ControlKind::Label, &Panel2),
      replugLable1(*this, "replugLable1", ControlKind::Label, &Panel2),
      RefreshBtn(*this, "RefreshBtn", ControlKind::Button, &Panel2),
      ChipLabelEdit(*this, "ChipLabelEdit", ControlKind::LabeledEdit, &Panel2),
      DeviceList(*this, "DeviceList", ControlKind::ComboBox, &Panel2),
      FwFilenameEdit(*this, "FwFilenameEdit", ControlKind::LabeledEdit, &Panel2),
      DiskLetterLable(*this, "DiskLetterLable", ControlKind::LabeledEdit, &Panel2),
      LoadBtn(*this, "LoadBtn", ControlKind::Button, &Panel2),
      FwVerLableEdit(*this, "FwVerLableEdit", ControlKind::LabeledEdit, &Panel2),
      SFlashTypeLable(*this, "SFlashTypeLable", ControlKind::LabeledEdit, &Panel2),
      FwPgSizeCheck(*this, "FwPgSizeCheck", ControlKind::ComboBox, &Panel2),
      FlashTypeList(*this, "FlashTypeList", ControlKind::ComboBox, &Panel2),
      StatusEdit(*this, "StatusEdit", ControlKind::LabeledEdit, &Panel2),
      UpdateBtn(*this, "UpdateBtn", ControlKind::Button, &Panel2),
      ExiBtn(*this, "ExiBtn", ControlKind::Button, &Panel2),
      RdCheckBox(*this, "RdCheckBox", ControlKind::CheckBox, &Panel2),
      EraseButton(*this, "EraseButton", ControlKind::Button, &Panel2),
      ExtBtn(*this, "ExtBtn", ControlKind::Button, &Panel2),
      FwUpdatBar(*this, "FwUpdatBar", ControlKind::ProgressBar, &Panel2),
      ExitBtn(*this, "ExitBtn", ControlKind::Button, &Panel2),
      op_(op),
      enumerator_(enumerator),
      timers_(timers),
      watcher_(watcher),
      image_(EmbeddedImage()),
      historyFile_(options.historyPath),
      scope_(options.scope),
      bankRepair_(options.bankRepair) {
  controls_ = {&Window,
               &Panel1,
               &RdPanel,
               &FwSizeLable,
               &BackupFWCheckBox,
               &EraseOnlyCheck,
               &BackupFileEdit,
               &BackupBtn,
               &A1ChipCheck,
               &NVRAMCheck,
               &FwSizeCheck,
               &ChkSumChk,
               &VQ175Path,
               &VQS175HDDFwChk,
               &Panel2,
               &diskLabel,
               &FwPgBurnSizeLabel,
               &FlashTypeLabel,
               &devLable,
               &replugLable1,
               &RefreshBtn,
               &ChipLabelEdit,
               &DeviceList,
               &FwFilenameEdit,
               &DiskLetterLable,
               &LoadBtn,
               &FwVerLableEdit,
               &SFlashTypeLable,
               &FwPgSizeCheck,
               &FlashTypeList,
               &StatusEdit,
               &UpdateBtn,
               &ExiBtn,
               &RdCheckBox,
               &EraseButton,
               &ExtBtn,
               &FwUpdatBar,
               &ExitBtn};
  // 1. The controls as the form description defines them.
  Design();
  BindEvents();
  timers_.SetHandler([this](int id) { OnTimer(id); });
  // 2. Option fields.
  EraseOnly = EraseOnlyCheck.Checked() ? 1 : 0;
  IncludeNvram = 1;
  // 3. The device list and the one-click face.
  Refresh();
  // 4. The face switch with "RD Version" unchecked: one-click face only.
  RdCheckBoxClick(RdCheckBox);
  // 5. Device-change registration and the drop target.
  FormCreate(Window);
}

TV77xFwTool::~TV77xFwTool() {
  timers_.KillTimer(kRefreshTimerId);
  timers_.SetHandler(nullptr);
  if (watcher_ != nullptr && DeviceNotifyHandle) watcher_->Stop();
  DeviceNotifyHandle = false;
  CloseCdromEntries();
  listeners_.clear();
}

void TV77xFwTool::Design() {
  const FontSpec formFont{texts::kFormFontName, texts::kFormFontHeight, kColorBlack};
  for (Control* c : controls_) c->SetFont(formFont);

  Window.SetText(texts::kFormCaption);
  Window.SetHeight(kPanel2Height + kRdPanelHeight);

  Panel1.SetColor(kColorNavy);
  RdPanel.Hide();
  RdPanel.SetHeight(kRdPanelHeight);
  FwSizeLable.SetText(texts::kFwSizeLable);
  BackupFWCheckBox.SetText(texts::kBackupFWCheckBox);
  BackupFWCheckBox.SetTag(1);
  EraseOnlyCheck.SetText(texts::kEraseOnlyCheck);
  EraseOnlyCheck.SetTag(0);
  BackupFileEdit.SetEditLabel(texts::kBackupFileEditLabel, /*onLeft=*/true);
  BackupBtn.SetText(texts::kBackupBtn);
  A1ChipCheck.SetText(texts::kA1ChipCheck);
  NVRAMCheck.SetText(texts::kNVRAMCheck);
  FwSizeCheck.SetItems(ItemList(texts::kFwSizeItems));
  FwSizeCheck.SetItemIndex(0);
  FwSizeCheck.SetFont({texts::kFormFontName, -13, kColorBlack});
  ChkSumChk.SetText(texts::kChkSumChk);
  VQ175Path.SetItems(ItemList(texts::kVQ175PathItems));
  VQ175Path.SetItemIndex(0);
  VQ175Path.Hide();
  VQS175HDDFwChk.SetText(texts::kVQS175HDDFwChk);

  Panel2.SetHeight(kPanel2Height);
  diskLabel.SetText(texts::kDiskLabelDesign);
  diskLabel.Hide();
  FwPgBurnSizeLabel.SetText(texts::kFwPgBurnSizeLabel);
  FwPgBurnSizeLabel.Hide();
  FlashTypeLabel.SetText(texts::kFlashTypeLabel);
  FlashTypeLabel.Hide();
  devLable.SetText(texts::kDesignPrompt);
  devLable.SetFont({texts::kArialFont, -19, kColorBlack});
  replugLable1.SetText(texts::kReplugLable);
  replugLable1.SetFont({texts::kArialFont, -19, kColorBlack});
  replugLable1.Hide();
  RefreshBtn.SetText(texts::kRefreshBtn);
  RefreshBtn.Hide();
  ChipLabelEdit.SetEditLabel(texts::kChipLabelEditLabel);
  ChipLabelEdit.SetReadOnly(true);
  ChipLabelEdit.Hide();
  DeviceList.Hide();
  FwFilenameEdit.SetEditLabel(texts::kFwFilenameEditLabel);
  FwFilenameEdit.Hide();
  DiskLetterLable.SetEditLabel(texts::kDiskLetterLableLabel);
  DiskLetterLable.SetReadOnly(true);
  DiskLetterLable.Hide();
  LoadBtn.SetText(texts::kLoadBtn);
  LoadBtn.Hide();
  FwVerLableEdit.SetEditLabel(texts::kFwVerLableEditLabel);
  FwVerLableEdit.SetReadOnly(true);
  FwVerLableEdit.SetShowHint(true);
  FwVerLableEdit.Hide();
  SFlashTypeLable.SetEditLabel(texts::kSFlashTypeLableLabel);
  SFlashTypeLable.SetReadOnly(true);
  SFlashTypeLable.Hide();
  FwPgSizeCheck.SetItems(ItemList(texts::kFwPgSizeItems));
  FwPgSizeCheck.SetItemIndex(1);
  FwPgSizeCheck.Hide();
  FlashTypeList.SetItems(ItemList(texts::kFlashTypeItems));
  FlashTypeList.SetItemIndex(0);
  FlashTypeList.Hide();
  StatusEdit.SetEditLabel(texts::kStatusEditLabel);
  StatusEdit.SetReadOnly(true);
  StatusEdit.Hide();
  UpdateBtn.SetText(texts::kUpdateBtn);
  UpdateBtn.Hide();
  UpdateBtn.SetEnabled(false);
  ExiBtn.SetText(texts::kExiBtn);
  ExiBtn.Hide();
  RdCheckBox.SetText(texts::kRdCheckBox);
  RdCheckBox.Hide();
  const FontSpec buttonFont{texts::kArialFont, -13, kColorBlack};
  EraseButton.SetText(texts::kEraseButton);
  EraseButton.SetFont(buttonFont);
  ExtBtn.SetText(texts::kExtBtn);
  ExtBtn.SetFont(buttonFont);
  ExtBtn.Hide();
  FwUpdatBar.SetRange(0, 100);
  FwUpdatBar.Hide();
  ExitBtn.SetText(texts::kExitBtn);
  ExitBtn.SetFont(buttonFont);

  OpenDialog1.DefaultExt = texts::kOpenDialogExtension;
  OpenDialog1.Filter = {{"BinaryFile", "*.bin"}, {"All Files", "*.*"}, {"VQT Files", "*.vqt"}};
}

void TV77xFwTool::BindEvents() {
  auto bind = [this](void (TV77xFwTool::*handler)(Control&)) {
    return [this, handler](Control& sender) { (this->*handler)(sender); };
  };
  BackupFWCheckBox.BindClick("EraseOnlyCheckClick", bind(&TV77xFwTool::EraseOnlyCheckClick));
  EraseOnlyCheck.BindClick("EraseOnlyCheckClick", bind(&TV77xFwTool::EraseOnlyCheckClick));
  BackupBtn.BindClick("BackupBtnClick", bind(&TV77xFwTool::BackupBtnClick));
  NVRAMCheck.BindClick("NVRAMCheckClick", bind(&TV77xFwTool::NVRAMCheckClick));
  FwSizeCheck.BindChange("FwSizeCheckChange", bind(&TV77xFwTool::FwSizeCheckChange));
  VQ175Path.BindChange("FwPgSizeCheckChange", bind(&TV77xFwTool::FwPgSizeCheckChange));
  VQS175HDDFwChk.BindClick("EraseOnlyCheckClick", bind(&TV77xFwTool::EraseOnlyCheckClick));
  RefreshBtn.BindClick("RefreshBtnClick", bind(&TV77xFwTool::RefreshBtnClick));
  DeviceList.BindChange("UpdateBtnCheck", bind(&TV77xFwTool::UpdateBtnCheck));
  FwFilenameEdit.BindChange("UpdateBtnCheck", bind(&TV77xFwTool::UpdateBtnCheck));
  LoadBtn.BindClick("LoadBtnClick", bind(&TV77xFwTool::LoadBtnClick));
  FwPgSizeCheck.BindChange("FwPgSizeCheckChange", bind(&TV77xFwTool::FwPgSizeCheckChange));
  FlashTypeList.BindChange("UpdateBtnCheck", bind(&TV77xFwTool::UpdateBtnCheck));
  UpdateBtn.BindClick("UpdateBtnClick", bind(&TV77xFwTool::UpdateBtnClick));
  ExiBtn.BindClick("ExiBtnClick", bind(&TV77xFwTool::ExiBtnClick));
  RdCheckBox.BindClick("RdCheckBoxClick", bind(&TV77xFwTool::RdCheckBoxClick));
  EraseButton.BindClick("EraseButtonClick", bind(&TV77xFwTool::EraseButtonClick));
  ExtBtn.BindClick("ExiBtnClick", bind(&TV77xFwTool::ExiBtnClick));
  ExitBtn.BindClick("ExiBtnClick", bind(&TV77xFwTool::ExiBtnClick));
}

void TV77xFwTool::FormCreate(Control&) {
  RegisterDeviceArrival();
  acceptsDrops_ = true;
}

void TV77xFwTool::RegisterDeviceArrival() {
  // A watch that cannot start is not reported: the list then changes only on
  // an explicit refresh.
  if (watcher_ == nullptr) return;
  DeviceNotifyHandle =
      watcher_->Start([this](const DeviceChangeEvent& event) { OnDeviceChange(event); });
}

// ---- Observing ----------------------------------------------------------

int TV77xFwTool::Subscribe(ChangeListener listener) {
  const int id = nextListenerId_++;
  listeners_[id] = std::move(listener);
  return id;
}

void TV77xFwTool::Unsubscribe(int id) {
  listeners_.erase(id);
}

Control* TV77xFwTool::FindControl(std::string_view name) const {
  for (Control* c : controls_)
    if (c->Name() == name) return c;
  return nullptr;
}

void TV77xFwTool::ControlChanged(const Control& control, ControlProperty property) {
  // A listener may unsubscribe itself while being told.
  const auto listeners = listeners_;
  for (const auto& [id, listener] : listeners)
    if (listener) listener(control, property);
}

void TV77xFwTool::SetNotice(const std::string& notice, bool held) {
  noticeHeld_ = held;
  if (notice == notice_) return;
  notice_ = notice;
  ControlChanged(Window, ControlProperty::Notice);
}

OneClickFace TV77xFwTool::Face() const {
  if (FwUpdatBar.Visible()) return OneClickFace::Updating;
  if (ExtBtn.Visible() && !EraseButton.Visible() && !ExitBtn.Visible()) {
    if (replugLable1.Visible()) return OneClickFace::Done;
    if (devLable.Visible() && devLable.Text() == texts::kUpdateFailedNotice)
      return OneClickFace::Failed;
    if (devLable.Visible()) return OneClickFace::NothingToDo;
  }
  if (devLable.Visible() && devLable.Text() == texts::kPrompt && EraseButton.Visible() &&
      ExitBtn.Visible() && !ExtBtn.Visible())
    return OneClickFace::Ready;
  return OneClickFace::Other;
}

// ---- The busy state -------------------------------------------------------

void TV77xFwTool::BeginBusy() {
  if (busyDepth_++ == 0) {
    // Nothing may start a second operation inside this one.
    EraseButton.HoldDisabled(true);
    UpdateBtn.HoldDisabled(true);
  }
}

void TV77xFwTool::EndBusy() {
  if (busyDepth_ == 1) {
    // Refreshes asked for meanwhile run once now, unless the window closes.
    while (refreshPending_ && !closePending_) {
      refreshPending_ = false;
      RefreshDeviceList(/*setFace=*/!keepOutcomeFace_);
    }
    refreshPending_ = false;
    keepOutcomeFace_ = false;
  }
  if (--busyDepth_ > 0) return;
  EraseButton.HoldDisabled(false);
  UpdateBtn.HoldDisabled(false);
  if (noticeHeld_) SetNotice(std::string());
  if (closePending_) {
    closePending_ = false;
    Close();
  }
}

bool TV77xFwTool::RequestClose() {
  if (closeRequested_) return true;
  if (Busy()) {
    // Never cut a flash write short: the unit would be left half programmed.
    closePending_ = true;
    SetNotice(texts::kCloseHeldNotice, /*held=*/true);
    return false;
  }
  closeRequested_ = true;
  return true;
}

void TV77xFwTool::Close() {
  closeRequested_ = true;
  if (closeHandler_) closeHandler_();
}

void TV77xFwTool::ExiBtnClick(Control&) {
  if (RequestClose()) Close();
}

// ---- Status line and progress bar ------------------------------------------

void TV77xFwTool::SetStatus(const std::string& text) {
  StatusEdit.SetText(text);
}

void TV77xFwTool::StepProgress(int amount) {
  if (!FwUpdatBar.Visible()) return;
  FwUpdatBar.SetPosition(std::min(FwUpdatBar.Position() + amount, FwUpdatBar.Max()));
  ProcessMessages();
}

}  // namespace fwtool
