// SPDX-License-Identifier: GPL-2.0-or-later
// Reading the whole part through the commands of its procedure.
#include <algorithm>
#include <string>

#include "address_flash_steps.h"
#include "ata_commands.h"
#include "block_transfer.h"
#include "disk_hosted_steps.h"
#include "ieee1394_steps.h"
#include "parallel_flash_commands.h"
#include "parallel_flash_steps.h"
#include "procedure_host.h"
#include "serial_flash_commands.h"
#include "whole_part.h"

namespace fwtool {

namespace {

constexpr int32_t kFlashRangeBlock = 8192;

bool Uniform(std::span<const uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [&](uint8_t b) { return b == bytes.front(); });
}

// Reads [start, start + length) into the end of `part`; the step moves on
// by the bytes read against the `expected` size of the part.
bool Append(ProcedureProgress& progress, const PartReader& read, std::vector<uint8_t>& part,
            uint32_t start, uint32_t length, uint32_t expected) {
  const size_t at = part.size();
  const ProgressPart piece(progress, at, length, expected);
  part.resize(at + length);
  return read(start, part.data() + at, length) != 0;
}

// Whether the bytes at `place` are those at 0 again: the part's addresses
// wrapped round. A first 64 KB that says little is compared whole. The
// probes do not move the step: they read nothing that is kept.
bool WrapsAt(ProcedureProgress& progress, const PartReader& read, std::span<const uint8_t> first,
             uint32_t place, uint32_t expected, bool* readOk) {
  const ProgressPart none(progress, place, 0, expected);
  std::vector<uint8_t> probe(kWrapProbeSize);
  *readOk = read(place, probe.data(), kWrapProbeSize) != 0;
  if (!*readOk || !std::equal(probe.begin(), probe.end(), first.begin())) return false;
  if (!Uniform(first.first(kWrapProbeSize))) return true;
  std::vector<uint8_t> whole(kSmallestFlashSize);
  *readOk = read(place, whole.data(), kSmallestFlashSize) != 0;
  return *readOk && std::equal(whole.begin(), whole.end(), first.begin());
}

// The transfer size a part is read with, for the time of one read; the
// operator's setting comes back afterwards.
class TransferBlock {
 public:
  TransferBlock(ProcedureHost& host, int32_t size)
      : settings_(host.Settings()), saved_(settings_.TransferBlockSize) {
    if (size > 0) settings_.TransferBlockSize = size;
  }
  ~TransferBlock() { settings_.TransferBlockSize = saved_; }
  TransferBlock(const TransferBlock&) = delete;
  TransferBlock& operator=(const TransferBlock&) = delete;

