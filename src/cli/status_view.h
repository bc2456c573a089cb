// The form's status line on the terminal as it changes: redrawn in place on
// a terminal, a line per step otherwise (the dots a procedure adds per
// block only move the live line).
#pragma once

#include <string>

#include "Fwupdate.h"

namespace fwtool::cli {

class StatusView {
 public:
  enum class Live {
    WholeText,   // the status text as it stands, its tail when it is long
    BlockCount,  // the step, and the blocks done as a number
  };
  StatusView(TV77xFwTool& form, bool live, Live style = Live::WholeText);
  ~StatusView();
  StatusView(const StatusView&) = delete;
  StatusView& operator=(const StatusView&) = delete;

 private:
  void Show();

  TV77xFwTool& form_;
  bool live_;
  Live style_;
  int id_ = 0;
  bool drawn_ = false;
  std::string lastStep_;
};

}  // namespace fwtool::cli
