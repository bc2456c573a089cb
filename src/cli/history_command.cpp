// SPDX-License-Identifier: GPL-2.0-or-later
// fwtool history: what was written to which unit, when, from which version
// to which, and where its backup lies.
//
//   fwtool history [--device PATH] [--json]
//
// The records come from the history file in the user's data folder, oldest
// first; a damaged line is skipped with a warning on stderr.
#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli_context.h"
#include "history.h"
#include "printable_text.h"

namespace fwtool::cli {

namespace {

struct HistoryOptions {
  std::string device;
  bool json = false;
};

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The unit at PATH, or the unit with that serial number wherever it was
// plugged in.
bool IsUnit(const HistoryRecord& record, const std::string& device) {
  return Lower(record.unit.path) == Lower(device) ||
         (!record.unit.serial.empty() && record.unit.serial == device);
}

std::string OrDash(const std::string& text) {
  return text.empty() ? std::string("-") : text;
}

void PrintTable(const std::vector<HistoryRecord>& records) {
  constexpr size_t kColumns = 7;
  std::vector<std::array<std::string, kColumns>> rows = {
      {"time", "device", "chip", "procedure", "version", "result", "backup file"}};
  for (const HistoryRecord& r : records) {
    const std::string chip = fmt::format("{} {}", r.unit.chipType, r.unit.chipLabel);
    const std::string version =
        fmt::format("{} -> {}", OrDash(r.versionBefore), OrDash(r.versionAfter));
    // Every field comes from the file: none reaches the terminal as it is.
    std::array<std::string, kColumns> row = {
        r.time,          r.unit.path, chip,
        r.procedure,     version,     r.succeeded ? "success" : "failure",
        OrDash(r.backup)};
    for (std::string& field : row) field = EscapeControls(field);
    rows.push_back(std::move(row));
  }
  std::array<size_t, kColumns> width{};
  for (const auto& row : rows)
    for (size_t c = 0; c < kColumns; ++c) width[c] = std::max(width[c], row[c].size());
  for (const auto& row : rows) {
    std::string line;
    for (size_t c = 0; c < kColumns; ++c)
      line += c + 1 < kColumns ? fmt::format("{:<{}}  ", row[c], width[c]) : row[c];
    std::printf("%s\n", line.c_str());
  }
}

int RunHistory(const HistoryOptions& options) {
  const std::string path = DefaultHistoryPath();
  if (path.empty()) {
    std::fprintf(stderr,
                 "fwtool history: no data folder (neither XDG_DATA_HOME nor HOME is set).\n");
    return kExitFailed;
  }
  const HistoryReading reading = ReadHistory(path);
  if (!reading.error.empty()) {
    std::fprintf(stderr, "fwtool history: %s\n", reading.error.c_str());
    return kExitFailed;
  }
  for (const std::string& warning : reading.warnings)
    std::fprintf(stderr, "fwtool history: %s, %s; skipped.\n", EscapeControls(path).c_str(),
                 warning.c_str());
  if (reading.damaged > reading.warnings.size())
    std::fprintf(stderr, "fwtool history: %s, %zu damaged lines in all; skipped.\n",
                 EscapeControls(path).c_str(), reading.damaged);
  std::vector<HistoryRecord> records;
  for (const HistoryRecord& record : reading.records)
    if (options.device.empty() || IsUnit(record, options.device)) records.push_back(record);

  if (options.json) {
    std::printf("%s\n", EncodeHistoryJson(records).c_str());
    return kExitOk;
  }
  if (records.empty()) {
    if (!options.device.empty())
      std::printf("Nothing written to %s yet (%s).\n", options.device.c_str(), path.c_str());
    else
      std::printf("Nothing written to a unit yet (%s).\n", path.c_str());
    return kExitOk;
  }
  PrintTable(records);
  return kExitOk;
}

}  // namespace

void RegisterHistoryCommand(CLI::App& app, CliContext& ctx) {
  auto options = std::make_shared<HistoryOptions>();
  auto* history = app.add_subcommand(
      "history", "Show what was written to which unit: update, run, restore and bank repair");
  history
      ->add_option("--device", options->device,
                   "Only the records of the unit at this path (or with this serial number)")
      ->type_name("PATH");
  history->add_flag("--json", options->json, "Print the records as a JSON array");
  history->footer(Examples(
      {"fwtool history", "fwtool history --device usbsto:/dev/sg2", "fwtool history --json"}));
  history->fallthrough();
  history->callback([&ctx, options] { ctx.exitCode = RunHistory(*options); });
}

}  // namespace fwtool::cli
