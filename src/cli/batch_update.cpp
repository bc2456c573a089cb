// SPDX-License-Identifier: GPL-2.0-or-later
// fwtool update --all: the one-click update of every unit at once.
//
// Each unit gets what a single update has: its own form (over a device list
// that holds only that unit), its own thread, its own backup file and its own
// run of the one-click procedure; the rules of the one-click face hold per
// unit. The units are looked at side by side, the operator is asked once,
// then every unit is written side by side. Output of the unit threads goes
// through one display, a line per unit.
#include "batch_update.h"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "Fwupdate.h"
#include "form_texts.h"
#include "history.h"
#include "host_services.h"
#include "terminal_session.h"

namespace fwtool::cli {

namespace {

using nlohmann::json;

constexpr int kBarWidth = 20;

std::string UnitLabel(size_t unit) {
  return fmt::format("unit {}", unit);
}

// Every line the unit threads print goes through here, so lines never mix.
// Live (a terminal): one line per unit, redrawn in place, with box texts
// held until the end. Plain: a line per step and per progress change, each
// named after its unit.
class BatchDisplay {
 public:
  BatchDisplay(bool live, bool quiet) : live_(live && !quiet), quiet_(quiet) {}

  // The units whose progress is shown from now on.
  void Begin(const std::vector<size_t>& units) {
    std::lock_guard lock(mutex_);
    for (size_t unit : units) lines_[unit] = fmt::format("{}  waiting", UnitLabel(unit));
    if (live_) Redraw();
  }

  void Progress(size_t unit, int position, const std::string& status) {
    std::lock_guard lock(mutex_);
    if (quiet_) return;
    if (live_) {
      const int filled = std::clamp(position, 0, 100) * kBarWidth / 100;
      lines_[unit] = fmt::format("{}  [{}{}] {:3}%  {}", UnitLabel(unit), std::string(filled, '#'),
                                 std::string(kBarWidth - filled, '.'), position, status);
      Redraw();
      return;
    }
    // The step without its dots, and the bar when it moved.
    Seen& seen = seen_[unit];
    const std::string step = status.substr(0, status.find_last_not_of('.') + 1);
    if (position != seen.position) {
      std::printf("%s: progress %d%%\n", UnitLabel(unit).c_str(), position);
      seen.position = position;
    }
    if (!step.empty() && step != seen.step) {
      std::printf("%s: status %s\n", UnitLabel(unit).c_str(), status.c_str());
      seen.step = step;
    }
    std::fflush(stdout);
  }

  // A box or debug text of a unit: on stderr, after the live lines.
  void Note(size_t unit, const std::string& text) {
    std::lock_guard lock(mutex_);
    const std::string line = fmt::format("{}: {}", UnitLabel(unit), text);
    if (live_) {
      held_.push_back(line);
      return;
    }
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", line.c_str());
  }

  // A line under the units' lines (the held Ctrl-C).
  void Footer(const std::string& text) {
    std::lock_guard lock(mutex_);
    if (live_) {
      footer_ = text;
      Redraw();
      return;
    }
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", text.c_str());
  }

  // Ends the live lines and prints the held box texts.
  void Finish() {
    std::lock_guard lock(mutex_);
    live_ = false;
    std::fflush(stdout);
    for (const auto& line : held_) std::fprintf(stderr, "%s\n", line.c_str());
    held_.clear();
  }

 private:
  struct Seen {
    int position = -1;
    std::string step;
  };

  void Redraw() {
    if (drawn_ != 0) std::printf("\x1b[%zuA", drawn_);
    for (const auto& [unit, line] : lines_) std::printf("\r\x1b[K%s\n", line.c_str());
    drawn_ = lines_.size();
    if (!footer_.empty()) {
      std::printf("\r\x1b[K%s\n", footer_.c_str());
      ++drawn_;
    }
    std::fflush(stdout);
  }

  std::mutex mutex_;
  bool live_;
  bool quiet_;
  std::map<size_t, std::string> lines_;
  std::map<size_t, Seen> seen_;
  std::vector<std::string> held_;
  std::string footer_;
  size_t drawn_ = 0;
};

// The operator of one unit's form: boxes become lines of the display, the
// file dialog is never answered, and processing pending messages fires the
// unit's own timers. Ctrl-C is the batch's to take, not a unit's.
class UnitOperator final : public OperatorServices {
 public:
  UnitOperator(ClockTimerService& timers, BatchDisplay& display, size_t unit, bool debug)
      : timers_(timers), display_(display), unit_(unit), debug_(debug) {}

  void MessageBox(const std::string& text, const std::string& caption, MessageIcon) override {
    display_.Note(unit_, caption + ": " + text);
  }
  void SimpleMessage(const std::string& text) override { display_.Note(unit_, text); }
  std::optional<std::string> OpenFileDialog(const FileDialogRequest&) override {
    return std::nullopt;
  }
  void ProcessMessages() override { timers_.FireDue(); }
  void DebugOutput(const std::string& text) override {
    if (debug_) display_.Note(unit_, text.substr(0, text.find_last_not_of('\n') + 1));
  }

