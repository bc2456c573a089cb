// SPDX-License-Identifier: GPL-2.0-or-later
#include "update_floor.h"

#include <filesystem>
#include <vector>

#include "Fwupdate.h"
#include "recording_operator.h"
#include "simulator.h"
#include "timed_run.h"

namespace fwtool::bench {

namespace {

bool IsFlashWrite(const sim::LoggedCommand& c) {
  return c[0] == 0xDF && c[11] == 0xFB;
}

uint32_t FlashAddress(const sim::LoggedCommand& c) {
  return static_cast<uint32_t>(c[8] << 16 | c[9] << 8 | c[10]);
}

// The least time to erase `bytes` from address 0 with the part's own
// instructions (whole units) or, when the part is no larger, one chip erase.
Duration FastestErase(const sim::FlashPartSpec& part, uint32_t bytes) {
  Duration best = Duration::max();
  for (const auto& instruction : part.eraseInstructions) {
    if (instruction.unit == 0) continue;
    const uint32_t units = (bytes + instruction.unit - 1) / instruction.unit;
    best = std::min(best, instruction.time * static_cast<int64_t>(units));
  }
  if (part.size <= bytes && part.chipEraseTime.count() > 0)
    best = std::min(best, part.chipEraseTime);
  return best != Duration::max() ? best : part.EraseTime(bytes);
}

// Back up, erase, program and verify 64 KB in 8 KB transfers.
Duration TaskFloor(const sim::BusTimings& bus, const sim::FlashPartSpec& part) {
  constexpr uint64_t kTask = 65536;
  constexpr uint64_t kTransfer = 8192;
  using sim::FloorOpKind;
  const std::vector<sim::FloorOp> ops = {
      {FloorOpKind::Command, kTransfer, kTask / kTransfer},  // back up
      {FloorOpKind::FlashRead, kTask, 1},
      {FloorOpKind::Command, kTransfer, kTask / kTransfer},  // program
      {FloorOpKind::Program, kTask, 1},
      {FloorOpKind::Command, kTransfer, kTask / kTransfer},  // verify
      {FloorOpKind::FlashRead, kTask, 1},
  };
  return sim::PhysicalFloor(bus, part, ops) + FastestErase(part, kTask);
}

}  // namespace

std::optional<UpdateMeasure> MeasureUpdate(std::string_view description, std::string* error) {
  auto run = TimedRun::Create(description, error);
  if (!run) return std::nullopt;
  RecordingOperator op;
  ClockTimerService timers;
  auto enumerator = run->Farm().Enumerator();
  TV77xFwTool form(op, *enumerator, timers);
  if (form.ListedCount() == 0) {
    if (error != nullptr) *error = "no unit to update";
    return std::nullopt;
  }
  const std::string path = form.Devices[0].Path;
  sim::SimUnit* unit = run->Farm().FindUnit(path);
  const auto backup =
      std::filesystem::temp_directory_path() /
      ("fwtool-bench-" + std::to_string(reinterpret_cast<uintptr_t>(&form)) + ".bin");
  form.SetBackupTarget(backup.string());

  const RunMeasure r = run->Measure(
      path, [&] { form.EraseButton.Click(); }, &form.Progress());
  std::filesystem::remove(backup);

  UpdateMeasure m;
  m.unit = std::string(description);
  m.done = form.Face() == OneClickFace::Done;
  m.commands = r.commands;
  m.polls = r.polls;
  m.simulated = r.simulated;
  m.floor = r.floor;
  m.pollingTime = r.pollingTime;
  m.pauseTime = r.pauseTime;
  m.replayFaithful = r.replayFaithful;
  m.cpuMs = r.cpuMs;
  m.stepTimes = r.stepTimes;

  std::vector<size_t> writes;
  for (size_t i = r.firstCommand; i < r.log.size(); ++i)
    if (IsFlashWrite(r.log[i])) writes.push_back(i);
  // The pre-write: a write at address 0 that the first attempt writes
  // again from address 0.
  if (writes.size() >= 2 && FlashAddress(r.log[writes[0]]) == 0 &&
      FlashAddress(r.log[writes[1]]) == 0) {
    const auto timing = r.timings.find(writes[0]);
    if (timing != r.timings.end()) m.preWriteTime = timing->second.time;
  }
  const auto& controller = *unit->controller;
  m.taskFloor = TaskFloor(controller.Timings(), controller.Flash().Part());
  return m;
}

}  // namespace fwtool::bench
