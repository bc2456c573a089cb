// SPDX-License-Identifier: GPL-2.0-or-later
// What things cost on a simulated unit: the bus that carries each command
// block and its data, and the flash part that erases and programs. The same
// figures pace the simulated devices and let a benchmark compute the physical
// floor of an operation (the time no host program can beat).
#pragma once

#include <chrono>
#include <cstdint>
#include <span>

#include "clock.h"

namespace fwtool::sim {

struct FlashPartSpec;

// One command on the bus: command block out, data phase, status back. The
// defaults are those of a USB 2.0 high-speed mass-storage bridge.
struct BusTimings {
  // Command block, controller firmware turnaround and status, per command.
  Duration commandLatency = std::chrono::microseconds(500);
  // Bulk data phase.
  double bytesPerSecond = 32e6;
  // The controller fetching flash contents over its own SPI bus (12 MHz,
  // single bit) before it can send them.
  double flashReadBytesPerSecond = 1.5e6;
  // Time the unit takes to leave and come back after a reset command.
  Duration reattachDelay = std::chrono::milliseconds(1500);
  // Every duration the unit spends (bus time, erase, program, re-attach) is
  // multiplied by this before it reaches the clock: 0.1 runs a demo ten
  // times faster, 0 makes the unit infinitely fast.
  double timeScale = 1.0;
};

// Bus figures of an IEEE 1394a (S400) SBP-2 bridge.
BusTimings Sbp2BusTimings();

// Latency plus the data phase of `bytes` bytes (unscaled).
Duration CommandTime(const BusTimings& bus, uint64_t bytes);
// The controller's own read of `bytes` bytes of flash (unscaled).
Duration FlashFetchTime(const BusTimings& bus, uint64_t bytes);
// A model duration as the clock sees it.
Duration Scaled(const BusTimings& bus, Duration modelTime);

// One entry of a sequence whose physical floor is wanted.
enum class FloorOpKind {
  Command,    // `count` commands, each moving `bytes` bytes over the bus
  FlashRead,  // the controller fetching `bytes` bytes from flash, `count` times
  Program,    // programming `bytes` bytes with page programs, `count` times
  Erase,      // erasing `count` units of `bytes` bytes each
  ChipErase,  // `count` whole-chip erases
};

struct FloorOp {
  FloorOpKind kind = FloorOpKind::Command;
  uint64_t bytes = 0;
  uint64_t count = 1;
};

// The sum of the model's figures for the sequence (unscaled): what the
// sequence costs when nothing waits longer than it must.
Duration PhysicalFloor(const BusTimings& bus, const FlashPartSpec& part,
                       std::span<const FloorOp> ops);

// Milliseconds as a double, for reports.
inline double ToMilliseconds(Duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace fwtool::sim
