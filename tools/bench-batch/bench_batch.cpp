// SPDX-License-Identifier: GPL-2.0-or-later
// Runs `fwtool update --all` on one simulated unit and then on UNITS (8)
// simulated units at once, each on the steady clock, so the units spend their
// bus, erase and program times (scaled by TIME_SCALE, 1 = the model's own
// figures) in real time, and prints one figure a line:
//   units         units of the batch
//   one_ms        wall time of the update of one unit (best of ROUNDS)
//   batch_ms      wall time of the batch (best of ROUNDS)
//   ratio         batch_ms / one_ms (1.00 = the units cost no more than one)
//   goal          at most 1.30
// Backups go to a scratch folder that is removed afterwards.
#include <fmt/format.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

constexpr double kGoal = 1.30;

// Wall time of one run, or a negative number when fwtool did not succeed.
double RunMs(const std::string& command) {
  const auto start = std::chrono::steady_clock::now();
  const int status = std::system(command.c_str());
  const auto end = std::chrono::steady_clock::now();
  if (status != 0) return -1;
  return std::chrono::duration<double, std::milli>(end - start).count();
}

std::string Units(int count) {
  std::string units;
  for (int i = 0; i < count; ++i) units += i == 0 ? "vqb719" : ",vqb719";
  return units;
}

// Best wall time of `rounds` runs of the batch over `count` units.
double BestMs(int count, const std::string& scale, int rounds, const fs::path& scratch) {
  double best = -1;
  for (int round = 0; round < rounds; ++round) {
    const std::string command = fmt::format(
        "XDG_DATA_HOME='{}' '{}' --simulate {} --sim-time-scale {} update --all --yes "
        ">/dev/null 2>&1 </dev/null",
        scratch.string(), FWTOOL_PROGRAM, Units(count), scale);
    const double ms = RunMs(command);
    if (ms < 0) return -1;
    if (best < 0 || ms < best) best = ms;
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const int units = argc > 1 ? std::atoi(argv[1]) : 8;
  const std::string scale = argc > 2 ? argv[2] : "1";
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
  if (units < 1 || rounds < 1) {
    std::fprintf(stderr, "usage: fwtool-bench-batch [UNITS] [TIME_SCALE] [ROUNDS]\n");
    return 2;
  }
  const fs::path scratch =
      fs::temp_directory_path() / fmt::format("fwtool-bench-batch-{}", getpid());
  fs::create_directories(scratch);
  const double one = BestMs(1, scale, rounds, scratch);
  const double batch = one < 0 ? -1 : BestMs(units, scale, rounds, scratch);
  std::error_code ec;
  fs::remove_all(scratch, ec);
  if (one < 0 || batch < 0) {
    std::fprintf(stderr, "fwtool-bench-batch: %s did not update every unit\n", FWTOOL_PROGRAM);
    return 1;
  }
  const double ratio = batch / one;
  std::printf("units         %d\n", units);
  std::printf("time_scale    %s\n", scale.c_str());
  std::printf("one_ms        %.1f\n", one);
  std::printf("batch_ms      %.1f\n", batch);
  std::printf("ratio         %.2f\n", ratio);
  std::printf("goal          %.2f (%s)\n", kGoal, ratio <= kGoal ? "met" : "not met");
  return 0;
}
