// SPDX-License-Identifier: GPL-2.0-or-later
// fwtool restore: a backup of a unit's whole part back into the unit.
//
//   fwtool [--simulate UNITS] restore --device N|PATH --file BACKUP
//          [--flash-type NAME] [--a1-chip] [--hdd-fw] [--chip-type 13] [--yes]
//
// The unit is entry N of the list `fwtool info` shows (every recognised
// controller), or the device at PATH. The backup must be as large as the
// part the unit's procedure works on (its flash, its parallel part, the
// firmware area on its disk) and hold no firmware meant for another chip;
// it is written through the part's own commands with read-back and compare.
#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Fwupdate.h"
#include "cli_context.h"
#include "flash_restore.h"
#include "form_texts.h"
#include "host_services.h"
#include "image_file.h"
#include "status_view.h"
#include "terminal_session.h"

namespace fwtool::cli {

namespace {

// Exit code of a backup that does not fit the unit (size or chip).
constexpr int kExitRefused = 3;

struct RestoreOptions {
  std::string device;
  std::string file;
  bool yes = false;
  std::string flashType;
  bool a1Chip = false;
  bool hddFirmware = false;
  std::optional<int> chipType;
};

// A backup is a regular file of at most a flash part's size: a device node
// or an endless file is refused, not read without end.
std::optional<std::vector<uint8_t>> ReadBackup(const std::string& path) {
  auto file = ImageFile::Open(path);
  std::vector<uint8_t> bytes;
  if (!file || !file->ReadAll(bytes)) return std::nullopt;
  return bytes;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The list entry named by an index or by its device path; -1 when none.
int FindEntry(const TV77xFwTool& form, const std::string& device) {
  int index = -1;
  const char* end = device.data() + device.size();
  auto [ptr, ec] = std::from_chars(device.data(), end, index);
  if (ec == std::errc{} && ptr == end) return index >= 0 && index < form.ListedCount() ? index : -1;
  const std::string wanted = Lower(device);
  for (int i = 0; i < form.ListedCount(); ++i)
    if (Lower(form.Devices[static_cast<size_t>(i)].Path) == wanted) return i;
  return -1;
}

// What the restore of this part is called in messages.
const char* PartName(WholePart part) {
  switch (part) {
    case WholePart::DiskArea:
    case WholePart::DiskRegion:
      return "firmware area on the disk";
    case WholePart::Parallel:
      return "parallel flash";
    case WholePart::None:
    case WholePart::FlashRange:
    case WholePart::FlashAt:
    case WholePart::FlashPages:
    case WholePart::Flash1394:
    case WholePart::AtaFlash:
      return "flash";
  }
  return "flash";
}

// The request the options make for the selected unit, and the part it
// reaches; nullopt after saying why when the options do not fit the unit.
std::optional<WholePart> PartToRestore(TV77xFwTool& form, const RestoreOptions& options,
                                       RestoreRequest& request) {
  request.hddFirmware = options.hddFirmware;
  request.a1Chip = options.a1Chip;
  if (!options.flashType.empty()) {
    const int item = ItemContaining(form.FlashTypeList, options.flashType);
    if (item >= 0) request.flashType = item;
  }
  const WholePart part = form.RestorePart(request);
  if (part == WholePart::Parallel) {
    if (!request.flashType) {
      std::fprintf(stderr,
                   "fwtool restore: the unit has a parallel flash; say which part with "
                   "--flash-type (one of %s).\n",
                   ItemList(form.FlashTypeList).c_str());
      return std::nullopt;
    }
  } else if (!options.flashType.empty() || options.a1Chip) {
    std::fprintf(stderr,
                 "fwtool restore: --flash-type and --a1-chip are for units with a parallel "
                 "flash (chip types 2 and 21).\n");
    return std::nullopt;
  }
  if (options.hddFirmware && part != WholePart::DiskRegion) {
    std::fprintf(stderr,
                 "fwtool restore: --hdd-fw is for the firmware a type-12 unit keeps on its "
                 "disk.\n");
    return std::nullopt;
  }
  return part;
}

int RunRestore(CliContext& ctx, const RestoreOptions& options) {
  if (options.chipType && !ChipTypeMayBeSaid(*options.chipType, "restore")) return kExitUsage;
  const auto backup = ReadBackup(options.file);
  if (!backup) {
    std::fprintf(stderr, "fwtool restore: cannot read %s.\n", options.file.c_str());
    return kExitUsage;
  }
  if (!options.yes && !host::IsTerminal(host::StandardStream::Input)) {
    std::fprintf(stderr, "fwtool restore: not asking on a non-terminal; give --yes to write.\n");
    return kExitUsage;
  }

  Session session(ctx, {.scope = DeviceListScope::AllControllers, .bankRepair = false});
  TV77xFwTool& form = *session.form;
  const int entry = FindEntry(form, options.device);
  if (entry < 0) {
    std::fprintf(stderr, "fwtool restore: no device %s; the list has %d (see fwtool info).\n",
                 options.device.c_str(), form.ListedCount());
    return kExitUsage;
  }
  if (options.chipType) form.SayChipType({.chipType = options.chipType});
  form.SelectUnit(entry);
  if (options.chipType && !SaidChipTypeFits(form, *options.chipType, entry, "restore"))
    return kExitUsage;
  const std::string path = form.Devices[static_cast<size_t>(entry)].Path;
  const ChipRow& row = ChipRowFor(form.ChipType);
  std::printf("Device %d: %s (%s)\n", entry, form.DeviceList.Text().c_str(), path.c_str());
  RestoreRequest request;
  request.backup = *backup;
  request.fileName = options.file;
  const auto part = PartToRestore(form, options, request);
  if (!part) return kExitUsage;
  if (*part == WholePart::None) {
    std::fprintf(stderr, "fwtool restore: the unit is a %s without firmware to restore.\n",
                 std::string(row.label).c_str());
    return kExitRefused;
  }
  if (!options.yes && !AskYesNo(fmt::format("Write {} ({} bytes) into this unit's {}?",
                                            options.file, backup->size(), PartName(*part)))) {
    std::printf("Nothing written.\n");
    return kExitFailed;
  }

  RestoreReport report;
  int result = 0;
  {
    // Ctrl-C only asks the form to close, which it holds while it writes.
    host::InterruptHold hold;
    const bool live = host::IsTerminal(host::StandardStream::Output) && !ctx.trace;
    ProgressView progress(form, live, ProgressView::Source::DeclaredSteps);
    result = form.RestoreBackup(request, &report);
  }
  if (!form.HistoryError().empty())
    std::fprintf(stderr, "fwtool restore: %s%s\n", texts::kHistoryFailedNotice,
                 form.HistoryError().c_str());
  if (!form.LastRefusal().empty()) {
    std::fprintf(stderr, "fwtool restore: %s\n", form.LastRefusal().c_str());
    return kExitFailed;
  }

  switch (report.outcome) {
    case RestoreOutcome::Restored:
      std::printf("Restored %s (%zu bytes); read back and compared.\n", options.file.c_str(),
                  backup->size());
      std::printf("%s\n", texts::kReplugLable);
      return result == 1 ? kExitOk : kExitFailed;
    case RestoreOutcome::Unreadable:
      std::fprintf(stderr, "fwtool restore: the unit's %s cannot be read (%s); nothing written.\n",
                   PartName(*part), form.StatusEdit.Text().c_str());
      return kExitFailed;
    case RestoreOutcome::WrongSize:
      std::fprintf(stderr,
                   "fwtool restore: %s holds %zu bytes, the unit's %s %u; nothing written.\n",
                   options.file.c_str(), backup->size(), PartName(*part), report.flashSize);
      return kExitRefused;
    case RestoreOutcome::WrongChip:
      std::fprintf(stderr, "fwtool restore: %s is not for this chip (%s); nothing written.\n",
                   options.file.c_str(), report.reason.c_str());
      return kExitRefused;
    case RestoreOutcome::NotWritten:
      std::fprintf(stderr,
                   "fwtool restore: the unit's %s did not take the backup (%s); keep %s and try "
                   "again.\n",
                   PartName(*part), form.StatusEdit.Text().c_str(), options.file.c_str());
      return kExitFailed;
  }
  return kExitFailed;
}

}  // namespace

void RegisterRestoreCommand(CLI::App& app, CliContext& ctx) {
  auto options = std::make_shared<RestoreOptions>();
  auto* restore = app.add_subcommand(
      "restore",
      "Write a backup of a unit's whole part (flash or disk area) back into it, with read-back "
      "and compare");
  restore
      ->add_option("--device", options->device,
                   "Entry of the list fwtool info shows, or the device path")
      ->type_name("N|PATH")
      ->required();
  restore
      ->add_option("--file", options->file,
                   "The backup: as large as the unit's part, no firmware for another chip")
      ->type_name("FILE")
      ->required();
  restore
      ->add_option("--flash-type", options->flashType,
                   "Parallel flash part of chip types 2 and 21 (atmel, pmc, sst or the "
                   "item's text); needed for those units")
      ->type_name("NAME");
  restore->add_flag("--a1-chip", options->a1Chip,
                    "The unit is the A1 member: no switch to internal code");
  restore->add_flag("--hdd-fw", options->hddFirmware,
                    "The firmware a type-12 unit keeps on its disk, not its flash");
  restore
      ->add_option("--chip-type", options->chipType,
                   "What identification cannot tell: 13 for a VQS175/713 unit, which "
                   "identifies as type 10 (VQB713)")
      ->type_name("TYPE");
  restore->add_flag("--yes", options->yes, "Do not ask before writing");
  restore->footer(
      Examples({"fwtool restore --device 0 --file before.bin",
                "fwtool restore --device usbsto:/dev/sg2 --file before.bin --yes"}) +
      "\n\nExit codes: 0 restored and verified; 1 the unit could not be read or did not take the "
      "backup (or the operator said no); 2 usage error, unreadable file or no such device; 3 "
      "the backup does not fit the unit (size, chip) or the unit has nothing to restore, "
      "nothing written.");
  restore->fallthrough();
  restore->callback([&ctx, options] { ctx.exitCode = RunRestore(ctx, *options); });
}

}  // namespace fwtool::cli
