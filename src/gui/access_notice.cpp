// SPDX-License-Identifier: GPL-2.0-or-later
#include "access_notice.h"

#include "gui_application.h"

namespace fwtool::gui {

namespace {

constexpr char kProblemLead[] = "The attached storage devices cannot be opened: ";
constexpr char kRefused[] =
    "The administrator's password was not given, so the helper that sends the commands "
    "(fwtool-helper) did not start. Start fwtool-gui again to be asked once more.";
constexpr char kHelperFailed[] =
    "The helper that sends the commands (fwtool-helper) could not be started: ";

}  // namespace

std::string AccessNeededText() {
#ifdef _WIN32
  return "Start the program with administrator rights (Run as administrator).";
#else
  return "Start the program as root, or install pkexec and a polkit authentication agent so "
         "that it can start its helper (fwtool-helper) after an administrator's password.";
#endif
}

std::string AccessNoticeText(const std::string& problem, const DeviceRights::Answer* answer) {
  std::string text = kProblemLead + problem + ".\n\n";
  if (answer == nullptr) return text + AccessNeededText();
  switch (answer->outcome) {
    case DeviceRights::Outcome::Refused:
      return text + kRefused;
    case DeviceRights::Outcome::Unavailable:
      return text + kHelperFailed + answer->reason + ".\n\n" + AccessNeededText();
    case DeviceRights::Outcome::Granted:
      break;
  }
  return text + AccessNeededText();
}

bool AccessNotice::Check() {
  if (told_ || form_.ListedCount() > 0) return false;
  const std::string problem = enumerator_.AccessProblem();
  if (problem.empty()) return false;
  told_ = true;
  if (rights_ != nullptr && !rights_->Held()) {
    const DeviceRights::Answer answer = rights_->Ask();
    if (answer.outcome == DeviceRights::Outcome::Granted) {
      // The list again, now through the helper.
      form_.RefreshBtnClick(form_.RefreshBtn);
      return false;
    }
    form_.Operator().MessageBox(AccessNoticeText(problem, &answer), kApplicationTitle,
                                MessageIcon::Warning);
    return true;
  }
  form_.Operator().MessageBox(AccessNoticeText(problem), kApplicationTitle, MessageIcon::Warning);
  return true;
}

}  // namespace fwtool::gui
