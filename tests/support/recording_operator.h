// SPDX-License-Identifier: GPL-2.0-or-later
// An operator for tests: records every box and debug text, answers file dialogs
// and questions from a script, and can run a hook whenever pending messages are processed
// (to deliver events in the middle of a transfer).
#pragma once

#include <deque>
#include <functional>

#include "operator.h"

namespace fwtool {

class RecordingOperator : public OperatorServices {
 public:
  enum class Kind { Box, Simple, Question };
  struct Shown {
    Kind kind;
    std::string text;
    std::string caption;
    MessageIcon icon;
  };

  void MessageBox(const std::string& text, const std::string& caption, MessageIcon icon) override {
    shown.push_back({Kind::Box, text, caption, icon});
  }
  void SimpleMessage(const std::string& text) override {
    shown.push_back({Kind::Simple, text, {}, MessageIcon::None});
  }
  // Recorded like a box; answered from `questionAnswers` (No when empty).
  bool QuestionBox(const std::string& text, const std::string& caption) override {
    shown.push_back({Kind::Question, text, caption, MessageIcon::Question});
    if (questionAnswers.empty()) return false;
    const bool answer = questionAnswers.front();
    questionAnswers.pop_front();
    return answer;
  }
  std::optional<std::string> OpenFileDialog(const FileDialogRequest& request) override {
    dialogs.push_back(request);
    if (fileAnswers.empty()) return std::nullopt;
    auto answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
  }
  void ProcessMessages() override {
    ++processCount;
    if (onProcessMessages) onProcessMessages();
  }
  void DebugOutput(const std::string& text) override { debug.push_back(text); }

  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& s : shown) texts.push_back(s.text);
    return texts;
  }

  std::vector<Shown> shown;
  std::vector<std::string> debug;
  std::vector<FileDialogRequest> dialogs;
  std::deque<std::optional<std::string>> fileAnswers;
  std::deque<bool> questionAnswers;
  int processCount = 0;
  std::function<void()> onProcessMessages;
};

}  // namespace fwtool
