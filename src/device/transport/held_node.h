// SPDX-License-Identifier: GPL-2.0-or-later
// A device node kept open across the commands of one operation. A session
// (device_session.h) owns the HeldNode for its path; the backend that serves
// the path opens the node at the first command, keeps its handle here and
// sends every further command of the operation on it. The handle closes when
// the last owner lets go.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "pass_through.h"

namespace fwtool {

struct NodeOps;

// What a backend keeps open: its own handle type (a file descriptor, a
// Windows handle, a simulated open) derives from this and closes in its
// destructor.
class OpenNode {
 public:
  virtual ~OpenNode() = default;
};

// Asks the device on a path who it is and says why it is not the unit an
// operation was started for; empty when it is. It sends data-in commands
// only, at least one: the node they open is the one the write goes to.
using UnitCheck = std::function<std::string()>;

class HeldNode {
 public:
  explicit HeldNode(bool exclusive) : exclusive_(exclusive) {}
  HeldNode(const HeldNode&) = delete;
  HeldNode& operator=(const HeldNode&) = delete;

  // Every further command runs on a node opened for exclusive access (the
  // node is opened again at the next command if it was opened shared).
  void RequireExclusive() { exclusive_ = true; }
  bool Exclusive() const { return exclusive_; }

  // The node opened first is the only one: it is never closed to be opened
  // again (exclusively, or after the device left), so nothing that takes
  // the node's name later gets a command meant for the unit. Once the
  // device has left under it, every command fails without being sent.
  // The privileged helper pins the node of each session it serves.
  void Pin() { pinned_ = true; }
  // The device left under a pinned node.
  bool Departed() const { return departed_; }
  // Why the first open of a pinned node failed; empty when it did not.
  std::string OpenFailure() const {
    const std::lock_guard lock(checkMutex_);
    return openFailure_;
  }

  // The unit is identified again before the first data-out command on every
  // node opened for the operation: a device that left and came back under
  // the same path may be another unit. An empty check ends the checks (and
  // a refusal they gave).
  void SetUnitCheck(UnitCheck check);
  // Called by the transport before a data-out command: makes the node
  // exclusive, runs the check on it unless it passed on this very node, and
  // gives the reason the command must not go (empty when it may). Once the
  // check has failed, every further command of the operation is refused
  // with the same reason.
  std::string CheckBeforeWrite();
  // Why the operation's commands are refused; empty while they are not.
  std::string Refusal() const;

 private:
  friend PassThroughResult ExecuteOnNode(const PassThroughRequest& request, const NodeOps& ops);
  // The same for a pinned node: see HeldNode::Pin.
  PassThroughResult ExecuteOnPinnedNode(HeldNode& held, const PassThroughRequest& request,
                                        const NodeOps& ops);
  friend PassThroughResult ExecuteOnPinnedNode(HeldNode& held, const PassThroughRequest& request,
                                               const NodeOps& ops);
  // True when a data-out command may be sent on the node open now.
  bool WriteAllowedOnOpenNode() const;
  // The node was opened or dropped.
  void NextGeneration();

  std::atomic<bool> exclusive_;
  std::atomic<bool> pinned_ = false;
  std::atomic<bool> departed_ = false;
  bool everOpened_ = false;
  std::mutex mutex_;  // one command at a time on one node
  std::unique_ptr<OpenNode> node_;
  bool nodeExclusive_ = false;

  mutable std::mutex checkMutex_;  // the check's state; never held while commands run
  UnitCheck check_;
  // Counts every open and every drop of the node (a backend that keeps no
  // node, such as a replay, leaves it alone).
  uint64_t generation_ = 0;
  bool checked_ = false;            // the check passed,
  uint64_t checkedGeneration_ = 0;  // on this node
  bool checking_ = false;
  std::string refusal_;
  std::string openFailure_;
};

// How a backend opens its nodes and sends a command on an open one.
struct NodeOps {
  // Opens the node for the request's path, for exclusive access or shared;
  // null with the failure (opened = false, its reason) in `failure`.
  std::function<std::unique_ptr<OpenNode>(bool exclusive, PassThroughResult& failure)> open;
  // Sends the command on an open node. Sets `gone` when the device left
  // under the open handle before the command reached it.
  std::function<PassThroughResult(OpenNode& node, bool& gone)> send;
};

// Runs one command the way every backend does. Without a held node: open,
// send, close, as a command on its own. With one: the node stays open from
// command to command; a command that wants the device to itself (data-out)
// or a session that asks for exclusive access gets a node opened
// exclusively. When the device has left under a node kept from an earlier
// command, the command never reached it: the node is dropped and opened
// afresh, so a device that is still gone fails to open exactly as a command
// on its own would. A data-out command is never sent on a node the held
// node's unit check has not passed on: after such a reopen it fails with
// the device's departure instead.
PassThroughResult ExecuteOnNode(const PassThroughRequest& request, const NodeOps& ops);

}  // namespace fwtool
