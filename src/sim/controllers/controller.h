// SPDX-License-Identifier: GPL-2.0-or-later
// One simulated bridge controller with its serial flash: answers command
// blocks as the controller of its chip type would, keeps time on the
// process clock, boots the firmware its flash holds, and shows the faults it
// is told to show. It never calls into the program: it only sees blocks.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "chip_profile.h"
#include "command_log.h"
#include "disk.h"
#include "faults.h"
#include "flash_part.h"
#include "parallel_flash.h"
#include "pass_through.h"
#include "spi_flash.h"
#include "timing.h"
#include "unit_firmware.h"

namespace fwtool::sim {

// Which of the unit's device interfaces a block came through.
enum class InterfaceKind { Disk, Cdrom };

// The opcodes and geometry the controller drives its flash with.
struct ControllerFlashConfig {
  uint8_t makerCode = 0;  // what the controller detected (0 = not found)
  uint8_t chipEraseOpcode = 0xC7;
  uint8_t blockEraseOpcode = 0xD8;
  uint8_t programOpcode = 0x02;
  uint8_t sectorEraseOpcode = 0x20;
  uint32_t pageSize = 256;
  std::array<uint8_t, 3> jedecId{};  // what 0x9F answered at boot
};

class SimController {
 public:
  static constexpr uint32_t kMemorySize = 0x10000;
  // Blocks of the standard commands the kernel sends on its own.
  static constexpr uint32_t kMediumBlocks = 2048;
  static constexpr uint32_t kMediumBlockSize = 512;

  SimController(ChipProfile profile, FlashPartSpec part, BusTimings bus = {});

  // Answers one block as the unit would. Before anything the unit must be
  // present; an absent unit answers "cannot open".
  PassThroughResult Execute(const PassThroughRequest& request,
                            InterfaceKind iface = InterfaceKind::Disk);

  // Present: powered, not vanished, not re-attaching after a reset.
  bool Present() const;
  // Power off and on: the unit boots the firmware its flash holds now (and
  // comes back if it had vanished or lost power).
  void PowerCycle();
  void PowerOff();

  const ChipProfile& Profile() const { return profile_; }
  SpiFlash& Flash() { return flash_; }
  const SpiFlash& Flash() const { return flash_; }
  // The parallel part of the oldest members; null on the others.
  ParallelFlash* Parallel() { return parallel_ ? &*parallel_ : nullptr; }
  const ParallelFlash* Parallel() const { return parallel_ ? &*parallel_ : nullptr; }
  std::vector<uint8_t>& Memory() { return memory_; }
  const std::vector<uint8_t>& Memory() const { return memory_; }
  // Version bytes the unit reports (those of the firmware it booted, or of
  // its internal code).
  const std::array<uint8_t, 6>& ReportedVersion() const { return version_; }
  bool RunsFromFlash() const { return bootImage_.has_value(); }
  const ControllerFlashConfig& FlashConfig() const { return flashConfig_; }
  // Whether FF 04 25 (flash access set-up) arrived since the last boot.
  bool FlashAccessSetUp() const { return flashAccessSetUp_; }
  // The fault plan's turned read bit has reached the host.
  bool ReadBitFlipped() const { return flipFired_; }

  // The disk behind the bridge (2048 sectors of 512 bytes unless told
  // otherwise). Chips that keep their firmware on it hide the reserved
  // stretch from `ReservedStart()` on while they run that firmware.
  SimDisk& Disk() { return disk_; }
  const SimDisk& Disk() const { return disk_; }
  // A new, blank disk; `reservedStart` (a multiple of 256 with 256 sectors
  // after it) where the stretch begins, by default where the controller
  // puts it at the end of the disk. False when the stretch does not fit.
  bool SetDisk(uint64_t sectors, uint32_t sectorSize, std::optional<uint64_t> reservedStart,
               bool flag17);
  // Where the controller starts the stretch on a disk of that size: 256
  // sectors before the last 256-sector boundary below its anchor (the last
  // sector, one further with the flag); nullopt on a disk too small.
  static std::optional<uint64_t> DefaultReservedStart(uint64_t sectors, bool flag17);
  // First sector of the stretch; the disk's size when it has none.
  uint64_t ReservedStart() const { return reservedStart_; }
  bool HasReservedStretch() const { return reservedStart_ < disk_.Sectors(); }
  // Puts a firmware image at the stretch with its location marker.
  void LoadDiskFirmware(std::span<const uint8_t> image);
  // The sectors the host is shown (before any capacity fault).
  uint64_t VisibleSectors() const;
  // The user partitions what the host is shown now and fills it: a
  // partition from kPartitionStart (1 MB into a disk of 512-byte sectors, as
  // partitioning tools align it) to the last sector shown. A unit that runs
  // its firmware from the disk keeps it beyond. False when the host is
  // shown no more than kPartitionStart sectors.
  static constexpr uint64_t kPartitionStart = 2048;
  bool PartitionDisk();
  bool RunsFromDisk() const { return runsFromDisk_; }

  void SetFaults(const FaultPlan& faults);
  const FaultPlan& Faults() const { return faults_; }
  uint64_t CommandCount() const { return commandCount_; }
  // Writes to the disk over the unit's life.
  uint64_t DiskWrites() const { return diskWrites_; }

  const std::vector<LoggedCommand>& Log() const { return log_; }
  void ClearLog() { log_.clear(); }

  const BusTimings& Timings() const { return bus_; }
  void SetTimings(const BusTimings& bus);

