// SPDX-License-Identifier: GPL-2.0-or-later
// The simulated controller family: a farm of units (farm.h) behind the
// `sim:` pass-through backend, their controllers (controller.h), chip
// profiles (chip_profile.h), flash parts (flash_part.h, spi_flash.h),
// timing (timing.h) and faults (faults.h).
#pragma once

#include "chip_profile.h"
#include "command_log.h"
#include "controller.h"
#include "embedded_image.h"
#include "farm.h"
#include "farm_description.h"
#include "faults.h"
#include "flash_part.h"
#include "spi_flash.h"
#include "timing.h"
#include "unit_firmware.h"

namespace fwtool::sim {

// Installs a farm as the process's simulator backend for the lifetime of
// the object (tests), restoring the previous backend afterwards.
class ScopedSimulatorBackend {
 public:
  explicit ScopedSimulatorBackend(std::shared_ptr<SimFarm> farm)
      : farm_(std::move(farm)), previous_(SetSimulatorBackend(farm_)) {}
  ~ScopedSimulatorBackend() { SetSimulatorBackend(previous_); }
  ScopedSimulatorBackend(const ScopedSimulatorBackend&) = delete;
  ScopedSimulatorBackend& operator=(const ScopedSimulatorBackend&) = delete;
  SimFarm& operator*() { return *farm_; }
  SimFarm* operator->() { return farm_.get(); }

 private:
  std::shared_ptr<SimFarm> farm_;
  std::shared_ptr<PassThroughBackend> previous_;
};

}  // namespace fwtool::sim
