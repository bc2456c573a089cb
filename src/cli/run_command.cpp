// SPDX-License-Identifier: GPL-2.0-or-later
// fwtool run: the engineering face's "Run" from the terminal.
//
//   fwtool [--simulate UNITS] run --device N (--file FILE | --erase-only | --backup-only)
//          [--backup-file FILE] [--nvram | --no-nvram] [--flash-size SIZE]
//          [--flash-type NAME] [--a1-chip] [--hdd-fw]
//          [--block-size SIZE] [--check-sum] [--overwrite-disk-data] [--other-chip-file]
//          [--chip-type 13]
//          [--yes] [--json]
//
// The arguments become one request to the form's entries, as the window's
// engineering face would make it: the list holds every recognised
// controller, selecting the entry runs the information check, the form sets
// the options as the operator's clicks do (the boxes ticked, the items
// picked, the files taken as "Browse" and "Load File" take them) and "Run"
// runs the procedure that fits the chip. --chip-type says what
// identification cannot tell (a type-13 unit identifies as type 10); the
// form then checks and runs that unit as the type said. With --json the
// outcome is one object on stdout.
#include <cctype>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Fwupdate.h"
#include "cli_context.h"
#include "form_texts.h"
#include "host_services.h"
#include "pass_through.h"
#include "procedure_texts.h"
#include "run_table.h"
#include "status_view.h"
#include "terminal_session.h"

namespace fwtool::cli {

namespace {

using nlohmann::json;

struct RunArguments {
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
  std::optional<int> chipType;
  bool overwriteDiskData = false;
  bool otherChipFile = false;
  bool json = false;
};

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

 private:
  CommandTraceSink previous_;
  std::string last_;
};

// The texts the status line showed, in order, each step once: the dots a
// procedure appends per block make its step's text longer, not a new one.
class StatusTrail {
 public:
  explicit StatusTrail(TV77xFwTool& form) : form_(form) {
    id_ = form_.Subscribe([this](const Control& control, ControlProperty property) {
      if (&control == &form_.StatusEdit && property == ControlProperty::Text)
        Take(form_.StatusEdit.Text());
    });
  }
  ~StatusTrail() { form_.Unsubscribe(id_); }
  StatusTrail(const StatusTrail&) = delete;
  StatusTrail& operator=(const StatusTrail&) = delete;

  const std::vector<std::string>& Texts() const { return texts_; }

 private:
  static std::string_view Step(std::string_view text) {
    return text.substr(0, text.find_last_not_of('.') + 1);
  }
  void Take(const std::string& text) {
    if (text.empty()) return;
    if (!texts_.empty() && Step(text) == Step(texts_.back())) {
      texts_.back() = text;
      return;
    }
    texts_.push_back(text);
  }

