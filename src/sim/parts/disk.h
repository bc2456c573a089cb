// SPDX-License-Identifier: GPL-2.0-or-later
// The hard disk behind a simulated bridge: sparse sectors of 512 or 4096
// bytes (or any power of two the description names), any number of them
// (well beyond 2^32), and a record of every sector written so that tests can
// prove where writes went. A disk can carry a user's partition: an MBR
// partition table in sector 0 and one partition whose sectors read as a
// pattern made from their numbers until something is written over them.
// The pattern is made on every read, so a partition of terabytes costs
// nothing; only sectors that differ from what the disk holds unwritten
// (zeros, or the partition's table and pattern) are kept.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

namespace fwtool::sim {

class SimDisk {
 public:
  SimDisk(uint64_t sectors, uint32_t sectorSize);

  uint64_t Sectors() const { return sectors_; }
  uint32_t SectorSize() const { return sectorSize_; }

  // False (and nothing moved) when the range leaves the disk.
  bool Contains(uint64_t lba, uint64_t count) const;
  bool Read(uint64_t lba, uint64_t count, std::vector<uint8_t>& out) const;
  // Whole sectors from `data`; recorded.
  bool Write(uint64_t lba, std::span<const uint8_t> data);
  // Placing contents without a record (the unit as it was built).
  void Load(uint64_t lba, std::span<const uint8_t> data);
  // `length` bytes from `lba` on; zeros past the end of the disk.
  std::vector<uint8_t> Bytes(uint64_t lba, size_t length) const;

  struct WriteRecord {
    uint64_t lba = 0;
    uint64_t count = 0;
  };
  const std::vector<WriteRecord>& Writes() const { return writes_; }
  void ClearWrites() { writes_.clear(); }

  // The user's partition: sectors [first, end), with the partition table in
  // sector 0. Whatever those sectors held is gone, as after partitioning
  // and filling the disk. False when the range does not fit the disk.
  struct Partition {
    uint64_t first = 0;
    uint64_t end = 0;
  };
  bool SetPartition(uint64_t first, uint64_t end);
  std::optional<Partition> UserPartition() const { return partition_; }
  // What a sector holds before anything is written over it: zeros, the
  // partition table (sector 0) or the partition's pattern: 32-byte rows of
  // "user data sector " and the sector number in 14 hexadecimal digits,
  // ending in a line feed.
  std::vector<uint8_t> UnwrittenSector(uint64_t lba) const;

  // The sectors that differ from what the disk holds unwritten, by number;
  // replacing them puts a saved disk back.
  using StoredSectors = std::map<uint64_t, std::vector<uint8_t>>;
  const StoredSectors& Stored() const { return stored_; }
  // False (and nothing changes) when a sector lies beyond the disk or has
  // the wrong size.
  bool ReplaceStored(StoredSectors sectors);

 private:
  void Put(uint64_t lba, std::span<const uint8_t> data);

  uint64_t sectors_;
  uint32_t sectorSize_;
  std::optional<Partition> partition_;
  StoredSectors stored_;
  std::vector<WriteRecord> writes_;
};

}  // namespace fwtool::sim
