// SPDX-License-Identifier: GPL-2.0-or-later
// What a simulated unit received, in order, for tests to assert on.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "clock.h"
#include "pass_through.h"

namespace fwtool::sim {

struct LoggedCommand {
  uint64_t sequence = 0;  // order across every unit of the process
  uint64_t number = 0;    // the unit's own command number, from 1
  std::string path;       // the interface path it came through
  Duration at{};          // clock time when it arrived
  std::array<uint8_t, 16> cdb{};
  uint8_t cdbLength = 0;
  DataDirection direction = DataDirection::In;
  uint32_t length = 0;           // data phase length asked for
  std::vector<uint8_t> dataOut;  // the data-out bytes
  // The answer.
  uint8_t scsiStatus = 0;
  uint32_t transferred = 0;
  std::vector<uint8_t> sense;

  uint8_t operator[](int i) const { return cdb[i]; }
};

}  // namespace fwtool::sim
