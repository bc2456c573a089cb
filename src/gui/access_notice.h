// SPDX-License-Identifier: GPL-2.0-or-later
// When attached storage cannot be opened for lack of rights, the window asks
// for them once: the platform's DeviceRights start the helper that sends
// the commands (fwtool-helper, after the administrator's password), and the
// list is refreshed through it. When the rights do not come (the prompt
// refused, no way to ask) it says so in a box instead of leaving only
// "No device found!!" on the window.
#pragma once

#include <string>

#include "Fwupdate.h"
#include "device_rights.h"

namespace fwtool::gui {

// What the program needs on this platform when it cannot get the rights.
std::string AccessNeededText();

// The box text for an access problem the enumerator reported, and what
// became of asking for the rights (nothing asked: `answer` null).
std::string AccessNoticeText(const std::string& problem,
                             const DeviceRights::Answer* answer = nullptr);

class AccessNotice {
 public:
  // `rights` may be null (no way to borrow them on this platform).
  AccessNotice(TV77xFwTool& form, InterfaceEnumerator& enumerator, DeviceRights* rights = nullptr)
      : form_(form), enumerator_(enumerator), rights_(rights) {}
  // When the window lists nothing and the enumerator names an access
  // problem, at most once per run: asks for the rights and refreshes the
  // list when they come, or shows the box. True when it showed the box.
  bool Check();
  bool Told() const { return told_; }

 private:
  TV77xFwTool& form_;
  InterfaceEnumerator& enumerator_;
  DeviceRights* rights_;
  bool told_ = false;
};

}  // namespace fwtool::gui
