// SPDX-License-Identifier: GPL-2.0-or-later
#include "disk.h"

#include <fmt/format.h>

#include <algorithm>

namespace fwtool::sim {

namespace {

// The partition table: one entry at byte 446, the signature at 510.
constexpr size_t kMbrEntry = 446;
constexpr uint8_t kLinuxPartition = 0x83;
constexpr size_t kPatternRow = 32;

void PutLittleEndian32(std::vector<uint8_t>& data, size_t at, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) data[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

SimDisk::SimDisk(uint64_t sectors, uint32_t sectorSize)
    : sectors_(sectors), sectorSize_(sectorSize) {}

bool SimDisk::Contains(uint64_t lba, uint64_t count) const {
  return lba <= sectors_ && count <= sectors_ - lba;
}

bool SimDisk::Read(uint64_t lba, uint64_t count, std::vector<uint8_t>& out) const {
  if (!Contains(lba, count)) return false;
  out = Bytes(lba, static_cast<size_t>(count * sectorSize_));
  return true;
}

bool SimDisk::Write(uint64_t lba, std::span<const uint8_t> data) {
  const uint64_t count = data.size() / sectorSize_;
  if (!Contains(lba, count)) return false;
  Put(lba, data.first(static_cast<size_t>(count * sectorSize_)));
  if (count > 0) writes_.push_back({lba, count});
  return true;
}

void SimDisk::Load(uint64_t lba, std::span<const uint8_t> data) {
  std::vector<uint8_t> padded(data.begin(), data.end());
  padded.resize((padded.size() + sectorSize_ - 1) / sectorSize_ * sectorSize_, 0);
  const uint64_t count = padded.size() / sectorSize_;
  if (Contains(lba, count)) Put(lba, padded);
}

bool SimDisk::SetPartition(uint64_t first, uint64_t end) {
  if (first == 0 || first >= end || end > sectors_) return false;
  partition_ = Partition{first, end};
  stored_.erase(0);
  stored_.erase(stored_.lower_bound(first), stored_.lower_bound(end));
  return true;
}

std::vector<uint8_t> SimDisk::UnwrittenSector(uint64_t lba) const {
  std::vector<uint8_t> sector(sectorSize_, 0);
  if (!partition_) return sector;
  if (lba == 0) {
    // One primary partition addressed by LBA only (its CHS fields say so).
    const uint64_t count = partition_->end - partition_->first;
    const uint8_t entry[] = {0x00, 0xFE, 0xFF, 0xFF, kLinuxPartition, 0xFE, 0xFF, 0xFF};
    std::copy(std::begin(entry), std::end(entry), sector.begin() + kMbrEntry);
    PutLittleEndian32(sector, kMbrEntry + 8, static_cast<uint32_t>(partition_->first));
    PutLittleEndian32(sector, kMbrEntry + 12,
                      static_cast<uint32_t>(std::min<uint64_t>(count, 0xFFFFFFFF)));
    sector[510] = 0x55;
    sector[511] = 0xAA;
  } else if (lba >= partition_->first && lba < partition_->end) {
    const std::string row = fmt::format("user data sector {:014x}\n", lba);
    for (size_t at = 0; at + kPatternRow <= sector.size(); at += kPatternRow)
      std::copy_n(row.begin(), kPatternRow, sector.begin() + static_cast<std::ptrdiff_t>(at));
  }
  return sector;
}

bool SimDisk::ReplaceStored(StoredSectors sectors) {
  for (const auto& [lba, bytes] : sectors)
    if (lba >= sectors_ || bytes.size() != sectorSize_) return false;
  stored_ = std::move(sectors);
  return true;
}

void SimDisk::Put(uint64_t lba, std::span<const uint8_t> data) {
  for (size_t at = 0; at + sectorSize_ <= data.size(); at += sectorSize_) {
    const auto sector = data.subspan(at, sectorSize_);
    const uint64_t n = lba + at / sectorSize_;
    // A sector that holds what it held unwritten takes no room: a disk of
    // many terabytes stays small.
    const bool unwritten =
        partition_ ? std::ranges::equal(sector, UnwrittenSector(n))
                   : std::all_of(sector.begin(), sector.end(), [](uint8_t b) { return b == 0; });
    if (unwritten)
      stored_.erase(n);
    else
      stored_[n].assign(sector.begin(), sector.end());
  }
}

std::vector<uint8_t> SimDisk::Bytes(uint64_t lba, size_t length) const {
  std::vector<uint8_t> out(length, 0);
  for (size_t at = 0; at < length; at += sectorSize_) {
    const uint64_t n = lba + at / sectorSize_;
    const auto found = stored_.find(n);
    const size_t take = std::min<size_t>(sectorSize_, length - at);
    const auto to = out.begin() + static_cast<std::ptrdiff_t>(at);
    if (found != stored_.end()) {
      std::copy_n(found->second.begin(), take, to);
    } else if (partition_ && n < sectors_) {
      const std::vector<uint8_t> sector = UnwrittenSector(n);
      std::copy_n(sector.begin(), take, to);
    }
  }
  return out;
}

}  // namespace fwtool::sim
