// SPDX-License-Identifier: GPL-2.0-or-later
// A farm of simulated units on a virtual clock, installed as the simulator
// backend for one test (the shared fixture), with blocks sent through the
// transport as the program sends them.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ata_commands.h"
#include "byte_pattern.h"
#include "clock.h"
#include "command_block.h"
#include "firmware_version_place.h"
#include "flash_commands.h"
#include "serial_flash_commands.h"
#include "simulated_units.h"
#include "simulator.h"
#include "transport.h"

namespace fwtool::sim::testing {

using fwtool::testing::Pattern;

class SimFixture : public fwtool::testing::SimulatedUnitTest {
 protected:
  // Data-in block through the transport; returns the 1/0 result.
  int In(const std::vector<uint8_t>& block, std::vector<uint8_t>& data, size_t unit = 0,
         uint32_t* transferred = nullptr) {
    uint32_t moved = transferred != nullptr ? *transferred : 0;
    const int ok = SendCommandIn(Path(unit), block.data(), static_cast<int>(block.size()),
                                 data.data(), static_cast<uint32_t>(data.size()), &moved);
    if (transferred != nullptr) *transferred = moved;
    return ok;
  }
  // The last command's logged answer (sense, status).
  const LoggedCommand& LastCommand(size_t unit = 0) { return Unit(unit).Log().back(); }
};

// A 12-byte block with the given leading bytes.
inline std::vector<uint8_t> Block(std::initializer_list<uint8_t> bytes) {
  std::vector<uint8_t> block(12, 0);
  std::copy(bytes.begin(), bytes.end(), block.begin());
  return block;
}

}  // namespace fwtool::sim::testing
