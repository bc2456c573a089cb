// SPDX-License-Identifier: GPL-2.0-or-later
// One simulated unit on a virtual clock for the procedure tests (the shared
// fixture), with a fake host, a scratch folder and the faults the tests
// give it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "byte_pattern.h"
#include "fake_procedure_host.h"
#include "simulated_units.h"
#include "simulator.h"
#include "temp_files.h"

namespace fwtool::testing {

// Every block that matches is refused.
inline sim::FaultPlan Refusing(const sim::BlockPattern& pattern) {
  sim::FaultPlan faults;
  faults.failMatching = {pattern};
  return faults;
}

class SimUnitTest : public SimulatedUnitTest {
 protected:
  FakeProcedureHost host;
  TempDir dir;

  // A fresh unit of the description at `timeScale` and a fresh host; false
  // when the description is refused.
  bool Create(const std::string& description, double timeScale) {
    if (!Build(description, timeScale)) return false;
    host = FakeProcedureHost{};
    return true;
  }

  bool StatusWas(const std::string& text) const {
    return std::find(host.statusHistory.begin(), host.statusHistory.end(), text) !=
           host.statusHistory.end();
  }
};

}  // namespace fwtool::testing
