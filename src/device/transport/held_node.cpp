#include "held_node.h"

namespace fwtool {

PassThroughResult ExecuteOnNode(const PassThroughRequest& request, const NodeOps& ops) {
  PassThroughResult failure;
  bool gone = false;
  if (!request.held) {
    const std::unique_ptr<OpenNode> node = ops.open(request.exclusive, failure);
    if (!node) return failure;
    return ops.send(*node, gone);
  }

  HeldNode& held = *request.held;
  const std::lock_guard lock(held.mutex_);
  const bool exclusive = request.exclusive || held.Exclusive();
  // A shared node cannot serve a command that wants the device to itself:
  // it is closed before the exclusive open, which it would block.
  if (held.node_ && exclusive && !held.nodeExclusive_) held.node_.reset();
  const bool reused = held.node_ != nullptr;
  if (!reused) {
    held.node_ = ops.open(exclusive, failure);
    if (!held.node_) return failure;
    held.nodeExclusive_ = exclusive;
  }
  PassThroughResult result = ops.send(*held.node_, gone);
  if (!gone) return result;
  held.node_.reset();
  if (!reused) return result;
  held.node_ = ops.open(exclusive, failure);
  if (!held.node_) return failure;
  held.nodeExclusive_ = exclusive;
  gone = false;
  result = ops.send(*held.node_, gone);
  if (gone) held.node_.reset();
  return result;
}

}  // namespace fwtool
