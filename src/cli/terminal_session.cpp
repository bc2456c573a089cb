// SPDX-License-Identifier: GPL-2.0-or-later
#include "terminal_session.h"

#include <fmt/format.h>

#include <cctype>
#include <cstdio>
#include <iostream>

#include "chip_rows.h"
#include "form_texts.h"
#include "history.h"
#include "platform_services.h"
#include "run_recording.h"
#include "simulation_setup.h"
#include "simulator.h"
#include "status_view.h"

namespace fwtool::cli {

void TerminalOperator::MessageBox(const std::string& text, const std::string& caption,
                                  MessageIcon) {
  boxes_.push_back({text, caption});
  BreakLiveLine();
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

void TerminalOperator::SimpleMessage(const std::string& text) {
  boxes_.push_back({text, texts::kApplicationTitle});
  BreakLiveLine();
  std::fprintf(stderr, "%s\n", text.c_str());
}

std::optional<std::string> TerminalOperator::OpenFileDialog(const FileDialogRequest&) {
  return std::nullopt;
}

void TerminalOperator::ProcessMessages() {
  timers_.FireDue();
  // The form holds the request while it writes and says so in its notice.
  if (host::TakeInterruptRequest() && form_ != nullptr) form_->RequestClose();
}

void TerminalOperator::DebugOutput(const std::string& text) {
  // One line each, whether or not the text ends its own.
  if (!debug_) return;
  const bool ended = !text.empty() && text.back() == '\n';
  std::fprintf(stderr, "%s%s", text.c_str(), ended ? "" : "\n");
}

namespace {

// A user without the rights to the attached devices: fwtool-helper is
// started through polkit (the administrator's password is asked for on the
// terminal or by the desktop's agent), once per run, before the devices
// are first used.
void BorrowRightsWhenNeeded(CliContext& ctx) {
  if (ctx.rightsAsked || !ctx.platform->rights || ctx.platform->rights->Held()) return;
  const std::string problem = ctx.platform->enumerator->AccessProblem();
  if (problem.empty()) return;
  ctx.rightsAsked = true;
  std::fflush(stdout);
  std::fprintf(stderr,
               "fwtool: %s; starting fwtool-helper, which asks for an administrator's password "
               "(polkit)\n",
               problem.c_str());
  const DeviceRights::Answer answer = ctx.platform->rights->Ask();
  if (answer.outcome != DeviceRights::Outcome::Granted)
    std::fprintf(stderr, "fwtool: no helper: %s\n", answer.reason.c_str());
}

}  // namespace

std::shared_ptr<InterfaceEnumerator> Devices(CliContext& ctx) {
  if (auto devices = SimulatedDevices()) return RecordedDevices(devices);
  BorrowRightsWhenNeeded(ctx);
  return RecordedDevices(ctx.platform->enumerator);
}

Session::Session(CliContext& ctx, FormOptions options) : enumerator(Devices(ctx)) {
  // Whatever the command writes to a unit goes into the user's history.
  if (options.historyPath.empty()) options.historyPath = DefaultHistoryPath();
  op = std::make_unique<TerminalOperator>(timers, ctx.trace);
  form = std::make_unique<TV77xFwTool>(*op, *enumerator, timers, nullptr, options);
  op->Attach(form.get());
  form->SetCloseHandler([this] { closing = true; });
}

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

namespace {

std::string Squeezed(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != ' ') out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

int ItemNamed(const Control& box, const std::string& wanted) {
  const auto& items = box.Items();
  for (size_t i = 0; i < items.size(); ++i)
    if (Squeezed(items[i]) == Squeezed(wanted)) return static_cast<int>(i);
  return -1;
}

int ItemContaining(const Control& box, const std::string& wanted) {
  if (const int exact = ItemNamed(box, wanted); exact >= 0) return exact;
  const std::string part = Squeezed(wanted);
  int found = -1;
  const auto& items = box.Items();
  for (size_t i = 0; i < items.size() && !part.empty(); ++i) {
    if (Squeezed(items[i]).find(part) == std::string::npos) continue;
    if (found >= 0) return -1;
    found = static_cast<int>(i);
  }
  return found;
}

std::string ItemList(const Control& box) {
  std::string list;
  for (const auto& item : box.Items()) list += (list.empty() ? "" : ", ") + Trimmed(item);
  return list;
}

bool AskYesNo(const std::string& question, std::FILE* out) {
  std::fprintf(out, "%s [y/N] ", question.c_str());
  std::fflush(out);
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  answer = Trimmed(answer);
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES" || answer == "Yes";
}

bool ChipTypeMayBeSaid(int chipType, const char* command) {
  if (ChipRowFor(chipType).identifiedAs) return true;
  std::string types;
  for (const ChipRow& row : ChipRows) {
    if (!row.identifiedAs) continue;
    types += fmt::format("{}{} (a unit that identifies as type {})", types.empty() ? "" : ", ",
                         row.type, *row.identifiedAs);
  }
  std::fprintf(stderr, "fwtool %s: --chip-type takes %s; identification tells every other type.\n",
               command, types.c_str());
  return false;
}

bool SaidChipTypeFits(const TV77xFwTool& form, int chipType, int entry, const char* command) {
  if (form.ChipType == chipType) return true;
  const ChipRow& said = ChipRowFor(chipType);
  const int meant = said.identifiedAs.value_or(0);
  std::fprintf(stderr,
               "fwtool %s: --chip-type %d is for a unit that identifies as type %d (%s); entry "
               "%d identifies as type %d (%s).\n",
               command, chipType, meant, std::string(ChipLabel(meant)).c_str(), entry,
               form.ChipType, std::string(ChipLabel(form.ChipType)).c_str());
  return false;
}

int ListedOrSay(const TV77xFwTool& form, CliContext& ctx) {
  if (form.ListedCount() != 0) return kExitOk;
  std::printf("No controller found.\n");
  const std::string problem = Devices(ctx)->AccessProblem();
  if (!problem.empty()) std::printf("%s\n", problem.c_str());
  return kExitFailed;
}

}  // namespace fwtool::cli
