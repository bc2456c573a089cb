#include "update_floor.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <vector>

#include "Fwupdate.h"
#include "clock.h"
#include "pass_through.h"
#include "recording_operator.h"
#include "simulator.h"
#include "transport.h"

namespace fwtool::bench {

namespace {

bool IsStatusPoll(const std::array<uint8_t, 16>& cdb) {
  return cdb[0] == 0xFF && cdb[1] == 0x04 && cdb[2] == 0x12;
}

bool IsFlashWrite(const sim::LoggedCommand& c) {
  return c[0] == 0xDF && c[11] == 0xFB;
}

uint32_t FlashAddress(const sim::LoggedCommand& c) {
  return static_cast<uint32_t>(c[8] << 16 | c[9] << 8 | c[10]);
}

double CpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// When the unit's flash (serial or parallel) finishes what it is doing;
// Duration::max() while it never will.
Duration PartReadyAt(const sim::SimController& controller) {
  Duration ready = controller.Flash().ReadyAt();
  if (const auto* parallel = controller.Parallel()) ready = std::max(ready, parallel->ReadyAt());
  return ready;
}

// The part of [start, end) after the part became ready: time spent waiting
// for nothing.
Duration AfterReady(Duration start, Duration end, Duration ready) {
  const Duration from = std::max(start, ready);
  return end > from ? end - from : Duration{0};
}

// The run's virtual clock. It tells the host's own sleeps (between polls,
// settle times) from the time the unit takes inside a command, and counts
// only what passes after the unit's flash is ready: while the part is busy
// no host could do better.
class RunClock final : public Clock {
 public:
  Duration Now() const override { return clock_.Now(); }
  void Sleep(Duration d) override {
    const Duration start = clock_.Now();
    clock_.Advance(d);
    if (inCommand || !counting) return;
    const Duration idle = partReady ? AfterReady(start, clock_.Now(), partReady()) : d;
    (afterPoll ? polling : pauses) += idle;
  }

  std::function<Duration()> partReady;
  bool inCommand = false;
  bool counting = false;
  bool afterPoll = false;  // the host's last command was a status poll
  Duration polling{};
  Duration pauses{};

 private:
  VirtualClock clock_;
};

// What the run saw of one command that reached the unit.
struct RunRecord {
  bool readyAtArrival = true;
  Duration time{};
  Duration afterReady{};  // of `time`, what passed after the part was ready
};

// The farm behind a wrapper that times each command and notes whether the
// unit's flash was ready when it arrived.
class TimedFarm final : public PassThroughBackend {
 public:
  TimedFarm(std::shared_ptr<sim::SimFarm> farm, RunClock& clock)
      : farm_(std::move(farm)), clock_(clock) {}

  PassThroughResult Execute(const PassThroughRequest& request) override {
    sim::SimUnit* unit = farm_->FindUnit(request.path);
    const size_t logged = unit != nullptr ? unit->controller->Log().size() : 0;
    const Duration start = clock_.Now();
    const Duration ready = unit != nullptr ? PartReadyAt(*unit->controller) : Duration{0};
    RunRecord record;
    record.readyAtArrival = ready <= start;
    clock_.inCommand = true;
    PassThroughResult result = farm_->Execute(request);
    clock_.inCommand = false;
    clock_.afterPoll = IsStatusPoll(request.cdb);
    record.time = clock_.Now() - start;
    record.afterReady = AfterReady(start, clock_.Now(), ready);
    if (unit != nullptr && unit->controller->Log().size() > logged) records[logged] = record;
    return result;
  }

  std::map<size_t, RunRecord> records;  // by index in the unit's command log

