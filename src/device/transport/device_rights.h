// SPDX-License-Identifier: GPL-2.0-or-later
// Rights to the devices that the program does not hold itself. On Linux a
// small privileged helper (fwtool-helper), started through polkit once the
// operator has given an administrator's password, sends the commands for
// the program, which keeps running with the user's own rights. A platform
// without such a way (Windows asks for administrator rights when a program
// starts) offers no DeviceRights.
#pragma once

#include <string>

namespace fwtool {

class DeviceRights {
 public:
  enum class Outcome {
    Granted,      // the helper runs; commands and enumeration go through it
    Refused,      // the operator dismissed the prompt or gave a wrong password
    Unavailable,  // no way to ask (no pkexec, no authentication agent, no helper)
  };
  struct Answer {
    Outcome outcome = Outcome::Unavailable;
    std::string reason;  // for a person: why the rights are not there
  };

  virtual ~DeviceRights() = default;
  // True while the helper serves this program.
  virtual bool Held() const = 0;
  // Starts the helper and waits until it runs or the prompt is answered.
  // Once granted, the platform's pass-through backend and enumerator go
  // through the helper. Asked again, it gives the first answer.
  virtual Answer Ask() = 0;
};

}  // namespace fwtool
