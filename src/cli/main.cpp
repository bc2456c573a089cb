// SPDX-License-Identifier: GPL-2.0-or-later
// fwtool: the command-line face of the firmware update utility.
#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "borrowed_rights.h"
#include "cli_context.h"
#include "pass_through.h"
#include "platform_services.h"
#include "run_recording.h"
#include "simulation_setup.h"

int main(int argc, char** argv) {
  using namespace fwtool;
  // Before anything else: a fwtool given rights it did not start with takes
  // no test option.
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (const auto refused = host::RefusedArgument(host::CurrentRightsFacts(), arguments,
                                                 {cli::kSimulationOptions, {}})) {
    std::fprintf(stderr, "%s\n", host::BorrowedRightsRefusal("fwtool", *refused).c_str());
    return host::kExitBorrowedRights;
  }
  CLI::App app{"fwtool: firmware update utility for USB/1394-to-ATA bridge controllers"};
  app.set_version_flag("--version", std::string("fwtool ") + FWTOOL_VERSION);
  cli::CliContext ctx;
  PlatformServices platform = InstallPlatformServices();
  ctx.platform = &platform;
  app.add_flag("--trace", ctx.trace, "Print every command block sent to a device (to stderr)");
  app.add_option("--record", ctx.record,
                 "Write every command sent to a device, with its answer, to FILE (JSON; "
                 "--simulate replay:FILE answers a run from it)")
      ->type_name("FILE");
  cli::AddSimulationOptions(app, ctx);
  app.require_subcommand(0, 1);
  app.footer(cli::Examples({"fwtool list", "fwtool update --yes",
                            "fwtool --simulate vqb719 --sim-state /tmp/unit update --yes",
                            "fwtool history"}));

  // Subcommand families register here.
  cli::RegisterImageCommands(app, ctx);
  cli::RegisterDeviceCommands(app, ctx);
  cli::RegisterEngineeringCommands(app, ctx);
  cli::RegisterRunCommand(app, ctx);
  cli::RegisterRestoreCommand(app, ctx);
  cli::RegisterHistoryCommand(app, ctx);

  app.parse_complete_callback([&] {
    if (ctx.trace) {
      SetCommandTrace([](const CommandTraceRecord& record) {
        std::fprintf(stderr, "%s\n", FormatTraceRecord(record).c_str());
      });
    }
    cli::StartSimulation(ctx);
    cli::StartRecording(ctx, arguments);
  });
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? cli::kExitOk : cli::kExitUsage;
  }
  if (app.get_subcommands().empty()) fmt::print("{}", app.help());
  const bool recorded = cli::FinishRecording(ctx);
  if (!cli::FinishSimulation(ctx) || !recorded) return cli::kExitFailed;
  return ctx.exitCode;
}
