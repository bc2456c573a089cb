// SPDX-License-Identifier: GPL-2.0-or-later
// Simulated units on a virtual clock, installed as the process's simulator
// backend: what every test of a simulated unit starts from, whether as a
// fixture (SimulatedUnitTest) or inside a test's own rig.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "clock.h"
#include "simulator.h"

namespace fwtool::testing {

class SimulatedUnits {
 public:
  // The farm the description makes, as the simulator backend (the previous
  // farm's backend goes first), at `timeScale` when one is given. False,
  // and the test fails with the reason, when the farm refuses the
  // description.
  bool Build(std::string_view description, std::optional<double> timeScale = std::nullopt) {
    backend.reset();
    std::string error;
    farm = sim::SimFarm::Create(description, &error);
    if (!farm) {
      ADD_FAILURE() << "simulated units \"" << description << "\": " << error;
      return false;
    }
    if (timeScale) farm->SetTimeScale(*timeScale);
    backend = std::make_unique<sim::ScopedSimulatorBackend>(farm);
    return true;
  }

  sim::SimController& Unit(size_t unit = 0) const { return farm->Controller(unit); }
  // The unit's disk interface path.
  std::string Path(size_t unit = 0) const { return farm->Unit(unit).diskPath; }
  std::vector<uint8_t> Flash(size_t unit = 0) const { return Unit(unit).Flash().Contents(); }
  std::vector<sim::LoggedCommand> Log(size_t unit = 0) const { return Unit(unit).Log(); }
  Duration Now() const { return clock->Now(); }

  std::shared_ptr<VirtualClock> clock = std::make_shared<VirtualClock>();
  ScopedClock scopedClock{clock};
  std::shared_ptr<sim::SimFarm> farm;
  std::unique_ptr<sim::ScopedSimulatorBackend> backend;
};

// The same as a test fixture; the farm stops being the backend when the
// test ends.
class SimulatedUnitTest : public ::testing::Test, public SimulatedUnits {
 protected:
  void TearDown() override { backend.reset(); }
};

}  // namespace fwtool::testing
