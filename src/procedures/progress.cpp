// SPDX-License-Identifier: GPL-2.0-or-later
#include "progress.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace fwtool {

const char* ProgressStepName(ProgressStep step) {
  switch (step) {
    case ProgressStep::Prepare:
      return "prepare";
    case ProgressStep::Backup:
      return "back up";
    case ProgressStep::Erase:
      return "erase";
    case ProgressStep::Program:
      return "program";
    case ProgressStep::Verify:
      return "verify";
    case ProgressStep::Settings:
      return "settings";
  }
  return "?";
}

int ProcedureProgress::Subscribe(Listener listener) {
  const int id = nextListenerId_++;
  listeners_[id] = std::move(listener);
  return id;
}

void ProcedureProgress::Unsubscribe(int id) {
  listeners_.erase(id);
}

void ProcedureProgress::Advance(uint64_t done, uint64_t total) {
  if (frames_.empty() || total == 0) return;
  Frame& frame = frames_.back();
  const double fraction = std::min(1.0, static_cast<double>(done) / static_cast<double>(total));
  if (fraction <= frame.fraction) return;
  frame.fraction = fraction;
  Publish();
}

ProcedureProgress::Share ProcedureProgress::RunningShare() const {
  // Each list of steps shares out the part its enclosing step holds.
  Share share;
  for (const Frame& frame : frames_) {
    if (frame.totalWeight <= 0 || frame.index >= frame.steps.size()) continue;
    int before = 0;
    for (size_t i = 0; i < frame.index; ++i) before += frame.steps[i].weight;
    share.start += share.span * before / frame.totalWeight;
    share.span *= static_cast<double>(frame.steps[frame.index].weight) / frame.totalWeight;
  }
  return share;
}

double ProcedureProgress::Position() const {
  const Share share = RunningShare();
  const double fraction = frames_.empty() ? 0 : frames_.back().fraction;
  return std::clamp(share.start + share.span * fraction, 0.0, 1.0);
}

void ProcedureProgress::Publish() {
  ProgressState next;
  next.running = !frames_.empty();
  next.percent = state_.percent;
  next.step = state_.step;
  if (next.running) {
    // A hair above the exact value: 0.29 * 100 must read 29, not 28.
    next.percent = static_cast<int>(std::floor(Position() * 100.0 + 1e-9));
    const Frame& innermost = frames_.back();
    if (innermost.index < innermost.steps.size()) next.step = innermost.steps[innermost.index].step;
  }
  if (next.running == state_.running && next.percent == state_.percent && next.step == state_.step)
    return;
  state_ = next;
  // A listener may unsubscribe itself while being told.
  const auto listeners = listeners_;
  for (const auto& [id, listener] : listeners)
    if (listener) listener(state_);
}

ProgressSteps::ProgressSteps(ProcedureProgress& progress, std::span<const WeightedStep> steps,
                             size_t first)
    : progress_(progress), depth_(progress.frames_.size()) {
  ProcedureProgress::Frame frame;
  frame.steps.assign(steps.begin(), steps.end());
  frame.index = std::min(first, frame.steps.empty() ? 0 : frame.steps.size() - 1);
  for (const WeightedStep& step : frame.steps) frame.totalWeight += std::max(step.weight, 0);
  progress_.frames_.push_back(std::move(frame));
  progress_.Publish();
}

ProgressSteps::~ProgressSteps() {
  auto& frames = progress_.frames_;
  if (frames.size() != depth_ + 1) return;  // not the innermost: left to its owner
  const double reached = progress_.Position();
  frames.pop_back();
  if (!frames.empty()) {
    // The enclosing step stands where its own steps left it.
    const ProcedureProgress::Share share = progress_.RunningShare();
    if (share.span > 0)
      frames.back().fraction = std::clamp((reached - share.start) / share.span, 0.0, 1.0);
  }
  progress_.Publish();
}

void ProgressSteps::Begin(ProgressStep step) {
  auto& frames = progress_.frames_;
  if (depth_ >= frames.size()) return;
  ProcedureProgress::Frame& frame = frames[depth_];
  auto from = [&](size_t first) {
    for (size_t i = first; i < frame.steps.size(); ++i)
      if (frame.steps[i].step == step) return i;
    return frame.steps.size();
  };
  size_t index = from(frame.index);
  if (index == frame.steps.size()) index = from(0);
  if (index == frame.steps.size()) return;  // not declared: the position stays
  frame.index = index;
  frame.fraction = 0;
  progress_.Publish();
}

void ProgressSteps::Next() {
  auto& frames = progress_.frames_;
  if (depth_ >= frames.size()) return;
  ProcedureProgress::Frame& frame = frames[depth_];
  if (frame.index + 1 >= frame.steps.size()) return;
  ++frame.index;
  frame.fraction = 0;
  progress_.Publish();
}

void ProgressSteps::Finish() {
  auto& frames = progress_.frames_;
  if (depth_ >= frames.size() || frames[depth_].steps.empty()) return;
  ProcedureProgress::Frame& frame = frames[depth_];
  frame.index = frame.steps.size() - 1;
  frame.fraction = 1;
  progress_.Publish();
}

namespace {

// Three steps of the running kind: the part before the piece, the piece,
// the part after it, in millionths of the step.
std::array<WeightedStep, 3> PieceOf(const ProcedureProgress& progress, uint64_t done,
                                    uint64_t part, uint64_t total) {
  constexpr double kScale = 1e6;
  const ProgressStep step = progress.State().step;
  if (total == 0) return {{{step, 0}, {step, 1}, {step, 0}}};
  const uint64_t from = std::min(done, total);
  const uint64_t to = std::min(from + part, total);
  auto weight = [&](uint64_t units) {
    return static_cast<int>(std::lround(kScale * static_cast<double>(units) /
                                        static_cast<double>(total)));
  };
  return {{{step, weight(from)}, {step, weight(to - from)}, {step, weight(total - to)}}};
}

}  // namespace

ProgressPart::ProgressPart(ProcedureProgress& progress, uint64_t done, uint64_t part,
                           uint64_t total)
    : steps_(progress, PieceOf(progress, done, part, total), 1) {}

}  // namespace fwtool
