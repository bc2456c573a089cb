// SPDX-License-Identifier: GPL-2.0-or-later
// fwtool list / fwtool update: the one-click window's job from the terminal.
//
//   fwtool [--simulate UNITS] list [--json]
//   fwtool [--simulate UNITS] update [--device N] [--yes] [--backup FILE]
//   fwtool [--simulate UNITS] update --all [--yes] [--json]
//
// Both drive the same form model as the window: construction refreshes the
// device list; update selects an entry and calls the entry behind "YES".
#include <fmt/format.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "Fwupdate.h"
#include "batch_update.h"
#include "chip_rows.h"
#include "cli_context.h"
#include "enumeration.h"
#include "form_texts.h"
#include "host_services.h"
#include "identify.h"
#include "platform_services.h"
#include "simulation_setup.h"
#include "simulator.h"
#include "status_view.h"
#include "terminal_session.h"

namespace fwtool::cli {

namespace {

using nlohmann::json;

const char* BusName(const DeviceSurveyEntry& entry) {
  return entry.on1394 ? "1394" : "USB";
}

std::string ItemText(const DeviceSurveyEntry& entry) {
  return (entry.on1394 ? texts::k1394ItemPrefix : texts::kUsbItemPrefix) + entry.name;
}

const char* OutcomeName(DeviceSurveyEntry::Outcome outcome) {
  switch (outcome) {
    case DeviceSurveyEntry::Outcome::NotTarget:
      return "not a target chip";
    case DeviceSurveyEntry::Outcome::AlreadyUpdated:
      return "already updated";
    case DeviceSurveyEntry::Outcome::Unrecognised:
      return "not recognised";
    case DeviceSurveyEntry::Outcome::Listed:
      return "to update";
  }
  return "?";
}

json SurveyJson(const TV77xFwTool& form) {
  json devices = json::array();
  for (const auto& entry : form.Survey()) {
    const int chipType = ChipTypeOf(entry.identification);
    devices.push_back({
        {"index", entry.listIndex >= 0 ? json(entry.listIndex) : json(nullptr)},
        {"item", entry.outcome == DeviceSurveyEntry::Outcome::NotTarget ? json(nullptr)
                                                                        : json(ItemText(entry))},
        {"bus", BusName(entry)},
        {"name", entry.name},
        {"path", entry.path},
        {"cdrom", entry.cdrom},
        {"chipType", chipType},
        {"subRevision", ChipSubRevOf(entry.identification)},
        {"chipLabel", std::string(ChipLabel(chipType))},
        {"listed", entry.outcome == DeviceSurveyEntry::Outcome::Listed},
        {"alreadyUpdated", entry.outcome == DeviceSurveyEntry::Outcome::AlreadyUpdated},
    });
  }
  return devices;
}

std::string AccessProblem(CliContext& ctx) {
  return Devices(ctx)->AccessProblem();
}

int RunList(CliContext& ctx, bool asJson) {
  Session session(ctx);
  TV77xFwTool& form = *session.form;
  const std::string notice = Trimmed(form.devLable.Text());
  if (asJson) {
    json out = {{"devices", SurveyJson(form)},
                {"listed", form.ListedCount()},
                {"face", OneClickFaceName(form.Face())},
                {"notice", notice}};
    const std::string problem = AccessProblem(ctx);
    if (!problem.empty()) out["accessProblem"] = problem;
    std::printf("%s\n", out.dump(2).c_str());
    return kExitOk;
  }
  if (form.Survey().empty()) {
    std::printf("No USB or IEEE 1394 storage device found.\n");
  } else {
    std::printf("%-3s %-34s %-6s %-22s %-17s %s\n", "#", "device", "bus", "chip", "state", "path");
    for (const auto& entry : form.Survey()) {
      const int chipType = ChipTypeOf(entry.identification);
      const std::string index = entry.listIndex >= 0 ? std::to_string(entry.listIndex) : "-";
      const std::string item =
          entry.outcome == DeviceSurveyEntry::Outcome::NotTarget ? "" : ItemText(entry);
      const std::string chip = fmt::format("{} {}", chipType, ChipLabel(chipType));
      std::printf("%-3s %-34s %-6s %-22s %-17s %s\n", index.c_str(), item.c_str(), BusName(entry),
                  chip.c_str(), OutcomeName(entry.outcome), entry.path.c_str());
    }
  }
  const std::string problem = AccessProblem(ctx);
  if (!problem.empty()) std::printf("%s\n", problem.c_str());
  std::printf("%s\n", notice.c_str());
  return kExitOk;
}

struct UpdateOptions {
  int device = 0;
  bool yes = false;
  std::string backup;
  bool all = false;
  bool json = false;
};

int RunUpdate(CliContext& ctx, const UpdateOptions& options) {
  if (!options.backup.empty()) {
    std::error_code ec;
    if (std::filesystem::exists(options.backup, ec)) {
      std::fprintf(stderr, "fwtool update: %s exists already; name a new backup file.\n",
                   options.backup.c_str());
      return kExitUsage;
    }
  }
  if (!options.yes && !host::IsTerminal(host::StandardStream::Input)) {
    std::fprintf(stderr, "fwtool update: not asking on a non-terminal; give --yes to update.\n");
    return kExitUsage;
  }

  Session session(ctx);
  TV77xFwTool& form = *session.form;
  if (form.ListedCount() == 0) {
    std::printf("%s\n", Trimmed(form.devLable.Text()).c_str());
    const std::string problem = AccessProblem(ctx);
    if (!problem.empty()) std::printf("%s\n", problem.c_str());
    return kExitFailed;
  }
  if (options.device < 0 || options.device >= form.ListedCount()) {
    std::fprintf(stderr, "fwtool update: no entry %d; the list has %d (see fwtool list).\n",
                 options.device, form.ListedCount());
    return kExitUsage;
  }
  form.SelectUnit(options.device);
  const DeviceRecord* record = form.SelectedDevice();
  std::printf("Device %d: %s (%s)\n", options.device, form.DeviceList.Text().c_str(),
              record != nullptr ? record->Path.c_str() : "?");
  if (!options.yes && !AskYesNo(texts::kPrompt)) {
    std::printf("Nothing written.\n");
    return kExitFailed;
  }

  {
    // Ctrl-C only asks the form to close, which it holds while it writes.
    host::InterruptHold hold;
    const bool live = host::IsTerminal(host::StandardStream::Output) && !ctx.trace;
    ProgressView progress(form, live, ProgressView::Source::WindowBar);
    form.OneClickUpdate({.backupFile = options.backup});
  }

  const OneClickFace face = form.Face();
  if (!form.StatusEdit.Text().empty()) std::printf("%s\n", form.StatusEdit.Text().c_str());
  if (face == OneClickFace::Done) {
    std::printf("%s\n", form.replugLable1.Text().c_str());
    return kExitOk;
  }
  std::printf("%s\n", Trimmed(form.devLable.Text()).c_str());
  return kExitFailed;
}

}  // namespace

void RegisterDeviceCommands(CLI::App& app, CliContext& ctx) {
  auto* list = app.add_subcommand("list", "List the controllers that can take the firmware update");
  list->add_flag("--json", ctx.json, "Print the list as JSON");
  list->footer(Examples({"fwtool list", "fwtool --simulate vqb717,vqb719 list --json"}));
  list->fallthrough();
  list->callback([&ctx] { ctx.exitCode = RunList(ctx, ctx.json); });

  auto options = std::make_shared<UpdateOptions>();
  auto* update = app.add_subcommand(
      "update", "Write the bundled firmware into a listed controller (the window's \"YES\")");
  update->add_option("--device", options->device, "Entry of the list to update (default 0)")
      ->type_name("N");
  update->add_flag("--yes", options->yes, "Do not ask before writing");
  update
      ->add_option("--backup", options->backup,
                   "File that receives the controller's flash before anything is written "
                   "(must not exist; default: a new file in the per-user backup folder)")
      ->type_name("FILE");
  auto* all = update->add_flag("--all", options->all,
                               "Update every listed controller at once, each with its own backup");
  update->add_flag("--json", options->json, "With --all: print the outcome as JSON")->needs(all);
  all->excludes(update->get_option("--device"))->excludes(update->get_option("--backup"));
  update->footer(
      Examples({"fwtool update --device 1 --backup before.bin", "fwtool update --all --yes",
                "fwtool --simulate vqb719 --sim-state /tmp/unit update --yes"}));
  update->fallthrough();
  update->callback([&ctx, options] {
    ctx.exitCode = options->all ? RunBatchUpdate(ctx, {options->yes, options->json})
                                : RunUpdate(ctx, *options);
  });
}

}  // namespace fwtool::cli
