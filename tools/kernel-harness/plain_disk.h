// SPDX-License-Identifier: GPL-2.0-or-later
// A plain blank disk: it answers what the kernel's USB storage and disk
// drivers send when a device arrives (INQUIRY with VPD page 0, TEST UNIT
// READY, READ CAPACITY(10), MODE SENSE(6), PREVENT ALLOW MEDIUM REMOVAL,
// READ(10)) and rejects everything else as an unknown operation code. It
// stands for a disk behind a bridge that is not one of ours: no controller,
// no vendor command.
#pragma once

#include <string>

#include "pass_through.h"

namespace fwtool::harness {

class PlainDisk : public PassThroughBackend {
 public:
  // `product`: the 16-character product field of the INQUIRY data.
  explicit PlainDisk(std::string product = "HARNESS DISK");

  PassThroughResult Execute(const PassThroughRequest& request) override;

  static constexpr uint32_t kBlockCount = 2048;
  static constexpr uint32_t kBlockSize = 512;

 private:
  std::string product_;
};

}  // namespace fwtool::harness
