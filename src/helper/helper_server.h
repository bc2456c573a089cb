// SPDX-License-Identifier: GPL-2.0-or-later
// The privileged side of the helper protocol: serves one program over one
// link. It lists the USB-storage, UAS and SBP-2 disk and CD-ROM interfaces
// itself and opens nothing else; every session, every command and every
// length is checked before anything reaches a device. Files are neither
// read nor written here.
//
// A session holds its node from Open to Close: Open opens it (exclusive
// when asked) and identifies the unit on it with data-in commands only; a
// node that is no unit of this controller family is not served. From then
// on a command goes to the unit only when it is one of the blocks the
// program builds (command_table.h) for the work of this unit, and a block
// that addresses disk sectors only inside the place where the controller
// keeps its firmware, as the procedures find it, and a write there only
// where their rule allows it without the operator's word
// (disk_sector_guard.h). Everything else is refused and never sent.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "disk_sector_guard.h"
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

// Why no sector of the disk behind a path may be written (its partitions
// are mounted, or another driver holds it); empty when nothing stands in
// the way.
using DiskInUse = std::function<std::string(const std::string& path)>;

class HelperServer {
 public:
  // `devices` lists what may be served; `backend` sends the commands (the
  // platform's pass-through, or the simulator in tests); `diskInUse` tells
  // a disk in use (none: no disk is).
  HelperServer(InterfaceEnumerator& devices, PassThroughBackend& backend, std::string version,
               DiskInUse diskInUse = {})
      : devices_(devices),
        backend_(backend),
        version_(std::move(version)),
        diskInUse_(std::move(diskInUse)) {}

  // Says Hello, then answers requests until the peer goes (0) or sends a
  // frame that cannot be read (1; refused first). Every session still open
  // closes when it returns.
  int Serve(FrameLink& link);

  // The reply to one request.
  Message Answer(const Message& request);

 private:
  struct Session {
    std::string path;
    bool exclusive = false;
    std::shared_ptr<HeldNode> node;
    int chipType = 0;
    // The controller's firmware place on its disk, found at the first
    // sector command.
    bool placeSought = false;
    std::optional<FirmwarePlace> place;
    std::string noPlace;
  };

  Message Enumerated();
  Message OpenSession(const Open& request);
  Message Run(const Command& command);
  Message CloseSession(const Close& request);
  // Why the command may not go to the session's unit; empty when it may.
  std::string Judge(Session& session, const Command& command);

  InterfaceEnumerator& devices_;
  PassThroughBackend& backend_;
  std::string version_;
  DiskInUse diskInUse_;
  std::map<uint32_t, Session> sessions_;
  uint32_t nextSession_ = 1;
};

}  // namespace fwtool::helper
