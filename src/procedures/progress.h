// SPDX-License-Identifier: GPL-2.0-or-later
// How far a procedure has come, as the steps it declared: before it starts,
// a procedure names the steps it will take (back up, erase, program,
// verify...) with a weight each, the share of the time that step takes on a
// usual unit; while a step runs, it says how much of that step is done
// (blocks, pages, bytes). A step may declare steps of its own, which then
// share out its part. Views read one percentage for the whole operation
// and the step that runs now.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <span>
#include <vector>

namespace fwtool {

enum class ProgressStep {
  Prepare,   // the file, the unit's settings, the place of the firmware
  Backup,    // the flash read out, into a file or to be compared
  Erase,     // the erase and the check that it took
  Program,   // the new contents written
  Verify,    // read back and compared
  Settings,  // the unit's own settings written back
};

// A short English name: "back up", "erase"...
const char* ProgressStepName(ProgressStep step);

struct WeightedStep {
  ProgressStep step;
  int weight;  // share of the whole, against the other steps of the same list
};

struct ProgressState {
  bool running = false;  // steps are declared and the operation has not ended
  int percent = 0;       // of the whole operation, 0..100
  ProgressStep step = ProgressStep::Prepare;  // the innermost step running
};

class ProcedureProgress {
 public:
  using Listener = std::function<void(const ProgressState& state)>;

  // The listener is told of every change of the state (a step begun, the
  // percentage moved, the operation started or ended).
  int Subscribe(Listener listener);
  void Unsubscribe(int id);
  const ProgressState& State() const { return state_; }

  // The running step is `done` of `total` through. Within one step the
  // position never moves back; beginning the step again starts it anew.
  void Advance(uint64_t done, uint64_t total);

 private:
  friend class ProgressSteps;
  struct Frame {
    std::vector<WeightedStep> steps;
    int totalWeight = 0;
    size_t index = 0;
    double fraction = 0;  // of the running step
  };

  // The part of the whole that the running step of the innermost list holds.
  struct Share {
    double start = 0;
    double span = 1;
  };
  Share RunningShare() const;
  // Where the whole operation stands, 0..1.
  double Position() const;
  void Publish();

  std::vector<Frame> frames_;
  ProgressState state_;
  std::map<int, Listener> listeners_;
  int nextListenerId_ = 1;
};

// The steps of one piece of work, declared for as long as the object
// lives: the whole operation when nothing else is declared, else the step
// that runs now. The first step begins at once.
class ProgressSteps {
 public:
  ProgressSteps(ProcedureProgress& progress, std::span<const WeightedStep> steps)
      : ProgressSteps(progress, steps, 0) {}
  ProgressSteps(ProcedureProgress& progress, std::initializer_list<WeightedStep> steps)
      : ProgressSteps(progress, std::span<const WeightedStep>(steps.begin(), steps.size()), 0) {}
  // The same, with the step at `first` begun instead of the first.
  ProgressSteps(ProcedureProgress& progress, std::span<const WeightedStep> steps, size_t first);
  ~ProgressSteps();
  ProgressSteps(const ProgressSteps&) = delete;
  ProgressSteps& operator=(const ProgressSteps&) = delete;

  // Begins the step of this kind: the next one declared from the running
  // step on, else the first (a step taken again, as in a retry, starts
  // from its beginning).
  void Begin(ProgressStep step);
  // Begins the step declared after the running one.
  void Next();
  // Every declared step is done.
  void Finish();

 private:
  ProcedureProgress& progress_;
  size_t depth_;
};

// A piece of the running step, for as long as the object lives: the work
// inside reports as usual, and moves the step from `done` to `done + part`
// of its `total` units (a flash read in pieces, each piece its own read).
// A piece beyond the total stays at the step's end.
class ProgressPart {
 public:
  ProgressPart(ProcedureProgress& progress, uint64_t done, uint64_t part, uint64_t total);

 private:
  ProgressSteps steps_;
};

}  // namespace fwtool
