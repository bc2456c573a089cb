// SPDX-License-Identifier: GPL-2.0-or-later
#include "status_view.h"

#include <fmt/format.h>

#include <cstdio>

namespace fwtool::cli {

namespace {

constexpr size_t kBarWidth = 30;

// The view drawing on the terminal now; one at a time.
ProgressView* liveView = nullptr;

// The status text without the dots a procedure adds per block.
std::string StepOf(const std::string& text) {
  return text.substr(0, text.find_last_not_of('.') + 1);
}

}  // namespace

void BreakLiveLine() {
  if (liveView != nullptr) liveView->Finish();
  std::fflush(stdout);
}

ProgressView::ProgressView(TV77xFwTool& form, bool live, Source source)
    : form_(form), live_(live), source_(source) {
  if (live_) liveView = this;
  formListener_ = form_.Subscribe([this](const Control& control, ControlProperty property) {
    if (&control == &form_.Window && property == ControlProperty::Notice) {
      ShowNotice();
    } else if ((&control == &form_.StatusEdit && property == ControlProperty::Text) ||
               (source_ == Source::WindowBar && &control == &form_.FwUpdatBar)) {
      Show();
    }
  });
  if (source_ == Source::DeclaredSteps)
    progressListener_ = form_.Progress().Subscribe([this](const ProgressState& state) {
      // The bar stays as the operation left it when it ends.
      if (state.running) Show();
    });
}

ProgressView::~ProgressView() {
  if (liveView == this) liveView = nullptr;
  form_.Unsubscribe(formListener_);
  if (source_ == Source::DeclaredSteps) form_.Progress().Unsubscribe(progressListener_);
  Finish();
}

void ProgressView::Finish() {
  if (live_ && drawn_) std::fputc('\n', stdout);
  drawn_ = false;
  lastLine_.clear();
  std::fflush(stdout);
}

bool ProgressView::Running() const {
  switch (source_) {
    case Source::WindowBar:
      return form_.FwUpdatBar.Visible();
    case Source::DeclaredSteps:
      return form_.Progress().State().running;
  }
  return false;
}

int ProgressView::Percent() const {
  switch (source_) {
    case Source::WindowBar:
      return form_.FwUpdatBar.Position();
    case Source::DeclaredSteps:
      return form_.Progress().State().percent;
  }
  return 0;
}

void ProgressView::ShowNotice() {
  if (form_.Notice().empty()) return;
  Finish();
  std::printf("%s\n", form_.Notice().c_str());
  std::fflush(stdout);
}

void ProgressView::Show() {
  const bool running = Running();
  // The window's bar is the whole story of the one-click update: nothing
  // is shown while it is hidden.
  if (!running && source_ == Source::WindowBar) {
    Finish();
    return;
  }
  const std::string text = form_.StatusEdit.Text();
  const std::string step = StepOf(text);
  if (live_) {
    std::string line = step;
    if (running) {
      const int percent = Percent();
      const auto filled = static_cast<size_t>(percent * kBarWidth / 100);
      line = fmt::format("[{}{}] {:3}%  {}", std::string(filled, '#'),
                         std::string(kBarWidth - filled, '.'), percent, step);
    }
    if (line == lastLine_) return;
    lastLine_ = line;
    std::printf("\r\x1b[K%s", line.c_str());
    std::fflush(stdout);
    drawn_ = true;
    return;
  }
  // Plain: the percentage when it moved, the status line when its step
  // changed (as it reads then, with the step's own dots).
  if (running && Percent() != lastPercent_) {
    lastPercent_ = Percent();
    std::printf("progress %d%%\n", lastPercent_);
  }
  if (!step.empty() && step != lastStep_) {
    std::printf("status %s\n", text.c_str());
    lastStep_ = step;
  }
  std::fflush(stdout);  // a log that follows the file sees each line as it comes
}

}  // namespace fwtool::cli
