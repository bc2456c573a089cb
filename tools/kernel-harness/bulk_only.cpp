// SPDX-License-Identifier: GPL-2.0-or-later
#include "bulk_only.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "transport.h"

namespace fwtool::harness {

namespace {

constexpr uint8_t kRequestSense = 0x03;
constexpr uint8_t kCheckCondition = 0x02;

constexpr uint8_t kIllegalRequest = 0x05;
constexpr uint8_t kHardwareError = 0x04;
constexpr uint8_t kAbortedCommand = 0x0B;
constexpr uint8_t kLogicalUnitNotSupported = 0x25;
constexpr uint8_t kInternalTargetFailure = 0x44;

uint32_t LoadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void StoreLe32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

std::optional<CommandBlockWrapper> ParseCommandBlockWrapper(std::span<const uint8_t> bytes) {
  if (bytes.size() != kCbwLength) return std::nullopt;
  if (LoadLe32(bytes.data()) != kCbwSignature) return std::nullopt;
  CommandBlockWrapper cbw;
  cbw.tag = LoadLe32(bytes.data() + 4);
  cbw.dataTransferLength = LoadLe32(bytes.data() + 8);
  cbw.dataIn = (bytes[12] & 0x80) != 0;
  cbw.lun = bytes[13] & 0x0F;
  cbw.cbLength = bytes[14] & 0x1F;
  if ((bytes[13] & 0xF0) != 0 || cbw.cbLength < 1 || cbw.cbLength > 16) return std::nullopt;
  std::copy_n(bytes.data() + 15, cbw.cbLength, cbw.cb.begin());
  return cbw;
}

std::array<uint8_t, kCswLength> BuildCommandStatusWrapper(uint32_t tag, uint32_t residue,
                                                          uint8_t status) {
  std::array<uint8_t, kCswLength> csw{};
  StoreLe32(csw.data(), kCswSignature);
  StoreLe32(csw.data() + 4, tag);
  StoreLe32(csw.data() + 8, residue);
  csw[12] = status;
  return csw;
}

std::vector<uint8_t> FixedSense(uint8_t key, uint8_t asc, uint8_t ascq) {
  std::vector<uint8_t> sense(18, 0);
  sense[0] = 0x70;
  sense[2] = key & 0x0F;
  sense[7] = 10;  // additional sense length
  sense[12] = asc;
  sense[13] = ascq;
  return sense;
}

bool NeedsStallAfterDataIn(uint32_t sent, uint32_t expected, uint32_t maxPacket) {
  if (sent >= expected) return false;
  return maxPacket == 0 || sent % maxPacket == 0;
}

StorageTarget::StorageTarget(std::vector<LogicalUnit> units) : units_(std::move(units)) {
  if (units_.size() > keptSense_.size()) units_.resize(keptSense_.size());
  if (units_.empty()) units_.resize(1);  // a unit without a backend fails every command
}

bool StorageTarget::HasUnit(uint8_t lun) const {
  return lun < units_.size() && units_[lun].backend != nullptr;
}

CommandOutcome StorageTarget::Fail(const CommandBlockWrapper& cbw, std::vector<uint8_t> sense) {
  keptSense_[cbw.lun] = std::move(sense);
  CommandOutcome outcome;
  outcome.status = kCswFailed;
  outcome.residue = cbw.dataTransferLength;
  return outcome;
}

CommandOutcome StorageTarget::AnswerRequestSense(const CommandBlockWrapper& cbw) {
  std::vector<uint8_t> sense = std::exchange(keptSense_[cbw.lun], {});
  // A LUN that does not exist says so in its sense data, as SPC asks.
  if (sense.empty())
    sense = HasUnit(cbw.lun) ? FixedSense(0, 0, 0)
                             : FixedSense(kIllegalRequest, kLogicalUnitNotSupported, 0);
  const uint32_t allocation = cbw.cb[4];
  const uint32_t length =
      std::min({static_cast<uint32_t>(sense.size()), allocation, cbw.dataTransferLength});
  CommandOutcome outcome;
  outcome.dataIn.assign(sense.begin(), sense.begin() + length);
  outcome.residue = cbw.dataTransferLength - length;
  return outcome;
}

CommandOutcome StorageTarget::Execute(const CommandBlockWrapper& cbw,
                                      std::span<const uint8_t> dataOut) {
  if (cbw.cb[0] == kRequestSense && cbw.dataIn) return AnswerRequestSense(cbw);
  if (!HasUnit(cbw.lun)) return Fail(cbw, FixedSense(kIllegalRequest, kLogicalUnitNotSupported, 0));

  const LogicalUnit& unit = units_[cbw.lun];
  PassThroughRequest request;
  request.path = unit.path;
  request.cdb = cbw.cb;
  request.cdbLength = cbw.cbLength;
  request.direction = cbw.dataIn ? DataDirection::In : DataDirection::Out;
  request.length = cbw.dataTransferLength;
  request.timeoutSeconds = kLongDataOutTimeout;
  request.lun = cbw.lun;
  request.exclusive = !cbw.dataIn;
  AlignedBuffer buffer;
  if (request.length != 0) {
    buffer = AlignedBuffer(request.length);
    if (!buffer) return Fail(cbw, FixedSense(kAbortedCommand, 0, 0));
    if (!cbw.dataIn)
      std::memcpy(buffer.data(), dataOut.data(), std::min<size_t>(dataOut.size(), request.length));
    request.data = buffer.data();
  }

  const PassThroughResult result = unit.backend->Execute(request);
  if (!result.Succeeded()) {
    if (!result.sense.empty()) return Fail(cbw, result.sense);
    if (result.scsiStatus == kCheckCondition) return Fail(cbw, FixedSense(kAbortedCommand, 0, 0));
    return Fail(cbw, FixedSense(kHardwareError, kInternalTargetFailure, 0));
  }

  keptSense_[cbw.lun].clear();
  const uint32_t moved = std::min(result.transferred, request.length);
  CommandOutcome outcome;
  if (cbw.dataIn) outcome.dataIn.assign(buffer.data(), buffer.data() + moved);
  outcome.residue = request.length - moved;
  return outcome;
}

}  // namespace fwtool::harness
