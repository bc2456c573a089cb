// SPDX-License-Identifier: GPL-2.0-or-later
// The main window as a toolkit-free model: the form TV77xFwTool with every
// control under its designer name, the form's state fields, its handlers and
// the three window messages it reacts to besides clicks (device change, the
// refresh timer, dropped files). A view renders the controls and forwards the
// operator's actions and the platform's events; tests drive it directly.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "chip_info.h"
#include "chip_rows.h"
#include "control.h"
#include "enumeration.h"
#include "flash_settings.h"
#include "form_requests.h"
#include "held_node.h"
#include "history.h"
#include "operator.h"
#include "procedure.h"
#include "procedure_host.h"
#include "serial_flash_commands.h"
#include "timer_service.h"

namespace fwtool {

class OperationRecord;
struct RestoreReport;

inline constexpr int kMaxDevices = 16;
inline constexpr size_t kMaxPathLength = 255;
inline constexpr int kRefreshTimerId = 101;
inline constexpr uint32_t kArrivalRefreshDelayMs = 1200;
inline constexpr uint32_t kRemovalRefreshDelayMs = 200;
inline constexpr int kRdPanelHeight = 97;
inline constexpr int kPanel2Height = 113;
inline constexpr int kFormClientWidth = 419;
inline constexpr int kFormDesignLeft = 413;
inline constexpr int kFormDesignTop = 199;
inline constexpr int kProgressAtUpdateStart = 20;

// One entry of the device list; entry i belongs to item i of DeviceList.
struct DeviceRecord {
  std::string Path;  // lower-cased interface path, at most 255 characters
  int32_t IsCdromInterface = 0;
  int32_t RecoveryDone = 0;
};

// What the last refresh found at one enumerated path (for views that show
// more than the list: the command line's `list`).
struct DeviceSurveyEntry {
  enum class Outcome {
    NotTarget,       // another chip type, or nothing recognised
    AlreadyUpdated,  // a target chip that runs the embedded image
    Unrecognised,    // a target chip that the final identification lost
    Listed,          // entry `listIndex` of DeviceList
  };
  std::string path;  // as enumerated (lower-cased once found a target)
  bool cdrom = false;
  bool on1394 = false;
  std::string name;  // vendor and product identification
  uint16_t identification = 0;
  Outcome outcome = Outcome::NotTarget;
  bool upToDate = false;  // a target chip that runs the embedded image
  int listIndex = -1;
};

// Which controllers the device list holds.
enum class DeviceListScope {
  UpdateTargets,   // target chips that do not run the embedded image yet
  AllControllers,  // every recognised controller (the engineering face)
};

// How a form starts: what its device list holds and whether the information
// check may repair a dual-bank flash.
struct FormOptions {
  DeviceListScope scope = DeviceListScope::UpdateTargets;
  bool bankRepair = true;
  // The history file of the operations that write to a unit (history.h;
  // DefaultHistoryPath() for the user's); empty: no history is kept.
  std::string historyPath{};
};

// The states of the one-click face (devLable, YES, NO, EXIT, bar, replug line).
enum class OneClickFace {
  Ready,        // prompt, YES and NO
  NothingToDo,  // red notice, EXIT only
  Updating,     // progress bar, YES disabled, NO
  Done,         // "Please power cycle the device", EXIT only
  Failed,       // red failure notice, EXIT only
  Other,        // none of these (before the first refresh)
};
const char* OneClickFaceName(OneClickFace face);

// The command that writes a backup back into a unit; `options` (may be
// empty) are what that unit's restore needs besides, e.g. "--hdd-fw".
std::string RestoreCommandLine(const std::string& devicePath, const std::string& backupPath,
                               const std::string& options = {});

// The file-open dialog of the form.
struct OpenDialogSpec {
  std::string Name = "OpenDialog1";
  std::string DefaultExt;
  std::vector<FileFilter> Filter;
  std::string InitialDir;
};

class TV77xFwTool : private ControlObserver {
 public:
  using ChangeListener = std::function<void(const Control& control, ControlProperty property)>;
  using CloseHandler = std::function<void()>;

