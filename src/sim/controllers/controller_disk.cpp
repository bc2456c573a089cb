// SPDX-License-Identifier: GPL-2.0-or-later
// The disk behind the bridge: READ CAPACITY as the unit reports it (the
// reserved stretch hidden while the unit runs firmware from it), the block
// commands in both forms, the DMA transfers inside ATA PASS-THROUGH(16),
// IDENTIFY DEVICE, and the firmware the controller boots from the disk.
#include <algorithm>

#include "controller.h"

namespace fwtool::sim {

namespace {

constexpr uint8_t kIllegalRequest = 0x05;
constexpr uint8_t kLbaOutOfRange = 0x21;
constexpr uint8_t kNotReady = 0x02;
constexpr uint8_t kMediumNotPresent = 0x3A;

// The stretch: 256 sectors before the last 256-sector boundary below the
// anchor; the firmware the controller boots from is 64 KB at its start,
// with the location marker at bytes 150..155.
constexpr uint64_t kStretchUnit = 256;
constexpr size_t kDiskImageSize = 65536;
constexpr size_t kMarkerAt = 150;

constexpr size_t kIdentifyLength = 512;
constexpr size_t kCapacity10Length = 8;
constexpr size_t kCapacity16Length = 32;

void PutWord(std::vector<uint8_t>& data, size_t word, uint16_t value) {
  data[word * 2] = static_cast<uint8_t>(value);
  data[word * 2 + 1] = static_cast<uint8_t>(value >> 8);
}

void PutBigEndian(std::vector<uint8_t>& data, size_t at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i)
    data[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
}

uint64_t BigEndian(const std::array<uint8_t, 16>& cdb, int at, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value = (value << 8) | cdb[static_cast<size_t>(at + i)];
  return value;
}

}  // namespace

std::optional<uint64_t> SimController::DefaultReservedStart(uint64_t sectors, bool flag17) {
  if (sectors == 0) return std::nullopt;
  const uint64_t anchor = sectors - 1 + (flag17 ? 1 : 0);
  const uint64_t base = (anchor - (flag17 ? 0 : 1)) / kStretchUnit * kStretchUnit;
  if (anchor < (flag17 ? 0u : 1u) || base < 2 * kStretchUnit) return std::nullopt;
  return base - kStretchUnit;
}

bool SimController::SetDisk(uint64_t sectors, uint32_t sectorSize,
                            std::optional<uint64_t> reservedStart, bool flag17) {
  disk_ = SimDisk(sectors, sectorSize);
  flag17_ = flag17;
  if (!reservedStart) reservedStart = DefaultReservedStart(sectors, flag17);
  if (reservedStart && (*reservedStart % kStretchUnit != 0 || *reservedStart > sectors ||
                        sectors - *reservedStart < kStretchUnit))
    return false;
  reservedStart_ = reservedStart.value_or(sectors);
  Boot(true);
  return true;
}

void SimController::LoadDiskFirmware(std::span<const uint8_t> image) {
  if (!HasReservedStretch()) return;
  std::vector<uint8_t> copy(image.begin(), image.end());
  copy.resize(std::max(copy.size(), kMarkerAt + 6), 0);
  // The anchor that points at this stretch.
  const uint64_t anchor = reservedStart_ + kStretchUnit + (flag17_ ? 0 : 1);
  copy[kMarkerAt] = 0x55;
  for (int i = 0; i < 4; ++i)
    copy[kMarkerAt + 1 + static_cast<size_t>(i)] = static_cast<uint8_t>(anchor >> (24 - 8 * i));
  copy[kMarkerAt + 5] = 0xAA;
  disk_.Load(reservedStart_, copy);
  Boot(true);
}

uint64_t SimController::VisibleSectors() const {
  return runsFromDisk_ ? reservedStart_ : disk_.Sectors();
}

bool SimController::PartitionDisk() {
  const uint64_t visible = VisibleSectors();
  return visible > kPartitionStart && disk_.SetPartition(kPartitionStart, visible);
}

void SimController::BootFromDisk() {
  runsFromDisk_ = false;
  if (!profile_.firmwareOnDisk || !HasReservedStretch()) return;
  const std::vector<uint8_t> area = disk_.Bytes(reservedStart_, kDiskImageSize);
  if (area[kMarkerAt] != 0x55 || area[kMarkerAt + 5] != 0xAA) return;
  const auto image = FindBootImage(profile_, area);
  if (!image) return;
  runsFromDisk_ = true;
  std::copy_n(area.begin() + image->versionAt, version_.size(), version_.begin());
  // The identification block of the running firmware, as on the flash units.
  std::copy_n(area.begin() + image->signatureAt, 10, memory_.begin() + 0xC000);
}

SimController::Reply SimController::ReadCapacity(const PassThroughRequest& rq, bool sixteen) {
  const auto& cdb = rq.cdb;
  if (sixteen && (cdb[1] & 0x1F) != 0x10) return InvalidField();
  uint64_t sectors = VisibleSectors();
  switch (faults_.capacity) {
    case CapacityAnswer::True:
      break;
    case CapacityAnswer::Fail:
      return Check(0x03, 0x11);  // MEDIUM ERROR, unrecovered read error
    case CapacityAnswer::AllOnes:
      sectors = 0;  // the last LBA below wraps to all ones
      break;
    case CapacityAnswer::Lie:
      sectors = faults_.capacityLie;
      break;
  }
  const uint64_t last = sectors - 1;
  std::vector<uint8_t> data(sixteen ? kCapacity16Length : kCapacity10Length, 0);
  if (sixteen) {
    PutBigEndian(data, 0, last, 8);
    PutBigEndian(data, 8, disk_.SectorSize(), 4);
    data.resize(std::min<size_t>(data.size(), BigEndian(cdb, 10, 4)));
  } else {
    PutBigEndian(data, 0, std::min<uint64_t>(last, 0xFFFFFFFF), 4);
    PutBigEndian(data, 4, disk_.SectorSize(), 4);
  }
  return Good(std::move(data));
}

SimController::Reply SimController::DiskTransfer(const PassThroughRequest& rq, bool write,
                                                 uint64_t lba, uint64_t count) {
  const uint64_t bytes = count * disk_.SectorSize();
  if (!disk_.Contains(lba, count)) return Check(kIllegalRequest, kLbaOutOfRange);
  if (write) {
    if (rq.direction != DataDirection::Out || rq.data == nullptr || rq.length < bytes)
      return InvalidField();
    if (++diskWrites_ == faults_.powerLossAtDiskWrite) {
      // The drive takes the sectors one after the other: half of them are
      // on the disk when the power goes.
      const uint64_t done = count / 2;
      if (done > 0) disk_.Write(lba, {rq.data, static_cast<size_t>(done * disk_.SectorSize())});
      diskPowerLost_ = true;
      return Good();
    }
    disk_.Write(lba, {rq.data, static_cast<size_t>(bytes)});
    return Good();
  }
  if (rq.direction != DataDirection::In) return InvalidField();
  std::vector<uint8_t> data;
  disk_.Read(lba, count, data);
  return Good(std::move(data));
}

SimController::Reply SimController::AtaDiskTransfer(const PassThroughRequest& rq) {
  const auto& cdb = rq.cdb;
  constexpr uint8_t kReadDmaExt = 0x25;
  constexpr uint8_t kWriteDmaExt = 0x35;
  if (cdb[14] != kReadDmaExt && cdb[14] != kWriteDmaExt) return InvalidField();
  const uint64_t count = (static_cast<uint64_t>(cdb[5]) << 8) | cdb[6];
  const uint64_t lba =
      cdb[8] | (static_cast<uint64_t>(cdb[10]) << 8) | (static_cast<uint64_t>(cdb[12]) << 16) |
      (static_cast<uint64_t>(cdb[7]) << 24) | (static_cast<uint64_t>(cdb[9]) << 32) |
      (static_cast<uint64_t>(cdb[11]) << 40);
  return DiskTransfer(rq, cdb[14] == kWriteDmaExt, lba, count);
}

SimController::Reply SimController::DriveIdentify(const PassThroughRequest& rq) const {
  if (rq.direction != DataDirection::In) return InvalidField();
  if (faults_.identifyFails) return Check(0x0B, 0x00);  // ABORTED COMMAND
  const uint64_t sectors = disk_.Sectors();
  const uint32_t sectors28 = sectors >= 0x0FFFFFFF ? 0x0FFFFFFF : static_cast<uint32_t>(sectors);
  std::vector<uint8_t> data(kIdentifyLength, 0);
  PutWord(data, 0, 0x0040);   // fixed device
  PutWord(data, 49, 0x0200);  // LBA supported
  PutWord(data, 60, static_cast<uint16_t>(sectors28));
  PutWord(data, 61, static_cast<uint16_t>(sectors28 >> 16));
  PutWord(data, 83, 0x0400);  // 48-bit addresses supported
  for (size_t w = 0; w < 4; ++w) PutWord(data, 100 + w, static_cast<uint16_t>(sectors >> (16 * w)));
  if (disk_.SectorSize() != 512) {
    // Words 117-118: the logical sector size in words.
    PutWord(data, 106, 0x5000);
    PutWord(data, 117, static_cast<uint16_t>(disk_.SectorSize() / 2));
    PutWord(data, 118, static_cast<uint16_t>(disk_.SectorSize() / 2 >> 16));
  }
  return Good(std::move(data));
}

SimController::Reply SimController::DiskBlock(const PassThroughRequest& rq, InterfaceKind iface) {
  const auto& cdb = rq.cdb;
  if (iface == InterfaceKind::Cdrom) return Check(kNotReady, kMediumNotPresent);
  switch (cdb[0]) {
    case 0x25:
      return ReadCapacity(rq, false);
    case 0x9E:
      return ReadCapacity(rq, true);
    case 0x28:
    case 0x2A:
      return DiskTransfer(rq, cdb[0] == 0x2A, BigEndian(cdb, 2, 4), BigEndian(cdb, 7, 2));
    case 0x88:
    case 0x8A:
      return DiskTransfer(rq, cdb[0] == 0x8A, BigEndian(cdb, 2, 8), BigEndian(cdb, 10, 4));
    default:
      return Unknown();
  }
}

}  // namespace fwtool::sim