  TV77xFwTool& form_;
  int id_ = 0;
  std::vector<std::string> texts_;
};

// How a run ended, as --json names it.
enum class Verdict { Success, Failure, Refused, NoProcedure, NotAvailable, Declined, NoUnit };

const char* VerdictName(Verdict verdict) {
  switch (verdict) {
    case Verdict::Success:
      return "success";
    case Verdict::Failure:
      return "failure";
    case Verdict::Refused:
      return "refused";
    case Verdict::NoProcedure:
      return "no procedure";
    case Verdict::NotAvailable:
      return "not available";
    case Verdict::Declined:
      return "declined";
    case Verdict::NoUnit:
      return "no unit";
  }
  return "?";
}

json NullIfEmpty(const std::string& text) {
  return text.empty() ? json(nullptr) : json(text);
}

// The outcome of `fwtool run` as one object: the unit (null when none was
// selected), the procedure that ran or refused, the verdict, the status
// line's texts, the boxes, the backup the procedure saved and the last
// command that failed.
json OutcomeJson(const TV77xFwTool& form, int device, Verdict verdict, const RunOutcome& run,
                 const StatusTrail& trail, const TerminalOperator& op,
                 const std::string& lastFailed) {
  json unit = nullptr;
  if (const DeviceRecord* record = device >= 0 ? form.SelectedDevice() : nullptr) {
    unit = {{"index", device},
            {"item", form.DeviceList.Text()},
            {"path", record->Path},
            {"chipType", form.ChipType},
            {"subRevision", form.ChipSubRev},
            {"chipLabel", form.ChipLabelEdit.Text()}};
  }
  json boxes = json::array();
  for (const auto& box : op.Boxes())
    boxes.push_back({{"text", box.text}, {"caption", box.caption}});
  return {{"unit", unit},
          {"procedure", NullIfEmpty(ProcedureName(run.procedure))},
          {"result", VerdictName(verdict)},
          {"statusTexts", trail.Texts()},
          {"boxes", boxes},
          {"backupFile", NullIfEmpty(run.backupFile)},
          {"lastFailedCommand", NullIfEmpty(lastFailed)}};
}

// The size behind the item of `box` that `text` names; false (after saying
// which items there are) when none does.
bool SizeNamed(const Control& box, std::span<const int32_t> sizes, const std::string& text,
               const char* option, std::optional<int32_t>& size) {
  if (text.empty()) return true;
  const int item = ItemNamed(box, text);
  if (item < 0 || static_cast<size_t>(item) >= sizes.size()) {
    std::fprintf(stderr, "fwtool run: %s takes one of %s.\n", option, ItemList(box).c_str());
    return false;
  }
  size = sizes[static_cast<size_t>(item)];
  return true;
}

// The request the arguments make for the selected unit; false (after saying
// why) when an argument names no item of its box or does not fit the unit.
bool RequestFor(const TV77xFwTool& form, const RunArguments& a, RunRequest& request) {
  if (!SizeNamed(form.FwSizeCheck, kFlashSizeTable, a.flashSize, "--flash-size",
                 request.flashSize) ||
      !SizeNamed(form.FwPgSizeCheck, kBlockSizeTable, a.blockSize, "--block-size",
                 request.transferBlockSize))
    return false;
  // Only the units with a parallel flash show "Flash Type" and "A1 Chip".
  if ((!a.flashType.empty() || a.a1Chip) && !form.FlashTypeList.Visible()) {
    std::fprintf(stderr,
                 "fwtool run: --flash-type and --a1-chip are for units with a parallel "
                 "flash (chip types 2 and 21).\n");
    return false;
  }
  if (!a.flashType.empty()) {
    const int item = ItemContaining(form.FlashTypeList, a.flashType);
    if (item < 0) {
      std::fprintf(stderr, "fwtool run: --flash-type takes one of %s.\n",
                   ItemList(form.FlashTypeList).c_str());
      return false;
    }
    request.flashType = item;
  }
  request.a1Chip = a.a1Chip;
  request.hddFirmware = a.hddFirmware;
  request.includeNvram = a.nvram;
  request.mode = a.eraseOnly    ? RunRequest::Mode::EraseOnly
                 : a.backupOnly ? RunRequest::Mode::BackupOnly
                                : RunRequest::Mode::Program;
  request.checkSum = a.checkSum;
  request.backupFile = a.backupFile;
  request.firmwareFile = a.file;
  // Nobody is asked in the middle of a run: the disk's own data is kept
  // unless the arguments say otherwise.
  request.overwriteDiskData = a.overwriteDiskData;
  request.otherChipFile = a.otherChipFile;
  return true;
}

int RunProcedure(CliContext& ctx, const RunArguments& a) {
  const int modes = (!a.file.empty() ? 1 : 0) + (a.eraseOnly ? 1 : 0) + (a.backupOnly ? 1 : 0);
  if (modes != 1) {
    std::fprintf(stderr,
                 "fwtool run: say what to do: --file FILE (program), --erase-only or "
                 "--backup-only.\n");
    return kExitUsage;
  }
  if (a.chipType && !ChipTypeMayBeSaid(*a.chipType, "run")) return kExitUsage;
  const bool writes = !a.backupOnly;
  if (writes && !a.yes && !host::IsTerminal(host::StandardStream::Input)) {
    std::fprintf(stderr, "fwtool run: not asking on a non-terminal; give --yes to write.\n");
    return kExitUsage;
  }

  Session session(ctx, {.scope = DeviceListScope::AllControllers});
  TV77xFwTool& form = *session.form;
  StatusTrail trail(form);
  RunOutcome run;
  std::string lastFailed;
  // --json: the outcome, whatever it is, as one object on stdout.
  auto outcome = [&](Verdict verdict, int exitCode, int device = -1) {
    if (a.json)
      std::printf(
          "%s\n",
          OutcomeJson(form, device, verdict, run, trail, *session.op, lastFailed).dump(2).c_str());
    return exitCode;
  };

  if (form.ListedCount() == 0) {
    if (!a.json) return ListedOrSay(form, ctx);
    const std::string problem = Devices(ctx)->AccessProblem();
    if (!problem.empty()) std::fprintf(stderr, "%s\n", problem.c_str());
    return outcome(Verdict::NoUnit, kExitFailed);
  }
  if (a.chipType) form.SayChipType({.chipType = a.chipType});
  if (!form.SelectUnit(a.device)) {
    std::fprintf(stderr, "fwtool run: no entry %d; the list has %d (see fwtool info).\n", a.device,
                 form.ListedCount());
    return kExitUsage;
  }
  if (a.chipType && !SaidChipTypeFits(form, *a.chipType, a.device, "run")) return kExitUsage;
  form.ShowEngineeringFace();
  RunRequest request;
  if (!RequestFor(form, a, request)) return kExitUsage;
  // The options as the operator sets them, so the form can say whether
  // "Run" may start before the operator is asked.
  form.SetRunOptions(request);

  const DeviceRecord* record = form.SelectedDevice();
  if (!a.json)
    std::printf("Device %d: %s, %s (%s)\n", a.device, form.DeviceList.Text().c_str(),
                form.ChipLabelEdit.Text().c_str(), record != nullptr ? record->Path.c_str() : "?");
  if (!form.RunAvailable()) {
    std::fprintf(stderr, "fwtool run: \"Run\" is not available for this unit and these options%s\n",
                 form.StatusEdit.Text().empty() ? "." : (": " + form.StatusEdit.Text()).c_str());
    return outcome(Verdict::NotAvailable, kExitFailed, a.device);
  }
  if (writes && !a.yes) {
    const std::string question =
        a.eraseOnly ? "Erase the flash of this unit?" : "Program " + a.file + " into this unit?";
    if (!AskYesNo(question, a.json ? stderr : stdout)) {
      if (!a.json) std::printf("Nothing written.\n");
      return outcome(Verdict::Declined, kExitFailed, a.device);
    }
  }

  {
    FailureWatch failures(ctx.trace);
    host::InterruptHold hold;
    std::optional<ProgressView> progress;
    if (!a.json)
      progress.emplace(form, host::IsTerminal(host::StandardStream::Output) && !ctx.trace,
                       ProgressView::Source::DeclaredSteps);
    run = form.Run(request);
    lastFailed = failures.Last();
  }
  if (!a.json) std::printf("%s\n", form.StatusEdit.Text().c_str());
  if (!form.HistoryError().empty())
    std::fprintf(stderr, "fwtool run: %s%s\n", texts::kHistoryFailedNotice,
                 form.HistoryError().c_str());
  if (run.otherChipFileRefused) {
    if (!a.json)
      std::fprintf(stderr,
                   "fwtool run: a file made for another chip is programmed only with "
                   "--other-chip-file.\n");
    return outcome(Verdict::Refused, kExitFailed, a.device);
  }
  if (!run.ran) {
    const bool refused = run.row >= 0 && RunDispatchRows()[static_cast<size_t>(run.row)].action ==
                                             RunAction::RefuseLargeFile;
    if (!a.json && (run.row < 0 || run.procedure == ProcedureTag::None))
      std::printf("No update procedure for this unit.\n");
    return outcome(refused ? Verdict::Refused : Verdict::NoProcedure, kExitFailed, a.device);
  }
  if (run.result != 1) {
    if (!a.json && !lastFailed.empty())
      std::printf("Last failed command: %s\n", lastFailed.c_str());
    // The procedure kept sectors of the disk's user and wrote nothing.
    const std::string& status = form.StatusEdit.Text();
    if (status.starts_with(texts::kDiskDataRefused) ||
        status.starts_with(texts::kDiskDataUnreadable)) {
      if (!a.json)
        std::fprintf(stderr,
                     "fwtool run: those sectors are written only with --overwrite-disk-data.\n");
      return outcome(Verdict::Refused, kExitFailed, a.device);
    }
    return outcome(Verdict::Failure, kExitFailed, a.device);
  }
  return outcome(Verdict::Success, kExitOk, a.device);
}

}  // namespace

