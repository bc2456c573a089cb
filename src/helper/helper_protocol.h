// SPDX-License-Identifier: GPL-2.0-or-later
// What fwtool and its privileged helper, fwtool-helper, say to each other
// over one byte stream (the helper's standard input and output): frames of
// one message each, every length bounded.
//
// A frame is a 32-bit little-endian body length, then the body: the
// protocol version (kProtocolVersion), the message type, and the message's
// fields. Integers are little-endian; a text is a 16-bit length and its
// bytes. The helper speaks first (Hello); after that every request of the
// program (Enumerate, Open, Command, Close) gets exactly one reply (the
// matching reply, or Refused).
//
// Nothing here touches a file, a socket or the operating system: the same
// code encodes and decodes on both sides, and the fuzz target runs it on
// arbitrary bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "pass_through.h"
#include "transport.h"

namespace fwtool::helper {

// 2: the helper identifies the unit at Open and judges every command.
inline constexpr uint8_t kProtocolVersion = 2;

// The bounds every frame is held to, on both sides.
inline constexpr uint32_t kMaxCommandBlock = 16;
// The largest data phase: the engineering face reads the whole flash of the
// largest size it offers (1 MB) in one command; the one-click update moves
// 8 KB per command, the disk-hosted procedures 64 KB.
inline constexpr uint32_t kMaxData = 1024 * 1024;
// A frame carries at most one data phase and a few small fields.
inline constexpr uint32_t kMaxFrameBody = kMaxData + 4096;
inline constexpr size_t kMaxPathLength = 255;
inline constexpr size_t kMaxTextLength = 1024;
inline constexpr size_t kMaxSenseLength = 252;
// Disk and CD-ROM interfaces in one list (the enumerator keeps 32 of each).
inline constexpr size_t kMaxInterfaces = 64;
inline constexpr uint32_t kMaxTimeoutSeconds = kLongDataOutTimeout;

enum class MessageType : uint8_t {
  Hello = 1,       // helper: it runs, with its version and data bound
  Enumerate = 2,   // program: which interfaces do you serve?
  Interfaces = 3,  // helper: the disk and CD-ROM interfaces it listed
  Open = 4,        // program: a session on a listed path, shared or exclusive
  Opened = 5,      // helper: the session's number
  Command = 6,     // program: one command block on a session
  Result = 7,      // helper: what the command did
  Close = 8,       // program: the session ends
  Closed = 9,      // helper: it has ended
  Refused = 10,    // helper: the request is not served, and why
};

enum class RefusalReason : uint8_t {
  Malformed = 1,        // the frame could not be read; the helper stops
  NotListed = 2,        // a path the helper did not list
  TooLong = 3,          // a length over its bound
  NoSession = 4,        // a session number the helper did not give
  TooManySessions = 5,  // every session slot in use
  Unexpected = 6,       // a message the helper does not take
  NotAllowed = 7,  // a command that is not firmware work on this unit, or sectors it may not touch
  NotIdentified = 8,  // the node cannot be opened, or is no unit of this controller family
};

struct Hello {
  uint32_t maxData = kMaxData;
  std::string version;
};
struct Enumerate {};
struct Interfaces {
  std::vector<std::string> disks;
  std::vector<std::string> cdroms;
};
struct Open {
  std::string path;
  bool exclusive = false;
};
struct Opened {
  uint32_t session = 0;
};
struct Command {
  uint32_t session = 0;
  DataDirection direction = DataDirection::In;
  bool exclusive = false;
  uint8_t cdbLength = 0;
  std::array<uint8_t, kMaxCommandBlock> cdb{};
  uint32_t length = 0;  // the effective transfer length
  uint32_t timeoutSeconds = kDataInTimeout;
  std::vector<uint8_t> data;  // data-out: exactly `length` bytes; data-in: none
};
struct Result {
  PassThroughResult result;
  std::vector<uint8_t> data;  // data-in: the command's `length` bytes; else none
};
struct Close {
  uint32_t session = 0;
};
struct Closed {};
struct Refused {
  RefusalReason reason = RefusalReason::Malformed;
  std::string text;
};

using Message = std::variant<Hello, Enumerate, Interfaces, Open, Opened, Command, Result, Close,
                             Closed, Refused>;

// The type of a message as it goes on the wire.
MessageType TypeOf(const Message& message);

// One frame, length prefix included. Fields over their bounds are cut to
// them (texts) or left out (interfaces past kMaxInterfaces); a command or
// result whose data exceeds kMaxData is the caller's fault and not encoded
// (empty result).
std::vector<uint8_t> EncodeFrame(const Message& message);

// Why a frame body could not be taken: a body that breaks the format is
// Malformed; a well-formed command that asks for more than kMaxData is
// TooLong (the stream is still in step after it).
struct DecodeFailure {
  RefusalReason reason = RefusalReason::Malformed;
  std::string text;
};
using Decoded = std::variant<Message, DecodeFailure>;
// Decodes one frame body (without its length prefix).
Decoded DecodeBody(std::span<const uint8_t> body);

// Cuts a byte stream into frame bodies, whatever pieces it arrives in.
class FrameReader {
 public:
  void Feed(std::span<const uint8_t> bytes);
  // The next whole body, or nothing while more bytes are needed or once the
  // stream is broken (a frame longer than kMaxFrameBody).
  std::optional<std::vector<uint8_t>> Next();
  bool Broken() const { return broken_; }
  const std::string& Failure() const { return failure_; }
  // Bytes fed but not yet taken as a frame.
  size_t Pending() const { return buffer_.size() - start_; }

 private:
  std::vector<uint8_t> buffer_;
  size_t start_ = 0;
  bool broken_ = false;
  std::string failure_;
};

// "path not listed", ... for messages and the trace.
const char* RefusalName(RefusalReason reason);

}  // namespace fwtool::helper
