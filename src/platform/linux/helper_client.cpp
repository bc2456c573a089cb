// SPDX-License-Identifier: GPL-2.0-or-later
#include "helper_client.h"

#include <fmt/format.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <type_traits>

#include "held_node.h"

namespace fwtool::platform {

namespace {

std::string RefusedText(const helper::Refused& refused) {
  return fmt::format("{} refuses: {}", kHelperName, refused.text);
}

// A session the helper holds for one of the program's nodes; closing the
// node closes it.
class HelperSession final : public OpenNode {
 public:
  HelperSession(std::shared_ptr<HelperConnection> connection, uint32_t id)
      : connection_(std::move(connection)), id_(id) {}
  ~HelperSession() override {
    std::string ignored;
    connection_->Exchange(helper::Close{id_}, ignored);
  }
  HelperSession(const HelperSession&) = delete;
  HelperSession& operator=(const HelperSession&) = delete;
  uint32_t Id() const { return id_; }

 private:
  std::shared_ptr<HelperConnection> connection_;
  uint32_t id_;
};

// The reply must answer the request: its own type, or Refused.
bool Answers(const helper::Message& request, const helper::Message& reply) {
  using helper::MessageType;
  const MessageType got = helper::TypeOf(reply);
  if (got == MessageType::Refused) return true;
  switch (helper::TypeOf(request)) {
    case MessageType::Enumerate:
      return got == MessageType::Interfaces;
    case MessageType::Open:
      return got == MessageType::Opened;
    case MessageType::Command:
      return got == MessageType::Result;
    case MessageType::Close:
      return got == MessageType::Closed;
    default:
      return false;
  }
}

PassThroughResult NotReached(const std::string& path, const std::string& why) {
  PassThroughResult result;
  result.detail = fmt::format("cannot open {}: {}", path, why);
  return result;
}

}  // namespace

std::shared_ptr<HelperConnection> HelperConnection::Take(int fd, int timeoutMs, std::string& why) {
  std::shared_ptr<HelperConnection> connection(new HelperConnection(fd));
  helper::Incoming hello = connection->link_.Receive(timeoutMs);
  if (hello.kind == helper::Incoming::Kind::Message) {
    if (const auto* h = std::get_if<helper::Hello>(&hello.message)) {
      connection->version_ = h->version;
      connection->maxData_ = std::min(h->maxData, helper::kMaxData);
      return connection;
    }
  }
  switch (hello.kind) {
    case helper::Incoming::Kind::Ended:
      why = fmt::format("{} ended before it said hello", kHelperName);
      break;
    case helper::Incoming::Kind::TimedOut:
      why = fmt::format("no hello from {} within {} ms", kHelperName, timeoutMs);
      break;
    default:
      why = fmt::format("the peer does not speak the protocol of {} ({})", kHelperName,
                        hello.failure.text.empty() ? "no hello" : hello.failure.text);
      break;
  }
  return nullptr;
}

HelperConnection::~HelperConnection() {
  if (fd_ >= 0) ::close(fd_);
  // The helper ends when its input does.
  if (process_ > 0) {
    int status = 0;
    while (::waitpid(process_, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

bool HelperConnection::Gone() const {
  const std::lock_guard lock(mutex_);
  return !goneWhy_.empty();
}

void HelperConnection::Drop(std::string why) {
  goneWhy_ = std::move(why);
  // The helper sees the end of its input and ends; the descriptor stays
  // reserved until the connection goes, so no other file takes its number.
  ::shutdown(fd_, SHUT_RDWR);
}

std::optional<helper::Message> HelperConnection::Exchange(const helper::Message& request,
                                                          std::string& why) {
  const std::lock_guard lock(mutex_);
  if (!goneWhy_.empty()) {
    why = goneWhy_;
    return std::nullopt;
  }
  if (!link_.Send(request)) {
    Drop(fmt::format("{} has ended", kHelperName));
    why = goneWhy_;
    return std::nullopt;
  }
  helper::Incoming reply = link_.Receive();
  switch (reply.kind) {
    case helper::Incoming::Kind::Message:
      if (Answers(request, reply.message)) return std::move(reply.message);
      Drop(fmt::format("{} answered out of turn", kHelperName));
      break;
    case helper::Incoming::Kind::Ended:
    case helper::Incoming::Kind::TimedOut:
      Drop(fmt::format("{} has ended", kHelperName));
      break;
    case helper::Incoming::Kind::Refusable:
    case helper::Incoming::Kind::Broken:
      Drop(fmt::format("{} sent a frame that cannot be read: {}", kHelperName, reply.failure.text));
      break;
  }
  why = goneWhy_;
  return std::nullopt;
}

std::optional<HelperInterfaces> AskInterfaces(HelperConnection& connection, std::string& why) {
  auto reply = connection.Exchange(helper::Enumerate{}, why);
  if (!reply) return std::nullopt;
  if (auto* listed = std::get_if<helper::Interfaces>(&*reply))
    return HelperInterfaces{std::move(listed->disks), std::move(listed->cdroms)};
  why = RefusedText(std::get<helper::Refused>(*reply));
  return std::nullopt;
}

PassThroughResult HelperBackend::Execute(const PassThroughRequest& request) {
  const uint32_t bound = connection_->MaxData();
  if (request.length > bound) {
    PassThroughResult refused;
    refused.notSent = true;
    refused.detail = fmt::format("transfer of {} bytes exceeds the limit of {} ({} KB)",
                                 request.length, kHelperName, bound / 1024);
    return refused;
  }
  if (request.length != 0 && request.data == nullptr) {
    PassThroughResult refused;
    refused.notSent = true;
    refused.detail = fmt::format("no data buffer for a transfer of {} bytes", request.length);
    return refused;
  }

  NodeOps ops;
  ops.open = [&](bool exclusive, PassThroughResult& failure) -> std::unique_ptr<OpenNode> {
    std::string why;
    auto reply = connection_->Exchange(helper::Open{request.path, exclusive}, why);
    if (!reply) {
      failure = NotReached(request.path, why);
      return nullptr;
    }
    if (const auto* opened = std::get_if<helper::Opened>(&*reply))
      return std::make_unique<HelperSession>(connection_, opened->session);
    failure = NotReached(request.path, RefusedText(std::get<helper::Refused>(*reply)));
    return nullptr;
  };
  ops.send = [&](OpenNode& node, bool&) -> PassThroughResult {
    helper::Command command;
    command.session = static_cast<HelperSession&>(node).Id();
    command.direction = request.direction;
    command.exclusive = request.exclusive;
    command.cdbLength = request.cdbLength;
    command.cdb = request.cdb;
    command.length = request.length;
    command.timeoutSeconds = request.timeoutSeconds;
    if (request.direction == DataDirection::Out && request.length != 0)
      command.data.assign(request.data, request.data + request.length);
    std::string why;
    auto reply = connection_->Exchange(command, why);
    if (!reply) return NotReached(request.path, why);
    if (const auto* refused = std::get_if<helper::Refused>(&*reply)) {
      PassThroughResult result;
      result.notSent = true;
      result.detail = RefusedText(*refused);
      return result;
    }
    auto& answer = std::get<helper::Result>(*reply);
    const size_t expected = request.direction == DataDirection::In ? request.length : 0;
    if (answer.data.size() != expected || answer.result.transferred > request.length) {
      PassThroughResult result;
      result.detail = fmt::format("{} answered {} data bytes for a command of {}", kHelperName,
                                  answer.data.size(), request.length);
      return result;
    }
    if (expected != 0) std::memcpy(request.data, answer.data.data(), expected);
    // The helper's own failure to open reads as this program's.
    return std::move(answer.result);
  };
  return ExecuteOnNode(request, ops);
}

}  // namespace fwtool::platform
