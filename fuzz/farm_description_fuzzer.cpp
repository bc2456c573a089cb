// SPDX-License-Identifier: GPL-2.0-or-later
// Arbitrary text as the argument of `--simulate`: the parser must answer
// with units or with a reason, and a farm made of what it accepts must come
// up (or refuse) without harm.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "simulator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace fwtool::sim;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error;
  const auto units = ParseFarmDescription(text, &error);
  if (!units) {
    if (error.empty()) std::abort();  // a refusal always says why
    return 0;
  }
  if (units->empty()) std::abort();
  // Bringing the units up reads firmware files and allocates their flash:
  // keep to a few units from the built-in sources.
  if (units->size() > 3) return 0;
  uint64_t flashKB = 0;
  for (const auto& unit : *units) {
    if (unit.firmware == FirmwareSource::File) return 0;
    flashKB += unit.flashKB.value_or(512);
  }
  if (flashKB > 4096) return 0;
  auto clock = std::make_shared<fwtool::VirtualClock>();
  fwtool::ScopedClock scopedClock(clock);
  std::string createError;
  auto farm = SimFarm::Create(*units, &createError);
  if (!farm) {
    if (createError.empty()) std::abort();
    return 0;
  }
  if (farm->UnitCount() != units->size()) std::abort();
  (void)farm->Describe();
  return 0;
}