 private:
  ClockTimerService& timers_;
  BatchDisplay& display_;
  size_t unit_;
  bool debug_;
};

enum class UnitResult { NotTarget, AlreadyUpdated, NotRecognised, ToUpdate, Updated, Failed };

const char* ResultName(UnitResult result) {
  switch (result) {
    case UnitResult::NotTarget:
      return "not a target chip";
    case UnitResult::AlreadyUpdated:
      return "already updated";
    case UnitResult::NotRecognised:
      return "not recognised";
    case UnitResult::ToUpdate:
      return "not written";
    case UnitResult::Updated:
      return "updated";
    case UnitResult::Failed:
      return "failed";
  }
  return "?";
}

bool IsFailure(UnitResult result) {
  return result == UnitResult::Failed || result == UnitResult::NotRecognised;
}

struct UnitRun {
  size_t unit = 0;
  std::string path;
  FixedInterfaces enumerator;  // the unit's disk interface only
  ClockTimerService timers;
  UnitOperator op;
  std::unique_ptr<TV77xFwTool> form;
  UnitResult result = UnitResult::NotTarget;
  std::string item;
  std::string status;  // the status line when the update ended
  std::string backup;  // the unit's backup file, empty when none was written

  UnitRun(size_t number, std::string interfacePath, std::shared_ptr<InterfaceEnumerator> devices,
          BatchDisplay& display, bool debug)
      : unit(number),
        path(interfacePath),
        enumerator({std::move(interfacePath)}, {}, std::move(devices)),
        op(timers, display, number, debug) {}
};

// Looks at the unit as the window's device list would (identification, the
// already-updated test, the information check of the selected entry).
void Survey(UnitRun& run) {
  // Each unit's record goes into the one history, under its lock.
  run.form = std::make_unique<TV77xFwTool>(run.op, run.enumerator, run.timers, nullptr,
                                           FormOptions{.historyPath = DefaultHistoryPath()});
  const auto& survey = run.form->Survey();
  if (survey.empty()) return;
  switch (survey.front().outcome) {
    case DeviceSurveyEntry::Outcome::NotTarget:
      run.result = UnitResult::NotTarget;
      return;
    case DeviceSurveyEntry::Outcome::AlreadyUpdated:
      run.result = UnitResult::AlreadyUpdated;
      return;
    case DeviceSurveyEntry::Outcome::Unrecognised:
      run.result = UnitResult::NotRecognised;
      return;
    case DeviceSurveyEntry::Outcome::Listed:
      run.result =
          run.form->Face() == OneClickFace::Ready ? UnitResult::ToUpdate : UnitResult::NotTarget;
      run.item = run.form->DeviceList.Text();
      return;
  }
}

// The update behind "YES" on the unit's form.
void Update(UnitRun& run, BatchDisplay& display) {
  TV77xFwTool& form = *run.form;
  const int id = form.Subscribe([&](const Control& control, ControlProperty property) {
    const bool bar = &control == &form.FwUpdatBar;
    const bool status = &control == &form.StatusEdit && property == ControlProperty::Text;
    if ((bar || status) && form.FwUpdatBar.Visible())
      display.Progress(run.unit, form.FwUpdatBar.Position(), form.StatusEdit.Text());
  });
  form.OneClickUpdate({});
  form.Unsubscribe(id);
  run.result = form.Face() == OneClickFace::Done ? UnitResult::Updated : UnitResult::Failed;
  run.status = form.StatusEdit.Text();
  run.backup = form.LastBackupPath();
  if (!form.HistoryError().empty())
    display.Note(run.unit, texts::kHistoryFailedNotice + form.HistoryError());
}

// Runs `work` for every run on a thread of its own and waits for all.
// While it waits, Ctrl-C only says that closing is held.
template <typename Work>
void OnEveryUnit(const std::vector<UnitRun*>& runs, BatchDisplay* display, Work work) {
  std::mutex mutex;
  std::condition_variable done;
  size_t remaining = runs.size();
  std::vector<std::thread> threads;
  threads.reserve(runs.size());
  for (UnitRun* run : runs) {
    threads.emplace_back([&, run] {
      work(*run);
      std::lock_guard lock(mutex);
      --remaining;
      done.notify_all();
    });
  }
  {
    std::unique_lock lock(mutex);
    bool told = false;
    while (remaining != 0) {
      done.wait_for(lock, std::chrono::milliseconds(100));
      if (display != nullptr && host::TakeInterruptRequest() && !told) {
        display->Footer(texts::kCloseHeldNotice);
        told = true;
      }
    }
  }
  for (auto& thread : threads) thread.join();
}

struct Counts {
  int updated = 0;
  int failed = 0;
  int already = 0;
};

Counts CountResults(const std::vector<std::unique_ptr<UnitRun>>& runs) {
  Counts counts;
  for (const auto& run : runs) {
    counts.updated += run->result == UnitResult::Updated;
    counts.failed += IsFailure(run->result);
    counts.already += run->result == UnitResult::AlreadyUpdated;
  }
  return counts;
}

json ResultJson(const std::vector<std::unique_ptr<UnitRun>>& runs) {
  json units = json::array();
  for (const auto& run : runs) {
    if (run->result == UnitResult::NotTarget) continue;
    units.push_back({{"unit", run->unit},
                     {"path", run->path},
                     {"item", run->item.empty() ? json(nullptr) : json(run->item)},
                     {"result", ResultName(run->result)},
                     {"status", run->status},
                     {"backup", run->backup.empty() ? json(nullptr) : json(run->backup)}});
  }
  const Counts counts = CountResults(runs);
  return {{"units", units},
          {"updated", counts.updated},
          {"failed", counts.failed},
          {"alreadyUpdated", counts.already}};
}

void PrintTable(const std::vector<std::unique_ptr<UnitRun>>& runs) {
  std::vector<std::array<std::string, 4>> rows = {{"unit", "path", "result", "backup file"}};
  for (const auto& run : runs) {
    if (run->result == UnitResult::NotTarget) continue;
    std::string result = ResultName(run->result);
    if (run->result == UnitResult::Failed && !run->status.empty()) result += ": " + run->status;
    rows.push_back(
        {std::to_string(run->unit), run->path, result, run->backup.empty() ? "-" : run->backup});
  }
  std::array<size_t, 4> width{};
  for (const auto& row : rows)
    for (size_t c = 0; c < row.size(); ++c) width[c] = std::max(width[c], row[c].size());
  for (const auto& row : rows)
    std::printf("%s\n", fmt::format("{:<{}}  {:<{}}  {:<{}}  {}", row[0], width[0], row[1],
                                    width[1], row[2], width[2], row[3])
                            .c_str());
  const Counts counts = CountResults(runs);
  std::printf("%d updated, %d failed, %d already updated.\n", counts.updated, counts.failed,
              counts.already);
  if (counts.updated > 0) std::printf("Please power cycle every updated device.\n");
}

}  // namespace

int RunBatchUpdate(CliContext& ctx, const BatchOptions& options) {
  if (!options.yes && !host::IsTerminal(host::StandardStream::Input)) {
    std::fprintf(stderr, "fwtool update: not asking on a non-terminal; give --yes to update.\n");
    return kExitUsage;
  }
  const bool live = host::IsTerminal(host::StandardStream::Output) && !ctx.trace;
  BatchDisplay display(live, options.json);

  // A unit that also shows a CD-ROM interface is reached through its disk
  // interface only: two runs on one flash would spoil it.
  std::vector<std::unique_ptr<UnitRun>> runs;
  const std::shared_ptr<InterfaceEnumerator> devices = Devices(ctx);
  for (const std::string& path : devices->DiskInterfaces())
    runs.push_back(std::make_unique<UnitRun>(runs.size(), path, devices, display, ctx.trace));
  std::vector<UnitRun*> all;
  for (auto& run : runs) all.push_back(run.get());
  OnEveryUnit(all, nullptr, [](UnitRun& run) { Survey(run); });

  std::vector<UnitRun*> toUpdate;
  for (auto& run : runs)
    if (run->result == UnitResult::ToUpdate) toUpdate.push_back(run.get());
  if (toUpdate.empty()) {
    const bool already = std::any_of(runs.begin(), runs.end(), [](const auto& run) {
      return run->result == UnitResult::AlreadyUpdated;
    });
    if (options.json) {
      std::printf("%s\n", ResultJson(runs).dump(2).c_str());
    } else {
      std::printf("%s\n",
                  Trimmed(already ? texts::kAlreadyUpdatedNotice : texts::kNoDeviceNotice).c_str());
      const std::string problem = Devices(ctx)->AccessProblem();
      if (!problem.empty()) std::printf("%s\n", problem.c_str());
    }
    return kExitFailed;
  }

  if (!options.json) {
    std::printf("Units to update:\n");
    for (const UnitRun* run : toUpdate)
      std::printf("  %s: %s (%s)\n", UnitLabel(run->unit).c_str(), run->item.c_str(),
                  run->path.c_str());
    for (const auto& run : runs)
      if (run->result == UnitResult::AlreadyUpdated)
        std::printf("  %s: already updated (%s)\n", UnitLabel(run->unit).c_str(),
                    run->path.c_str());
  }
  if (!options.yes && !AskYesNo(texts::kPrompt)) {
    std::printf("Nothing written.\n");
    return kExitFailed;
  }

  std::vector<size_t> shown;
  for (const UnitRun* run : toUpdate) shown.push_back(run->unit);
  display.Begin(shown);
  {
    host::InterruptHold hold;
    OnEveryUnit(toUpdate, &display, [&](UnitRun& run) { Update(run, display); });
  }
  display.Finish();
  const bool allUpdated = std::all_of(toUpdate.begin(), toUpdate.end(), [](const UnitRun* run) {
    return run->result == UnitResult::Updated;
  });
  const bool anyFailed =
      std::any_of(runs.begin(), runs.end(), [](const auto& run) { return IsFailure(run->result); });
  if (options.json) {
    std::printf("%s\n", ResultJson(runs).dump(2).c_str());
  } else {
    PrintTable(runs);
  }
  return allUpdated && !anyFailed ? kExitOk : kExitFailed;
}

}  // namespace fwtool::cli
