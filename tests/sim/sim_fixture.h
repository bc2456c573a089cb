// A farm of simulated units on a virtual clock, installed as the simulator
// backend for one test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ata_commands.h"
#include "clock.h"
#include "command_block.h"
#include "firmware_version_place.h"
#include "flash_commands.h"
#include "serial_flash_commands.h"
#include "simulator.h"
#include "transport.h"

namespace fwtool::sim::testing {

class SimFixture : public ::testing::Test {
 protected:
  // Builds the farm; fails the test on a bad description.
  void Build(std::string_view description) {
    std::string error;
    backend_.reset();  // the previous farm's backend goes first
    farm_ = SimFarm::Create(description, &error);
    ASSERT_TRUE(farm_) << error;
    backend_ = std::make_unique<ScopedSimulatorBackend>(farm_);
  }
  std::string Path(size_t unit = 0) const { return farm_->Unit(unit).diskPath; }
  SimController& Unit(size_t unit = 0) { return farm_->Controller(unit); }
  Duration Now() const { return clock_->Now(); }

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

  std::shared_ptr<VirtualClock> clock_ = std::make_shared<VirtualClock>();
  ScopedClock scopedClock_{clock_};
  std::shared_ptr<SimFarm> farm_;
  std::unique_ptr<ScopedSimulatorBackend> backend_;
};

// Bytes that differ from block to block and from seed to seed.
inline std::vector<uint8_t> Pattern(size_t n, uint32_t seed) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    bytes[i] = static_cast<uint8_t>(seed >> 16);
  }
  return bytes;
}

// A 12-byte block with the given leading bytes.
inline std::vector<uint8_t> Block(std::initializer_list<uint8_t> bytes) {
  std::vector<uint8_t> block(12, 0);
  std::copy(bytes.begin(), bytes.end(), block.begin());
  return block;
}

}  // namespace fwtool::sim::testing
