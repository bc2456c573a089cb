#include "status_view.h"

#include <cstdio>

namespace fwtool::cli {

StatusView::StatusView(TV77xFwTool& form, bool live, Live style)
    : form_(form), live_(live), style_(style) {
  id_ = form_.Subscribe([this](const Control& control, ControlProperty property) {
    if (&control == &form_.StatusEdit && property == ControlProperty::Text) Show();
  });
}

StatusView::~StatusView() {
  form_.Unsubscribe(id_);
  if (live_ && drawn_) std::fputc('\n', stdout);
  std::fflush(stdout);
}

void StatusView::Show() {
  std::string text = form_.StatusEdit.Text();
  const std::string step = text.substr(0, text.find_last_not_of('.') + 1);
  if (live_) {
    if (style_ == Live::BlockCount) {
      std::printf("\r\x1b[K%s (%zu blocks)", step.c_str(), text.size() - step.size());
    } else {
      constexpr size_t kWidth = 100;
      if (text.size() > kWidth) text = "..." + text.substr(text.size() - kWidth + 3);
      std::printf("\r\x1b[K%s", text.c_str());
    }
    std::fflush(stdout);
    drawn_ = true;
    return;
  }
  if (step.empty() || step == lastStep_) return;
  lastStep_ = step;
  std::printf("status %s\n", step.c_str());
  std::fflush(stdout);
}

}  // namespace fwtool::cli
