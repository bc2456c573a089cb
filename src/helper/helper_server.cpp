// SPDX-License-Identifier: GPL-2.0-or-later
#include "helper_server.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <span>
#include <type_traits>

#include "chip_rows.h"
#include "command_table.h"
#include "held_node.h"
#include "identify.h"
#include "operator.h"
#include "transport.h"

namespace fwtool::helper {

namespace {

Refused Refuse(RefusalReason reason, std::string text) {
  return Refused{reason, std::move(text)};
}

// Identification may want to tell the operator something; the helper has
// nobody to tell.
class NoOperator final : public OperatorServices {
 public:
  void MessageBox(const std::string&, const std::string&, MessageIcon) override {}
  void SimpleMessage(const std::string&) override {}
  std::optional<std::string> OpenFileDialog(const FileDialogRequest&) override {
    return std::nullopt;
  }
  void ProcessMessages() override {}
  void DebugOutput(const std::string&) override {}
};

std::string BlockText(const Command& command) {
  return HexBytes(command.cdb.data(), command.cdbLength);
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
  Session session;
  session.path = request.path;
  session.exclusive = request.exclusive;
  session.node = std::make_shared<HeldNode>(request.exclusive);
  // The node opened by the identification's first command is the
  // session's for good.
  session.node->Pin();
  {
    const ScopedCommandRoute route(backend_, session.node);
    NoOperator nobody;
    session.chipType = ChipTypeOf(IdentifyChip(nobody, request.path));
  }
  if (const std::string failure = session.node->OpenFailure(); !failure.empty())
    return Refuse(RefusalReason::NotIdentified, failure);
  if (session.node->Departed())
    return Refuse(RefusalReason::NotIdentified, request.path + " left while it was identified");
  if (session.chipType == kUnrecognisedChip)
    return Refuse(RefusalReason::NotIdentified,
                  request.path + " is not a controller of the family fwtool updates");
  while (nextSession_ == 0 || sessions_.contains(nextSession_)) ++nextSession_;
  const uint32_t id = nextSession_++;
  sessions_[id] = std::move(session);
  return Opened{id};
}

Message HelperServer::Run(const Command& command) {
  const auto it = sessions_.find(command.session);
  if (it == sessions_.end())
    return Refuse(RefusalReason::NoSession,
                  "no session " + std::to_string(command.session) + " is open");
  Session& session = it->second;
  if (const std::string why = Judge(session, command); !why.empty())
    return Refuse(RefusalReason::NotAllowed, why);
  PassThroughRequest request;
  request.path = session.path;
  request.held = session.node;
  request.direction = command.direction;
  request.exclusive = session.exclusive;
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

std::string HelperServer::Judge(Session& session, const Command& command) {
  const std::span<const uint8_t> cdb(command.cdb.data(), command.cdbLength);
  const CommandRow* row = FindCommandRow(cdb, command.direction);
  if (row == nullptr)
    return fmt::format("the block {} ({}) is none of the commands of firmware work",
                       BlockText(command),
                       command.direction == DataDirection::Out ? "data-out" : "data-in");
  if (command.direction == DataDirection::Out && !session.exclusive)
    return fmt::format("{} goes only on a session opened for exclusive access", row->name);
  if (row->use != CommandUse::SectorRead && row->use != CommandUse::SectorWrite) return {};

  // Sector commands: inside the controller's firmware place only.
  if (!session.placeSought) {
    session.placeSought = true;
    const ScopedCommandRoute route(backend_, session.node);
    session.place = FindFirmwarePlace(session.path, session.chipType, session.noPlace);
  }
  if (!session.place)
    return fmt::format("{} refused: the disk is not touched here ({})", row->name, session.noPlace);
  const FirmwarePlace& place = *session.place;
  const auto span = SectorsOf(cdb);
  if (!span) return fmt::format("{} refused: a block too short to name its sectors", row->name);
  if (span->count * place.sectorSize != command.length)
    return fmt::format("{} refused: {} sectors of {} bytes do not make the {} bytes sent",
                       row->name, span->count, place.sectorSize, command.length);
  std::string why;
  if (row->use == CommandUse::SectorRead) {
    why = SectorReadRefusal(place, *span);
  } else {
    if (diskInUse_) why = diskInUse_(session.path);
    if (why.empty()) {
      const ScopedCommandRoute route(backend_, session.node);
      why = SectorWriteRefusal(session.path, place, *span);
    }
  }
  return why.empty() ? why : fmt::format("{} refused: {}", row->name, why);
}

Message HelperServer::CloseSession(const Close& request) {
  if (sessions_.erase(request.session) == 0)
    return Refuse(RefusalReason::NoSession,
                  "no session " + std::to_string(request.session) + " is open");
  return Closed{};
}

}  // namespace fwtool::helper
