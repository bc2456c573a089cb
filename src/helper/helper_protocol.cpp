// SPDX-License-Identifier: GPL-2.0-or-later
#include "helper_protocol.h"

#include <algorithm>
#include <type_traits>

namespace fwtool::helper {

namespace {

// Result flags, one bit each.
constexpr uint8_t kFlagNotSent = 0x01;
constexpr uint8_t kFlagOpened = 0x02;
constexpr uint8_t kFlagCallOk = 0x04;
constexpr uint8_t kKnownFlags = kFlagNotSent | kFlagOpened | kFlagCallOk;

constexpr size_t kLengthPrefix = 4;

class Writer {
 public:
  Writer() { bytes_.resize(kLengthPrefix); }
  void U8(uint8_t value) { bytes_.push_back(value); }
  void U16(uint16_t value) {
    for (int i = 0; i < 2; ++i) bytes_.push_back(static_cast<uint8_t>(value >> (8 * i)));
  }
  void U32(uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(value >> (8 * i)));
  }
  void Bytes(std::span<const uint8_t> data) {
    bytes_.insert(bytes_.end(), data.begin(), data.end());
  }
  void Text(std::string_view text, size_t bound) {
    text = text.substr(0, bound);
    U16(static_cast<uint16_t>(text.size()));
    bytes_.insert(bytes_.end(), text.begin(), text.end());
  }
  // Puts the body length in front.
  std::vector<uint8_t> Finish() {
    const auto body = static_cast<uint32_t>(bytes_.size() - kLengthPrefix);
    for (size_t i = 0; i < kLengthPrefix; ++i) bytes_[i] = static_cast<uint8_t>(body >> (8 * i));
    return std::move(bytes_);
  }

 private:
  std::vector<uint8_t> bytes_;
};

// Reads fields off a body; the first field that does not fit marks the
// reader failed, and every later read gives zeros.
class Reader {
 public:
  explicit Reader(std::span<const uint8_t> body) : body_(body) {}
  bool Ok() const { return ok_; }
  bool AtEnd() const { return at_ == body_.size(); }
  const std::string& Failure() const { return failure_; }
  void Fail(std::string why) {
    if (ok_) failure_ = std::move(why);
    ok_ = false;
  }

  uint8_t U8() {
    if (!Have(1)) return 0;
    return body_[at_++];
  }
  uint16_t U16() {
    if (!Have(2)) return 0;
    uint16_t value = 0;
    for (int i = 0; i < 2; ++i) value |= static_cast<uint16_t>(body_[at_++] << (8 * i));
    return value;
  }
  uint32_t U32() {
    if (!Have(4)) return 0;
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(body_[at_++]) << (8 * i);
    return value;
  }
  void Bytes(size_t count, std::vector<uint8_t>& out) {
    if (!Have(count)) return;
    out.assign(body_.begin() + static_cast<ptrdiff_t>(at_),
               body_.begin() + static_cast<ptrdiff_t>(at_ + count));
    at_ += count;
  }
  // A text of at most `bound` bytes; `path` texts hold no zero byte.
  std::string Text(size_t bound, const char* what, bool path = false) {
    const uint16_t length = U16();
    if (!ok_) return {};
    if (length > bound) {
      Fail(std::string(what) + " longer than " + std::to_string(bound) + " bytes");
      return {};
    }
    if (!Have(length)) return {};
    std::string text(reinterpret_cast<const char*>(body_.data() + at_), length);
    at_ += length;
    if (path && (text.empty() || text.find('\0') != std::string::npos)) {
      Fail(std::string("empty ") + what + " or one with a zero byte");
      return {};
    }
    return text;
  }
  bool Flag(const char* what) {
    const uint8_t value = U8();
    if (value > 1) Fail(std::string(what) + " is neither 0 nor 1");
    return value == 1;
  }

