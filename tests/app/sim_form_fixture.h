// SPDX-License-Identifier: GPL-2.0-or-later
// A form over a farm of simulated units on a virtual clock (the shared
// fixture), with the engineering face's listing of every recognised
// controller, and backups kept in a folder of the test's own.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Fwupdate.h"
#include "recording_operator.h"
#include "simulated_units.h"
#include "simulator.h"

namespace fwtool::testing {

class SimFormTest : public SimulatedUnitTest {
 protected:
  using Bytes = std::vector<uint8_t>;

  RecordingOperator op;
  ClockTimerService timers;
  std::shared_ptr<InterfaceEnumerator> enumerator;
  std::unique_ptr<TV77xFwTool> form;
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() /
      ("fwtool-" +
       std::string(::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name()) +
       "-" + std::to_string(::getpid()));
  std::string savedDataHome;
  bool hadDataHome = false;
  // Where the form keeps its history; none when empty.
  std::string historyPath;

  void SetUp() override {
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    // Backups that fall back to the default folder stay inside the test's.
    if (const char* home = std::getenv("XDG_DATA_HOME")) {
      hadDataHome = true;
      savedDataHome = home;
    }
    ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
  }
  void TearDown() override {
    form.reset();
    SimulatedUnitTest::TearDown();
    if (hadDataHome)
      ::setenv("XDG_DATA_HOME", savedDataHome.c_str(), 1);
    else
      ::unsetenv("XDG_DATA_HOME");
    std::filesystem::remove_all(dir);
  }

  // A form of the farm built before goes first.
  bool Build(std::string_view description) {
    form.reset();
    return SimulatedUnitTest::Build(description);
  }

  // The form with every recognised controller listed and item 0 checked.
  // `backup` (when not empty) is where a write saves the unit's flash first.
  TV77xFwTool& Open(const std::string& backup = {}) {
    form.reset();
    enumerator = farm->Enumerator();
    form = std::make_unique<TV77xFwTool>(op, *enumerator, timers, nullptr,
                                         FormOptions{.historyPath = historyPath});
    form->SetDeviceListScope(DeviceListScope::AllControllers);
    form->SetBackupTarget(backup);
    for (size_t unit = 0; unit < farm->UnitCount(); ++unit) farm->Controller(unit).ClearLog();
    form->RefreshBtnClick(form->RefreshBtn);
    return *form;
  }

  static Bytes ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
};

// Whether a logged block starts with these bytes.
inline bool Starts(const sim::LoggedCommand& c, std::initializer_list<uint8_t> bytes) {
  size_t i = 0;
  for (uint8_t b : bytes)
    if (c[i++] != b) return false;
  return true;
}

inline size_t CountBlocks(const std::vector<sim::LoggedCommand>& log,
                          std::initializer_list<uint8_t> bytes) {
  size_t n = 0;
  for (const auto& c : log) n += Starts(c, bytes) ? 1 : 0;
  return n;
}

// DF ... FB: a flash write; byte 1 carries the erase mode.
inline bool IsFlashWrite(const sim::LoggedCommand& c) {
  return c[0] == 0xDF && c[11] == 0xFB;
}

}  // namespace fwtool::testing
