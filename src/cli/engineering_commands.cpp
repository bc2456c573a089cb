// fwtool info / fwtool run: the engineering face from the terminal.
//
//   fwtool [--simulate UNITS] info [--device N] [--json]
//   fwtool [--simulate UNITS] run --device N (--file F | --erase-only | --backup-only)
//          [--backup-file F] [--nvram | --no-nvram] [--flash-size SIZE]
//          [--flash-type NAME] [--a1-chip] [--hdd-fw]
//          [--block-size SIZE] [--check-sum] [--yes]
//
// Both drive the same form model as the window's engineering face: the list
// holds every recognised controller, selecting an entry runs the
// information check, and every option of `run` is the control it stands
// for, set the way the operator sets it (ticked, picked, or chosen through
// the file dialog), before "Run" is pressed.
#include <fmt/format.h>

#include <array>
#include <cctype>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "Fwupdate.h"
#include "chip_rows.h"
#include "cli_context.h"
#include "enumeration.h"
#include "form_texts.h"
#include "pass_through.h"
#include "procedure_texts.h"
#include "status_view.h"
#include "terminal_session.h"

namespace fwtool::cli {

namespace {

using nlohmann::json;

// The last command that failed in this run, for the closing message.
class FailureWatch {
 public:
  explicit FailureWatch(bool trace) {
    previous_ = SetCommandTrace([this, trace](const CommandTraceRecord& record) {
      if (trace) std::fprintf(stderr, "%s\n", FormatTraceRecord(record).c_str());
      if (!record.returned) last_ = DescribeResult(record.result);
    });
  }
  ~FailureWatch() { SetCommandTrace(previous_); }
  FailureWatch(const FailureWatch&) = delete;
  FailureWatch& operator=(const FailureWatch&) = delete;

  const std::string& Last() const { return last_; }
  void Clear() { last_.clear(); }