 private:
  std::shared_ptr<sim::SimFarm> farm_;
  RunClock& clock_;
};

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

PassThroughRequest RequestFor(const sim::LoggedCommand& c, AlignedBuffer& data) {
  PassThroughRequest request;
  request.path = c.path;
  request.cdb = c.cdb;
  request.cdbLength = c.cdbLength;
  request.direction = c.direction;
  request.length = c.length;
  request.exclusive = c.direction == DataDirection::Out;
  request.timeoutSeconds =
      c.direction == DataDirection::In ? kDataInTimeout : DataOutTimeout(c.cdb.data(), c.cdbLength);
  if (c.length != 0) {
    data = AlignedBuffer(c.length);
    if (c.direction == DataDirection::Out)
      std::copy_n(c.dataOut.begin(), std::min<size_t>(c.dataOut.size(), c.length), data.data());
    request.data = data.data();
  }
  return request;
}

// Replays the run's log on a fresh unit; returns the replay's time from
// `updateStart` (a virtual time of the run) to the end of the last command.
Duration ReplayFloor(std::string_view description, const std::vector<sim::LoggedCommand>& log,
                     const std::map<size_t, RunRecord>& records, size_t firstOfUpdate,
                     Duration updateStart, const std::vector<uint8_t>& flashAfterRun,
                     bool& faithful) {
  auto clock = std::make_shared<VirtualClock>();
  const ScopedClock scopedClock(clock);
  std::string error;
  auto farm = sim::SimFarm::Create(description, &error);
  faithful = farm != nullptr;
  if (!farm) return Duration{0};
  const sim::SimController& controller = farm->Controller(0);
  for (size_t i = 0; i < log.size(); ++i) {
    const sim::LoggedCommand& c = log[i];
    if (i == firstOfUpdate && clock->Now() < updateStart)
      clock->Advance(updateStart - clock->Now());
    if (IsStatusPoll(c.cdb)) continue;
    // The ideal host knows when the part is done and sends the next command
    // at once; a command the run sent to a busy part goes at once here too.
    const auto record = records.find(i);
    const bool waitForPart = record == records.end() || record->second.readyAtArrival;
    const Duration ready = PartReadyAt(controller);
    if (waitForPart && ready != Duration::max() && ready > clock->Now())
      clock->Advance(ready - clock->Now());
    AlignedBuffer data;
    const PassThroughResult result = farm->Execute(RequestFor(c, data));
    if (result.scsiStatus != c.scsiStatus || result.transferred != c.transferred) faithful = false;
  }
  if (controller.Flash().Contents() != flashAfterRun) faithful = false;
  return clock->Now() - updateStart;
}

}  // namespace

std::optional<UpdateMeasure> MeasureUpdate(std::string_view description, std::string* error) {
  auto clock = std::make_shared<RunClock>();
  const ScopedClock scopedClock(clock);
  auto farm = sim::SimFarm::Create(description, error);
  if (!farm) return std::nullopt;
  auto timed = std::make_shared<TimedFarm>(farm, *clock);
  const auto previous = SetSimulatorBackend(timed);
  struct Restore {
    std::shared_ptr<PassThroughBackend> backend;
    ~Restore() { SetSimulatorBackend(backend); }
  } restore{previous};

  RecordingOperator op;
  ClockTimerService timers;
  auto enumerator = farm->Enumerator();
  TV77xFwTool form(op, *enumerator, timers);
  if (form.ListedCount() == 0) {
    if (error != nullptr) *error = "no unit to update";
    return std::nullopt;
  }
  sim::SimUnit* unit = farm->FindUnit(form.Devices[0].Path);
  clock->partReady = [unit] { return PartReadyAt(*unit->controller); };
  const auto backup =
      std::filesystem::temp_directory_path() /
      ("fwtool-bench-" + std::to_string(reinterpret_cast<uintptr_t>(&form)) + ".bin");
  form.SetBackupTarget(backup.string());

  UpdateMeasure m;
  m.unit = std::string(description);
  const size_t firstOfUpdate = unit->controller->Log().size();
  const Duration start = clock->Now();
  const double startCpu = CpuMs();
  clock->counting = true;
  clock->afterPoll = false;
  form.EraseButton.Click();
  clock->counting = false;
  m.cpuMs = CpuMs() - startCpu;
  m.simulated = clock->Now() - start;
  std::filesystem::remove(backup);
  m.done = form.Face() == OneClickFace::Done;
  m.pollingTime = clock->polling;
  m.pauseTime = clock->pauses;

  const std::vector<sim::LoggedCommand> log = unit->controller->Log();
  std::vector<size_t> writes;
  for (size_t i = firstOfUpdate; i < log.size(); ++i) {
    const auto& c = log[i];
    ++m.commands;
    if (IsStatusPoll(c.cdb)) {
      ++m.polls;
      const auto record = timed->records.find(i);
      if (record != timed->records.end()) m.pollingTime += record->second.afterReady;
    } else if (IsFlashWrite(c)) {
      writes.push_back(i);
    }
  }
  // The pre-write: a write at address 0 that the first attempt writes
  // again from address 0.
  if (writes.size() >= 2 && FlashAddress(log[writes[0]]) == 0 &&
      FlashAddress(log[writes[1]]) == 0) {
    const auto record = timed->records.find(writes[0]);
    if (record != timed->records.end()) m.preWriteTime = record->second.time;
  }
  const auto& part = unit->controller->Flash().Part();
  m.taskFloor = TaskFloor(unit->controller->Timings(), part);
  m.floor = ReplayFloor(description, log, timed->records, firstOfUpdate, start,
                        unit->controller->Flash().Contents(), m.replayFaithful);
  return m;
}

}  // namespace fwtool::bench
