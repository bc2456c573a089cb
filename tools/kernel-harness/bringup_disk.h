// A blank disk that answers only what the kernel's USB storage and disk
// drivers send when a device arrives, plus the standard INQUIRY and READ(10)
// a SCSI client sends. It proves the kernel stack end to end before the
// simulated controllers sit behind the gadget; it is no controller and knows
// no vendor command.
#pragma once

#include <string>

#include "pass_through.h"

namespace fwtool::harness {

class BringupDisk : public PassThroughBackend {
 public:
  // `product`: the 16-character product field of the INQUIRY data.
  explicit BringupDisk(std::string product = "HARNESS DISK");

  PassThroughResult Execute(const PassThroughRequest& request) override;

  static constexpr uint32_t kBlockCount = 2048;
  static constexpr uint32_t kBlockSize = 512;

 private:
  std::string product_;
};

}  // namespace fwtool::harness