 private:
  CommandTraceSink previous_;
  std::string last_;
};

// Selects list entry `index` as the device list's change would.
bool SelectEntry(TV77xFwTool& form, int index) {
  if (index < 0 || index >= form.ListedCount()) return false;
  form.DeviceList.SetItemIndex(index);
  form.UpdateBtnCheck(form.DeviceList);
  return true;
}

int ListedOrSay(TV77xFwTool& form, CliContext& ctx, const char* command) {
  if (form.ListedCount() != 0) return kExitOk;
  std::printf("No controller found.\n");
  const std::string problem = Devices(ctx)->AccessProblem();
  if (!problem.empty()) std::printf("%s\n", problem.c_str());
  (void)command;
  return kExitFailed;
}

// ---- info ------------------------------------------------------------------

struct UnitInfo {
  int index = 0;
  std::string item;
  std::string path;
  int chipType = 0;
  int subRevision = 0;
  std::string chipLabel;
  int flashMaker = 0;
  std::string flashType;
  int flashSizeKB = 0;
  std::string version;
  bool updatable = false;
  std::string status;
  std::optional<std::array<bool, 2>> banks;  // dual-bank flash: each bank valid
  bool banksUnreadable = false;
};

UnitInfo ReadUnit(TV77xFwTool& form, int index) {
  UnitInfo u;
  u.index = index;
  u.item = form.DeviceList.Text();
  const DeviceRecord* record = form.SelectedDevice();
  u.path = record != nullptr ? record->Path : std::string();
  u.chipType = form.ChipType;
  u.subRevision = form.ChipSubRev;
  u.chipLabel = form.ChipLabelEdit.Text();
  u.flashMaker = form.FlashMaker;
  u.flashType = form.SFlashTypeLable.Visible() ? form.SFlashTypeLable.Text() : std::string();
  u.flashSizeKB = form.FlashSizeKB;
  u.version = form.FwVerLableEdit.Visible() ? form.FwVerLableEdit.Text() : std::string();
  u.status = form.StatusEdit.Text();
  u.updatable = ChipRowFor(u.chipType).flash != FlashKind::None && !u.version.empty() &&
                u.version != texts::kInternalCode;
  if (ChipRowFor(u.chipType).signature == SignatureKind::Bank && form.FlashSizeKB >= 128) {
    u.banks = form.ReadBankStates(u.path, form.ChipType);
    u.banksUnreadable = !u.banks;
  }
  return u;
}

json UnitJson(const UnitInfo& u) {
  return {{"index", u.index},
          {"item", u.item},
          {"path", u.path},
          {"chipType", u.chipType},
          {"subRevision", u.subRevision},
          {"chipLabel", u.chipLabel},
          {"flashMaker", u.flashMaker},
          {"flashType", u.flashType},
          {"flashSizeKB", u.flashSizeKB == 0 ? json(nullptr) : json(u.flashSizeKB)},
          {"firmwareVersion", u.version},
          {"runsFirmwareFromFlash", u.updatable},
          {"banksValid", u.banks ? json{(*u.banks)[0], (*u.banks)[1]} : json(nullptr)},
          {"status", u.status}};
}

void PrintUnit(const UnitInfo& u) {
  std::printf("Device %d: %s (%s)\n", u.index, u.item.c_str(), u.path.c_str());
  std::printf("  Chip:       %d %s, sub-revision %d\n", u.chipType, u.chipLabel.c_str(),
              u.subRevision);
  if (!u.flashType.empty()) {
    const std::string size =
        u.flashSizeKB != 0 ? fmt::format(", {} KB", u.flashSizeKB) : std::string();
    std::printf("  Flash:      %s (maker code %d)%s\n", u.flashType.c_str(), u.flashMaker,
                size.c_str());
  }
  if (!u.version.empty()) {
    std::printf("  Firmware:   %s\n", u.version.c_str());
    std::printf("  Runs:       %s\n", u.updatable ? "firmware from its flash"
                                                  : "its internal code (no firmware in flash)");
  }
  auto valid = [](bool ok) { return ok ? "valid" : "not valid"; };
  if (u.banks)
    std::printf("  Banks:      bank 0 %s, bank 1 %s\n", valid((*u.banks)[0]), valid((*u.banks)[1]));
  if (u.banksUnreadable) std::printf("  Banks:      cannot be read\n");
  if (!u.status.empty()) std::printf("  Status:     %s\n", u.status.c_str());
}

int RunInfo(CliContext& ctx, std::optional<int> device, bool asJson) {
  // A query: the list holds every controller, and a spoiled bank is shown,
  // not repaired.
  Session session(ctx, {.scope = DeviceListScope::AllControllers, .bankRepair = false});
  TV77xFwTool& form = *session.form;
  if (const int rc = ListedOrSay(form, ctx, "info"); rc != kExitOk) return rc;
  std::vector<int> indexes;
  if (device) {
    if (*device < 0 || *device >= form.ListedCount()) {
      std::fprintf(stderr, "fwtool info: no entry %d; the list has %d.\n", *device,
                   form.ListedCount());
      return kExitUsage;
    }
    indexes.push_back(*device);
  } else {
    for (int i = 0; i < form.ListedCount(); ++i) indexes.push_back(i);
  }
  json units = json::array();
  for (int index : indexes) {
    SelectEntry(form, index);
    const UnitInfo unit = ReadUnit(form, index);
    if (asJson)
      units.push_back(UnitJson(unit));
    else
      PrintUnit(unit);
  }
  if (asJson) std::printf("%s\n", json{{"devices", units}}.dump(2).c_str());
  return kExitOk;
}

// ---- run ---------------------------------------------------------------------

struct RunOptions {
  int device = 0;
  std::string file;
  bool eraseOnly = false;
  bool backupOnly = false;
  std::string backupFile;
  std::optional<bool> nvram;
  std::string flashSize;
  std::string blockSize;
  bool checkSum = false;
  bool yes = false;
  std::string flashType;
  bool a1Chip = false;
  bool hddFirmware = false;
};

// The item of a combo box whose text, without blanks, is `wanted` (also
// without blanks, case ignored): "64KB", "1MB", "4KB".
int ItemNamed(const Control& box, std::string wanted) {
  auto squeeze = [](std::string text) {
    std::string out;
    for (char c : text)
      if (c != ' ') out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
  };
  wanted = squeeze(wanted);
  const auto& items = box.Items();
  for (size_t i = 0; i < items.size(); ++i)
    if (squeeze(items[i]) == wanted) return static_cast<int>(i);
  return -1;
}

// The item whose text (blanks and case ignored) is `wanted`, or else the one
// item that contains it: "sst" picks "SST SST39LF512". -1 when none or
// several fit.
int ItemContaining(const Control& box, const std::string& wanted) {
  if (const int exact = ItemNamed(box, wanted); exact >= 0) return exact;
  auto squeeze = [](const std::string& text) {
    std::string out;
    for (char c : text)
      if (c != ' ') out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
  };
  const std::string part = squeeze(wanted);
  int found = -1;
  const auto& items = box.Items();
  for (size_t i = 0; i < items.size() && !part.empty(); ++i) {
    if (squeeze(items[i]).find(part) == std::string::npos) continue;
    if (found >= 0) return -1;
    found = static_cast<int>(i);
  }
  return found;
}

std::string ItemList(const Control& box) {
  std::string list;
  for (const auto& item : box.Items()) list += (list.empty() ? "" : ", ") + Trimmed(item);
  return list;
}

int RunProcedure(CliContext& ctx, const RunOptions& o) {
  const int modes = (!o.file.empty() ? 1 : 0) + (o.eraseOnly ? 1 : 0) + (o.backupOnly ? 1 : 0);
  if (modes != 1) {
    std::fprintf(stderr,
                 "fwtool run: say what to do: --file F (program), --erase-only or "
                 "--backup-only.\n");
    return kExitUsage;
  }
  const bool writes = !o.backupOnly;
  if (writes && !o.yes && !host::IsTerminal(host::StandardStream::Input)) {
    std::fprintf(stderr, "fwtool run: not asking on a non-terminal; give --yes to write.\n");
    return kExitUsage;
  }

  Session session(ctx, {.scope = DeviceListScope::AllControllers});
  TV77xFwTool& form = *session.form;
  if (const int rc = ListedOrSay(form, ctx, "run"); rc != kExitOk) return rc;
  if (!SelectEntry(form, o.device)) {
    std::fprintf(stderr, "fwtool run: no entry %d; the list has %d (see fwtool info).\n", o.device,
                 form.ListedCount());
    return kExitUsage;
  }
  form.ShowEngineeringFace();

  // Each option as the operator would set it in the window.
  // A size box takes the item the operator would pick, then its change
  // handler runs.
  auto pick = [&form](Control& box, const std::string& text, const char* option,
                      void (TV77xFwTool::*changed)(Control&)) {
    if (text.empty()) return true;
    const int item = ItemNamed(box, text);
    if (item < 0) {
      std::fprintf(stderr, "fwtool run: %s takes one of %s.\n", option, ItemList(box).c_str());
      return false;
    }
    box.SetItemIndex(item);
    (form.*changed)(box);
    return true;
  };
  if (!pick(form.FwSizeCheck, o.flashSize, "--flash-size", &TV77xFwTool::FwSizeCheckChange) ||
      !pick(form.FwPgSizeCheck, o.blockSize, "--block-size", &TV77xFwTool::FwPgSizeCheckChange))
    return kExitUsage;
  if (!o.flashType.empty() || o.a1Chip) {
    // Only the units with a parallel flash show "Flash Type" and "A1 Chip".
    if (!form.FlashTypeList.Visible()) {
      std::fprintf(stderr,
                   "fwtool run: --flash-type and --a1-chip are for units with a parallel "
                   "flash (chip types 2 and 21).\n");
      return kExitUsage;
    }
  }
  if (!o.flashType.empty()) {
    const int item = ItemContaining(form.FlashTypeList, o.flashType);
    if (item < 0) {
      std::fprintf(stderr, "fwtool run: --flash-type takes one of %s.\n",
                   ItemList(form.FlashTypeList).c_str());
      return kExitUsage;
    }
    form.FlashTypeList.SetItemIndex(item);
  }
  if (o.a1Chip) form.A1ChipCheck.SetChecked(true);
  // The box unticks "Backup Old Firmware Only" when ticked, so it comes
  // before the mode boxes.
  if (o.hddFirmware) form.VQS175HDDFwChk.SetChecked(true);  // runs EraseOnlyCheckClick
  if (o.nvram) form.NVRAMCheck.SetChecked(*o.nvram);        // runs NVRAMCheckClick
  if (o.eraseOnly) form.EraseOnlyCheck.SetChecked(true);
  if (o.backupOnly) form.BackupFWCheckBox.SetChecked(true);
  form.ChkSumChk.SetChecked(o.checkSum);
  if (!o.backupFile.empty()) {
    session.op->AnswerNextDialog(o.backupFile);
    form.BackupBtnClick(form.BackupBtn);
  }
  if (!o.file.empty()) {
    session.op->AnswerNextDialog(o.file);
    form.LoadBtnClick(form.LoadBtn);
  }

  const DeviceRecord* record = form.SelectedDevice();
  std::printf("Device %d: %s, %s (%s)\n", o.device, form.DeviceList.Text().c_str(),
              form.ChipLabelEdit.Text().c_str(), record != nullptr ? record->Path.c_str() : "?");
  if (!form.UpdateBtn.Enabled()) {
    std::fprintf(stderr, "fwtool run: \"Run\" is not available for this unit and these options%s\n",
                 form.StatusEdit.Text().empty() ? "." : (": " + form.StatusEdit.Text()).c_str());
    return kExitFailed;
  }
  if (writes && !o.yes) {
    const std::string question =
        o.eraseOnly ? "Erase the flash of this unit?" : "Program " + o.file + " into this unit?";
    if (!AskYesNo(question)) {
      std::printf("Nothing written.\n");
      return kExitFailed;
    }
  }

  FailureWatch failures(ctx.trace);
  {
    host::InterruptHold hold;
    ProgressView progress(form, host::IsTerminal(host::StandardStream::Output) && !ctx.trace,
                          ProgressView::Source::DeclaredSteps);
    form.UpdateBtn.Click();
  }
  const RunOutcome& run = form.LastRun();
  std::printf("%s\n", form.StatusEdit.Text().c_str());
  if (!run.ran) {
    if (run.row < 0 || run.procedure == ProcedureTag::None)
      std::printf("No update procedure for this unit.\n");
    return kExitFailed;
  }
  if (run.result != 1) {
    if (!failures.Last().empty()) std::printf("Last failed command: %s\n", failures.Last().c_str());
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

void RegisterEngineeringCommands(CLI::App& app, CliContext& ctx) {
  auto device = std::make_shared<std::optional<int>>();
  auto* info = app.add_subcommand(
      "info", "Show what each controller is and what it runs (the engineering face's fields)");
  info->add_option("--device", *device, "Entry of the list (default: every entry)");
  info->add_flag("--json", ctx.json, "Print as JSON");
  info->fallthrough();
  info->callback([&ctx, device] { ctx.exitCode = RunInfo(ctx, *device, ctx.json); });

  auto o = std::make_shared<RunOptions>();
  auto* run = app.add_subcommand(
      "run", "Erase, back up or program one controller from a file (the engineering face's Run)");
  run->add_option("--device", o->device, "Entry of the list (see fwtool info; default 0)");
  run->add_option("--file", o->file, "Firmware file to program (\"Load File\")");
  run->add_flag("--erase-only", o->eraseOnly, "Erase the flash only (\"Erase All Flash Only\")");
  run->add_flag("--backup-only", o->backupOnly,
                "Save the flash to the backup file only (\"Backup Old Firmware Only\")");
  run->add_option("--backup-file", o->backupFile, "Backup file (\"Browse\")");
  run->add_flag_function(
      "--nvram,!--no-nvram", [o](int64_t count) { o->nvram = count > 0; },
      "Include the unit's 4 KB settings area (\"Include 4K NVRAM\"; ticked by default)");
  run->add_option("--flash-size", o->flashSize,
                  "Flash size for erase or backup only (\"Firmware size\": 32KB .. 1MB)");
  run->add_option("--block-size", o->blockSize, "Bytes per transfer (\"Flash PgSz\": 32KB .. 2KB)");
  run->add_flag("--check-sum", o->checkSum, "Verify the file's checksum (\"Check CheckSum\")");
  run->add_option("--flash-type", o->flashType,
                  "Parallel flash part of chip types 2 and 21 (\"Flash Type\": atmel, pmc, sst "
                  "or the item's text)");
  run->add_flag("--a1-chip", o->a1Chip,
                "The unit is the A1 member: no switch to internal code (\"A1 Chip\")");
  run->add_flag("--hdd-fw", o->hddFirmware,
                "Work on the firmware a type-12 unit keeps on its disk (\"VQS175 HDD FW\")");
  run->add_flag("--yes", o->yes, "Do not ask before erasing or programming");
  run->fallthrough();
  run->callback([&ctx, o] { ctx.exitCode = RunProcedure(ctx, *o); });
}

}  // namespace fwtool::cli
