// SPDX-License-Identifier: GPL-2.0-or-later
// helper-peer: what anything running as the user could do with the socket
// of a running fwtool-helper (FWTOOL_HELPER_FD): open a session on a path
// and send one command block of its own making. It prints what the helper
// answered, one line:
//
//   helper-peer PATH [--out BYTES] BLOCK-BYTES-IN-HEX...
//
//   refused not a unit of this family: ...   (the session was not opened)
//   refused not allowed: ...                 (the command was not sent)
//   sent: <what the unit answered>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>

#include "helper_link.h"
#include "helper_protocol.h"

namespace {

using namespace fwtool;
using namespace fwtool::helper;

int Usage() {
  std::fprintf(stderr, "usage: helper-peer PATH [--out BYTES] BLOCK-BYTES-IN-HEX...\n");
  return 2;
}

bool PrintRefusal(const Message& reply) {
  if (const auto* refused = std::get_if<Refused>(&reply)) {
    std::printf("refused %s: %s\n", RefusalName(refused->reason), refused->text.c_str());
    return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const char* fdText = std::getenv("FWTOOL_HELPER_FD");
  if (fdText == nullptr) {
    std::fprintf(stderr, "helper-peer: no FWTOOL_HELPER_FD\n");
    return 2;
  }
  const int fd = std::atoi(fdText);
  Command command;
  command.direction = DataDirection::In;
  int at = 2;
  if (std::string_view(argv[at]) == "--out" && at + 1 < argc) {
    command.direction = DataDirection::Out;
    command.length = static_cast<uint32_t>(std::strtoul(argv[at + 1], nullptr, 0));
    command.data.assign(command.length, 'P');
    at += 2;
  }
  for (; at < argc && command.cdbLength < kMaxCommandBlock; ++at)
    command.cdb[command.cdbLength++] = static_cast<uint8_t>(std::strtoul(argv[at], nullptr, 16));
  if (command.cdbLength == 0) return Usage();
  command.exclusive = true;
  command.timeoutSeconds = 10;

  FrameLink link(fd, fd);
  if (link.Receive(10000).kind != Incoming::Kind::Message) {
    std::fprintf(stderr, "helper-peer: no hello\n");
    return 1;
  }
  auto ask = [&](const Message& request) -> std::variant<Message, int> {
    if (!link.Send(request)) return 1;
    Incoming reply = link.Receive(60000);
    if (reply.kind != Incoming::Kind::Message) return 1;
    return reply.message;
  };
  auto opened = ask(Open{argv[1], true});
  if (std::holds_alternative<int>(opened)) return 1;
  if (PrintRefusal(std::get<Message>(opened))) return 0;
  command.session = std::get<Opened>(std::get<Message>(opened)).session;
  auto answered = ask(command);
  if (std::holds_alternative<int>(answered)) return 1;
  if (PrintRefusal(std::get<Message>(answered))) return 0;
  const auto& result = std::get<Result>(std::get<Message>(answered)).result;
  std::printf("sent: %s\n", result.Succeeded() ? "good" : DescribeResult(result).c_str());
  return 0;
}
