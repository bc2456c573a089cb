// SPDX-License-Identifier: GPL-2.0-or-later
// sgio-loop: sends one command block many times through SG_IO and prints
// the mean, smallest and largest time per command, to see what one command
// costs through the kernel's SCSI generic and USB storage drivers.
//
//   sgio-loop DEVICE [--count N] [--in BYTES] [--cdb "00 00 00 00 00 00"]
//             [--transport [--session] | --compare [--round N]]
//
// Bare, the loop keeps the node open and calls SG_IO itself. With
// --transport every command goes through fwtool's own transport and Linux
// backend (SendCommandIn: open, SG_IO, close per command), as fwtool sends
// them; DEVICE is then a listed path such as usbsto:/dev/sg0. With
// --session as well, the commands run inside one exclusive device session,
// as those of an update do (one open for all of them).
//
// --compare sends N commands each way (bare, transport, session) in
// alternating rounds, so that all three see the same load on the machine,
// and prints each way's figures and the transport's and the session's
// median and least time against the bare loop's.
#include <fcntl.h>
#include <fmt/core.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <numeric>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "device_session.h"
#include "platform_services.h"
#include "sg_io_backend.h"
#include "transport.h"

namespace {

enum class Way { Bare, Transport, Session };
constexpr std::array<const char*, 3> kWayNames = {"bare SG_IO", "fwtool's transport",
                                                  "fwtool's transport in one session"};

struct Job {
  std::string device;
  std::vector<uint8_t> cdb;
  unsigned inLength = 0;
  std::vector<uint8_t> data;
};

bool ParseHexBytes(const std::string& text, std::vector<uint8_t>& bytes) {
  std::istringstream stream(text);
  std::string token;
  bytes.clear();
  while (stream >> token) {
    if (token.size() > 2) return false;
    try {
      bytes.push_back(static_cast<uint8_t>(std::stoul(token, nullptr, 16)));
    } catch (...) {
      return false;
    }
  }
  return !bytes.empty() && bytes.size() <= 16;
}

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
      .count();
}

// Sends `n` commands one way, appending each one's time in microseconds;
// false (with a message) at the first failure.
bool RunBatch(Way way, Job& job, unsigned n, std::vector<double>& us) {
  if (way == Way::Bare) {
    const std::string node = fwtool::platform::NodeFromPath(job.device);
    const int fd = open(node.c_str(), O_RDWR | O_NONBLOCK);
    if (fd < 0) {
      std::perror(node.c_str());
      return false;
    }
    uint8_t sense[32];
    for (unsigned i = 0; i < n; ++i) {
      sg_io_hdr_t io{};
      io.interface_id = 'S';
      io.cmdp = job.cdb.data();
      io.cmd_len = static_cast<unsigned char>(job.cdb.size());
      io.dxfer_direction = job.inLength != 0 ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
      io.dxferp = job.inLength != 0 ? job.data.data() : nullptr;
      io.dxfer_len = job.inLength;
      io.sbp = sense;
      io.mx_sb_len = sizeof(sense);
      io.timeout = 10000;
      const auto start = std::chrono::steady_clock::now();
      const int rc = ioctl(fd, SG_IO, &io);
      const double time = Since(start);
      if (rc < 0 || io.status != 0 || io.host_status != 0 || io.driver_status != 0) {
        fmt::print(stderr,
                   "sgio-loop: command {} failed: ioctl {} status {:#x} host {:#x} driver {:#x}\n",
                   us.size(), rc, io.status, io.host_status, io.driver_status);
        close(fd);
        return false;
      }
      us.push_back(time);
    }
    close(fd);
    return true;
  }
  std::optional<fwtool::DeviceSession> session;
  if (way == Way::Session) session.emplace(job.device, fwtool::SessionAccess::Exclusive);
  const int cdbLength = static_cast<int>(job.cdb.size());
  for (unsigned i = 0; i < n; ++i) {
    const auto start = std::chrono::steady_clock::now();
    uint32_t moved = 0;
    const int ok = job.inLength != 0 ? fwtool::SendCommandIn(job.device, job.cdb.data(), cdbLength,
                                                             job.data.data(), job.inLength, &moved)
                                     : fwtool::SendCommandOut(job.device, job.cdb.data(), cdbLength,
                                                              nullptr, 0, &moved);
    const double time = Since(start);
    if (ok != 1) {
      fmt::print(stderr, "sgio-loop: command {} failed through the transport\n", us.size());
      return false;
    }
    us.push_back(time);
  }
  return true;
}

