// ffs-storage-gadget: a USB mass-storage device served through FunctionFS,
// whose logical units are answered by pass-through backends.
//
//   ffs-storage-gadget --ffs /dev/ffs/NAME --ready /tmp/NAME.ready --lun SPEC [--lun SPEC]...
//
// SPEC: "plain" (a blank disk that answers what the kernel sends when a
// disk arrives and nothing else) or "plain:PRODUCT" (the same with another
// product name in its INQUIRY data).
#include <fmt/core.h>

#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <vector>

#include "bulk_only.h"
#include "functionfs_server.h"
#include "plain_disk.h"

namespace {

using fwtool::harness::LogicalUnit;
using fwtool::harness::PlainDisk;

constexpr std::string_view kPlainPrefix = "plain";

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"USB mass-storage gadget served through FunctionFS"};
  fwtool::harness::FunctionFsOptions options;
  std::vector<std::string> specs{"plain"};
  app.add_option("--ffs", options.mountPoint, "mounted functionfs instance")->required();
  app.add_option("--ready", options.readyFile, "file created once the UDC may be bound");
  app.add_option("--lun", specs, "one logical unit per option, LUN 0 first")->take_all();
  app.add_flag("--trace", options.trace, "one line per command on stderr");
  CLI11_PARSE(app, argc, argv);

  std::vector<std::unique_ptr<fwtool::PassThroughBackend>> owned;
  std::vector<LogicalUnit> units;
  for (const std::string& spec : specs) {
    if (spec.starts_with(kPlainPrefix)) {
      const std::string product = spec.size() > kPlainPrefix.size() + 1
                                      ? spec.substr(kPlainPrefix.size() + 1)
                                      : std::string("HARNESS DISK");
      owned.push_back(std::make_unique<PlainDisk>(product));
      units.push_back({spec, owned.back().get()});
    } else {
      fmt::print(stderr, "ffs-storage-gadget: unknown logical unit '{}'\n", spec);
      return 2;
    }
  }
  if (units.empty() || units.size() > 16) {
    fmt::print(stderr, "ffs-storage-gadget: 1 to 16 logical units\n");
    return 2;
  }

  fwtool::harness::StorageTarget target(std::move(units));
  return fwtool::harness::ServeFunctionFs(options, target);
}
