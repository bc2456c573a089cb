// One simulated unit on a virtual clock for the procedure tests, with a fake
// host, a scratch folder and the faults the tests give it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "clock.h"
#include "fake_procedure_host.h"
#include "simulator.h"
#include "temp_files.h"

namespace fwtool::testing {

// Pseudo-random firmware bytes.
inline std::vector<uint8_t> RandomFirmware(size_t size, uint32_t seed) {
  std::vector<uint8_t> file(size);
  uint32_t state = seed;
  for (auto& b : file) {
    state = state * 1103515245u + 12345u;
    b = static_cast<uint8_t>(state >> 16);
  }
  return file;
}

// Every block that matches is refused.
inline sim::FaultPlan Refusing(const sim::BlockPattern& pattern) {
  sim::FaultPlan faults;
  faults.failMatching = {pattern};
  return faults;
}

class SimUnitTest : public ::testing::Test {
 protected:
  std::shared_ptr<VirtualClock> clock = std::make_shared<VirtualClock>();
  ScopedClock scopedClock{clock};
  std::shared_ptr<sim::SimFarm> farm;
  std::unique_ptr<sim::ScopedSimulatorBackend> backend;
  FakeProcedureHost host;
  TempDir dir;

  void TearDown() override { backend.reset(); }

  sim::SimController& Unit() { return farm->Controller(0); }

  // A fresh unit of the description and a fresh host; false when the
  // description is refused.
  bool Create(const std::string& description, double timeScale) {
    backend.reset();
    std::string error;
    farm = sim::SimFarm::Create(description, &error);
    EXPECT_TRUE(farm) << error;
    if (!farm) return false;
    farm->SetTimeScale(timeScale);
    backend = std::make_unique<sim::ScopedSimulatorBackend>(farm);
    host = FakeProcedureHost{};
    return true;
  }

  bool StatusWas(const std::string& text) const {
    return std::find(host.statusHistory.begin(), host.statusHistory.end(), text) !=
           host.statusHistory.end();
  }
};

}  // namespace fwtool::testing
