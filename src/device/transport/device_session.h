// SPDX-License-Identifier: GPL-2.0-or-later
// One open of a device for the length of one operation (a refresh of one
// device, an update, a procedure run) instead of one open per command.
//
// While a session for a path exists, every command to that path, from any
// thread, runs on one node that the backend opens at the first command and
// closes when the last session on the path ends. The blocks on the wire are
// the same as without a session. An exclusive session opens the node for
// exclusive access, so no other program can slip commands in between those
// of the operation; a shared session opens it shared and reopens it
// exclusively at the first data-out command (which always wants the device
// to itself) and keeps it so. Sessions on one path nest; an exclusive one
// inside a shared one makes the node exclusive from then on. Sessions on
// different paths are independent. Commands to a path without a session
// open and close the device around each command.
//
// A session may carry a unit check (held_node.h): before its first data-out
// command on a node, the node is made exclusive and the check asks the
// device who it is. A device that left and came back under the same path
// (a re-plug that got the same node name) may be another unit; when the
// check says so, that command and every later one of the session are
// refused with the check's reason, and nothing is written.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "held_node.h"

namespace fwtool {

enum class SessionAccess { Shared, Exclusive };

class DeviceSession {
 public:
  DeviceSession(std::string_view path, SessionAccess access, UnitCheck check = {});
  ~DeviceSession();
  DeviceSession(const DeviceSession&) = delete;
  DeviceSession& operator=(const DeviceSession&) = delete;

  // Why the session's commands are refused (its unit check failed); empty
  // while they are not.
  std::string Refusal() const;

 private:
  std::string key_;
  std::shared_ptr<HeldNode> node_;
  bool checks_ = false;  // this session set the node's unit check
};

// The node the sessions on a path hold, or null when there is none.
std::shared_ptr<HeldNode> HeldNodeFor(std::string_view path);

}  // namespace fwtool
