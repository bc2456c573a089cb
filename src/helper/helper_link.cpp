// SPDX-License-Identifier: GPL-2.0-or-later
#include "helper_link.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>

namespace fwtool::helper {

namespace {

constexpr size_t kReadChunk = 64 * 1024;

// Writes everything; on a socket without SIGPIPE, elsewhere (a pipe) as
// write(2) does.
bool WriteAll(int fd, const uint8_t* data, size_t size) {
  bool socket = true;
  while (size > 0) {
    ssize_t n = socket ? ::send(fd, data, size, MSG_NOSIGNAL) : ::write(fd, data, size);
    if (n < 0 && socket && errno == ENOTSOCK) {
      socket = false;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

bool FrameLink::Send(const Message& message) {
  const std::vector<uint8_t> frame = EncodeFrame(message);
  return !frame.empty() && WriteAll(out_, frame.data(), frame.size());
}

Incoming FrameLink::Receive(int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  std::array<uint8_t, kReadChunk> chunk{};
  Incoming incoming;
  for (;;) {
    if (auto body = reader_.Next()) {
      Decoded decoded = DecodeBody(*body);
      if (auto* message = std::get_if<Message>(&decoded)) {
        incoming.kind = Incoming::Kind::Message;
        incoming.message = std::move(*message);
        return incoming;
      }
      incoming.failure = std::get<DecodeFailure>(decoded);
      incoming.kind = incoming.failure.reason == RefusalReason::Malformed
                          ? Incoming::Kind::Broken
                          : Incoming::Kind::Refusable;
      return incoming;
    }
    if (reader_.Broken()) {
      incoming.kind = Incoming::Kind::Broken;
      incoming.failure = {RefusalReason::TooLong, reader_.Failure()};
      return incoming;
    }
    if (timeoutMs >= 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      pollfd wait{in_, POLLIN, 0};
      const int ready = left > 0 ? ::poll(&wait, 1, static_cast<int>(left)) : 0;
      if (ready < 0 && errno == EINTR) continue;
      if (ready == 0) {
        incoming.kind = Incoming::Kind::TimedOut;
        return incoming;
      }
    }
    const ssize_t n = ::read(in_, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      incoming.kind = Incoming::Kind::Ended;
      return incoming;
    }
    reader_.Feed(std::span(chunk.data(), static_cast<size_t>(n)));
  }
}

}  // namespace fwtool::helper
