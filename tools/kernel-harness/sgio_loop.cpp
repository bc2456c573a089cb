// sgio-loop: sends one command block many times through SG_IO and prints
// the mean, smallest and largest time per command, to see what one command
// costs through the kernel's SCSI generic and USB storage drivers.
//
//   sgio-loop DEVICE [--count N] [--in BYTES] [--cdb "00 00 00 00 00 00"] [--transport [--session]]
//             [--save FILE]
//
// Bare, the loop keeps the node open and calls SG_IO itself. With
// --transport every command goes through fwtool's own transport and Linux
// backend (SendCommandIn: open, SG_IO, close per command), as fwtool sends
// them; DEVICE is then a listed path such as usbsto:/dev/sg0. With
// --session as well, the commands run inside one exclusive device session,
// as those of an update do (one open for all of them). --save writes the
// mean time per command in microseconds to FILE.
#include <fcntl.h>
#include <fmt/core.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "device_session.h"
#include "platform_services.h"
#include "transport.h"

namespace {

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

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Time one command block sent repeatedly through SG_IO"};
  std::string device;
  unsigned count = 1000;
  unsigned inLength = 0;
  std::string cdbText = "00 00 00 00 00 00";  // TEST UNIT READY
  app.add_option("device", device, "SCSI generic node, e.g. /dev/sg0")->required();
  app.add_option("--count", count, "commands to send")->check(CLI::Range(1u, 1000000u));
  app.add_option("--in", inLength, "data-in length in bytes")->check(CLI::Range(0u, 1u << 20));
  app.add_option("--cdb", cdbText, "command block as hex bytes");
  bool throughTransport = false;
  app.add_flag("--transport", throughTransport, "send through fwtool's transport and backend");
  bool inSession = false;
  app.add_flag("--session", inSession, "with --transport: one exclusive session for the loop");
  std::string saveFile;
  app.add_option("--save", saveFile, "file that receives the mean time per command in us");
  CLI11_PARSE(app, argc, argv);

  std::vector<uint8_t> cdb;
  if (!ParseHexBytes(cdbText, cdb)) {
    fmt::print(stderr, "sgio-loop: bad command block '{}'\n", cdbText);
    return 2;
  }
  std::vector<uint8_t> data(std::max(inLength, 1u));
  double total = 0, smallest = 1e9, largest = 0;
  auto note = [&](double us) {
    total += us;
    smallest = std::min(smallest, us);
    largest = std::max(largest, us);
  };

  auto save = [&] {
    if (saveFile.empty()) return true;
    std::FILE* out = std::fopen(saveFile.c_str(), "w");
    if (out == nullptr) return false;
    fmt::print(out, "{:.1f}\n", total / count);
    return std::fclose(out) == 0;
  };

  if (throughTransport) {
    fwtool::PlatformServices platform = fwtool::InstallPlatformServices();
    std::optional<fwtool::DeviceSession> session;
    if (inSession) session.emplace(device, fwtool::SessionAccess::Exclusive);
    for (unsigned i = 0; i < count; ++i) {
      const auto start = std::chrono::steady_clock::now();
      uint32_t moved = 0;
      const int ok = inLength != 0
                         ? fwtool::SendCommandIn(device, cdb.data(), static_cast<int>(cdb.size()),
                                                 data.data(), inLength, &moved)
                         : fwtool::SendCommandOut(device, cdb.data(), static_cast<int>(cdb.size()),
                                                  nullptr, 0, &moved);
      note(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
               .count());
      if (ok != 1) {
        fmt::print(stderr, "sgio-loop: command {} failed through the transport\n", i);
        return 1;
      }
    }
    fmt::print(
        "sgio-loop: {} commands through fwtool's transport{}, mean {:.1f} us, min {:.1f} us, "
        "max {:.1f} us\n",
        count, inSession ? " in one session" : "", total / count, smallest, largest);
    return save() ? 0 : 1;
  }

  const int fd = open(device.c_str(), O_RDWR | O_NONBLOCK);
  if (fd < 0) {
    std::perror(device.c_str());
    return 1;
  }
  uint8_t sense[32];
  for (unsigned i = 0; i < count; ++i) {
    sg_io_hdr_t io{};
    io.interface_id = 'S';
    io.cmdp = cdb.data();
    io.cmd_len = static_cast<unsigned char>(cdb.size());
    io.dxfer_direction = inLength != 0 ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
    io.dxferp = inLength != 0 ? data.data() : nullptr;
    io.dxfer_len = inLength;
    io.sbp = sense;
    io.mx_sb_len = sizeof(sense);
    io.timeout = 10000;
    const auto start = std::chrono::steady_clock::now();
    const int rc = ioctl(fd, SG_IO, &io);
    const double us =
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    if (rc < 0 || io.status != 0 || io.host_status != 0 || io.driver_status != 0) {
      fmt::print(stderr,
                 "sgio-loop: command {} failed: ioctl {} status {:#x} host {:#x} driver {:#x}\n", i,
                 rc, io.status, io.host_status, io.driver_status);
      close(fd);
      return 1;
    }
    note(us);
  }
  close(fd);
  fmt::print("sgio-loop: {} commands, bare SG_IO, mean {:.1f} us, min {:.1f} us, max {:.1f} us\n",
             count, total / count, smallest, largest);
  return save() ? 0 : 1;
}
