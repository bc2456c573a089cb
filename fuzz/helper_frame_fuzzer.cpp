// SPDX-License-Identifier: GPL-2.0-or-later
// Arbitrary bytes on the helper's standard input: the frame reader cuts
// them into frames, the decoder takes or refuses each body, and the helper
// answers every request it takes, as fwtool-helper does with whatever the
// program on the other end of its socket sends.
//
// Input: one byte gives the size of the pieces the stream arrives in
// (1 to 256 bytes), the rest is the stream. Each decoded message must
// encode again to a frame that decodes to the same bytes and stays within
// the bounds; each reply of the helper must be a frame the program can read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "enumeration.h"
#include "helper_protocol.h"
#include "helper_server.h"

namespace {

using namespace fwtool;
using namespace fwtool::helper;

// Answers every command as a device that took it, without a device.
class NoDevice final : public PassThroughBackend {
 public:
  PassThroughResult Execute(const PassThroughRequest& request) override {
    if (request.length != 0 && request.data == nullptr) std::abort();
    if (request.cdbLength == 0 || request.cdbLength > kMaxCommandBlock) std::abort();
    PassThroughResult result;
    result.opened = true;
    result.callOk = true;
    result.transferred = request.length;
    if (request.length != 0) request.data[0] = 0x5A;
    return result;
  }
};

void CheckBounds(const Message& message) {
  if (const auto* c = std::get_if<Command>(&message)) {
    if (c->length > kMaxData || c->cdbLength == 0 || c->cdbLength > kMaxCommandBlock) std::abort();
    if (c->direction == DataDirection::Out ? c->data.size() != c->length : !c->data.empty())
      std::abort();
  }
  if (const auto* o = std::get_if<Open>(&message))
    if (o->path.empty() || o->path.size() > kMaxPathLength) std::abort();
  if (const auto* r = std::get_if<Result>(&message))
    if (r->data.size() > kMaxData || r->result.sense.size() > kMaxSenseLength) std::abort();
}

// A frame the other side reads back as the same message.
void CheckRoundTrip(const Message& message) {
  const std::vector<uint8_t> frame = EncodeFrame(message);
  if (frame.size() < 4) std::abort();
  const Decoded again = DecodeBody(std::span(frame).subspan(4));
  if (!std::holds_alternative<Message>(again)) std::abort();
  if (EncodeFrame(std::get<Message>(again)) != frame) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t piece = static_cast<size_t>(data[0]) + 1;
  const std::span<const uint8_t> stream(data + 1, size - 1);

  FixedInterfaces devices({"usbsto:/dev/sg0", "sbp2:/dev/sg1"}, {"usbsto:/dev/sr0"});
  NoDevice backend;
  HelperServer server(devices, backend, "fuzz");
  FrameReader reader;
  for (size_t at = 0; at < stream.size() && !reader.Broken(); at += piece) {
    reader.Feed(stream.subspan(at, std::min(piece, stream.size() - at)));
    while (auto body = reader.Next()) {
      if (body->size() > kMaxFrameBody) std::abort();
      const Decoded decoded = DecodeBody(*body);
      if (const auto* failure = std::get_if<DecodeFailure>(&decoded)) {
        if (failure->text.empty()) std::abort();
        continue;
      }
      const Message& message = std::get<Message>(decoded);
      CheckBounds(message);
      CheckRoundTrip(message);
      const Message reply = server.Answer(message);
      CheckBounds(reply);
      CheckRoundTrip(reply);
    }
  }
  if (reader.Pending() > kMaxFrameBody + 4 + piece) std::abort();
  return 0;
}
