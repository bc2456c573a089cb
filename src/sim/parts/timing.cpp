// SPDX-License-Identifier: GPL-2.0-or-later
#include "timing.h"

#include "flash_part.h"

namespace fwtool::sim {

using namespace std::chrono_literals;

namespace {
Duration Seconds(double s) {
  return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(s));
}
}  // namespace

BusTimings Sbp2BusTimings() {
  BusTimings bus;
  bus.commandLatency = 300us;
  bus.bytesPerSecond = 35e6;
  return bus;
}

Duration CommandTime(const BusTimings& bus, uint64_t bytes) {
  Duration time = bus.commandLatency;
  if (bytes != 0 && bus.bytesPerSecond > 0)
    time += Seconds(static_cast<double>(bytes) / bus.bytesPerSecond);
  return time;
}

Duration FlashFetchTime(const BusTimings& bus, uint64_t bytes) {
  if (bytes == 0 || bus.flashReadBytesPerSecond <= 0) return Duration{0};
  return Seconds(static_cast<double>(bytes) / bus.flashReadBytesPerSecond);
}

Duration Scaled(const BusTimings& bus, Duration modelTime) {
  if (bus.timeScale == 1.0) return modelTime;
  if (bus.timeScale <= 0.0) return Duration{0};
  return std::chrono::duration_cast<Duration>(modelTime * bus.timeScale);
}

Duration PhysicalFloor(const BusTimings& bus, const FlashPartSpec& part,
                       std::span<const FloorOp> ops) {
  Duration total{0};
  for (const auto& op : ops) {
    Duration one{0};
    switch (op.kind) {
      case FloorOpKind::Command:
        one = CommandTime(bus, op.bytes);
        break;
      case FloorOpKind::FlashRead:
        one = FlashFetchTime(bus, op.bytes);
        break;
      case FloorOpKind::Program: {
        // Whole pages, then the rest in one last instruction.
        const uint64_t page = part.pageSize == 0 ? 1 : part.pageSize;
        const uint64_t pages = op.bytes / page;
        one = part.ProgramTime(static_cast<uint32_t>(page)) * static_cast<int64_t>(pages);
        if (op.bytes % page != 0) one += part.ProgramTime(static_cast<uint32_t>(op.bytes % page));
        break;
      }
      case FloorOpKind::Erase:
        one = part.EraseTime(static_cast<uint32_t>(op.bytes));
        break;
      case FloorOpKind::ChipErase:
        one = part.chipEraseTime;
        break;
    }
    total += one * static_cast<int64_t>(op.count);
  }
  return total;
}

}  // namespace fwtool::sim
