// SPDX-License-Identifier: GPL-2.0-or-later
// fwtool info: the engineering face's fields from the terminal.
//
//   fwtool [--simulate UNITS] info [--device N] [--chip-type 13] [--json]
//
// Drives the same form model as the window's engineering face: the list
// holds every recognised controller, and selecting an entry runs the
// information check, whose fields are printed. A spoiled bank of a
// dual-bank flash is shown, not repaired. --chip-type says what
// identification cannot tell, as for fwtool run.
#include <fmt/format.h>

#include <array>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "Fwupdate.h"
#include "chip_rows.h"
#include "cli_context.h"
#include "form_texts.h"
#include "terminal_session.h"

namespace fwtool::cli {

namespace {

using nlohmann::json;

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
  // A type identification never tells hides behind this one.
  for (const ChipRow& row : ChipRows)
    if (row.identifiedAs == u.chipType)
      std::printf(
          "  Note:       a %s unit (type %d) identifies as type %d too; say --chip-type "
          "%d for one\n",
          std::string(row.label).c_str(), row.type, u.chipType, row.type);
}

struct InfoOptions {
  std::optional<int> device;
  std::optional<int> chipType;
};

int RunInfo(CliContext& ctx, const InfoOptions& options, bool asJson) {
  const std::optional<int> device = options.device;
  if (options.chipType && !ChipTypeMayBeSaid(*options.chipType, "info")) return kExitUsage;
  // A query: the list holds every controller, and a spoiled bank is shown,
  // not repaired.
  Session session(ctx, {.scope = DeviceListScope::AllControllers, .bankRepair = false});
  TV77xFwTool& form = *session.form;
  if (const int rc = ListedOrSay(form, ctx); rc != kExitOk) return rc;
  if (options.chipType) form.SayChipType({.chipType = options.chipType});
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
    form.SelectUnit(index);
    // One unit named: the type said must fit it. Every unit: those it fits
    // are shown as that type, the others as they identify.
    if (device && options.chipType && !SaidChipTypeFits(form, *options.chipType, index, "info"))
      return kExitUsage;
    const UnitInfo unit = ReadUnit(form, index);
    if (asJson)
      units.push_back(UnitJson(unit));
    else
      PrintUnit(unit);
  }
  if (asJson) std::printf("%s\n", json{{"devices", units}}.dump(2).c_str());
  return kExitOk;
}

}  // namespace

void RegisterEngineeringCommands(CLI::App& app, CliContext& ctx) {
  auto options = std::make_shared<InfoOptions>();
  auto* info = app.add_subcommand(
      "info", "Show what each controller is and what it runs (the engineering face's fields)");
  info->add_option("--device", options->device, "Entry of the list (default: every entry)")
      ->type_name("N");
  info->add_option("--chip-type", options->chipType,
                   "What identification cannot tell: 13 for a VQS175/713 unit, which "
                   "identifies as type 10 (VQB713)")
      ->type_name("TYPE");
  info->add_flag("--json", ctx.json, "Print as JSON");
  info->footer(Examples({"fwtool info", "fwtool --simulate vqs175 info --device 0 --json",
                         "fwtool --simulate vqs713 info --chip-type 13"}));
  info->fallthrough();
  info->callback([&ctx, options] { ctx.exitCode = RunInfo(ctx, *options, ctx.json); });
}

}  // namespace fwtool::cli
