// SPDX-License-Identifier: GPL-2.0-or-later
// The program's side of fwtool-helper: one connection to a running helper,
// and the pass-through backend and enumerator that go through it. Above
// the backend nothing changes: sessions, blocks and results are the same as
// with the SG_IO backend in this process.
#pragma once

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "enumeration.h"
#include "helper_link.h"
#include "pass_through.h"

namespace fwtool::platform {

// The helper's name in the texts of this side.
inline constexpr std::string_view kHelperName = "fwtool-helper";

class HelperConnection {
 public:
  // Takes over `fd`, a connected socket (closed when the connection ends),
  // and waits for the helper's Hello (`timeoutMs` < 0: as long as it
  // takes). Null, with the reason in `why`, when no helper answers.
  static std::shared_ptr<HelperConnection> Take(int fd, int timeoutMs, std::string& why);
  // The helper's process, started by this program: waited for when the
  // connection ends (the helper ends with its input).
  void ReapOnClose(pid_t process) { process_ = process; }
  ~HelperConnection();
  HelperConnection(const HelperConnection&) = delete;
  HelperConnection& operator=(const HelperConnection&) = delete;

  // Sends one request and waits for its reply, one exchange at a time for
  // every thread. Nothing, with the reason, once the helper has gone or
  // answered out of turn; the connection is then closed for good.
  std::optional<helper::Message> Exchange(const helper::Message& request, std::string& why);
  bool Gone() const;
  const std::string& HelperVersion() const { return version_; }
  uint32_t MaxData() const { return maxData_; }

 private:
  explicit HelperConnection(int fd) : fd_(fd), link_(fd, fd) {}
  void Drop(std::string why);

  mutable std::mutex mutex_;
  int fd_;
  pid_t process_ = -1;
  helper::FrameLink link_;
  std::string version_;
  uint32_t maxData_ = 0;
  std::string goneWhy_;  // empty while the helper serves
};

// Forwards every command to the helper: a session of the program is a
// session of the helper (opened at the first command, closed with the
// node), a command without one opens and closes a helper session around
// itself.
class HelperBackend final : public PassThroughBackend {
 public:
  explicit HelperBackend(std::shared_ptr<HelperConnection> connection)
      : connection_(std::move(connection)) {}
  PassThroughResult Execute(const PassThroughRequest& request) override;

 private:
  std::shared_ptr<HelperConnection> connection_;
};

// The interfaces the helper lists; empty lists once it has gone.
struct HelperInterfaces {
  std::vector<std::string> disks;
  std::vector<std::string> cdroms;
};
std::optional<HelperInterfaces> AskInterfaces(HelperConnection& connection, std::string& why);

}  // namespace fwtool::platform
