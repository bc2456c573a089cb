// SPDX-License-Identifier: GPL-2.0-or-later
// What a flash procedure needs of the window it runs in: the status line,
// the progress bar, the progress of its declared steps, the flash maker
// found by the information check, the shared flash settings, a chance to
// let the window handle pending input, the operator's message boxes and
// questions and debug output, where a backup went, and the few fields of
// the form a procedure leaves set.
// The form implements it; tests use a small fake.
#pragma once

#include <string>

#include "flash_settings.h"
#include "progress.h"

namespace fwtool {

class ProcedureHost {
 public:
  virtual ~ProcedureHost() = default;

  virtual FlashSettings& Settings() = 0;
  // Flash maker code of the selected device (0..10).
  virtual int FlashMaker() const = 0;

  virtual std::string StatusText() const = 0;
  // Sets the status line and repaints it.
  virtual void SetStatusText(const std::string& text) = 0;

  // Adds `amount` to the progress bar (at most 100), repaints it and lets the
  // window process pending input. Does nothing while the bar is hidden.
  virtual void StepProgress(int amount) = 0;

  // Where the running procedure stands in the steps it declared; views show
  // it as a percentage.
  virtual ProcedureProgress& Progress() = 0;

  // Lets the window repaint and handle pending input between blocks.
  virtual void ProcessMessages() = 0;

  // A modal box with an OK button, caption "Message" or "Error".
  virtual void MessageBox(const std::string& text, const std::string& caption) = 0;
  // The toolkit's simple message box.
  virtual void SimpleMessage(const std::string& text) = 0;
  // A modal box with Yes and No; true for Yes. A host with nobody to ask
  // answers No.
  virtual bool QuestionBox(const std::string& text, const std::string& caption) {
    (void)text;
    (void)caption;
    return false;
  }

  // A backup of the unit's flash or disk area now lies complete in `path`.
  virtual void BackupSaved(const std::string& path) { (void)path; }
  // The step stopped before anything was written to the unit (a place it
  // could not trust, sectors of the disk's user kept).
  virtual void NothingWritten() {}
  // The line beside the status that tells the operator why a step could not
  // be done and what to do (the form's notice line).
  virtual void Notice(const std::string& text) { (void)text; }

  // The operator's debug output (a debugger's window on Windows;
  // the command line prints it under --trace). Diagnostics only: nothing
  // the operator must read goes there.
  virtual void DebugOutput(const std::string& text) = 0;

  // What a procedure leaves on the form for the runs after it: "Include 4K
  // NVRAM" ticked, and whether the last firmware file brought its own 4 KB
  // header area (ImageHasHeaderArea).
  virtual void TickIncludeNvram() = 0;
  virtual void SetImageHasHeaderArea(bool hasArea) = 0;
};

}  // namespace fwtool
