// SPDX-License-Identifier: GPL-2.0-or-later
// The faults the sweeps show a simulated unit, as items of its description,
// and the points of a run they are put at: every command of a clean run,
// or evenly spaced ones where the run is long.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "simulator.h"

namespace fwtool::testing {

enum class FaultKind { FailCommand, StatusLost, ReadFlip, Vanish, PowerLoss, Slow };

inline const char* KindName(FaultKind kind) {
  switch (kind) {
    case FaultKind::FailCommand:
      return "fail_command";
    case FaultKind::StatusLost:
      return "status_lost";
    case FaultKind::ReadFlip:
      return "read_flip";
    case FaultKind::Vanish:
      return "vanish";
    case FaultKind::PowerLoss:
      return "power_loss";
    case FaultKind::Slow:
      return "slow";
  }
  return "?";
}

// What ctest shows beside each case's name.
inline void PrintTo(FaultKind kind, std::ostream* os) {
  *os << KindName(kind);
}

// The description item that puts the fault at command (or, for a power
// loss, flash operation) `n` of the unit's life.
inline std::string FaultItem(FaultKind kind, uint64_t n) {
  switch (kind) {
    case FaultKind::FailCommand:
      return "fail-command=" + std::to_string(n);
    case FaultKind::StatusLost:
      return "status-lost=" + std::to_string(n);
    case FaultKind::ReadFlip:
      return "read-flip=" + std::to_string(n);
    case FaultKind::Vanish:
      return "vanish=" + std::to_string(n);
    case FaultKind::PowerLoss:
      return "power-loss=" + std::to_string(n);
    case FaultKind::Slow:
      return "slow";
  }
  return {};
}

// Status reads (FF 04 12): the busy polls between the blocks.
inline bool IsPoll(const sim::LoggedCommand& c) {
  return c[0] == 0xFF && c[1] == 0x04 && c[2] == 0x12;
}

// Every command that is not a busy poll, and every fourth poll: a poll that
// fails or loses its status only ends the wait it belongs to early.
inline std::vector<uint64_t> Sample(const std::vector<uint64_t>& commands,
                                    const std::vector<uint64_t>& polls) {
  std::vector<uint64_t> picked = commands;
  for (size_t i = 0; i < polls.size(); i += 4) picked.push_back(polls[i]);
  std::sort(picked.begin(), picked.end());
  return picked;
}

// At most `most` of `points`, evenly spread from the first to the last
// (all of them when there are no more).
inline std::vector<uint64_t> Spread(const std::vector<uint64_t>& points, size_t most) {
  if (points.size() <= most || most < 2) return points;
  std::vector<uint64_t> picked;
  for (size_t i = 0; i < most; ++i) picked.push_back(points[i * (points.size() - 1) / (most - 1)]);
  picked.erase(std::unique(picked.begin(), picked.end()), picked.end());
  return picked;
}

// Where a sweep puts its faults in a long run, from the run's clean log:
// around every turn from one kind of command to another (the first and the
// last `ends` of each stretch of like commands, busy polls aside), where a
// procedure moves from one thing to the next, and `spread` more evenly
// spread over the whole run; at most `most` in all. `take` says which
// commands may carry the fault (every one, or those that return data).
// Every fourth busy poll is among the candidates as well.
template <typename Take>
std::vector<uint64_t> FaultPoints(const std::vector<sim::LoggedCommand>& log, Take take,
                                  size_t ends, size_t spread, size_t most) {
  // A command's kind: operation code and the byte after it, the last byte
  // of the block (where the vendor blocks name their function), the
  // direction and the length.
  auto kind = [](const sim::LoggedCommand& c) {
    return std::tuple(c[0], c[1], c.cdb[c.cdbLength > 0 ? c.cdbLength - 1 : 0], c.direction,
                      c.length);
  };
  std::vector<uint64_t> candidates;
  std::vector<uint64_t> picked;
  std::vector<uint64_t> stretch;  // the candidates of the stretch at hand
  auto closeStretch = [&] {
    const size_t n = std::min(ends, stretch.size());
    picked.insert(picked.end(), stretch.begin(), stretch.begin() + static_cast<std::ptrdiff_t>(n));
    picked.insert(picked.end(), stretch.end() - static_cast<std::ptrdiff_t>(n), stretch.end());
    stretch.clear();
  };
  const sim::LoggedCommand* previous = nullptr;
  size_t polls = 0;
  for (const auto& c : log) {
    if (IsPoll(c)) {
      if (polls++ % 4 == 0 && take(c)) candidates.push_back(c.number);
      continue;
    }
    if (previous != nullptr && kind(*previous) != kind(c)) closeStretch();
    previous = &c;
    if (!take(c)) continue;
    candidates.push_back(c.number);
    stretch.push_back(c.number);
  }
  closeStretch();
  std::sort(candidates.begin(), candidates.end());
  const std::vector<uint64_t> even = Spread(candidates, spread);
  picked.insert(picked.end(), even.begin(), even.end());
  std::sort(picked.begin(), picked.end());
  picked.erase(std::unique(picked.begin(), picked.end()), picked.end());
  return Spread(picked, most);
}

}  // namespace fwtool::testing
