// SPDX-License-Identifier: GPL-2.0-or-later
#include "held_node.h"

namespace fwtool {

void HeldNode::SetUnitCheck(UnitCheck check) {
  const std::lock_guard lock(checkMutex_);
  check_ = std::move(check);
  checked_ = false;
  refusal_.clear();
}

std::string HeldNode::Refusal() const {
  const std::lock_guard lock(checkMutex_);
  return refusal_;
}

void HeldNode::NextGeneration() {
  const std::lock_guard lock(checkMutex_);
  ++generation_;
}

bool HeldNode::WriteAllowedOnOpenNode() const {
  const std::lock_guard lock(checkMutex_);
  return !check_ || checking_ || (checked_ && checkedGeneration_ == generation_);
}

std::string HeldNode::CheckBeforeWrite() {
  UnitCheck check;
  {
    const std::lock_guard lock(checkMutex_);
    if (!refusal_.empty()) return refusal_;
    // The check's own commands read only; nothing nests.
    if (!check_ || checking_) return {};
    if (checked_ && checkedGeneration_ == generation_ && exclusive_) return {};
    checking_ = true;
    check = check_;
  }
  // The identification goes to the node the write will go to: exclusive,
  // so nobody else can reach the unit between the two.
  RequireExclusive();
  std::string why = check();
  const std::lock_guard lock(checkMutex_);
  checking_ = false;
  if (why.empty()) {
    checked_ = true;
    checkedGeneration_ = generation_;
  } else {
    refusal_ = why;
  }
  return why;
}

namespace {

PassThroughResult DepartedResult() {
  PassThroughResult result;
  result.notSent = true;
  result.detail = "the unit has left; the session that held it has ended";
  return result;
}

}  // namespace

PassThroughResult ExecuteOnPinnedNode(HeldNode& held, const PassThroughRequest& request,
                                      const NodeOps& ops) {
  if (held.departed_) return DepartedResult();
  if (!held.node_) {
    // Opened once, with the access the session asked for; a node that
    // could not be opened is not tried again under the same name.
    if (held.everOpened_) return DepartedResult();
    PassThroughResult failure;
    held.everOpened_ = true;
    held.node_ = ops.open(held.Exclusive(), failure);
    if (!held.node_) {
      held.departed_ = true;
      const std::lock_guard check(held.checkMutex_);
      held.openFailure_ = failure.detail.empty() ? "the node cannot be opened" : failure.detail;
      return failure;
    }
    held.nodeExclusive_ = held.Exclusive();
    held.NextGeneration();
  }
  if (request.direction == DataDirection::Out && !held.WriteAllowedOnOpenNode()) {
    PassThroughResult result;
    result.notSent = true;
    result.detail = "the unit was not identified again on this open";
    return result;
  }
  bool gone = false;
  PassThroughResult result = ops.send(*held.node_, gone);
  if (gone) {
    held.departed_ = true;
    held.node_.reset();
    held.NextGeneration();
  }
  return result;
}

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
  if (held.pinned_) return ExecuteOnPinnedNode(held, request, ops);
  const bool exclusive = request.exclusive || held.Exclusive();
  auto open = [&] {
    held.node_ = ops.open(exclusive, failure);
    if (!held.node_) return false;
    held.nodeExclusive_ = exclusive;
    held.everOpened_ = true;
    held.NextGeneration();
    return true;
  };
  auto drop = [&] {
    held.node_.reset();
    held.NextGeneration();
  };
  const bool writes = request.direction == DataDirection::Out;
  // A shared node cannot serve a command that wants the device to itself:
  // it is closed before the exclusive open, which it would block.
  if (held.node_ && exclusive && !held.nodeExclusive_) drop();
  const bool reused = held.node_ != nullptr;
  if (!reused && !open()) return failure;
  PassThroughResult result;
  if (!writes || held.WriteAllowedOnOpenNode()) {
    result = ops.send(*held.node_, gone);
    if (!gone) return result;
  } else {
    // Opened for this write without the check: nothing goes to a unit that
    // was not identified again.
    result.notSent = true;
    result.detail = "the unit was not identified again on this open";
    return result;
  }
  drop();
  if (!reused || !open()) return reused ? failure : result;
  // A write waits for the check on the new node; what it gets is the
  // departure of the device it was meant for.
  if (writes && !held.WriteAllowedOnOpenNode()) return result;
  gone = false;
  result = ops.send(*held.node_, gone);
  if (gone) drop();
  return result;
}

}  // namespace fwtool
