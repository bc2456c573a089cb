// SPDX-License-Identifier: GPL-2.0-or-later
// Options shared by every fwtool subcommand.
#pragma once

#include <CLI/CLI.hpp>
#include <initializer_list>
#include <string>

namespace fwtool {
struct PlatformServices;
}

namespace fwtool::cli {

// Exit codes of every subcommand: done or passed, failed or did not pass,
// usage error or a file that cannot be opened.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

struct CliContext {
  bool trace = false;
  bool json = false;
  std::string simulate;                  // --simulate UNITS
  std::string simState;                  // --sim-state DIR
  std::string record;                    // --record FILE
  int exitCode = 0;                      // set by the subcommand that ran
  PlatformServices* platform = nullptr;  // enumerator and device-change watcher
  bool rightsAsked = false;              // the helper asked for once per run
};

// The lines of examples under a command's help: "Examples:" and one
// command line per entry.
inline std::string Examples(std::initializer_list<const char*> lines) {
  std::string text = "Examples:";
  for (const char* line : lines) text += std::string("\n  ") + line;
  return text;
}

// Each subcommand family registers itself; the callback runs it and sets
// ctx.exitCode.
void RegisterImageCommands(CLI::App& app, CliContext& ctx);
void RegisterDeviceCommands(CLI::App& app, CliContext& ctx);
void RegisterEngineeringCommands(CLI::App& app, CliContext& ctx);
void RegisterRunCommand(CLI::App& app, CliContext& ctx);
void RegisterRestoreCommand(CLI::App& app, CliContext& ctx);
void RegisterHistoryCommand(CLI::App& app, CliContext& ctx);

}  // namespace fwtool::cli
