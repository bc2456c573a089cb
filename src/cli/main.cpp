// fwtool: the command-line face of the firmware update utility.
#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <cstdio>

#include "IDEAccess.h"

int main(int argc, char** argv) {
  CLI::App app{"fwtool: firmware update utility for USB/1394-to-ATA bridge controllers"};
  app.set_version_flag("--version", std::string("fwtool ") + FWTOOL_VERSION);
  bool trace = false;
  app.add_flag("--trace", trace, "Print every command block sent to a device");
  CLI11_PARSE(app, argc, argv);
  if (trace) {
    fwtool::SetCommandTrace([](const fwtool::CommandTraceRecord& record) {
      std::fprintf(stderr, "%s\n", fwtool::FormatTraceRecord(record).c_str());
    });
  }
  fmt::print("{}", app.help());
  return 0;
}
