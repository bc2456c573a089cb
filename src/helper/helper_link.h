// SPDX-License-Identifier: GPL-2.0-or-later
// Frames of the helper protocol over a file descriptor: the helper's
// standard input and output, or the program's end of the socket it shares
// with the helper. Blocking, one message at a time.
#pragma once

#include <string>

#include "helper_protocol.h"

namespace fwtool::helper {

struct Incoming {
  enum class Kind {
    Message,    // a whole, well-formed message
    Refusable,  // a well-formed frame whose request is refused (a length over its bound)
    Broken,     // a frame that cannot be read: the stream is out of step from here on
    Ended,      // the peer has gone (end of stream, or a frame cut short by it)
    TimedOut,   // nothing whole arrived in the time given
  };
  Kind kind = Kind::Ended;
  Message message;
  DecodeFailure failure;  // Refusable and Broken: what was wrong
};

class FrameLink {
 public:
  // Reads from `in` and writes to `out` (the same descriptor for a socket).
  // The link does not own them.
  FrameLink(int in, int out) : in_(in), out_(out) {}

  // False when the peer has gone. Never raises SIGPIPE on a socket.
  bool Send(const Message& message);
  // The next message; `timeoutMs` < 0 waits as long as it takes.
  Incoming Receive(int timeoutMs = -1);

 private:
  int in_;
  int out_;
  FrameReader reader_;
};

}  // namespace fwtool::helper
