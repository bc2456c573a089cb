// A device node kept open across the commands of one operation. A session
// (device_session.h) owns the HeldNode for its path; the backend that serves
// the path opens the node at the first command, keeps its handle here and
// sends every further command of the operation on it. The handle closes when
// the last owner lets go.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

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

class HeldNode {
 public:
  explicit HeldNode(bool exclusive) : exclusive_(exclusive) {}
  HeldNode(const HeldNode&) = delete;
  HeldNode& operator=(const HeldNode&) = delete;

  // Every further command runs on a node opened for exclusive access (the
  // node is opened again at the next command if it was opened shared).
  void RequireExclusive() { exclusive_ = true; }
  bool Exclusive() const { return exclusive_; }

 private:
  friend PassThroughResult ExecuteOnNode(const PassThroughRequest& request, const NodeOps& ops);
  std::atomic<bool> exclusive_;
  std::mutex mutex_;  // one command at a time on one node
  std::unique_ptr<OpenNode> node_;
  bool nodeExclusive_ = false;
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
// on its own would.
PassThroughResult ExecuteOnNode(const PassThroughRequest& request, const NodeOps& ops);

}  // namespace fwtool
