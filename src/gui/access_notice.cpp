#include "access_notice.h"

#include "gui_application.h"

namespace fwtool::gui {

std::string AccessNeededText() {
#ifdef _WIN32
  return "Start the program with administrator rights (Run as administrator).";
#else
  return "Start the program as root, or give it the CAP_SYS_RAWIO capability once "
         "(setcap cap_sys_rawio+ep fwtool-gui) and run it as a user who may read and write the "
         "device nodes (group disk).";
#endif
}

std::string AccessNoticeText(const std::string& problem) {
  return "The attached storage devices cannot be opened: " + problem + ".\n\n" + AccessNeededText();
}

bool AccessNotice::Check() {
  if (told_ || form_.ListedCount() > 0) return false;
  const std::string problem = enumerator_.AccessProblem();
  if (problem.empty()) return false;
  told_ = true;
  form_.Operator().MessageBox(AccessNoticeText(problem), kApplicationTitle, MessageIcon::Warning);
  return true;
}

}  // namespace fwtool::gui
