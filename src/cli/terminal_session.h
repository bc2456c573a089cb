// SPDX-License-Identifier: GPL-2.0-or-later
// What every device subcommand of fwtool shares: the operator at a terminal,
// Ctrl-C held while a unit is written, and a session that builds the form
// over this run's devices.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "Fwupdate.h"
#include "cli_context.h"
#include "host_services.h"
#include "timer_service.h"

namespace fwtool::cli {

// The operator at a terminal: boxes become lines on stderr, there is no
// file dialog (files come with the request of the form's entries), and
// processing pending messages fires due timers and turns Ctrl-C into a close
// request.
class TerminalOperator final : public OperatorServices {
 public:
  struct Box {
    std::string text;
    std::string caption;
  };

  TerminalOperator(ClockTimerService& timers, bool debug) : timers_(timers), debug_(debug) {}

  void MessageBox(const std::string& text, const std::string& caption, MessageIcon) override;
  void SimpleMessage(const std::string& text) override;
  std::optional<std::string> OpenFileDialog(const FileDialogRequest&) override;
  void ProcessMessages() override;
  void DebugOutput(const std::string& text) override;

  void Attach(TV77xFwTool* form) { form_ = form; }
  // Every box shown so far, in order; the simple message box has the
  // application title for its caption.
  const std::vector<Box>& Boxes() const { return boxes_; }

 private:
  ClockTimerService& timers_;
  bool debug_;
  TV77xFwTool* form_ = nullptr;
  std::vector<Box> boxes_;
};

// The devices of this run: the simulated units with --simulate, else the
// operating system's.
std::shared_ptr<InterfaceEnumerator> Devices(CliContext& ctx);

// What every device subcommand needs: timers, an operator, the form.
struct Session {
  std::shared_ptr<InterfaceEnumerator> enumerator;
  ClockTimerService timers;
  std::unique_ptr<TerminalOperator> op;
  std::unique_ptr<TV77xFwTool> form;
  bool closing = false;

  explicit Session(CliContext& ctx, FormOptions options = {});
};

std::string Trimmed(const std::string& text);
// The item of a combo box whose text, without blanks, is `wanted` (also
// without blanks, case ignored): "64KB", "1MB", "4KB". -1 when none is.
int ItemNamed(const Control& box, const std::string& wanted);
// The item whose text (blanks and case ignored) is `wanted`, or else the one
// item that contains it: "sst" picks "SST SST39LF512". -1 when none or
// several fit.
int ItemContaining(const Control& box, const std::string& wanted);
// The items, trimmed, separated by ", ".
std::string ItemList(const Control& box);
// Prints the question with " [y/N] " (on `out`) and reads a line: true for
// y/yes.
bool AskYesNo(const std::string& question, std::FILE* out = stdout);
// --chip-type: the type the operator says a unit is, where identification
// cannot tell. Before the devices are touched: false, after saying which
// types the option takes, for a type identification tells by itself.
bool ChipTypeMayBeSaid(int chipType, const char* command);
// Once the unit is selected with the type said: false, after saying what the
// unit identifies as, when it is not a unit the type is taken for.
bool SaidChipTypeFits(const TV77xFwTool& form, int chipType, int entry, const char* command);
// Prints "No controller found." and the reason the devices may be out of
// reach; kExitFailed. kExitOk when the list holds an entry.
int ListedOrSay(const TV77xFwTool& form, CliContext& ctx);

}  // namespace fwtool::cli
