// SPDX-License-Identifier: GPL-2.0-or-later
// ffs-storage-gadget: a USB mass-storage device served through FunctionFS,
// whose logical units are answered by pass-through backends.
//
//   ffs-storage-gadget --ffs /dev/ffs/NAME --ready /tmp/NAME.ready
//                      [--sim UNITS [--sim-time-scale X]] --lun UNIT [--lun UNIT]...
//                      [--trace]
//
// UNIT, one per logical unit, LUN 0 first:
//   plain[:PRODUCT]  a blank disk that answers what the kernel sends when a
//                    disk arrives and nothing else (not a target)
//   sim:N            unit N (from 0) of the simulated units that --sim
//                    describes, e.g. --sim vqb719 --lun sim:0
#include <fmt/core.h>

#include <CLI/CLI.hpp>
#include <charconv>
#include <memory>
#include <string>
#include <vector>

#include "bulk_only.h"
#include "functionfs_server.h"
#include "plain_disk.h"
#ifdef FWTOOL_KERNEL_HARNESS_WITH_SIM
#include "simulator.h"
#endif

namespace {

using fwtool::harness::LogicalUnit;
using fwtool::harness::PlainDisk;

constexpr std::string_view kPlainPrefix = "plain";
constexpr std::string_view kSimPrefix = "sim:";
constexpr std::string_view kDefaultProduct = "HARNESS DISK";

int Refuse(const std::string& reason) {
  fmt::print(stderr, "ffs-storage-gadget: {}\n", reason);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"USB mass-storage gadget served through FunctionFS"};
  fwtool::harness::FunctionFsOptions options;
  std::vector<std::string> lunTexts{"plain"};
  std::string simDescription;
  app.add_option("--ffs", options.mountPoint, "mounted functionfs instance")->required();
  app.add_option("--ready", options.readyFile, "file created once the UDC may be bound");
  double simTimeScale = 1.0;
  app.add_option("--sim", simDescription, "simulated units (a farm description)");
  app.add_option("--sim-time-scale", simTimeScale,
                 "multiply the simulated units' bus, erase and program times")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--lun", lunTexts, "one logical unit per option, LUN 0 first")->take_all();
  app.add_flag("--trace", options.trace, "one line per command on stderr");
  CLI11_PARSE(app, argc, argv);

#ifdef FWTOOL_KERNEL_HARNESS_WITH_SIM
  std::shared_ptr<fwtool::sim::SimFarm> farm;
  if (!simDescription.empty()) {
    std::string error;
    farm = fwtool::sim::SimFarm::Create(simDescription, &error);
    if (!farm) return Refuse("--sim " + simDescription + ": " + error);
    // The USB bus is real here: the kernel and dummy_hcd carry every block,
    // so the units spend no simulated bus time of their own. Fetching from
    // flash, erasing and programming keep their times.
    fwtool::sim::BusTimings timings = farm->Timings();
    timings.commandLatency = fwtool::Duration{0};
    timings.bytesPerSecond = 0;
    timings.timeScale = simTimeScale;
    farm->SetTimings(timings);
    fwtool::SetSimulatorBackend(farm);
    fmt::print(stderr, "{}", farm->Describe());
  }
#else
  if (!simDescription.empty()) return Refuse("built without the simulated controllers");
#endif

  std::vector<std::unique_ptr<fwtool::PassThroughBackend>> owned;
  std::vector<LogicalUnit> units;
  for (const std::string& lunText : lunTexts) {
    if (lunText.starts_with(kPlainPrefix)) {
      const std::string product = lunText.size() > kPlainPrefix.size() + 1
                                      ? lunText.substr(kPlainPrefix.size() + 1)
                                      : std::string(kDefaultProduct);
      owned.push_back(std::make_unique<PlainDisk>(product));
      units.push_back({lunText, owned.back().get()});
    } else if (lunText.starts_with(kSimPrefix)) {
#ifdef FWTOOL_KERNEL_HARNESS_WITH_SIM
      if (!farm) return Refuse("--lun " + lunText + " needs --sim");
      const std::string_view number = std::string_view(lunText).substr(kSimPrefix.size());
      size_t index = 0;
      const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), index);
      if (ec != std::errc() || end != number.data() + number.size() || index >= farm->UnitCount())
        return Refuse(
            fmt::format("--lun {}: the farm has units 0 to {}", lunText, farm->UnitCount() - 1));
      units.push_back({farm->Unit(index).diskPath, farm.get()});
#else
      return Refuse("built without the simulated controllers");
#endif
    } else {
      return Refuse("unknown logical unit '" + lunText + "'");
    }
  }
  if (units.empty() || units.size() > 16) return Refuse("1 to 16 logical units");

  fwtool::harness::StorageTarget target(std::move(units));
  return fwtool::harness::ServeFunctionFs(options, target);
}
