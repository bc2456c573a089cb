// SPDX-License-Identifier: GPL-2.0-or-later
// A helper serving simulated units over a socket pair, on a thread of its
// own: the helper's logic exactly as fwtool-helper runs it, without root.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "clock.h"
#include "helper_link.h"
#include "helper_server.h"
#include "simulator.h"

namespace fwtool::helper::testing {

class HelperRig {
 public:
  // Units as fwtool --simulate describes them.
  explicit HelperRig(std::string_view units) {
    std::string error;
    farm = sim::SimFarm::Create(units, &error);
    EXPECT_TRUE(farm) << error;
    devices = farm->Enumerator();
    int pair[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    helperEnd = pair[0];
    programEnd = pair[1];
    server = std::make_unique<HelperServer>(*devices, *farm, "test");
    thread = std::thread([this] {
      FrameLink link(helperEnd, helperEnd);
      served = server->Serve(link);
      ::shutdown(helperEnd, SHUT_RDWR);
    });
  }
  ~HelperRig() {
    if (programEnd >= 0) ::shutdown(programEnd, SHUT_RDWR);
    Join();
    if (programEnd >= 0) ::close(programEnd);
    ::close(helperEnd);
  }
  HelperRig(const HelperRig&) = delete;
  HelperRig& operator=(const HelperRig&) = delete;

  // The program's end, for a connection to take over.
  int TakeProgramEnd() { return std::exchange(programEnd, -1); }
  // Waits until the helper has stopped serving; its exit code.
  int Join() {
    if (thread.joinable()) thread.join();
    return served;
  }

  std::shared_ptr<VirtualClock> clock = std::make_shared<VirtualClock>();
  ScopedClock scopedClock{clock};
  std::shared_ptr<sim::SimFarm> farm;
  std::shared_ptr<InterfaceEnumerator> devices;
  std::unique_ptr<HelperServer> server;
  int helperEnd = -1;
  int programEnd = -1;
  int served = -1;
  std::thread thread;
};

}  // namespace fwtool::helper::testing
