// SPDX-License-Identifier: GPL-2.0-or-later
// Tells the operator, once, when attached storage cannot be opened without
// administrator rights, instead of leaving only "No device found!!".
#pragma once

#include <string>

#include "Fwupdate.h"

namespace fwtool::win32 {

// The box text for an access problem the enumerator reported.
std::string AccessNoticeText(const std::string& problem);

class AccessNotice {
 public:
  AccessNotice(TV77xFwTool& form, InterfaceEnumerator& enumerator)
      : form_(form), enumerator_(enumerator) {}
  // Shows the box when the window lists nothing and the enumerator names an
  // access problem; at most once per run. True when it showed the box.
  bool Check();

 private:
  TV77xFwTool& form_;
  InterfaceEnumerator& enumerator_;
  bool told_ = false;
};

}  // namespace fwtool::win32
