#include "device_session.h"

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

struct Sessions {
  std::mutex mutex;
  std::map<std::string, Entry, std::less<>> byPath;
};

Sessions& TheSessions() {
  static Sessions sessions;
  return sessions;
}

// Paths name the same device whatever their case (the device list lower-cases them).
std::string KeyOf(std::string_view path) {
  std::string key(path);
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return key;
}

}  // namespace

DeviceSession::DeviceSession(std::string_view path, SessionAccess access) : key_(KeyOf(path)) {
  auto& sessions = TheSessions();
  const std::lock_guard lock(sessions.mutex);
  Entry& entry = sessions.byPath[key_];
  const bool exclusive = access == SessionAccess::Exclusive;
  if (!entry.node)
    entry.node = std::make_shared<HeldNode>(exclusive);
  else if (exclusive)
    entry.node->RequireExclusive();
  ++entry.depth;
}

DeviceSession::~DeviceSession() {
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
  auto it = sessions.byPath.find(KeyOf(path));
  return it != sessions.byPath.end() ? it->second.node : nullptr;
}

}  // namespace fwtool