 private:
  bool Have(size_t count) {
    if (!ok_) return false;
    if (body_.size() - at_ < count) {
      Fail("the frame ends inside a field");
      return false;
    }
    return true;
  }

  std::span<const uint8_t> body_;
  size_t at_ = 0;
  bool ok_ = true;
  std::string failure_;
};

void Put(Writer& w, const Hello& m) {
  w.U32(m.maxData);
  w.Text(m.version, kMaxTextLength);
}
void Put(Writer&, const Enumerate&) {}
void Put(Writer& w, const Interfaces& m) {
  for (const auto* list : {&m.disks, &m.cdroms}) {
    const size_t count = std::min(list->size(), kMaxInterfaces);
    w.U16(static_cast<uint16_t>(count));
    for (size_t i = 0; i < count; ++i) w.Text((*list)[i], kMaxPathLength);
  }
}
void Put(Writer& w, const Open& m) {
  w.U8(m.exclusive ? 1 : 0);
  w.Text(m.path, kMaxPathLength);
}
void Put(Writer& w, const Opened& m) {
  w.U32(m.session);
}
void Put(Writer& w, const Command& m) {
  w.U32(m.session);
  w.U8(m.direction == DataDirection::Out ? 1 : 0);
  w.U8(m.exclusive ? 1 : 0);
  w.U8(m.cdbLength);
  w.Bytes(m.cdb);
  w.U32(m.length);
  w.U32(m.timeoutSeconds);
  w.Bytes(m.data);
}
void Put(Writer& w, const Result& m) {
  const PassThroughResult& r = m.result;
  w.U8(static_cast<uint8_t>((r.notSent ? kFlagNotSent : 0) | (r.opened ? kFlagOpened : 0) |
                            (r.callOk ? kFlagCallOk : 0)));
  w.U32(static_cast<uint32_t>(r.errorCode));
  w.U8(r.scsiStatus);
  w.U16(r.hostStatus);
  w.U16(r.driverStatus);
  w.U32(r.transferred);
  const size_t sense = std::min(r.sense.size(), kMaxSenseLength);
  w.U8(static_cast<uint8_t>(sense));
  w.Bytes(std::span(r.sense).first(sense));
  w.Text(r.detail, kMaxTextLength);
  w.U32(static_cast<uint32_t>(m.data.size()));
  w.Bytes(m.data);
}
void Put(Writer& w, const Close& m) {
  w.U32(m.session);
}
void Put(Writer&, const Closed&) {}
void Put(Writer& w, const Refused& m) {
  w.U8(static_cast<uint8_t>(m.reason));
  w.Text(m.text, kMaxTextLength);
}

bool DataFits(const Message& message) {
  if (const auto* c = std::get_if<Command>(&message)) return c->data.size() <= kMaxData;
  if (const auto* r = std::get_if<Result>(&message)) return r->data.size() <= kMaxData;
  return true;
}

std::vector<std::string> TakePaths(Reader& r, const char* what) {
  const uint16_t count = r.U16();
  std::vector<std::string> paths;
  if (count > kMaxInterfaces) {
    r.Fail(std::string("more than ") + std::to_string(kMaxInterfaces) + " " + what);
    return paths;
  }
  for (uint16_t i = 0; i < count && r.Ok(); ++i)
    paths.push_back(r.Text(kMaxPathLength, what, true));
  return paths;
}

// A command that asks for more data than the bound: refused, but the frame
// was read whole.
struct TooLongCommand {
  uint32_t length;
};

std::variant<Command, TooLongCommand> TakeCommand(Reader& r) {
  Command m;
  m.session = r.U32();
  const uint8_t direction = r.U8();
  if (direction > 1) r.Fail("direction is neither in (0) nor out (1)");
  m.direction = direction == 1 ? DataDirection::Out : DataDirection::In;
  m.exclusive = r.Flag("exclusive");
  m.cdbLength = r.U8();
  if (r.Ok() && (m.cdbLength == 0 || m.cdbLength > kMaxCommandBlock))
    r.Fail("command block of " + std::to_string(m.cdbLength) + " bytes (1 to 16 are taken)");
  std::vector<uint8_t> cdb;
  r.Bytes(kMaxCommandBlock, cdb);
  if (r.Ok()) std::copy(cdb.begin(), cdb.end(), m.cdb.begin());
  m.length = r.U32();
  m.timeoutSeconds = r.U32();
  if (r.Ok() && (m.timeoutSeconds == 0 || m.timeoutSeconds > kMaxTimeoutSeconds))
    r.Fail("time-out of " + std::to_string(m.timeoutSeconds) + " s (1 to " +
           std::to_string(kMaxTimeoutSeconds) + " are taken)");
  if (!r.Ok()) return m;
  if (m.length > kMaxData) return TooLongCommand{m.length};
  if (m.direction == DataDirection::Out) r.Bytes(m.length, m.data);
  return m;
}

Result TakeResult(Reader& r) {
  Result m;
  PassThroughResult& result = m.result;
  const uint8_t flags = r.U8();
  if (flags & ~kKnownFlags) r.Fail("unknown result flags");
  result.notSent = (flags & kFlagNotSent) != 0;
  result.opened = (flags & kFlagOpened) != 0;
  result.callOk = (flags & kFlagCallOk) != 0;
  result.errorCode = static_cast<int>(r.U32());
  result.scsiStatus = r.U8();
  result.hostStatus = r.U16();
  result.driverStatus = r.U16();
  result.transferred = r.U32();
  const uint8_t sense = r.U8();
  if (sense > kMaxSenseLength) r.Fail("sense data longer than " + std::to_string(kMaxSenseLength));
  r.Bytes(sense, result.sense);
  result.detail = r.Text(kMaxTextLength, "detail");
  const uint32_t length = r.U32();
  if (r.Ok() && length > kMaxData)
    r.Fail("result data over " + std::to_string(kMaxData) + " bytes");
  r.Bytes(length, m.data);
  return m;
}

}  // namespace

