// SPDX-License-Identifier: GPL-2.0-or-later
// A procedure host for tests: a status line, a progress bar and the flash
// settings, without a form.
#pragma once

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "procedure_host.h"

namespace fwtool::testing {

class FakeProcedureHost : public ProcedureHost {
 public:
  FlashSettings& Settings() override { return settings; }
  int FlashMaker() const override { return flashMaker; }
  std::string StatusText() const override { return status; }
  void SetStatusText(const std::string& text) override {
    status = text;
    statusHistory.push_back(text);
  }
  void StepProgress(int amount) override {
    if (!progressVisible) return;
    progress = std::min(progress + amount, 100);
    ProcessMessages();
  }
  ProcedureProgress& Progress() override { return steps; }
  void ProcessMessages() override {
    ++processCount;
    if (onProcessMessages) onProcessMessages();
  }

  void MessageBox(const std::string& text, const std::string& caption) override {
    boxes.push_back(caption + ": " + text);
  }
  void SimpleMessage(const std::string& text) override { boxes.push_back(text); }
  void DebugOutput(const std::string& text) override { debug.push_back(text); }
  void TickIncludeNvram() override { includeNvramTicked = true; }
  void SetImageHasHeaderArea(bool hasArea) override { imageHasHeaderArea = hasArea; }
  void Notice(const std::string& text) override { notices.push_back(text); }
  // Recorded as "caption: text" in `questions`; answered with `answer`.
  bool QuestionBox(const std::string& text, const std::string& caption) override {
    questions.push_back(caption + ": " + text);
    return answer;
  }

  FlashSettings settings;
  int flashMaker = 0;
  std::string status;
  std::vector<std::string> statusHistory;
  bool progressVisible = true;
  int progress = 0;
  int processCount = 0;
  ProcedureProgress steps;
  std::function<void()> onProcessMessages;
  // Every box shown, as "caption: text" (simple messages as their text).
  std::vector<std::string> boxes;
  std::vector<std::string> debug;
  bool includeNvramTicked = false;
  std::optional<bool> imageHasHeaderArea;
  std::vector<std::string> questions;
  bool answer = false;
  std::vector<std::string> notices;
};

}  // namespace fwtool::testing
