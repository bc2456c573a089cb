// SPDX-License-Identifier: GPL-2.0-or-later
// The privileged side of the helper protocol: serves one program over one
// link. It lists the USB-storage, UAS and SBP-2 disk and CD-ROM interfaces
// itself and opens nothing else; every session, every command and every
// length is checked before anything reaches a device. Files are neither
// read nor written here.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "enumeration.h"
#include "helper_link.h"
#include "pass_through.h"

namespace fwtool {
class HeldNode;
}

namespace fwtool::helper {

// Sessions one program may hold at once: one per interface the enumerator
// can list, and as many again for a session reopened for exclusive access.
inline constexpr size_t kMaxSessions = 128;

class HelperServer {
 public:
  // `devices` lists what may be served; `backend` sends the commands (the
  // platform's pass-through, or the simulator in tests).
  HelperServer(InterfaceEnumerator& devices, PassThroughBackend& backend, std::string version)
      : devices_(devices), backend_(backend), version_(std::move(version)) {}

  // Says Hello, then answers requests until the peer goes (0) or sends a
  // frame that cannot be read (1; refused first). Every session still open
  // closes when it returns.
  int Serve(FrameLink& link);

  // The reply to one request.
  Message Answer(const Message& request);

 private:
  struct Session {
    std::string path;
    std::shared_ptr<HeldNode> node;
  };

  Message Enumerated();
  Message OpenSession(const Open& request);
  Message Run(const Command& command);
  Message CloseSession(const Close& request);

  InterfaceEnumerator& devices_;
  PassThroughBackend& backend_;
  std::string version_;
  std::map<uint32_t, Session> sessions_;
  uint32_t nextSession_ = 1;
};

}  // namespace fwtool::helper