double Mean(const std::vector<double>& us) {
  return std::accumulate(us.begin(), us.end(), 0.0) / static_cast<double>(us.size());
}

double Median(std::vector<double> us) {
  std::sort(us.begin(), us.end());
  const size_t mid = us.size() / 2;
  return us.size() % 2 != 0 ? us[mid] : (us[mid - 1] + us[mid]) / 2;
}

void PrintWay(Way way, const std::vector<double>& us) {
  const auto [low, high] = std::minmax_element(us.begin(), us.end());
  fmt::print(
      "sgio-loop: {} commands, {}, mean {:.1f} us, median {:.1f} us, min {:.1f} us, "
      "max {:.1f} us\n",
      us.size(), kWayNames[static_cast<size_t>(way)], Mean(us), Median(us), *low, *high);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Time one command block sent repeatedly through SG_IO"};
  Job job;
  unsigned count = 1000;
  unsigned round = 50;
  std::string cdbText = "00 00 00 00 00 00";  // TEST UNIT READY
  app.add_option("device", job.device, "SCSI generic node, e.g. /dev/sg0")->required();
  app.add_option("--count", count, "commands to send (each way)")->check(CLI::Range(1u, 1000000u));
  app.add_option("--in", job.inLength, "data-in length in bytes")->check(CLI::Range(0u, 1u << 20));
  app.add_option("--cdb", cdbText, "command block as hex bytes");
  bool throughTransport = false;
  app.add_flag("--transport", throughTransport, "send through fwtool's transport and backend");
  bool inSession = false;
  app.add_flag("--session", inSession, "with --transport: one exclusive session for the loop");
  bool compare = false;
  app.add_flag("--compare", compare, "bare, transport and session in alternating rounds");
  app.add_option("--round", round, "commands each way per round of --compare")
      ->check(CLI::Range(1u, 100000u));
  CLI11_PARSE(app, argc, argv);

  if (!ParseHexBytes(cdbText, job.cdb)) {
    fmt::print(stderr, "sgio-loop: bad command block '{}'\n", cdbText);
    return 2;
  }
  job.data.resize(std::max(job.inLength, 1u));
  fwtool::PlatformServices platform = fwtool::InstallPlatformServices();

  if (!compare) {
    const Way way = !throughTransport ? Way::Bare : inSession ? Way::Session : Way::Transport;
    std::vector<double> us;
    if (!RunBatch(way, job, count, us)) return 1;
    PrintWay(way, us);
    return 0;
  }

  std::array<std::vector<double>, 3> us;
  for (unsigned sent = 0; sent < count; sent += round) {
    const unsigned n = std::min(round, count - sent);
    for (Way way : {Way::Bare, Way::Transport, Way::Session})
      if (!RunBatch(way, job, n, us[static_cast<size_t>(way)])) return 1;
  }
  for (Way way : {Way::Bare, Way::Transport, Way::Session}) {
    if (us[static_cast<size_t>(way)].size() != count) {
      fmt::print(stderr, "sgio-loop: {} of {} commands timed {}\n",
                 us[static_cast<size_t>(way)].size(), count, kWayNames[static_cast<size_t>(way)]);
      return 1;
    }
    PrintWay(way, us[static_cast<size_t>(way)]);
  }
  // The median follows the load of the machine less than the mean; the
  // smallest time is what each way costs when nothing else runs.
  const double bare = Median(us[0]);
  const double bareLeast = *std::min_element(us[0].begin(), us[0].end());
  auto least = [&](Way way) {
    const auto& times = us[static_cast<size_t>(way)];
    return *std::min_element(times.begin(), times.end()) / bareLeast;
  };
  fmt::print(
      "sgio-loop: per command against the bare loop: median transport {:.2f}x, session "
      "{:.2f}x; least transport {:.2f}x, session {:.2f}x\n",
      Median(us[1]) / bare, Median(us[2]) / bare, least(Way::Transport), least(Way::Session));
  return 0;
}