void RegisterRunCommand(CLI::App& app, CliContext& ctx) {
  auto a = std::make_shared<RunArguments>();
  auto* run = app.add_subcommand(
      "run", "Erase, back up or program one controller from a file (the engineering face's Run)");
  run->add_option("--device", a->device, "Entry of the list (see fwtool info; default 0)")
      ->type_name("N");
  run->add_option("--file", a->file, "Firmware file to program (\"Load File\")")->type_name("FILE");
  run->add_flag("--erase-only", a->eraseOnly, "Erase the flash only (\"Erase All Flash Only\")");
  run->add_flag("--backup-only", a->backupOnly,
                "Save the flash to the backup file only (\"Backup Old Firmware Only\")");
  run->add_option("--backup-file", a->backupFile, "Backup file (\"Browse\")")->type_name("FILE");
  run->add_flag_function(
      "--nvram,!--no-nvram", [a](int64_t count) { a->nvram = count > 0; },
      "Include the unit's 4 KB settings area (\"Include 4K NVRAM\"; ticked by default)");
  run->add_option("--flash-size", a->flashSize,
                  "Flash size for erase or backup only (\"Firmware size\": 32KB .. 1MB)")
      ->type_name("SIZE");
  run->add_option("--block-size", a->blockSize, "Bytes per transfer (\"Flash PgSz\": 32KB .. 2KB)")
      ->type_name("SIZE");
  run->add_flag("--check-sum", a->checkSum, "Verify the file's checksum (\"Check CheckSum\")");
  run->add_option("--flash-type", a->flashType,
                  "Parallel flash part of chip types 2 and 21 (\"Flash Type\": atmel, pmc, sst "
                  "or the item's text)")
      ->type_name("NAME");
  run->add_flag("--a1-chip", a->a1Chip,
                "The unit is the A1 member: no switch to internal code (\"A1 Chip\")");
  run->add_flag("--hdd-fw", a->hddFirmware,
                "Work on the firmware a type-12 unit keeps on its disk (\"VQS175 HDD FW\")");
  run->add_option("--chip-type", a->chipType,
                  "What identification cannot tell: 13 for a VQS175/713 unit, which "
                  "identifies as type 10 (VQB713)")
      ->type_name("TYPE");
  run->add_flag("--overwrite-disk-data", a->overwriteDiskData,
                "Let the disk-hosted procedures write sectors the host is shown that hold data "
                "(neither zeros nor a firmware copy); without it they are kept and nothing is "
                "written");
  run->add_flag("--other-chip-file", a->otherChipFile,
                "Program a file that does not seem to be made for the unit's chip (\"The "
                "firmware file seems not match this chip!\"); without it such a run writes "
                "nothing");
  run->add_flag("--yes", a->yes, "Do not ask before erasing or programming");
  run->add_flag("--json", a->json,
                "Print the outcome as one JSON object (unit, procedure, result, status texts, "
                "boxes, backup file, last failed command)");
  run->footer(Examples({"fwtool run --device 0 --file new.bin",
                        "fwtool run --backup-only --backup-file old.bin",
                        "fwtool --simulate vqb716 run --erase-only --flash-size 64KB --yes",
                        "fwtool --simulate vqs713 run --chip-type 13 --file new.bin --yes"}));
  run->fallthrough();
  run->callback([&ctx, a] { ctx.exitCode = RunProcedure(ctx, *a); });
}

}  // namespace fwtool::cli