  // Builds the form, refreshes the device list, switches to the one-click
  // face, registers for device changes (when a watcher is given) and accepts
  // dropped files. The services must outlive the form.
  TV77xFwTool(OperatorServices& op, InterfaceEnumerator& enumerator, TimerService& timers,
              DeviceChangeWatcher* watcher = nullptr, FormOptions options = {});
  // Stops the device-change watch and sends the closing command to every
  // entry marked as a CD-ROM interface.
  ~TV77xFwTool() override;
  TV77xFwTool(const TV77xFwTool&) = delete;
  TV77xFwTool& operator=(const TV77xFwTool&) = delete;

  // ---- Observing -------------------------------------------------------
  // The listener is called after every change of a control property (and of
  // the notice line, reported with Window as the control). Returns an id for
  // Unsubscribe.
  int Subscribe(ChangeListener listener);
  void Unsubscribe(int id);
  // Every control in creation order, the form itself first.
  const std::vector<Control*>& Controls() const { return controls_; }
  Control* FindControl(std::string_view name) const;
  OneClickFace Face() const;
  // A line of our own beside the status line: what the program holds back
  // while an operation runs (a close request, a refresh; gone when it ends),
  // and where the last update saved the unit's flash.
  const std::string& Notice() const { return notice_; }

  // ---- Controls, in creation order ---------------------------------------
  Control Window;  // the form itself, "V77xFwTool": caption, font, height
  Control Panel1;
  Control RdPanel;
  Control FwSizeLable;
  Control BackupFWCheckBox;
  Control EraseOnlyCheck;
  Control BackupFileEdit;
  Control BackupBtn;
  Control A1ChipCheck;
  Control NVRAMCheck;
  Control FwSizeCheck;
  Control ChkSumChk;
  Control VQ175Path;
  Control VQS175HDDFwChk;
  Control Panel2;
  Control diskLabel;
  Control FwPgBurnSizeLabel;
  Control FlashTypeLabel;
  Control devLable;
  Control replugLable1;
  Control RefreshBtn;
  Control ChipLabelEdit;
  Control DeviceList;
  Control FwFilenameEdit;
  Control DiskLetterLable;
  Control LoadBtn;
  Control FwVerLableEdit;
  Control SFlashTypeLable;
  Control FwPgSizeCheck;
  Control FlashTypeList;
  Control StatusEdit;
  Control UpdateBtn;
  Control ExiBtn;
  Control RdCheckBox;
  Control EraseButton;
  Control ExtBtn;
  Control FwUpdatBar;
  Control ExitBtn;
  OpenDialogSpec OpenDialog1;

  // ---- Form state fields -------------------------------------------------
  bool DeviceNotifyHandle = false;  // registered for device changes
  std::array<DeviceRecord, kMaxDevices> Devices{};
  int32_t DeviceCount = 0;
  uint32_t EraseOnly = 0;
  int32_t FlashMaker = 0;
  uint32_t AltFlashProc = 0;
  int32_t FlashSizeKB = 0;
  uint32_t IncludeNvram = 0;
  int32_t ChipRegValue = 0;
  uint8_t ChipType = 0;
  uint8_t ChipSubRev = 0;
  int32_t AmicFlashKind = 0;
  int32_t AtmelFlashKind = 0;
  uint32_t ImageHasHeaderArea = 0;
  // The transfer and erase settings the flash procedures share.
  FlashSettings Settings;

  // ---- What the operator does --------------------------------------------
  // One entry per action, for every face. The windows reach them through
  // the handlers below (which read the controls or ask the dialog, build the
  // request and call the entry); the command line calls them with what its
  // arguments say. Each entry sets the controls as the operator's clicks do,
  // so the same boxes and enable rules follow, and no face sets a control or
  // answers a dialog itself. Whether a button may be pressed (RunAvailable,
  // the one-click face) is for the face to honour, as a disabled button is.