MessageType TypeOf(const Message& message) {
  return std::visit(
      [](const auto& m) {
        using T = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<T, Hello>) return MessageType::Hello;
        if constexpr (std::is_same_v<T, Enumerate>) return MessageType::Enumerate;
        if constexpr (std::is_same_v<T, Interfaces>) return MessageType::Interfaces;
        if constexpr (std::is_same_v<T, Open>) return MessageType::Open;
        if constexpr (std::is_same_v<T, Opened>) return MessageType::Opened;
        if constexpr (std::is_same_v<T, Command>) return MessageType::Command;
        if constexpr (std::is_same_v<T, Result>) return MessageType::Result;
        if constexpr (std::is_same_v<T, Close>) return MessageType::Close;
        if constexpr (std::is_same_v<T, Closed>) return MessageType::Closed;
        if constexpr (std::is_same_v<T, Refused>) return MessageType::Refused;
      },
      message);
}

std::vector<uint8_t> EncodeFrame(const Message& message) {
  if (!DataFits(message)) return {};
  Writer w;
  w.U8(kProtocolVersion);
  w.U8(static_cast<uint8_t>(TypeOf(message)));
  std::visit([&w](const auto& m) { Put(w, m); }, message);
  return w.Finish();
}

Decoded DecodeBody(std::span<const uint8_t> body) {
  auto malformed = [](std::string text) {
    return DecodeFailure{RefusalReason::Malformed, std::move(text)};
  };
  if (body.size() > kMaxFrameBody) return malformed("frame over the bound");
  Reader r(body);
  const uint8_t version = r.U8();
  const uint8_t type = r.U8();
  if (!r.Ok()) return malformed("a frame too short for its header");
  if (version != kProtocolVersion)
    return malformed("protocol version " + std::to_string(version) + ", not " +
                     std::to_string(kProtocolVersion));

  Message message;
  switch (static_cast<MessageType>(type)) {
    case MessageType::Hello: {
      Hello m;
      m.maxData = r.U32();
      m.version = r.Text(kMaxTextLength, "version");
      message = std::move(m);
      break;
    }
    case MessageType::Enumerate:
      message = Enumerate{};
      break;
    case MessageType::Interfaces: {
      Interfaces m;
      m.disks = TakePaths(r, "disk interfaces");
      m.cdroms = TakePaths(r, "CD-ROM interfaces");
      message = std::move(m);
      break;
    }
    case MessageType::Open: {
      Open m;
      m.exclusive = r.Flag("exclusive");
      m.path = r.Text(kMaxPathLength, "path", true);
      message = std::move(m);
      break;
    }
    case MessageType::Opened:
      message = Opened{r.U32()};
      break;
    case MessageType::Command: {
      auto command = TakeCommand(r);
      if (const auto* tooLong = std::get_if<TooLongCommand>(&command))
        return DecodeFailure{RefusalReason::TooLong,
                             "a data phase of " + std::to_string(tooLong->length) +
                                 " bytes; the helper takes at most " + std::to_string(kMaxData)};
      message = std::move(std::get<Command>(command));
      break;
    }
    case MessageType::Result:
      message = TakeResult(r);
      break;
    case MessageType::Close:
      message = Close{r.U32()};
      break;
    case MessageType::Closed:
      message = Closed{};
      break;
    case MessageType::Refused: {
      Refused m;
      const uint8_t reason = r.U8();
      if (reason < static_cast<uint8_t>(RefusalReason::Malformed) ||
          reason > static_cast<uint8_t>(RefusalReason::NotIdentified))
        r.Fail("unknown refusal reason");
      m.reason = static_cast<RefusalReason>(reason);
      m.text = r.Text(kMaxTextLength, "refusal text");
      message = std::move(m);
      break;
    }
    default:
      return malformed("unknown message type " + std::to_string(type));
  }
  if (!r.Ok()) return malformed(r.Failure());
  if (!r.AtEnd()) return malformed("bytes after the last field");
  return message;
}

