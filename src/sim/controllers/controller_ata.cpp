// SPDX-License-Identifier: GPL-2.0-or-later
// The ATA PASS-THROUGH family: the controller takes ATA command 0xB0 with a
// vendor feature as its own commands (information, raw SPI instructions,
// flash configuration, flash read, write and erase, busy status), and
// answers IDENTIFY DEVICE for the disk behind it.
#include <algorithm>

#include "controller.h"

namespace fwtool::sim {

namespace {

constexpr uint8_t kPassThrough12 = 0xA1;
constexpr uint8_t kVendorCommand = 0xB0;
constexpr uint8_t kIdentifyDevice = 0xEC;

constexpr uint8_t kFeatureInfo = 0xE0;
constexpr uint8_t kFeatureSpiCommand = 0xE1;
constexpr uint8_t kFeatureSpiReadData = 0xE3;
constexpr uint8_t kFeatureOpcodes = 0xE4;
constexpr uint8_t kFeaturePageSize = 0xE5;
constexpr uint8_t kFeatureErase = 0xE7;
constexpr uint8_t kFeatureReadFlash = 0xE8;
constexpr uint8_t kFeatureWriteFlash = 0xE9;
constexpr uint8_t kFeatureStatus = 0xEA;

constexpr size_t kReply = 512;
constexpr uint8_t kSpiFollows = 0x80;  // count byte: a read of the answer follows
constexpr uint8_t kSpiCountMask = 0x7F;

}  // namespace

SimController::Reply SimController::AtaBlock(const PassThroughRequest& rq) {
  Reply reply;
  if (Lacks(kFamilyAta, reply)) return reply;
  const auto& cdb = rq.cdb;
  // Sector transfers on the disk: 85 blocks, READ/WRITE DMA EXT.
  if (cdb[0] != kPassThrough12) return AtaDiskTransfer(rq);
  const uint8_t feature = cdb[3];
  const uint8_t count = cdb[4];
  const uint32_t lba = cdb[5] | (cdb[6] << 8) | (static_cast<uint32_t>(cdb[7]) << 16);
  switch (cdb[9]) {
    case kIdentifyDevice:
      return DriveIdentify(rq);
    case kVendorCommand:
      return AtaVendor(rq, feature, count, lba);
    default:
      return InvalidField();
  }
}

SimController::Reply SimController::AtaVendor(const PassThroughRequest& rq, uint8_t feature,
                                              uint8_t count, uint32_t lba) {
  const Duration now = GetClock().Now();
  const uint32_t length = std::min<uint32_t>(static_cast<uint32_t>(count) << 9, rq.length);
  switch (feature) {
    case kFeatureInfo: {
      if (rq.direction != DataDirection::In) return InvalidField();
      std::vector<uint8_t> info = ChipInfoBytes();
      info.resize(kReply, 0);
      return Good(std::move(info));
    }
    case kFeatureSpiCommand: {
      // Count byte: F << 7 | N; the LBA bytes are the opcode and the two
      // bytes after it, further bytes come with the data phase.
      const size_t n = count & kSpiCountMask;
      if (n < 1) return InvalidField();
      std::vector<uint8_t> out = {static_cast<uint8_t>(lba), static_cast<uint8_t>(lba >> 8),
                                  static_cast<uint8_t>(lba >> 16)};
      out.resize(std::min<size_t>(n, out.size()));
      if (rq.direction == DataDirection::Out && rq.data != nullptr)
        out.insert(out.end(), rq.data, rq.data + rq.length);
      const size_t readCount = (count & kSpiFollows) != 0 ? kReply : 0;
      pendingSpi_.reset();
      ataSpiAnswer_ = flash_.Transaction(out, readCount, now);
      return Good();
    }
    case kFeatureSpiReadData: {
      if (rq.direction != DataDirection::In) return InvalidField();
      std::vector<uint8_t> answer = ataSpiAnswer_;
      answer.resize(kReply, 0xFF);
      return Good(std::move(answer));
    }
    case kFeatureOpcodes:
      flashConfig_.makerCode = count;
      flashConfig_.chipEraseOpcode = static_cast<uint8_t>(lba);
      flashConfig_.blockEraseOpcode = static_cast<uint8_t>(lba >> 8);
      flashConfig_.programOpcode = static_cast<uint8_t>(lba >> 16);
      return Good();
    case kFeaturePageSize:
      if (count == 0) return InvalidField();
      flashConfig_.pageSize = count * 4u;
      return Good();
    case kFeatureErase:
      // The controller starts the erase and answers; the part stays busy for
      // its chip-erase time.
      return EraseWith(flashConfig_.chipEraseOpcode, 0, rq);
    case kFeatureReadFlash:
      if (rq.direction != DataDirection::In) return InvalidField();
      return ReadFlashBytes(lba, length, rq);
    case kFeatureWriteFlash:
      if (rq.direction != DataDirection::Out || rq.data == nullptr) return InvalidField();
      return ProgramOnly(lba, {rq.data, length}, rq);
    case kFeatureStatus: {
      if (rq.direction != DataDirection::In) return InvalidField();
      std::vector<uint8_t> status(kReply, 0);
      status[0] = flash_.BusyAt(now) ? 0x01 : 0x00;
      return Good(std::move(status));
    }
    default:
      return InvalidField();
  }
}

}  // namespace fwtool::sim
