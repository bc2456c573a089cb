// SPDX-License-Identifier: GPL-2.0-or-later
// The operator services of the window: Qt dialogs for the boxes and the file
// chooser, the Qt event pump for "process pending messages", and the log for
// the debug trace.
#pragma once

#include <QtCore/QLoggingCategory>
#include <QtCore/QString>

#include "operator.h"

namespace fwtool::gui {

Q_DECLARE_LOGGING_CATEGORY(lcDebugTrace)

class QtOperator : public OperatorServices {
 public:
  // `applicationTitle` is the caption of the simple message box.
  explicit QtOperator(QString applicationTitle);

  void MessageBox(const std::string& text, const std::string& caption, MessageIcon icon) override;
  void SimpleMessage(const std::string& text) override;
  bool QuestionBox(const std::string& text, const std::string& caption) override;
  std::optional<std::string> OpenFileDialog(const FileDialogRequest& request) override;
  void ProcessMessages() override;
  void DebugOutput(const std::string& text) override;

  // Where the file dialog opens when the request names no folder: the
  // folder of the last file chosen, else the program's own folder.
  QString DialogFolder() const { return dialogFolder_; }

 private:
  QString applicationTitle_;
  QString dialogFolder_;
};

// "*.*" means every file to the dialogs of the original platform; on others a
// name without a dot would not match it.
QString NameFilterFor(const FileFilter& filter);

}  // namespace fwtool::gui
