// Runs the one-click update ("YES") on the first listed simulated unit with
// the virtual clock and prints, one figure a line:
//   commands      blocks the unit received during the update
//   simulated_ms  virtual time the update took
//   floor_ms      what the timing model says the same transfers, erases and
//                 programs cost at the least (status polls left out: they
//                 are the waiting, not the work)
//   cpu_ms        host CPU time of the update
//   ratio         simulated_ms / floor_ms
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Fwupdate.h"
#include "IDEAccess.h"
#include "recording_operator.h"
#include "simulator.h"

namespace {

using namespace fwtool;

double CpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// The transfers, erases and programs the logged commands asked the unit for.
std::vector<sim::FloorOp> FloorOps(const std::vector<sim::LoggedCommand>& log,
                                   const FlashSettings& settings) {
  std::vector<sim::FloorOp> ops;
  for (const auto& c : log) {
    const uint64_t bytes = c.length;
    // Status polls are the waiting itself, not work the update needs.
    const bool statusPoll = c[0] == 0xFF && c[1] == 0x04 && c[2] == 0x12;
    if (statusPoll) continue;
    ops.push_back({sim::FloorOpKind::Command, bytes, 1});
    const bool flashBlock = c[0] == 0xDF && (c[11] == 0xFA || c[11] == 0xFB);
    if (!flashBlock || c.scsiStatus != 0) continue;
    if (c[11] == 0xFA) {
      ops.push_back({sim::FloorOpKind::FlashRead, bytes, 1});
      continue;
    }
    const uint32_t address = static_cast<uint32_t>(c[8] << 16 | c[9] << 8 | c[10]);
    switch (c[1] & 0x07) {
      case 1:
      case 4:
        ops.push_back({sim::FloorOpKind::Erase, static_cast<uint64_t>(settings.SmallEraseUnit), 1});
        break;
      case 2:
      case 5:
        ops.push_back({sim::FloorOpKind::Erase, static_cast<uint64_t>(settings.LargeEraseUnit), 1});
        break;
      case 3:
      case 6:
      case 7:
        if (address == 0) ops.push_back({sim::FloorOpKind::ChipErase, 0, 1});
        break;
      default:
        break;
    }
    ops.push_back({sim::FloorOpKind::Program, bytes, 1});
  }
  return ops;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string description = argc > 1 ? argv[1] : "vqb719";
  auto clock = std::make_shared<VirtualClock>();
  ScopedClock scopedClock(clock);
  std::string error;
  auto farm = sim::SimFarm::Create(description, &error);
  if (!farm) {
    std::fprintf(stderr, "fwtool-bench-update: %s\n", error.c_str());
    return 2;
  }
  sim::ScopedSimulatorBackend backend(farm);
  RecordingOperator op;
  ClockTimerService timers;
  auto enumerator = farm->Enumerator();
  TV77xFwTool form(op, *enumerator, timers);
  if (form.ListedCount() == 0) {
    std::fprintf(stderr, "fwtool-bench-update: no unit to update\n");
    return 1;
  }
  sim::SimUnit* unit = farm->FindUnit(form.Devices[0].Path);
  const auto backup = std::filesystem::temp_directory_path() /
                      ("fwtool-bench-" + std::to_string(::getpid()) + ".bin");
  form.SetBackupTarget(backup.string());

  unit->controller->ClearLog();
  const Duration startTime = clock->Now();
  const double startCpu = CpuMs();
  form.EraseButton.Click();
  const double cpuMs = CpuMs() - startCpu;
  const Duration simulated = clock->Now() - startTime;
  std::filesystem::remove(backup);

  const auto& log = unit->controller->Log();
  const auto ops = FloorOps(log, form.Settings);
  const Duration floor =
      sim::PhysicalFloor(unit->controller->Timings(), unit->controller->Flash().Part(), ops);
  const bool ok = form.Face() == OneClickFace::Done;
  std::printf("unit=%s\n", description.c_str());
  std::printf("result=%s\n", ok ? "done" : "failed");
  size_t polls = 0;
  for (const auto& c : log) polls += c[0] == 0xFF && c[1] == 0x04 && c[2] == 0x12 ? 1 : 0;
  std::printf("commands=%zu\n", log.size());
  std::printf("status_polls=%zu\n", polls);
  std::printf("simulated_ms=%.3f\n", sim::ToMilliseconds(simulated));
  std::printf("floor_ms=%.3f\n", sim::ToMilliseconds(floor));
  std::printf("cpu_ms=%.3f\n", cpuMs);
  std::printf("ratio=%.3f\n", sim::ToMilliseconds(floor) > 0
                                  ? sim::ToMilliseconds(simulated) / sim::ToMilliseconds(floor)
                                  : 0.0);
  return ok ? 0 : 1;
}