  // "Refresh Device": lists the attached controllers anew; held until the
  // running operation ends.
  void Refresh();
  // Selects entry `index` of the device list and checks that unit; false,
  // and nothing changes, when the list has no such entry.
  bool SelectUnit(int index);
  // The information check of the selected unit: what it is, which flash it
  // drives, what it runs, and whether "Run" may start with the firmware file
  // and the mode boxes as they are.
  void CheckSelectedUnit();
  // Takes the operator's word on the chip type (ChipTypeRequest) for this
  // and every later check, and checks the selected unit again; false, and
  // nothing changes, for a type identification tells by itself.
  bool SayChipType(const ChipTypeRequest& request);
  // The type the operator said; 0 for none.
  std::optional<uint8_t> SaidChipType() const { return saidChipType_; }
  // "Load File" with the file chosen: the firmware file field takes it (and
  // the check runs), its sum is tested when "Check CheckSum" is ticked, and
  // "Run" follows.
  void LoadFirmwareFile(const std::string& file);
  // "Browse" with the file chosen: the backup file field takes it; the
  // procedures create it.
  void ChooseBackupFile(const std::string& file);
  // Sets the options of `request` as the operator sets them, in the order in
  // which the boxes act on each other; "Run" is then enabled or not by the
  // form's rules.
  void SetRunOptions(const RunRequest& request);
  // "Run": the options of `request`, then the procedure that fits the
  // selected unit's chip (nothing while another operation runs).
  RunOutcome Run(const RunRequest& request);
  bool RunAvailable() const { return UpdateBtn.Enabled(); }
  // "YES": the one-click update of the selected unit with the embedded
  // image; 1 when written and verified. The face shows the outcome.
  int OneClickUpdate(const UpdateRequest& request);
  // Writes a backup of the selected unit's whole part back into it, through
  // the commands of the procedure that would erase the unit, with read-back
  // and compare (see RestoreWholePart); 1 when the part holds it, 0 also
  // without a selected unit. `report` (may be null) says why it stopped.
  int RestoreBackup(const RestoreRequest& request, RestoreReport* report = nullptr);
  // The part a restore of the selected unit with these choices reaches;
  // WholePart::None when no procedure serves the unit (or none is selected).
  WholePart RestorePart(const RestoreRequest& request);

  // ---- Handlers (the sender is the control whose event fired) -------------
  void FormCreate(Control& sender);
  void ExiBtnClick(Control& sender);
  void RefreshBtnClick(Control& sender);
  void UpdateBtnCheck(Control& sender);
  void UpdateBtnClick(Control& sender);
  void EraseOnlyCheckClick(Control& sender);
  void RdCheckBoxClick(Control& sender);
  void FwSizeCheckChange(Control& sender);
  void FwPgSizeCheckChange(Control& sender);
  void NVRAMCheckClick(Control& sender);
  void LoadBtnClick(Control& sender);
  void BackupBtnClick(Control& sender);
  void EraseButtonClick(Control& sender);

  // ---- Window messages ---------------------------------------------------
  // Device arrival (0x8000) or removal (0x8004) of a device interface
  // (header type 5) re-arms timer 101: 1200 ms after an arrival, 200 ms
  // after a removal. Everything else is ignored.
  void OnDeviceChange(uint32_t event, uint32_t deviceType);
  void OnDeviceChange(const DeviceChangeEvent& event) {
    OnDeviceChange(event.event, event.deviceType);
  }
  // Timer 101 refreshes the device list (deferred while an operation runs).
  void OnTimer(int id);
  // Exactly one file goes into the firmware file field; any other count
  // shows "Please Drag and Drop One File Only!". Ignored while busy.
  void OnDropFiles(const std::vector<std::string>& files);
  bool AcceptsDrops() const { return acceptsDrops_; }

  // ---- Closing -----------------------------------------------------------
  // Called when the form wants to close ("NO", "EXIT", "Exit", or a held
  // request once the operation ends). The view closes the window and
  // destroys the form later; it must not destroy the form from inside.
  void SetCloseHandler(CloseHandler handler) { closeHandler_ = std::move(handler); }
  // A close request from outside the form (the window's close box, Ctrl-C):
  // true when the form may close now; false while an operation runs, in
  // which case the request is held, said in the notice, and the close
  // handler runs when the operation ends.
  bool RequestClose();
  // True once the form has agreed to close.
  bool CloseRequested() const { return closeRequested_; }
  bool ClosePending() const { return closePending_; }