void FrameReader::Feed(std::span<const uint8_t> bytes) {
  if (broken_) return;
  // What was taken already goes before the buffer grows.
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<ptrdiff_t>(start_));
  start_ = 0;
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

std::optional<std::vector<uint8_t>> FrameReader::Next() {
  if (broken_ || Pending() < kLengthPrefix) return std::nullopt;
  uint32_t length = 0;
  for (size_t i = 0; i < kLengthPrefix; ++i)
    length |= static_cast<uint32_t>(buffer_[start_ + i]) << (8 * i);
  if (length > kMaxFrameBody) {
    broken_ = true;
    failure_ = "a frame of " + std::to_string(length) + " bytes; at most " +
               std::to_string(kMaxFrameBody) + " are taken";
    buffer_.clear();
    start_ = 0;
    return std::nullopt;
  }
  if (Pending() - kLengthPrefix < length) return std::nullopt;
  const auto first = buffer_.begin() + static_cast<ptrdiff_t>(start_ + kLengthPrefix);
  std::vector<uint8_t> body(first, first + length);
  start_ += kLengthPrefix + length;
  if (start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  }
  return body;
}

const char* RefusalName(RefusalReason reason) {
  switch (reason) {
    case RefusalReason::Malformed:
      return "malformed frame";
    case RefusalReason::NotListed:
      return "path not listed";
    case RefusalReason::TooLong:
      return "length over its bound";
    case RefusalReason::NoSession:
      return "no such session";
    case RefusalReason::TooManySessions:
      return "too many sessions";
    case RefusalReason::Unexpected:
      return "unexpected message";
    case RefusalReason::NotAllowed:
      return "not allowed";
    case RefusalReason::NotIdentified:
      return "not a unit of this family";
  }
  return "unknown refusal";
}

}  // namespace fwtool::helper
