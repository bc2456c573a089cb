// SPDX-License-Identifier: GPL-2.0-or-later
#include "helper_server.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "held_node.h"
#include "transport.h"

namespace fwtool::helper {

namespace {

Refused Refuse(RefusalReason reason, std::string text) {
  return Refused{reason, std::move(text)};
}

}  // namespace

int HelperServer::Serve(FrameLink& link) {
  int code = 0;
  if (link.Send(Hello{kMaxData, version_})) {
    for (;;) {
      Incoming incoming = link.Receive();
      if (incoming.kind == Incoming::Kind::Ended || incoming.kind == Incoming::Kind::TimedOut)
        break;
      if (incoming.kind == Incoming::Kind::Broken) {
        link.Send(Refuse(incoming.failure.reason, incoming.failure.text));
        code = 1;
        break;
      }
      const Message reply = incoming.kind == Incoming::Kind::Refusable
                                ? Message(Refuse(incoming.failure.reason, incoming.failure.text))
                                : Answer(incoming.message);
      if (!link.Send(reply)) break;
    }
  }
  sessions_.clear();
  return code;
}

Message HelperServer::Answer(const Message& request) {
  return std::visit(
      [this](const auto& m) -> Message {
        using T = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<T, Enumerate>) return Enumerated();
        if constexpr (std::is_same_v<T, Open>) return OpenSession(m);
        if constexpr (std::is_same_v<T, Command>) return Run(m);
        if constexpr (std::is_same_v<T, Close>) return CloseSession(m);
        return Refuse(RefusalReason::Unexpected,
                      "the helper takes Enumerate, Open, Command and Close");
      },
      request);
}

Message HelperServer::Enumerated() {
  return Interfaces{devices_.DiskInterfaces(), devices_.CdromInterfaces()};
}

Message HelperServer::OpenSession(const Open& request) {
  // Listed now, by this helper: a path typed by the program, a node that
  // left since the program's last list, or anything else is not served.
  const Interfaces listed{devices_.DiskInterfaces(), devices_.CdromInterfaces()};
  const auto has = [&](const std::vector<std::string>& paths) {
    return std::find(paths.begin(), paths.end(), request.path) != paths.end();
  };
  if (!has(listed.disks) && !has(listed.cdroms))
    return Refuse(RefusalReason::NotListed,
                  request.path + " is not a USB or SBP-2 storage interface the helper listed");
  if (sessions_.size() >= kMaxSessions)
    return Refuse(RefusalReason::TooManySessions,
                  "already " + std::to_string(kMaxSessions) + " sessions open");
  while (nextSession_ == 0 || sessions_.contains(nextSession_)) ++nextSession_;
  const uint32_t id = nextSession_++;
  sessions_[id] = Session{request.path, std::make_shared<HeldNode>(request.exclusive)};
  return Opened{id};
}

Message HelperServer::Run(const Command& command) {
  const auto it = sessions_.find(command.session);
  if (it == sessions_.end())
    return Refuse(RefusalReason::NoSession,
                  "no session " + std::to_string(command.session) + " is open");
  PassThroughRequest request;
  request.path = it->second.path;
  request.held = it->second.node;
  request.direction = command.direction;
  request.exclusive = command.exclusive || command.direction == DataDirection::Out;
  request.cdbLength = command.cdbLength;
  std::copy(command.cdb.begin(), command.cdb.end(), request.cdb.begin());
  std::fill(request.cdb.begin() + command.cdbLength, request.cdb.end(), 0);
  request.length = command.length;
  request.timeoutSeconds = command.timeoutSeconds;

  Result reply;
  AlignedBuffer data;
  if (command.length != 0) {
    data = AlignedBuffer(command.length);
    if (!data) {
      reply.result.notSent = true;
      reply.result.detail =
          "the helper has no memory for a transfer of " + std::to_string(command.length) + " bytes";
      return reply;
    }
    if (command.direction == DataDirection::Out)
      std::memcpy(data.data(), command.data.data(), command.length);
    request.data = data.data();
  }
  reply.result = backend_.Execute(request);
  reply.result.transferred = std::min(reply.result.transferred, command.length);
  if (command.direction == DataDirection::In && command.length != 0)
    reply.data.assign(data.begin(), data.end());
  return reply;
}

Message HelperServer::CloseSession(const Close& request) {
  if (sessions_.erase(request.session) == 0)
    return Refuse(RefusalReason::NoSession,
                  "no session " + std::to_string(request.session) + " is open");
  return Closed{};
}

}  // namespace fwtool::helper