  // ---- Operations --------------------------------------------------------
  // True while an update, a procedure or a refresh runs.
  bool Busy() const { return busyDepth_ > 0; }
  // Every path the last refresh enumerated, in enumeration order.
  const std::vector<DeviceSurveyEntry>& Survey() const { return survey_; }
  // Number of device-list entries of the last refresh.
  int ListedCount() const { return listedCount_; }
  // The selected device record, or null when the selection names no entry.
  const DeviceRecord* SelectedDevice() const;
  // For the session of an operation that writes to a listed unit: asks the
  // device at `path` again who it is (INQUIRY and the chip identification)
  // and says when it is not the unit the last refresh listed there. None
  // for a path the list does not hold.
  UnitCheck ListedUnitCheck(const std::string& path);

  // ---- Status line and progress bar --------------------------------------
  void SetStatus(const std::string& text);
  void ClearStatus() { SetStatus(std::string()); }
  // Adds `amount` to the progress bar (capped at 100), repaints and lets the
  // view process pending messages. Nothing while the bar is hidden.
  void StepProgress(int amount);
  void ProcessMessages() { op_.ProcessMessages(); }
  // Where the running procedure, the one-click update or a restore stands
  // in the steps it declared (the window's bar keeps its own increments).
  ProcedureProgress& Progress() { return progress_; }

  // ---- The one-click update -----------------------------------------------
  // The image "YES" writes and the device list compares with: the embedded
  // image unless replaced (tests).
  void SetFirmwareImage(std::span<const uint8_t> image) { image_ = image; }
  std::span<const uint8_t> FirmwareImage() const { return image_; }
  // Where "YES" and the bank repair save the unit's flash before writing;
  // empty: a new file in the default backup folder.
  void SetBackupTarget(std::string path) { backupTarget_ = std::move(path); }
  // The backup file of the last update or bank repair, empty when none was
  // written.
  const std::string& LastBackupPath() const { return lastBackupPath_; }
  // Why the last update, "Run" or restore sent nothing more to its unit:
  // the device was not the unit that was listed (ListedUnitCheck). Empty
  // when it was.
  const std::string& LastRefusal() const { return lastRefusal_; }

  // ---- The engineering face ----------------------------------------------
  // Shows the engineering column (device list, file, status, Run, transfer
  // size) and ticks "RD Version", which opens the RD panel. The fields the
  // information check arranges for the selected unit keep its arrangement.
  void ShowEngineeringFace();
  // The request "Run" hands to a procedure for the device at `path`: the
  // chip facts of the form and the options as the controls hold them now.
  ProcedureRequest ProcedureRequestFor(const std::string& path) const;
  const RunOutcome& LastRun() const { return lastRun_; }

  // ---- The chip information check ------------------------------------------
  // Repairs the dual-bank flash of the controller at `path` (chip type 12,
  // 128 KB or more) when exactly one of its 64 KB banks holds a valid image:
  // the unit's whole flash goes to a backup file first (no backup, no
  // write), then the valid bank is copied over the other, read back and
  // compared (two attempts). True when a bank was rewritten and verified, and
  // when there was nothing to repair for this record (another chip, a smaller
  // flash, repaired once since the last refresh); false when both banks are
  // alike or the repair failed. Runs at most once per device record between
  // two refreshes.
  bool RecoverBankImage(const std::string& path, uint8_t chipType);
  // Whether each of the two 64 KB banks of a dual-bank flash holds a valid
  // image; nullopt when a bank cannot be read. Reads only.
  std::optional<std::array<bool, 2>> ReadBankStates(const std::string& path, uint8_t chipType);

  // ---- History -----------------------------------------------------------
  // The file every operation that writes to a unit adds its record to (from
  // FormOptions); empty: no history is kept.
  const std::string& HistoryPath() const { return historyFile_; }
  // The unit at `path` as the form knows it: the names the last refresh
  // read, chip type, label, sub-revision and serial number.
  HistoryUnit UnitForHistory(const std::string& path) const;
  // The version the information check read from the unit at `path` when it
  // is the selected one; empty otherwise.
  std::string RunningVersion(const std::string& path) const;
  // Adds the record to the history file; when it cannot be written, the
  // notice says so and HistoryError tells why.
  void AddToHistory(const HistoryRecord& record);
  // Why the last record could not be added; empty when it was.
  const std::string& HistoryError() const { return historyError_; }

  // The services the form was given, and the form as the procedures see it.
  OperatorServices& Operator() { return op_; }
  InterfaceEnumerator& Enumerator() { return enumerator_; }
  ProcedureHost& Host() { return host_; }

