// SPDX-License-Identifier: GPL-2.0-or-later
#include "access_notice.h"

#include "form_texts.h"

namespace fwtool::win32 {

std::string AccessNoticeText(const std::string& problem) {
  return "The attached storage devices cannot be opened: " + problem +
         ".\n\nStart the program with administrator rights (Run as administrator).";
}

bool AccessNotice::Check() {
  if (told_ || form_.ListedCount() > 0) return false;
  const std::string problem = enumerator_.AccessProblem();
  if (problem.empty()) return false;
  told_ = true;
  form_.Operator().MessageBox(AccessNoticeText(problem), texts::kApplicationTitle,
                              MessageIcon::Warning);
  return true;
}

}  // namespace fwtool::win32
