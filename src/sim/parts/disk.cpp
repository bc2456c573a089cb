#include "disk.h"

#include <algorithm>

namespace fwtool::sim {

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

void SimDisk::Put(uint64_t lba, std::span<const uint8_t> data) {
  for (size_t at = 0; at + sectorSize_ <= data.size(); at += sectorSize_) {
    const auto sector = data.subspan(at, sectorSize_);
    const uint64_t n = lba + at / sectorSize_;
    // Zero sectors take no room: a disk of many terabytes stays small.
    if (std::all_of(sector.begin(), sector.end(), [](uint8_t b) { return b == 0; }))
      written_.erase(n);
    else
      written_[n].assign(sector.begin(), sector.end());
  }
}

std::vector<uint8_t> SimDisk::Bytes(uint64_t lba, size_t length) const {
  std::vector<uint8_t> out(length, 0);
  for (size_t at = 0; at < length; at += sectorSize_) {
    const auto found = written_.find(lba + at / sectorSize_);
    if (found == written_.end()) continue;
    std::copy_n(found->second.begin(), std::min<size_t>(sectorSize_, length - at),
                out.begin() + static_cast<std::ptrdiff_t>(at));
  }
  return out;
}

}  // namespace fwtool::sim
