// SPDX-License-Identifier: GPL-2.0-or-later
// A running update, procedure or restore on the terminal: one line redrawn
// in place with a bar, the percentage and the status line's step; without a
// terminal, plain lines a log can follow (`progress N%` when the percentage
// moves, `status TEXT` when the status line starts a new step). The form's
// notice lines (a held close, where the backup went) are printed as they
// come.
#pragma once

#include <string>

#include "Fwupdate.h"

namespace fwtool::cli {

// Ends the line a progress view is drawing and flushes standard output, so
// that what comes next on stderr (a box) starts a line of its own.
void BreakLiveLine();

class ProgressView {
 public:
  // Where the percentage comes from.
  enum class Source {
    // The one-click window's bar: shown, and its lines printed, while the
    // bar is visible.
    WindowBar,
    // The steps the running procedure or restore declared; the status line
    // is followed also before and after them.
    DeclaredSteps,
  };
  ProgressView(TV77xFwTool& form, bool live, Source source);
  ~ProgressView();
  ProgressView(const ProgressView&) = delete;
  ProgressView& operator=(const ProgressView&) = delete;

  // Ends the redrawn line.
  void Finish();

 private:
  bool Running() const;
  int Percent() const;
  void Show();
  void ShowNotice();

  TV77xFwTool& form_;
  bool live_;
  Source source_;
  int formListener_ = 0;
  int progressListener_ = 0;
  bool drawn_ = false;
  std::string lastLine_;
  int lastPercent_ = -1;
  std::string lastStep_;
};

}  // namespace fwtool::cli