  // Told when the unit leaves (present = false) or comes back on its own:
  // a reset, a vanishing unit, a power loss. `at` is the clock time.
  using PresenceListener = std::function<void(bool present, Duration at)>;
  void SetPresenceListener(PresenceListener listener) { presenceListener_ = std::move(listener); }

  // Restores saved contents: flash cells and protection, the parallel part
  // (left as it is when `parallel` is empty), then controller memory, as if
  // the unit had been powered off with them. A saved disk goes back into
  // Disk() before this, so that the unit boots what it holds.
  void Restore(std::span<const uint8_t> flash, uint8_t flashStatus, std::span<const uint8_t> memory,
               std::span<const uint8_t> parallel = {});

 private:
  struct Reply {
    uint8_t status = 0;  // SCSI status
    std::vector<uint8_t> sense;
    std::vector<uint8_t> data;  // data-in bytes
    uint16_t hostStatus = 0;
    std::string detail;
  };

  void Boot(bool clearMemory);
  // The flash parts lose power at time `at`.
  void CutFlashPower(Duration at);
  void DetectFlash(Duration at);
  void Leave(Duration at);

  Reply Dispatch(const PassThroughRequest& rq, InterfaceKind iface);
  Reply Standard(const PassThroughRequest& rq, InterfaceKind iface);
  Reply Inquiry(const PassThroughRequest& rq, InterfaceKind iface);
  Reply DfBlock(const PassThroughRequest& rq);
  Reply ChipInfo(const PassThroughRequest& rq);
  // The chip information reply (also the answer to the ATA information feature).
  std::vector<uint8_t> ChipInfoBytes() const;
  Reply AtaBlock(const PassThroughRequest& rq);
  Reply AtaVendor(const PassThroughRequest& rq, uint8_t feature, uint8_t count, uint32_t lba);
  Reply Ff04Block(const PassThroughRequest& rq);
  Reply SpiBlock(const PassThroughRequest& rq);
  Reply ParallelBlock(const PassThroughRequest& rq);

  // The disk: capacity, block transfers, IDENTIFY DEVICE, and the firmware
  // the controller boots from it.
  Reply ReadCapacity(const PassThroughRequest& rq, bool sixteen);
  Reply DiskTransfer(const PassThroughRequest& rq, bool write, uint64_t lba, uint64_t count);
  Reply AtaDiskTransfer(const PassThroughRequest& rq);
  Reply DriveIdentify(const PassThroughRequest& rq) const;
  Reply DiskBlock(const PassThroughRequest& rq, InterfaceKind iface);
  void BootFromDisk();

  // Flash work done by the controller itself.
  Reply ReadFlashBytes(uint32_t address, uint32_t length, const PassThroughRequest& rq);
  Reply WriteFlashBlock(uint32_t address, std::span<const uint8_t> data, uint8_t mode,
                        const PassThroughRequest& rq);
  Reply ProgramOnly(uint32_t address, std::span<const uint8_t> data, const PassThroughRequest& rq);
  Reply EraseWith(uint8_t opcode, uint32_t address, const PassThroughRequest& rq);
  // Waits for the part to finish; false (with the reply filled) when it does
  // not finish within the command's time-out.
  bool WaitFlashReady(const PassThroughRequest& rq, Reply& reply);
  Duration Send(std::vector<uint8_t> bytes, Duration at);
  Duration EraseUnit(uint32_t start, uint32_t length, Duration at);
  Duration Program(uint32_t address, std::span<const uint8_t> data, Duration at);

  // Unknown command unless the chip has the family.
  bool Lacks(Family family, Reply& reply) const;
  Reply Good(std::vector<uint8_t> data = {}) const;
  Reply Check(uint8_t key, uint8_t asc, uint8_t ascq = 0) const;
  Reply Unknown() const { return Check(0x05, 0x20); }
  Reply InvalidField() const { return Check(0x05, 0x24); }

  ChipProfile profile_;
  SpiFlash flash_;
  std::optional<ParallelFlash> parallel_;
  // The erase script the host loaded (FF 04 04).
  std::array<uint8_t, 18> parallelEraseScript_{};
  BusTimings bus_;
  std::vector<uint8_t> memory_;
  ControllerFlashConfig flashConfig_;
  std::optional<BootImage> bootImage_;
  std::array<uint8_t, 6> version_{};
  bool flashAccessSetUp_ = false;
  bool resetRequested_ = false;
  // An SPI instruction whose chip select the controller still holds low.
  std::optional<std::vector<uint8_t>> pendingSpi_;
  // What the part answered to the last SPI instruction sent over ATA.
  std::vector<uint8_t> ataSpiAnswer_;
  std::vector<uint8_t> lastSense_;
  SimDisk disk_{kMediumBlocks, kMediumBlockSize};
  uint64_t reservedStart_ = kMediumBlocks;
  bool flag17_ = false;
  bool runsFromDisk_ = false;

  bool powered_ = true;
  bool vanished_ = false;
  Duration detachedUntil_{0};

  FaultPlan faults_;
  bool vanishFired_ = false;
  uint64_t diskWrites_ = 0;  // over the unit's life
  bool diskPowerLost_ = false;
  bool stuckFired_ = false;
  bool flipFired_ = false;
  uint64_t commandCount_ = 0;
  std::vector<LoggedCommand> log_;
  PresenceListener presenceListener_;
};

}  // namespace fwtool::sim
