// The hard disk behind a simulated bridge: sparse sectors of 512 or 4096
// bytes (or any power of two the description names), any number of them
// (well beyond 2^32), and a record of every sector written so that tests can
// prove where writes went.
#pragma once

#include <cstdint>
#include <map>
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

 private:
  void Put(uint64_t lba, std::span<const uint8_t> data);

  uint64_t sectors_;
  uint32_t sectorSize_;
  std::map<uint64_t, std::vector<uint8_t>> written_;
  std::vector<WriteRecord> writes_;
};

}  // namespace fwtool::sim
