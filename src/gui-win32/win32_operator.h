// SPDX-License-Identifier: GPL-2.0-or-later
// The operator services of the Windows window: system message boxes (no
// owner window, a single OK button, modal to the whole program), the system's
// file-open dialog, the message pump for "process pending messages" and the
// debugger output.
#pragma once

#include <windows.h>

#include <string>

#include "operator.h"

namespace fwtool::win32 {

// MB_ICON... flags for a box icon.
UINT IconFlags(MessageIcon icon);

// "BinaryFile\0*.bin\0All Files\0*.*\0...\0\0" for the dialog's filter.
std::string DialogFilter(const std::vector<FileFilter>& filters);

// Lets every pending message of this thread be handled. A quit request met
// on the way is put back, so the message loop still sees it.
void PumpPendingMessages();

class Win32Operator : public OperatorServices {
 public:
  // `applicationTitle` is the caption of the simple message box.
  explicit Win32Operator(std::string applicationTitle);

  void MessageBox(const std::string& text, const std::string& caption, MessageIcon icon) override;
  void SimpleMessage(const std::string& text) override;
  bool QuestionBox(const std::string& text, const std::string& caption) override;
  std::optional<std::string> OpenFileDialog(const FileDialogRequest& request) override;
  void ProcessMessages() override { PumpPendingMessages(); }
  void DebugOutput(const std::string& text) override;

  const std::string& ApplicationTitle() const { return applicationTitle_; }
  // Where the dialog opens when the request names no folder: the folder of
  // the last file chosen.
  const std::string& DialogFolder() const { return dialogFolder_; }

 private:
  std::string applicationTitle_;
  std::string dialogFolder_;
};

}  // namespace fwtool::win32
