// SPDX-License-Identifier: GPL-2.0-or-later
// Arbitrary bytes as a recorded run (`--simulate replay:FILE`): the reader
// must answer with a run or with a reason, never throw, never take more than
// the file's own bounds; a run it accepts must be written out and read back,
// and replayed command for command without a difference.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "clock.h"
#include "recorded_run.h"

namespace {

// Replaying allocates every data phase: keep to runs that move little.
constexpr uint64_t kMostReplayedBytes = 1 << 20;

void Replay(const fwtool::RecordedRun& run) {
  using namespace fwtool;
  auto clock = std::make_shared<VirtualClock>();
  ScopedClock scopedClock(clock);
  ReplayBackend replay(run);
  for (const RecordedCommand& c : run.commands) {
    std::vector<uint8_t> data(c.length);
    if (c.direction == DataDirection::Out)
      for (uint32_t i = 0; i < c.length; ++i) data[i] = c.DataByte(i);
    PassThroughRequest request;
    request.path = c.path;
    std::copy(c.cdb.begin(), c.cdb.end(), request.cdb.begin());
    request.cdbLength = static_cast<uint8_t>(c.cdb.size());
    request.direction = c.direction;
    request.length = c.length;
    request.data = c.length != 0 ? data.data() : nullptr;
    request.timeoutSeconds = c.timeoutSeconds;
    const PassThroughResult result = replay.Execute(request);
    // Commands of one path come back in their order, whatever the paths.
    if (!replay.Mismatch().empty()) std::abort();
    if (result.scsiStatus != c.result.scsiStatus || result.sense != c.result.sense) std::abort();
    if (c.direction == DataDirection::In)
      for (uint32_t i = 0; i < c.length; ++i)
        if (data[i] != c.DataByte(i)) std::abort();
  }
  if (replay.Unplayed() != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace fwtool;
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string error;
  const auto run = ParseRecordedRun(text, &error);
  if (!run) {
    if (error.empty()) std::abort();  // a refusal always says why
    return 0;
  }
  uint64_t moved = 0;
  for (const RecordedCommand& c : run->commands) {
    if (c.cdb.empty() || c.cdb.size() > 16) std::abort();
    if (c.length > kMaxRecordedLength || c.data.size() > c.length) std::abort();
    moved += c.length;
  }
  // What the writer makes of it reads back as the same commands.
  const auto again = ParseRecordedRun(RecordedRunJson(*run), &error);
  if (!again || again->commands.size() != run->commands.size()) std::abort();
  for (size_t i = 0; i < run->commands.size(); ++i) {
    const RecordedCommand& a = run->commands[i];
    const RecordedCommand& b = again->commands[i];
    if (a.cdb != b.cdb || a.length != b.length || a.path != b.path) std::abort();
    for (uint32_t k = 0; k < a.length && k < 4096; ++k)
      if (a.DataByte(k) != b.DataByte(k)) std::abort();
  }
  if (moved <= kMostReplayedBytes) Replay(*run);
  return 0;
}
