// SPDX-License-Identifier: GPL-2.0-or-later
#include "plain_disk.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "bulk_only.h"

namespace fwtool::harness {

namespace {

constexpr uint8_t kTestUnitReady = 0x00;
constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kModeSense6 = 0x1A;
constexpr uint8_t kPreventAllowMediumRemoval = 0x1E;
constexpr uint8_t kReadCapacity10 = 0x25;
constexpr uint8_t kRead10 = 0x28;

constexpr uint8_t kIllegalRequest = 0x05;
constexpr uint8_t kInvalidOperationCode = 0x20;
constexpr uint8_t kInvalidFieldInCdb = 0x24;
constexpr uint8_t kLbaOutOfRange = 0x21;

void PadInto(uint8_t* field, size_t width, const std::string& text) {
  std::memset(field, ' ', width);
  std::memcpy(field, text.data(), std::min(width, text.size()));
}

uint32_t LoadBe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}

void StoreBe32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

PassThroughResult Answer(const PassThroughRequest& request, const std::vector<uint8_t>& data) {
  PassThroughResult result;
  result.opened = result.callOk = true;
  const uint32_t moved = std::min<uint32_t>(request.length, data.size());
  if (moved != 0) std::memcpy(request.data, data.data(), moved);
  result.transferred = moved;
  return result;
}

PassThroughResult Reject(uint8_t asc) {
  PassThroughResult result;
  result.opened = result.callOk = true;
  result.scsiStatus = 0x02;
  result.sense = FixedSense(kIllegalRequest, asc, 0);
  return result;
}

}  // namespace

PlainDisk::PlainDisk(std::string product) : product_(std::move(product)) {}

PassThroughResult PlainDisk::Execute(const PassThroughRequest& request) {
  const auto& cdb = request.cdb;
  const bool dataIn = request.direction == DataDirection::In;
  switch (cdb[0]) {
    case kTestUnitReady:
    case kPreventAllowMediumRemoval:
      return Answer(request, {});
    case kInquiry: {
      if (!dataIn) break;
      const bool vpd = (cdb[1] & 0x01) != 0;
      if (vpd) {
        // Supported VPD pages: page 0 only.
        if (cdb[2] != 0x00) return Reject(kInvalidFieldInCdb);
        return Answer(request, {0x00, 0x00, 0x00, 0x01, 0x00});
      }
      std::vector<uint8_t> data(36, 0);
      data[0] = 0x00;  // direct-access block device
      data[2] = 0x04;  // SPC-2
      data[3] = 0x02;  // response data format
      data[4] = 31;    // additional length
      PadInto(&data[8], 8, "FWTOOL");
      PadInto(&data[16], 16, product_);
      PadInto(&data[32], 4, "0001");
      return Answer(request, data);
    }
    case kReadCapacity10: {
      if (!dataIn) break;
      std::vector<uint8_t> data(8, 0);
      StoreBe32(&data[0], kBlockCount - 1);
      StoreBe32(&data[4], kBlockSize);
      return Answer(request, data);
    }
    case kModeSense6: {
      if (!dataIn) break;
      // Header only: no block descriptor, no write protect, no pages beyond.
      return Answer(request, {0x03, 0x00, 0x00, 0x00});
    }
    case kRead10: {
      if (!dataIn) break;
      const uint32_t lba = LoadBe32(&cdb[2]);
      const uint32_t blocks = static_cast<uint32_t>(cdb[7]) << 8 | cdb[8];
      if (lba > kBlockCount || blocks > kBlockCount - lba) return Reject(kLbaOutOfRange);
      return Answer(request, std::vector<uint8_t>(size_t{blocks} * kBlockSize, 0));
    }
    default:
      break;
  }
  return Reject(kInvalidOperationCode);
}

}  // namespace fwtool::harness