  // ---- Device list -------------------------------------------------------
  // Stores the filtered disk-interface paths from slot 0 on; returns their
  // number. Paths past the last slot or longer than 255 characters are left
  // out.
  int EnumerateDiskInterfaces(std::array<std::string, kMaxDevices>& slots, bool admit1394);
  // The same for CD-ROM interfaces, from slot `first` on.
  int EnumerateCdromInterfaces(std::array<std::string, kMaxDevices>& slots, int first,
                               bool admit1394);
  // True when the controller behind the path is chip type 8 or 9.
  // `identification` (may be null) receives what IdentifyChip answered.
  bool IsTargetChip(const std::string& path, uint16_t* identification = nullptr);
  // True when the device is a target chip whose flash beyond the first 1 KB
  // (the unit's own settings) equals the embedded image.
  bool IsAlreadyUpdated(const std::string& path);
  // Which controllers the next refresh lists (the constructor's refresh
  // follows the constructor's argument).
  void SetDeviceListScope(DeviceListScope scope) { scope_ = scope; }
  DeviceListScope ListScope() const { return scope_; }

 private:
  class FormHost final : public ProcedureHost {
   public:
    explicit FormHost(TV77xFwTool& form) : form_(form) {}
    FlashSettings& Settings() override { return form_.Settings; }
    int FlashMaker() const override { return form_.FlashMaker; }
    std::string StatusText() const override { return form_.StatusEdit.Text(); }
    void SetStatusText(const std::string& text) override { form_.SetStatus(text); }
    void StepProgress(int amount) override { form_.StepProgress(amount); }
    ProcedureProgress& Progress() override { return form_.progress_; }
    void ProcessMessages() override { form_.ProcessMessages(); }
    void MessageBox(const std::string& text, const std::string& caption) override {
      form_.op_.MessageBox(text, caption, MessageIcon::None);
    }
    void SimpleMessage(const std::string& text) override { form_.op_.SimpleMessage(text); }
    void DebugOutput(const std::string& text) override { form_.op_.DebugOutput(text); }
    // Ticking the box runs its click handler, which sets IncludeNvram.
    void TickIncludeNvram() override { form_.NVRAMCheck.SetChecked(true); }
    void SetImageHasHeaderArea(bool hasArea) override {
      form_.ImageHasHeaderArea = hasArea ? 1 : 0;
    }
    bool QuestionBox(const std::string& text, const std::string& caption) override {
      return form_.op_.QuestionBox(text, caption);
    }
    void BackupSaved(const std::string& path) override { form_.lastRun_.backupFile = path; }
    void Notice(const std::string& text) override { form_.SetNotice(text); }
    void NothingWritten() override { form_.lastRun_.nothingWritten = true; }

   private:
    TV77xFwTool& form_;
  };

  // Holds the form busy for its lifetime.
  class BusyScope {
   public:
    explicit BusyScope(TV77xFwTool& form) : form_(form) { form_.BeginBusy(); }
    ~BusyScope() { form_.EndBusy(); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

   private:
    TV77xFwTool& form_;
  };

  void ControlChanged(const Control& control, ControlProperty property) override;
  void Design();
  void BindEvents();
  void RegisterDeviceArrival();
  void BeginBusy();
  void EndBusy();
  // `held`: the notice tells of something held back and goes when the
  // operation ends.
  void SetNotice(const std::string& notice, bool held = false);
  void Close();