 private:
  FlashSettings& settings_;
  int32_t saved_;
};

// The size the information check found, as far as the addresses reach; 0
// when it found none.
uint32_t DetectedSize(const ProcedureRequest& request) {
  if (request.chip.flashSizeKB <= 0) return 0;
  return std::min(static_cast<uint32_t>(request.chip.flashSizeKB) * 1024u, kLargestFlashSize);
}

// A flash part read by address ranges: as large as detected, else as far as
// its addresses reach.
int ReadFlashPart(const ProcedureRequest& request, ProcedureHost& host, const PartReader& read,
                  std::vector<uint8_t>& bytes, uint32_t sizeIfErased) {
  const uint32_t size = DetectedSize(request);
  if (size == 0) return ReadWrappingPart(host.Progress(), read, bytes, sizeIfErased);
  bytes.assign(size, 0);
  return read(0, bytes.data(), size);
}

int ReadDiskArea(const ProcedureRequest& request, ProcedureHost& host,
                 std::vector<uint8_t>& bytes) {
  const auto area = LocateDiskFirmwareArea(request, host);
  if (!area) return 0;
  bytes.assign(area->Bytes(), 0);
  return ReadDiskFirmwareAreaBytes(request.path, *area, bytes.data(), bytes.size());
}

int ReadDiskRegion(const ProcedureRequest& request, ProcedureHost& host,
                   std::vector<uint8_t>& bytes) {
  const auto region = LocateVqs175Region(request, host);
  if (!region) return 0;
  bytes.assign(kVqs175RegionSize, 0);
  return ReadVqs175Region(request.path, *region, bytes.data(), kVqs175RegionSize);
}

// The read of ReadWholePart, through the part's own commands.
int ReadPart(const ProcedureRequest& request, WholePart part, ProcedureHost& host,
             std::vector<uint8_t>& bytes, uint32_t sizeIfErased) {
  const std::string& path = request.path;
  switch (part) {
    case WholePart::None:
      return 0;
    case WholePart::FlashRange: {
      const TransferBlock block(host, kFlashRangeBlock);
      return ReadFlashPart(
          request, host,
          [&](uint32_t start, uint8_t* data, uint32_t length) {
            return ReadFlashRange(host, path, start, data, static_cast<int32_t>(length));
          },
          bytes, sizeIfErased);
    }
    case WholePart::FlashAt:
    case WholePart::FlashPages:
      return ReadFlashPart(
          request, host,
          [&](uint32_t start, uint8_t* data, uint32_t length) {
            return ReadFlashBlocks(request, host, start, data, static_cast<int32_t>(length));
          },
          bytes, sizeIfErased);
    case WholePart::Flash1394: {
      // The bridge moves its flash in 256-byte blocks.
      const TransferBlock block(host, kBlockSize1394);
      bytes.assign(kFixedPartSize, 0);
      return ReadFlashRange(host, path, 0, bytes.data(), static_cast<int32_t>(kFixedPartSize));
    }
    case WholePart::Parallel:
      if (!SelectParallelFlash(request, host)) return 0;
      bytes.assign(kParallelFlashSize, 0);
      return ReadParallelFlash(path, 0, bytes.data(), kParallelFlashSize);
    case WholePart::AtaFlash:
      return ReadFlashPart(
          request, host,
          [&](uint32_t start, uint8_t* data, uint32_t length) {
            return AtaReadFlashRange(path, start, data, length) == kAtaRangeOk ? 1 : 0;
          },
          bytes, sizeIfErased);
    case WholePart::DiskArea:
      return ReadDiskArea(request, host, bytes);
    case WholePart::DiskRegion:
      return ReadDiskRegion(request, host, bytes);
  }
  return 0;
}

}  // namespace

int ReadWrappingPart(ProcedureProgress& progress, const PartReader& read,
                     std::vector<uint8_t>& part, uint32_t sizeIfErased) {
  part.clear();
  const uint32_t expected = std::max(sizeIfErased, kSmallestFlashSize);
  if (!Append(progress, read, part, 0, kSmallestFlashSize, expected)) return 0;
  const std::vector<uint8_t> first(part.begin(), part.end());
  // A blank or one-valued start cannot tell a wrap from more of the same.
  if (Uniform(first)) {
    const bool usable = sizeIfErased > kSmallestFlashSize && sizeIfErased <= kLargestFlashSize &&
                        (sizeIfErased & (sizeIfErased - 1)) == 0;
    if (!usable) return 1;
    return Append(progress, read, part, kSmallestFlashSize, sizeIfErased - kSmallestFlashSize,
                  expected)
               ? 1
               : 0;
  }
  for (uint32_t size = kSmallestFlashSize; size < kLargestFlashSize; size *= 2) {
    bool readOk = false;
    if (WrapsAt(progress, read, first, size, expected, &readOk)) return 1;
    if (!readOk) return 0;
    if (!Append(progress, read, part, size, size, expected)) return 0;
  }
  return 1;
}

int ReadWholePart(const ProcedureRequest& request, WholePart part, ProcedureHost& host,
                  std::vector<uint8_t>& bytes, uint32_t sizeIfErased) {
  bytes.clear();
  const int read = ReadPart(request, part, host, bytes, sizeIfErased);
  // Reads that report no progress of their own end the step at once.
  if (read) host.Progress().Advance(1, 1);
  return read;
}

int ReadWholePartTwice(const ProcedureRequest& request, WholePart part, ProcedureHost& host,
                       std::vector<uint8_t>& bytes) {
  // Both reads find the size on their own: a bit turned in a probe would
  // otherwise make the part look larger, and the copy hold it twice.
  std::vector<uint8_t> again;
  ProgressSteps reads(host.Progress(), {{ProgressStep::Backup, 1}, {ProgressStep::Backup, 1}});
  // A controller that needs its flash access set up answers reads before it
  // with whatever it holds, the same each time: both reads would agree on a
  // wrong copy.
  if (request.chip.row != nullptr && request.chip.Row().flashAccessSetup)
    FlashAccessSetup(request.path);
  if (!ReadWholePart(request, part, host, bytes)) return 0;
  reads.Next();
  if (!ReadWholePart(request, part, host, again)) return 0;
  return again == bytes ? 1 : 0;
}

}  // namespace fwtool
