// The engineering face's handlers: "Run", the option boxes, the face switch
// and the file choosers, and the check that follows a change of device or file.
#include <filesystem>
#include <system_error>

#include "Fwupdate.h"
#include "chip_rows.h"
#include "chip_tables.h"
#include "device_session.h"
#include "firmware.h"
#include "flash_commands.h"
#include "form_texts.h"
#include "host_services.h"
#include "operator.h"
#include "procedure_texts.h"
#include "run_table.h"

namespace fwtool {

namespace {

// Sizes behind the items of "Firmware size" and "Flash PgSz".
constexpr int32_t kFlashSizeTable[] = {32768, 65536, 131072, 262144, 524288, 1048576};
constexpr int32_t kBlockSizeTable[] = {32768, 16384, 8192, 4096, 2048};

template <size_t N>
bool TableEntry(const int32_t (&table)[N], int index, int32_t& value) {
  // A box the operator typed into selects nothing: the setting stays.
  if (index < 0 || index >= static_cast<int>(N)) return false;
  value = table[index];
  return true;
}

// The folder of the running program, where an open dialog starts.
std::string ProgramFolder() {
  return host::ProgramFolder();
}

}  // namespace

void TV77xFwTool::UpdateBtnClick(Control&) {
  if (Busy()) return;
  BusyScope busy(*this);
  UpdateBtn.SetEnabled(false);
  op_.DebugOutput(texts::kUpdateBtnPress);
  const DeviceRecord* record = SelectedDevice();
  ClearStatus();
  lastRun_ = RunOutcome{};
  // Nothing listed, or nothing selected: there is no device to run on.
  if (record == nullptr) {
    UpdateBtn.SetEnabled(true);
    return;
  }
  const ProcedureRequest request = RunRequest(record->Path);
  const RunDispatchInput input{request.chip, request.path, request.options, op_};
  const size_t rowIndex = SelectRunRow(input);
  const RunDispatchRow& row = RunDispatchRows()[rowIndex];
  lastRun_.row = static_cast<int>(rowIndex);
  lastRun_.procedure = row.procedure;
  switch (row.action) {
    case RunAction::RunProcedure:
      if (const Procedure procedure = ProcedureFor(row.procedure)) {
        // One open for the whole run; a run that may write has the device
        // to itself.
        const DeviceSession session(
            request.path,
            request.options.backupOnly ? SessionAccess::Shared : SessionAccess::Exclusive,
            ListedUnitCheck(request.path));
        lastRun_.result = procedure(request, host_);
        lastRun_.ran = true;
        if (const std::string refusal = session.Refusal(); !refusal.empty()) SetNotice(refusal);
      }
      break;
    case RunAction::RefuseLargeFile:
      op_.MessageBox(texts::kFileBiggerThanFlash, kCaptionMessage, MessageIcon::None);
      return;  // "Run" stays disabled until a device, file or option change
    case RunAction::Nothing:
      break;
  }
  UpdateBtn.SetEnabled(true);
}

ProcedureRequest TV77xFwTool::RunRequest(const std::string& path) const {
  ProcedureRequest request;
  request.path = path;
  ChipFacts& chip = request.chip;
  chip.type = ChipType;
  chip.subRev = ChipSubRev;
  chip.flashMaker = FlashMaker;
  chip.flashSizeKB = FlashSizeKB;
  chip.altFlashProc = AltFlashProc;
  chip.chipRegValue = ChipRegValue;
  chip.amicFlashKind = AmicFlashKind;
  chip.atmelFlashKind = AtmelFlashKind;
  chip.row = &ChipRowFor(ChipType);
  EngineeringOptions& options = request.options;
  options.rdVersion = RdCheckBox.Checked();
  options.eraseOnly = EraseOnlyCheck.Checked();
  options.backupOnly = BackupFWCheckBox.Checked();
  options.includeNvram = NVRAMCheck.Checked();
  options.hddFirmware = VQS175HDDFwChk.Checked();
  options.a1Chip = A1ChipCheck.Checked();
  options.flashTypeIndex = FlashTypeList.ItemIndex();
  options.firmwareFile = FwFilenameEdit.Text();
  options.backupFile = BackupFileEdit.Text();
  return request;
}

void TV77xFwTool::ShowEngineeringFace() {
  for (Control* control :
       {&diskLabel, &RefreshBtn, &DeviceList, &FwFilenameEdit, &LoadBtn, &StatusEdit, &UpdateBtn,
        &ExiBtn, &FwPgBurnSizeLabel, &FwPgSizeCheck, &FlashTypeLabel, &FlashTypeList, &RdCheckBox})
    control->Show();
  // Ticking the box runs its click handler, which shows the RD panel.
  RdCheckBox.SetChecked(true);
}

void TV77xFwTool::EraseOnlyCheckClick(Control& sender) {
  if (sender.Tag() == 0) {
    if (ChipRowFor(ChipType).nvramWithModeBoxes) NVRAMCheck.Show();
    if (sender.Checked()) BackupFWCheckBox.SetChecked(false);  // runs this handler for it
  } else if (sender.Checked()) {
    EraseOnlyCheck.SetChecked(false);
  }
  const bool sizeMatters = ChipRowFor(ChipType).flashSizeOption &&
                           (EraseOnlyCheck.Checked() || BackupFWCheckBox.Checked());
  FwSizeCheck.SetEnabled(sizeMatters);
  FwSizeCheck.SetVisible(sizeMatters);
  FwSizeLable.SetVisible(sizeMatters);
  EraseOnly = EraseOnlyCheck.Checked() ? 1 : 0;

  const bool device = DeviceCount != 0 && ChipType != kUnrecognisedChip;
  if (EraseOnlyCheck.Checked()) {
    FwFilenameEdit.SetEnabled(false);
    UpdateBtn.SetEnabled(device);
  } else {
    FwFilenameEdit.SetEnabled(true);
    const std::string file = FwFilenameEdit.Text();
    UpdateBtn.SetEnabled(device && !file.empty() &&
                         FirmwareFileMatchesChip(op_, file, Identification()));
  }
  if (!UpdateBtn.Enabled() && BackupFWCheckBox.Checked()) UpdateBtn.SetEnabled(true);
}

void TV77xFwTool::RdCheckBoxClick(Control& sender) {
  if (RdCheckBox.Checked()) {
    RdPanel.Show();
    Window.SetHeight(Window.Height() + RdPanel.Height());
    return;
  }
  RdPanel.Hide();
  Window.SetHeight(Window.Height() - RdPanel.Height());
  FwSizeCheck.Hide();
  FwSizeLable.Hide();
  FwFilenameEdit.SetEnabled(true);
  UpdateBtn.SetEnabled(false);
  UpdateBtnCheck(sender);
}

void TV77xFwTool::FwSizeCheckChange(Control&) {
  TableEntry(kFlashSizeTable, FwSizeCheck.ItemIndex(), Settings.SelectedFlashSize);
}

void TV77xFwTool::FwPgSizeCheckChange(Control& sender) {
  TableEntry(kBlockSizeTable, sender.ItemIndex(), Settings.TransferBlockSize);
}

void TV77xFwTool::NVRAMCheckClick(Control&) {
  IncludeNvram = NVRAMCheck.Checked() ? 1 : 0;
}

std::optional<std::string> TV77xFwTool::AskForFile() {
  if (OpenDialog1.InitialDir.empty()) OpenDialog1.InitialDir = ProgramFolder();
  FileDialogRequest request;
  request.filters = OpenDialog1.Filter;
  request.defaultExtension = OpenDialog1.DefaultExt;
  request.initialName = OpenDialog1.InitialDir;
  return op_.OpenFileDialog(request);
}

void TV77xFwTool::LoadBtnClick(Control&) {
  ClearStatus();
  const auto file = AskForFile();
  if (!file) return;
  FwFilenameEdit.SetText(*file);  // runs UpdateBtnCheck
  if (ChkSumChk.Checked() && !VerifyFileSum(*file, Identification())) {
    op_.SimpleMessage(texts::kCheckFileChecksum);
    UpdateBtn.SetEnabled(false);
    return;
  }
  UpdateBtn.SetEnabled(true);
}

void TV77xFwTool::BackupBtnClick(Control&) {
  ClearStatus();
  const auto file = AskForFile();
  if (!file) return;
  // The file need not exist: the backup procedures create it.
  BackupFileEdit.SetText(*file);
  UpdateBtn.SetEnabled(true);
}

}  // namespace fwtool
