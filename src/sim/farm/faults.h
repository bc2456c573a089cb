// SPDX-License-Identifier: GPL-2.0-or-later
// Faults a simulated unit can be told to show. Each shows up only as real
// hardware would show it: a failed call, a CHECK CONDITION, wrong data.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace fwtool::sim {

// A command block pattern: a block matches when (block[i] & mask[i]) ==
// (bytes[i] & mask[i]) for every i below `length`.
struct BlockPattern {
  std::array<uint8_t, 16> bytes{};
  std::array<uint8_t, 16> mask{};
  int length = 0;

  bool Matches(const uint8_t* block, int blockLength) const;
};

// How the unit answers READ CAPACITY(10) and (16).
enum class CapacityAnswer : uint8_t {
  True,     // the capacity the host is shown
  Fail,     // CHECK CONDITION
  AllOnes,  // every field of the last LBA set (FFFFFFFF in the 10-byte form)
  Lie,      // `capacityLie` sectors, whatever the disk holds
};

// Command numbers count every block the unit receives, from 1.
struct FaultPlan {
  // That command fails with CHECK CONDITION, HARDWARE ERROR (internal target
  // failure) and has no effect. 0 = none.
  uint64_t failCommand = 0;
  // Every matching block is refused as an unknown command.
  std::vector<BlockPattern> failMatching;
  // From this command on the flash reports busy and never finishes. 0 = never.
  uint64_t stuckBusyFrom = 0;
  // Program operations that leave one bit unprogrammed: -1 every one, N the
  // first N, 0 none.
  int64_t programBitErrors = 0;
  // The unit is gone (cannot be opened) from this command on, until it is
  // plugged in again; it loses power with it, so an erase or program under
  // way stops where it stands. 0 = never.
  uint64_t vanishAtCommand = 0;
  // Power drops in the middle of the n-th flash erase or program operation
  // (counted over the unit's life): the cells that operation had reached
  // are changed, the rest and everything queued after it are not; the unit
  // is gone until power-cycled.
  // 0 = never.
  uint64_t powerLossAtOperation = 0;
  // Power drops in the middle of the n-th write to the disk (counted over
  // the unit's life): the first half of its sectors reach the disk, the
  // rest do not, the host never sees the command end, and the unit is gone
  // until power-cycled. 0 = never.
  uint64_t powerLossAtDiskWrite = 0;
  // Erase operations that leave the first cell of their range with bit 0
  // programmed (a cell that will not erase): -1 every one, N the first N,
  // 0 none.
  int64_t eraseStuckCells = 0;
  // The disk's capacity as the unit reports it.
  CapacityAnswer capacity = CapacityAnswer::True;
  uint64_t capacityLie = 0;
  // IDENTIFY DEVICE (the vendor DF block and ATA PASS-THROUGH) fails.
  bool identifyFails = false;
  // That command does all its work, but its status never reaches the host:
  // the host waits out the command's time-out and sees it fail. 0 = none.
  uint64_t statusLostAtCommand = 0;
  // The first command from this one on that returns data returns it with
  // one bit flipped (once; the flash itself is sound). 0 = never.
  uint64_t flipReadBitFrom = 0;
  // The flash part takes its datasheet maximum for every erase and program
  // instead of the typical time.
  bool slowFlash = false;
};

}  // namespace fwtool::sim
