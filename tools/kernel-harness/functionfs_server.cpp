// SPDX-License-Identifier: GPL-2.0-or-later
#include "functionfs_server.h"

#include <endian.h>
#include <fcntl.h>
#include <fmt/core.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string_view>
#include <thread>
#include <vector>

namespace fwtool::harness {

namespace {

constexpr uint8_t kMassStorageClass = 0x08;
constexpr uint8_t kScsiTransparentSubclass = 0x06;
constexpr uint8_t kBulkOnlyProtocol = 0x50;
constexpr char kInterfaceName[] = "Bulk-only storage";

// Endpoint files appear in the order of the endpoint descriptors: ep1 is
// bulk IN, ep2 bulk OUT.
constexpr uint8_t kBulkInAddress = 1 | USB_DIR_IN;
constexpr uint8_t kBulkOutAddress = 2 | USB_DIR_OUT;

#pragma pack(push, 1)
struct SpeedDescriptors {
  usb_interface_descriptor interface;
  usb_endpoint_descriptor_no_audio bulkIn;
  usb_endpoint_descriptor_no_audio bulkOut;
};

struct FunctionDescriptors {
  usb_functionfs_descs_head_v2 header;
  uint32_t fullSpeedCount;
  uint32_t highSpeedCount;
  SpeedDescriptors fullSpeed;
  SpeedDescriptors highSpeed;
};

struct FunctionStrings {
  usb_functionfs_strings_head header;
  uint16_t language;
  char interfaceName[sizeof(kInterfaceName)];
};
#pragma pack(pop)

SpeedDescriptors MakeSpeedDescriptors(uint16_t maxPacket) {
  SpeedDescriptors d{};
  d.interface.bLength = sizeof(d.interface);
  d.interface.bDescriptorType = USB_DT_INTERFACE;
  d.interface.bNumEndpoints = 2;
  d.interface.bInterfaceClass = kMassStorageClass;
  d.interface.bInterfaceSubClass = kScsiTransparentSubclass;
  d.interface.bInterfaceProtocol = kBulkOnlyProtocol;
  d.interface.iInterface = 1;
  for (auto* ep : {&d.bulkIn, &d.bulkOut}) {
    ep->bLength = sizeof(*ep);
    ep->bDescriptorType = USB_DT_ENDPOINT;
    ep->bmAttributes = USB_ENDPOINT_XFER_BULK;
    ep->wMaxPacketSize = htole16(maxPacket);
  }
  d.bulkIn.bEndpointAddress = kBulkInAddress;
  d.bulkOut.bEndpointAddress = kBulkOutAddress;
  return d;
}

FunctionDescriptors MakeDescriptors() {
  FunctionDescriptors d{};
  d.header.magic = htole32(FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
  d.header.length = htole32(sizeof(d));
  d.header.flags = htole32(FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC);
  d.fullSpeedCount = htole32(3);
  d.highSpeedCount = htole32(3);
  d.fullSpeed = MakeSpeedDescriptors(64);
  d.highSpeed = MakeSpeedDescriptors(512);
  return d;
}

FunctionStrings MakeStrings() {
  FunctionStrings s{};
  s.header.magic = htole32(FUNCTIONFS_STRINGS_MAGIC);
  s.header.length = htole32(sizeof(s));
  s.header.str_count = htole32(1);
  s.header.lang_count = htole32(1);
  s.language = htole16(0x0409);
  std::memcpy(s.interfaceName, kInterfaceName, sizeof(kInterfaceName));
  return s;
}

bool WriteAll(int fd, const void* data, size_t length) {
  return write(fd, data, length) == static_cast<ssize_t>(length);
}

// Owns one file descriptor.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

void NoteSignal(int) {}

class Server {
 public:
  Server(const FunctionFsOptions& options, StorageTarget& target)
      : options_(options), target_(target) {}

  int Run() {
    const std::string dir = options_.mountPoint;
    Fd ep0(open((dir + "/ep0").c_str(), O_RDWR));
    if (!ep0.valid()) return Fail("cannot open " + dir + "/ep0");
    const FunctionDescriptors descriptors = MakeDescriptors();
    if (!WriteAll(ep0.get(), &descriptors, sizeof(descriptors)))
      return Fail("descriptors rejected");
    const FunctionStrings strings = MakeStrings();
    if (!WriteAll(ep0.get(), &strings, sizeof(strings))) return Fail("strings rejected");
    // The bulk endpoint files exist only now.
    Fd in(open((dir + "/ep1").c_str(), O_RDWR));
    Fd out(open((dir + "/ep2").c_str(), O_RDWR));
    if (!in.valid() || !out.valid()) return Fail("cannot open the bulk endpoints");
    ep0_ = ep0.get();
    in_ = in.get();
    out_ = out.get();

    struct sigaction action {};
    action.sa_handler = NoteSignal;  // no SA_RESTART: a reset interrupts a blocked transfer
    sigaction(SIGUSR1, &action, nullptr);

    std::thread bulk([this] { ServeBulk(); });
    bulkThread_ = bulk.native_handle();
    bulk.detach();

    if (!options_.readyFile.empty()) std::ofstream(options_.readyFile) << "ready\n";
    Log("serving {} logical unit(s)", target_.MaxLun() + 1);
    ServeEp0();
    return 0;
  }

 private:
  template <typename... Args>
  void Log(fmt::format_string<Args...> format, Args&&... args) {
    fmt::print(stderr, "ffs-storage-gadget: {}\n",
               fmt::format(format, std::forward<Args>(args)...));
    std::fflush(stderr);
  }

  int Fail(const std::string& what) {
    Log("{}: {}", what, std::strerror(errno));
    return 1;
  }

  void ServeEp0() {
    usb_functionfs_event events[4];
    for (;;) {
      const ssize_t n = read(ep0_, events, sizeof(events));
      if (n < 0) {
        if (errno == EINTR) continue;
        Log("ep0 read failed: {}", std::strerror(errno));
        return;
      }
      for (size_t i = 0; i < static_cast<size_t>(n) / sizeof(events[0]); ++i) {
        switch (events[i].type) {
          case FUNCTIONFS_SETUP:
            HandleSetup(events[i].u.setup);
            break;
          case FUNCTIONFS_ENABLE:
            Log("enabled");
            break;
          case FUNCTIONFS_DISABLE:
            Log("disabled");
            break;
          case FUNCTIONFS_BIND:
            Log("bound");
            break;
          case FUNCTIONFS_UNBIND:
            Log("unbound");
            break;
          default:
            break;
        }
      }
    }
  }

  void HandleSetup(const usb_ctrlrequest& setup) {
    const bool toHost = (setup.bRequestType & USB_DIR_IN) != 0;
    const bool classRequest = (setup.bRequestType & USB_TYPE_MASK) == USB_TYPE_CLASS;
    const uint16_t length = le16toh(setup.wLength);
    if (classRequest && setup.bRequest == kGetMaxLunRequest && toHost && length >= 1) {
      const uint8_t maxLun = target_.MaxLun();
      if (write(ep0_, &maxLun, 1) != 1) Log("Get Max LUN answer failed: {}", std::strerror(errno));
      return;
    }
    if (classRequest && setup.bRequest == kBulkOnlyResetRequest && !toHost && length == 0) {
      Log("bulk-only reset");
      resets_.fetch_add(1);
      pthread_kill(bulkThread_, SIGUSR1);
      if (read(ep0_, nullptr, 0) < 0) Log("reset status stage failed: {}", std::strerror(errno));
      return;
    }
    // Anything else is stalled: a transfer against the request's direction
    // halts ep0 for this request.
    Log("stalling request type {:#04x} request {:#04x}", setup.bRequestType, setup.bRequest);
    uint8_t none = 0;
    if (toHost) {
      [[maybe_unused]] ssize_t r = read(ep0_, &none, 0);
    } else {
      [[maybe_unused]] ssize_t r = write(ep0_, &none, 0);
    }
  }

  // A transfer against an endpoint's direction halts it.
  void StallIn() {
    uint8_t none = 0;
    [[maybe_unused]] ssize_t r = read(in_, &none, 0);
  }
  void StallOut() {
    uint8_t none = 0;
    [[maybe_unused]] ssize_t r = write(out_, &none, 0);
  }

  uint32_t InMaxPacket() {
    usb_endpoint_descriptor descriptor{};
    if (ioctl(in_, FUNCTIONFS_ENDPOINT_DESC, &descriptor) < 0) return 512;
    return le16toh(descriptor.wMaxPacketSize) & 0x7FF;
  }

  void ServeBulk() {
    std::vector<uint8_t> cbwBytes(512);
    std::vector<uint8_t> dataOut;
    for (;;) {
      const ssize_t n = read(out_, cbwBytes.data(), cbwBytes.size());
      if (n < 0) {
        // Disabled, disconnected or interrupted by a reset: wait for the
        // next command block.
        if (errno != EINTR) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        continue;
      }
      const unsigned generation = resets_.load();
      auto cbw = ParseCommandBlockWrapper({cbwBytes.data(), static_cast<size_t>(n)});
      if (!cbw) {
        Log("invalid command block wrapper ({} bytes): stalling until reset", n);
        StallIn();
        StallOut();
        continue;
      }

      dataOut.clear();
      if (!cbw->dataIn && cbw->dataTransferLength != 0) {
        dataOut.resize(cbw->dataTransferLength);
        size_t got = 0;
        while (got < dataOut.size()) {
          const ssize_t r = read(out_, dataOut.data() + got, dataOut.size() - got);
          if (r <= 0) break;
          got += static_cast<size_t>(r);
        }
        if (got < dataOut.size() || resets_.load() != generation) continue;
      }

      const CommandOutcome outcome = target_.Execute(*cbw, dataOut);
      if (options_.trace)
        Log("lun {} {} {} bytes cdb {} -> status {} residue {}", cbw->lun,
            cbw->dataIn ? "in" : "out", cbw->dataTransferLength,
            HexBytes(cbw->cb.data(), cbw->cbLength), outcome.status, outcome.residue);
      if (resets_.load() != generation) continue;

      if (cbw->dataIn && cbw->dataTransferLength != 0) {
        const auto sent = static_cast<uint32_t>(outcome.dataIn.size());
        if (sent != 0 && !WriteAll(in_, outcome.dataIn.data(), sent)) continue;
        if (NeedsStallAfterDataIn(sent, cbw->dataTransferLength, InMaxPacket())) StallIn();
      }
      if (resets_.load() != generation) continue;
      const auto csw = BuildCommandStatusWrapper(cbw->tag, outcome.residue, outcome.status);
      WriteAll(in_, csw.data(), csw.size());
    }
  }

  const FunctionFsOptions& options_;
  StorageTarget& target_;
  int ep0_ = -1;
  int in_ = -1;
  int out_ = -1;
  pthread_t bulkThread_{};
  std::atomic<unsigned> resets_{0};
};

}  // namespace

int ServeFunctionFs(const FunctionFsOptions& options, StorageTarget& target) {
  Server server(options, target);
  return server.Run();
}

}  // namespace fwtool::harness
