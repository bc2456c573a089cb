// SPDX-License-Identifier: GPL-2.0-or-later
// What the program asks of the person at the screen. The window implements it
// with dialogs, the command line with the terminal, tests with a script.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace fwtool {

enum class MessageIcon { None, Error, Warning, Information, Question };

struct FileFilter {
  std::string name;     // "BinaryFile"
  std::string pattern;  // "*.bin"
};

struct FileDialogRequest {
  std::string title;
  std::vector<FileFilter> filters;
  std::string defaultExtension;  // without the dot
  std::string initialName;
};

class OperatorServices {
 public:
  virtual ~OperatorServices() = default;
  // A modal box with a single OK button.
  virtual void MessageBox(const std::string& text, const std::string& caption,
                          MessageIcon icon) = 0;
  // The toolkit's simple message box (the application title is its caption).
  virtual void SimpleMessage(const std::string& text) = 0;
  // A modal box with Yes and No buttons; true for Yes. Services with nobody
  // at a screen to ask (the command line takes its answers from its
  // arguments) answer No.
  virtual bool QuestionBox(const std::string& text, const std::string& caption) {
    (void)text;
    (void)caption;
    return false;
  }
  // Empty when the operator cancels.
  virtual std::optional<std::string> OpenFileDialog(const FileDialogRequest& request) = 0;
  // Lets the view repaint and handle input between blocks of a long transfer.
  virtual void ProcessMessages() = 0;
  virtual void DebugOutput(const std::string& text) = 0;
};

}  // namespace fwtool
