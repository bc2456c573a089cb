// SPDX-License-Identifier: GPL-2.0-or-later
// A copy of the parts of /sys and /dev that the enumerator and the backend
// read, built in a temporary directory: SCSI devices below USB interfaces,
// FireWire units and SATA ports, with their sg and block nodes, symlinked
// from /sys/class the way the kernel does it.
#pragma once

#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

namespace fwtool::testing {

namespace fs = std::filesystem;

class SysfsTree {
 public:
  struct Unit {
    Unit(int host, std::string sg, std::string block, int type = 0)
        : host(host), type(type), sg(std::move(sg)), block(std::move(block)) {}
    int host;
    int type;               // SCSI peripheral device type
    std::string sg;         // "sg2", or empty for none
    std::string block;      // "sdb", or empty for none
    bool sgNode = true;     // whether /dev holds the sg node
    bool blockNode = true;  // whether /dev holds the block node
    int maxHwSectorsKb = 120;
  };

  SysfsTree() {
    static std::atomic<int> counter{0};
    // Lower-case on purpose: listed paths are lower-cased.
    root_ = fs::path("/tmp") / fmt::format("fwtool-platform-{}-{}", ::getpid(), counter++);
    fs::remove_all(root_);
    for (const char* dir :
         {"sys/class/scsi_generic", "sys/class/block", "sys/class/scsi_disk",
          "sys/bus/usb/drivers/usb-storage", "sys/bus/usb/drivers/uas",
          "sys/bus/usb/drivers/usbhid", "sys/bus/firewire/drivers/firewire_sbp2",
          "sys/bus/pci/drivers/ahci", "sys/bus/scsi/drivers/sd", "sys/bus/scsi/drivers/sr", "dev"})
      fs::create_directories(root_ / dir);
  }
  ~SysfsTree() {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  SysfsTree(const SysfsTree&) = delete;
  SysfsTree& operator=(const SysfsTree&) = delete;

  std::string Sys() const { return (root_ / "sys").string(); }
  std::string Dev() const { return (root_ / "dev").string(); }
  std::string Node(const std::string& name) const { return (root_ / "dev" / name).string(); }

  // A disk or CD-ROM behind a USB interface driven by `driver`, on a USB
  // device with the serial number string `serial` (none when empty).
  fs::path AddUsb(const Unit& unit, const std::string& driver = "usb-storage",
                  const std::string& serial = "") {
    const fs::path usbDevice =
        Devices() / "pci0000:00/0000:00:14.0/usb2" / fmt::format("2-{}", unit.host + 1);
    const fs::path interface = usbDevice / fmt::format("2-{}:1.0", unit.host + 1);
    fs::create_directories(interface);
    Write(usbDevice / "idVendor", "0e3a");
    if (!serial.empty()) Write(usbDevice / "serial", serial);
    Write(interface / "bInterfaceClass", "08");
    Link(interface / "driver", Sys() + "/bus/usb/drivers/" + driver);
    return AddScsiDevice(interface, unit, driver);
  }

  // A unit behind the FireWire SBP-2 driver; `procName` and the ieee1394_id
  // attribute are the two marks the kernel gives it.
  fs::path AddSbp2(const Unit& unit, const std::string& procName = "sbp2", bool ieee1394Id = true) {
    const fs::path fwUnit = Devices() / "pci0000:00/0000:00:1e.0/0000:05:00.0" /
                            fmt::format("fw{}", unit.host) / fmt::format("fw{}.0", unit.host);
    fs::create_directories(fwUnit);
    Link(fwUnit / "driver", Sys() + "/bus/firewire/drivers/firewire_sbp2");
    const fs::path device = AddScsiDevice(fwUnit, unit, procName);
    if (ieee1394Id) Write(device / "ieee1394_id", "0030e0f4e0123456:0:0");
    return device;
  }

  // A disk on a SATA port of an AHCI controller.
  fs::path AddSata(const Unit& unit) {
    const fs::path controller = Devices() / "pci0000:00/0000:00:17.0";
    const fs::path port = controller / fmt::format("ata{}", unit.host + 1);
    fs::create_directories(port);
    if (!fs::is_symlink(controller / "driver"))
      Link(controller / "driver", Sys() + "/bus/pci/drivers/ahci");
    return AddScsiDevice(port, unit, "ahci");
  }

  // Disks that are not SCSI devices: a loop device and an NVMe namespace.
  void AddNonScsiDisks() {
    const fs::path loop = Devices() / "virtual/block/loop0";
    fs::create_directories(loop / "queue");
    Link(Sys() + "/class/block/loop0", loop);
    const fs::path nvme = Devices() / "pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0";
    fs::create_directories(nvme / "nvme0n1/queue");
    Link(nvme / "nvme0n1/device", nvme);
    Link(Sys() + "/class/block/nvme0n1", nvme / "nvme0n1");
    Touch(root_ / "dev/loop0");
    Touch(root_ / "dev/nvme0n1");
  }

  static void Write(const fs::path& file, const std::string& text) {
    std::ofstream(file) << text << "\n";
  }

 private:
  fs::path Devices() const { return root_ / "sys/devices"; }

  static void Touch(const fs::path& file) {
    std::ofstream touch(file);
    ::chmod(file.c_str(), 0600);
  }

  // A relative symlink, as sysfs makes them.
  static void Link(const fs::path& link, const fs::path& target) {
    fs::create_directories(link.parent_path());
    fs::create_directory_symlink(fs::relative(target, link.parent_path()), link);
  }

  fs::path AddScsiDevice(const fs::path& parent, const Unit& unit, const std::string& procName) {
    const int h = unit.host;
    const fs::path host = parent / fmt::format("host{}", h);
    fs::create_directories(host / "scsi_host" / fmt::format("host{}", h));
    Write(host / "scsi_host" / fmt::format("host{}", h) / "proc_name", procName);
    const std::string hctl = fmt::format("{}:0:0:0", h);
    const fs::path device = host / fmt::format("target{}:0:0", h) / hctl;
    fs::create_directories(device);
    Write(device / "type", std::to_string(unit.type));
    Write(device / "vendor", "TALVE   ");
    Link(device / "driver",
         Sys() + (unit.type == 5 ? "/bus/scsi/drivers/sr" : "/bus/scsi/drivers/sd"));
    if (!unit.sg.empty()) {
      const fs::path sg = device / "scsi_generic" / unit.sg;
      fs::create_directories(sg);
      Write(sg / "dev", "21:" + unit.sg.substr(2));
      Link(sg / "device", device);
      Link(Sys() + "/class/scsi_generic/" + unit.sg, sg);
      if (unit.sgNode) Touch(root_ / "dev" / unit.sg);
    }
    if (!unit.block.empty()) {
      const fs::path block = device / "block" / unit.block;
      fs::create_directories(block / "queue");
      fs::create_directories(block / (unit.block + "1"));
      Write(block / "queue/max_hw_sectors_kb", std::to_string(unit.maxHwSectorsKb));
      Link(block / "device", device);
      Link(Sys() + "/class/block/" + unit.block, block);
      Link(Sys() + "/class/block/" + unit.block + "1", block / (unit.block + "1"));
      if (unit.type != 5) {
        fs::create_directories(device / "scsi_disk" / hctl);
        Link(Sys() + "/class/scsi_disk/" + hctl, device / "scsi_disk" / hctl);
      }
      if (unit.blockNode) {
        Touch(root_ / "dev" / unit.block);
        Touch(root_ / "dev" / (unit.block + "1"));
      }
    }
    return device;
  }

  fs::path root_;
};

}  // namespace fwtool::testing
