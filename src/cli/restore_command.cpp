// fwtool restore: a backup of the whole flash back into a unit.
//
//   fwtool [--simulate UNITS] restore --device N|PATH --file BACKUP [--yes]
//
// The unit is entry N of the list `fwtool info` shows (every recognised
// controller), or the device at PATH. The backup must be as large as the
// unit's flash part and hold firmware meant for its chip; it is written with
// read-back and compare, as the update writes.
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

int RunRestore(CliContext& ctx, const RestoreOptions& options) {
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
  form.SelectUnit(entry);
  const std::string path = form.Devices[static_cast<size_t>(entry)].Path;
  const ChipRow& row = ChipRowFor(form.ChipType);
  std::printf("Device %d: %s (%s)\n", entry, form.DeviceList.Text().c_str(), path.c_str());
  if (!row.oneClickTarget) {
    std::fprintf(stderr,
                 "fwtool restore: the unit is a %s; restore takes backups of the %s only.\n",
                 std::string(row.label).c_str(), std::string(ChipRowFor(8).label).c_str());
    return kExitRefused;
  }
  if (!options.yes && !AskYesNo(fmt::format("Write {} ({} bytes) into this unit's flash?",
                                            options.file, backup->size()))) {
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
    result = form.RestoreBackup({.backup = *backup}, &report);
  }

  switch (report.outcome) {
    case RestoreOutcome::Restored:
      std::printf("Restored %s (%zu bytes); read back and compared.\n", options.file.c_str(),
                  backup->size());
      std::printf("%s\n", texts::kReplugLable);
      return result == 1 ? kExitOk : kExitFailed;
    case RestoreOutcome::Unreadable:
      std::fprintf(stderr, "fwtool restore: the unit's flash cannot be read; nothing written.\n");
      return kExitFailed;
    case RestoreOutcome::WrongSize:
      std::fprintf(stderr,
                   "fwtool restore: %s holds %zu bytes, the unit's flash %u; nothing written.\n",
                   options.file.c_str(), backup->size(), report.flashSize);
      return kExitRefused;
    case RestoreOutcome::WrongChip:
      std::fprintf(stderr, "fwtool restore: %s is not for this chip (%s); nothing written.\n",
                   options.file.c_str(), report.reason.c_str());
      return kExitRefused;
    case RestoreOutcome::NotWritten:
      std::fprintf(stderr,
                   "fwtool restore: the flash did not take the backup in %d attempts (%s); "
                   "keep %s and try again.\n",
                   report.attempts, form.StatusEdit.Text().c_str(), options.file.c_str());
      return kExitFailed;
  }
  return kExitFailed;
}

}  // namespace

void RegisterRestoreCommand(CLI::App& app, CliContext& ctx) {
  auto options = std::make_shared<RestoreOptions>();
  auto* restore = app.add_subcommand(
      "restore", "Write a backup of the whole flash back into a unit, with read-back and compare");
  restore
      ->add_option("--device", options->device,
                   "Entry of the list fwtool info shows, or the device path")
      ->required();
  restore
      ->add_option("--file", options->file,
                   "The backup: as large as the unit's flash, firmware for its chip")
      ->required();
  restore->add_flag("--yes", options->yes, "Do not ask before writing");
  restore->footer(
      "Exit codes: 0 restored and verified; 1 the unit could not be read or did not take the "
      "backup (or the operator said no); 2 usage error, unreadable file or no such device; 3 "
      "the backup does not fit the unit (size, chip), nothing written.");
  restore->fallthrough();
  restore->callback([&ctx, options] { ctx.exitCode = RunRestore(ctx, *options); });
}

}  // namespace fwtool::cli