  // The refresh itself (the caller holds the busy state). Without
  // `setFace` the one-click face is left as it is.
  void RefreshDeviceList(bool setFace = true);
  void ShowReadyFace();
  // Run disabled, the device's fields empty, its boxes out of use.
  void ShowNoDeviceFields();
  void ShowNothingToDoFace(const char* notice);
  int EnumerateInterfaces(const std::vector<std::string>& found,
                          std::array<std::string, kMaxDevices>& slots, int first, bool admit1394);
  // ChipType with ChipSubRev in the high byte, as the file tests take it.
  uint16_t Identification() const { return static_cast<uint16_t>(ChipSubRev << 8 | ChipType); }
  // The open dialog; empty when the operator cancels.
  std::optional<std::string> AskForFile();
  // What "Run" would run with: the options as the controls hold them (the
  // size boxes have taken effect as they changed).
  RunRequest RunRequestFromControls() const;
  // IdentifyChip on the path: chip type code in the low byte, sub-revision
  // in the high byte.
  uint16_t Identify(const std::string& path);
  // Vendor and product identification (24 characters at most); empty when
  // the device does not answer.
  std::string InquiryName(const std::string& path);
  // The update of one device with the embedded image: 1 when written and
  // verified.
  int RunEmbeddedUpdate(const std::string& path, const std::string& backupFile);
  // The copy of the unit's whole part before a run of `tag` writes, into a
  // new file of the backup folder (or the backup target); the notice names
  // it. False when none could be saved: the run must not write.
  bool BackUpBeforeRun(const ProcedureRequest& request, ProcedureTag tag);
  // After the run: the notice names the copy, and after a failure the
  // command that puts it back.
  void TellRunBackup(const ProcedureRequest& request, ProcedureTag tag);
  // The request a restore of the unit at `path` works with: the chip facts
  // of the form, reached as for an erase of all of it, with the choices of
  // `request`.
  ProcedureRequest RestoreProcedureRequest(const std::string& path,
                                           const RestoreRequest& request) const;
  // Whether a file that does not match the chip may be programmed: the
  // operator's word, or the answer to the question.
  bool OtherChipFileAccepted(const ProcedureRequest& request, std::optional<bool> operatorWord);
  // What the history keeps of a run besides the procedure: the options and
  // the file.
  void DescribeRun(const ProcedureRequest& request, OperationRecord& record) const;

  // The information check's steps (info_check.cpp, flash_detection.cpp).
  // The facts the check finds per unit, back to "nothing known".
  void ForgetUnitFacts();
  // What the fields show when paths were found but no entry is selected.
  void ShowNoSelection();
  // Layout S: the serial flash's maker field and the version field.
  void ShowSerialFlashLayout();
  void ShowUnsupportedLayout();
  void ShowFirmwareVersion(const std::string& path, const ChipRow& row);
  void ShowFlashMaker(int makerCode);
  void TakeEraseUnits(int makerCode);
  // Flash detection by the host's own probe (A), by the code the controller
  // reports (B), by the AMIC and Atmel kind reads (C), over ATA
  // PASS-THROUGH (D).
  void DetectByHostProbe(const std::string& path, const ChipRow& row);
  void DetectByControllerCode(const std::string& path, const ChipRow& row);
  void DetectByKindReads(const std::string& path);
  void DetectOverAta(const std::string& path);
  // An MXIC part answering C2 22 10/11/13 is told its 32-byte pages as the
  // row says; otherwise an SST part answering BF 25 selects the alternative
  // flash procedure. `profile` is what the controller gets with the page size.
  void SetUpMxicOrSst(const std::string& path, const ChipRow& row, FlashProfile& profile);
  // Closing step: HostLinkClose to every entry marked as a CD-ROM interface.
  void CloseCdromEntries();

  OperatorServices& op_;
  InterfaceEnumerator& enumerator_;
  TimerService& timers_;
  DeviceChangeWatcher* watcher_;
  FormHost host_{*this};
  ProcedureProgress progress_;

  std::vector<Control*> controls_;
  std::vector<DeviceSurveyEntry> survey_;
  std::map<int, ChangeListener> listeners_;
  int nextListenerId_ = 1;
  std::string notice_;
  std::span<const uint8_t> image_;
  std::string backupTarget_;
  std::string lastBackupPath_;
  std::string lastRefusal_;
  RunOutcome lastRun_;
  CloseHandler closeHandler_;
  std::string historyFile_;
  std::string historyError_;
  DeviceListScope scope_;
  // Off: the check leaves a spoiled bank as it is (a query that must not
  // write, such as the command line's `info`).
  bool bankRepair_;
  bool noticeHeld_ = false;
  bool acceptsDrops_ = false;
  bool closeRequested_ = false;
  bool closePending_ = false;
  bool refreshPending_ = false;
  // The operation that ends shows an outcome the operator must read.
  bool keepOutcomeFace_ = false;
  int busyDepth_ = 0;
  int listedCount_ = 0;
  std::optional<uint8_t> saidChipType_;
};

}  // namespace fwtool
