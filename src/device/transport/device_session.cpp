// SPDX-License-Identifier: GPL-2.0-or-later
#include "device_session.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>

#include "held_node.h"

namespace fwtool {

namespace {

struct Entry {
  std::shared_ptr<HeldNode> node;
  int depth = 0;
};

// Paths name the same device whatever their case (the device list
// lower-cases them); the look-up of every command compares without copying.
struct CaseBlindLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      return std::tolower(static_cast<unsigned char>(x)) <
             std::tolower(static_cast<unsigned char>(y));
    });
  }
};

struct Sessions {
  std::mutex mutex;
  std::map<std::string, Entry, CaseBlindLess> byPath;
};

Sessions& TheSessions() {
  static Sessions sessions;
  return sessions;
}

}  // namespace

DeviceSession::DeviceSession(std::string_view path, SessionAccess access, UnitCheck check)
    : key_(path), checks_(static_cast<bool>(check)) {
  auto& sessions = TheSessions();
  const std::lock_guard lock(sessions.mutex);
  Entry& entry = sessions.byPath[key_];
  const bool exclusive = access == SessionAccess::Exclusive;
  if (!entry.node)
    entry.node = std::make_shared<HeldNode>(exclusive);
  else if (exclusive)
    entry.node->RequireExclusive();
  if (checks_) entry.node->SetUnitCheck(std::move(check));
  node_ = entry.node;
  ++entry.depth;
}

std::string DeviceSession::Refusal() const {
  return node_->Refusal();
}

DeviceSession::~DeviceSession() {
  // The check belongs to this session's operation, not to an outer one.
  if (checks_) node_->SetUnitCheck({});
  node_.reset();
  std::shared_ptr<HeldNode> last;  // closes the node after the lock is released
  auto& sessions = TheSessions();
  const std::lock_guard lock(sessions.mutex);
  auto it = sessions.byPath.find(key_);
  if (it == sessions.byPath.end() || --it->second.depth > 0) return;
  last = std::move(it->second.node);
  sessions.byPath.erase(it);
}

std::shared_ptr<HeldNode> HeldNodeFor(std::string_view path) {
  auto& sessions = TheSessions();
  const std::lock_guard lock(sessions.mutex);
  if (sessions.byPath.empty()) return nullptr;
  auto it = sessions.byPath.find(path);
  return it != sessions.byPath.end() ? it->second.node : nullptr;
}

}  // namespace fwtool
