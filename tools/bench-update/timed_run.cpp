// SPDX-License-Identifier: GPL-2.0-or-later
#include "timed_run.h"

#include <algorithm>
#include <ctime>

#include "pass_through.h"
#include "transport.h"

namespace fwtool::bench {

namespace {

constexpr uint8_t kAtaPassThrough12 = 0xA1;
constexpr uint8_t kAtaStatusFeature = 0xEA;

double CpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

bool IsReadyPoll(const std::array<uint8_t, 16>& cdb) {
  const bool family = cdb[0] == 0xFF && cdb[1] == 0x04;
  // Flash status, the parallel part's busy flag, the ATA vendor status.
  return (family && (cdb[2] == 0x12 || cdb[2] == 0x00)) ||
         (cdb[0] == kAtaPassThrough12 && cdb[3] == kAtaStatusFeature);
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
// `workStart` (a virtual time of the run) to the end of the last command.
Duration ReplayFloor(std::string_view description, const RunMeasure& run, Duration workStart,
                     const std::vector<uint8_t>& flashAfterRun, bool& faithful) {
  auto clock = std::make_shared<VirtualClock>();
  const ScopedClock scopedClock(clock);
  std::string error;
  auto farm = sim::SimFarm::Create(description, &error);
  faithful = farm != nullptr;
  if (!farm) return Duration{0};
  const sim::SimController& controller = farm->Controller(0);
  for (size_t i = 0; i < run.log.size(); ++i) {
    const sim::LoggedCommand& c = run.log[i];
    if (i == run.firstCommand && clock->Now() < workStart) clock->Advance(workStart - clock->Now());
    if (IsReadyPoll(c.cdb)) continue;
    // The ideal host knows when the part is done and sends the next command
    // at once; a command the run sent to a busy part goes at once here too.
    const auto timing = run.timings.find(i);
    const bool waitForPart = timing == run.timings.end() || timing->second.readyAtArrival;
    const Duration ready = PartReadyAt(controller);
    if (waitForPart && ready != Duration::max() && ready > clock->Now())
      clock->Advance(ready - clock->Now());
    AlignedBuffer data;
    const PassThroughResult result = farm->Execute(RequestFor(c, data));
    if (result.scsiStatus != c.scsiStatus || result.transferred != c.transferred) faithful = false;
  }
  if (controller.Flash().Contents() != flashAfterRun) faithful = false;
  return clock->Now() - workStart;
}

}  // namespace

bool IsReadyPoll(const sim::LoggedCommand& command) {
  return IsReadyPoll(command.cdb);
}

// The run's virtual clock. It tells the host's own sleeps (between polls,
// settle times) from the time the unit takes inside a command, and counts
// only what passes after the unit's flash is ready: while the part is busy
// no host could do better.
class TimedRun::RunClock final : public Clock {
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
  bool afterPoll = false;  // the host's last command was a ready poll
  Duration polling{};
  Duration pauses{};

 private:
  VirtualClock clock_;
};

// The farm behind a wrapper that times each command and notes whether the
// unit's flash was ready when it arrived.
class TimedRun::TimedFarm final : public PassThroughBackend {
 public:
  TimedFarm(std::shared_ptr<sim::SimFarm> farm, RunClock& clock)
      : farm_(std::move(farm)), clock_(clock) {}

  PassThroughResult Execute(const PassThroughRequest& request) override {
    sim::SimUnit* unit = farm_->FindUnit(request.path);
    const size_t logged = unit != nullptr ? unit->controller->Log().size() : 0;
    const Duration start = clock_.Now();
    const Duration ready = unit != nullptr ? PartReadyAt(*unit->controller) : Duration{0};
    CommandTiming timing;
    timing.readyAtArrival = ready <= start;
    clock_.inCommand = true;
    PassThroughResult result = farm_->Execute(request);
    clock_.inCommand = false;
    clock_.afterPoll = IsReadyPoll(request.cdb);
    timing.time = clock_.Now() - start;
    timing.afterReady = AfterReady(start, clock_.Now(), ready);
    if (unit != nullptr && unit->controller->Log().size() > logged) timings[logged] = timing;
    return result;
  }

  std::map<size_t, CommandTiming> timings;  // by index in the unit's command log

 private:
  std::shared_ptr<sim::SimFarm> farm_;
  RunClock& clock_;
};

std::unique_ptr<TimedRun> TimedRun::Create(std::string_view description, std::string* error) {
  std::unique_ptr<TimedRun> run(new TimedRun);
  run->description_ = std::string(description);
  run->clock_ = std::make_shared<RunClock>();
  run->scopedClock_ = std::make_unique<ScopedClock>(run->clock_);
  run->farm_ = sim::SimFarm::Create(description, error);
  if (!run->farm_) return nullptr;
  run->timed_ = std::make_shared<TimedFarm>(run->farm_, *run->clock_);
  run->previousBackend_ = SetSimulatorBackend(run->timed_);
  return run;
}

TimedRun::~TimedRun() {
  if (timed_) SetSimulatorBackend(previousBackend_);
}

RunMeasure TimedRun::Measure(std::string_view path, const std::function<void()>& work,
                             ProcedureProgress* progress) {
  RunMeasure m;
  sim::SimUnit* unit = farm_->FindUnit(path);
  if (unit == nullptr) return m;
  sim::SimController& controller = *unit->controller;
  clock_->partReady = [&controller] { return PartReadyAt(controller); };
  clock_->polling = clock_->pauses = Duration{0};

  // The time of each step: what passed since the last change, given to the
  // step that ran until then.
  Duration stepSince = clock_->Now();
  std::optional<ProgressStep> step;
  int listener = 0;
  if (progress != nullptr) {
    listener = progress->Subscribe([&](const ProgressState& state) {
      const Duration now = clock_->Now();
      if (step) m.stepTimes[*step] += now - stepSince;
      stepSince = now;
      step = state.running ? std::optional<ProgressStep>(state.step) : std::nullopt;
    });
  }

  m.firstCommand = controller.Log().size();
  const Duration start = clock_->Now();
  const double startCpu = CpuMs();
  clock_->counting = true;
  clock_->afterPoll = false;
  work();
  clock_->counting = false;
  m.cpuMs = CpuMs() - startCpu;
  m.simulated = clock_->Now() - start;
  if (progress != nullptr) {
    progress->Unsubscribe(listener);
    if (step) m.stepTimes[*step] += clock_->Now() - stepSince;
  }
  m.pollingTime = clock_->polling;
  m.pauseTime = clock_->pauses;

  m.log = controller.Log();
  m.timings = timed_->timings;
  for (size_t i = m.firstCommand; i < m.log.size(); ++i) {
    ++m.commands;
    if (!IsReadyPoll(m.log[i])) continue;
    ++m.polls;
    const auto timing = m.timings.find(i);
    if (timing != m.timings.end()) m.pollingTime += timing->second.afterReady;
  }
  m.floor = ReplayFloor(description_, m, start, controller.Flash().Contents(), m.replayFaithful);
  return m;
}

}  // namespace fwtool::bench
