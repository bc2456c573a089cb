// SPDX-License-Identifier: GPL-2.0-or-later
// The single commands of the ATA PASS-THROUGH family: each fills a register
// record and sends the block one builder makes of it.
#include "ata_commands.h"

#include "command_table.h"

namespace fwtool {

namespace {

using Protocol = AtaRegisters::Protocol;

constexpr uint8_t kFlagsIn = 0x0B;  // also the non-data commands
constexpr uint8_t kFlagsOut = 0x03;

// The controller's own commands: ATA command 0xB0 with a vendor feature.
constexpr uint8_t kVendorCommand = codes::kAtaVendor;
constexpr uint8_t kVendorDevice = 0xB0;
using namespace codes;

constexpr uint8_t kIdentifyDevice = codes::kAtaIdentifyDevice;
constexpr uint8_t kIdentifyDeviceByte = 0x40;
constexpr uint8_t kReadDmaExt = codes::kAtaReadDmaExt;
constexpr uint8_t kWriteDmaExt = codes::kAtaWriteDmaExt;
constexpr uint8_t kLbaDevice = 0x60;

constexpr uint32_t kSector = 512;

AtaRegisters Vendor(uint8_t feature, Protocol protocol, uint16_t count = 0, uint32_t lba = 0) {
  AtaRegisters r;
  r.protocol = protocol;
  r.flags = protocol == Protocol::PioOut ? kFlagsOut : kFlagsIn;
  r.features = feature;
  r.count = count;
  r.lba = lba;
  r.device = kVendorDevice;
  r.command = kVendorCommand;
  return r;
}

// 24-bit flash address and length in 512-byte units.
AtaRegisters FlashTransfer(uint8_t feature, Protocol protocol, uint32_t address, uint32_t length) {
  return Vendor(feature, protocol, static_cast<uint16_t>(length >> 9), address & 0xFFFFFF);
}

int In(std::string_view path, const AtaRegisters& r, void* buffer, uint32_t length) {
  return SendBlockIn(path, AtaPassThrough12(r), buffer, length);
}

int Out(std::string_view path, const AtaRegisters& r, const void* buffer, uint32_t length) {
  return SendBlockOut(path, AtaPassThrough12(r), buffer, length);
}

AtaRegisters DmaExt(Protocol protocol, uint8_t command, uint64_t lba, uint32_t length,
                    uint32_t sectorSize) {
  AtaRegisters r;
  r.protocol = protocol;
  r.extend = true;
  r.flags = protocol == Protocol::DmaOut ? kFlagsOut : kFlagsIn;
  r.count = static_cast<uint16_t>(length / sectorSize);
  r.lba = lba;
  r.device = kLbaDevice;
  r.command = command;
  return r;
}

}  // namespace

CommandBlock AtaPassThrough12(const AtaRegisters& r) {
  CommandBlock block;
  block.length = 12;
  block[0] = codes::kAtaPassThrough12;
  block[1] = static_cast<uint8_t>(static_cast<uint8_t>(r.protocol) << 1);
  block[2] = r.flags;
  block[3] = static_cast<uint8_t>(r.features);
  block[4] = static_cast<uint8_t>(r.count);
  block[5] = static_cast<uint8_t>(r.lba);
  block[6] = static_cast<uint8_t>(r.lba >> 8);
  block[7] = static_cast<uint8_t>(r.lba >> 16);
  block[8] = r.device;
  block[9] = r.command;
  return block;
}

CommandBlock AtaPassThrough16(const AtaRegisters& r) {
  CommandBlock block;
  block.length = 16;
  block[0] = codes::kAtaPassThrough16;
  block[1] = static_cast<uint8_t>((static_cast<uint8_t>(r.protocol) << 1) | (r.extend ? 1 : 0));
  block[2] = r.flags;
  block[3] = static_cast<uint8_t>(r.features >> 8);
  block[4] = static_cast<uint8_t>(r.features);
  block[5] = static_cast<uint8_t>(r.count >> 8);
  block[6] = static_cast<uint8_t>(r.count);
  block[7] = static_cast<uint8_t>(r.lba >> 24);
  block[8] = static_cast<uint8_t>(r.lba);
  block[9] = static_cast<uint8_t>(r.lba >> 32);
  block[10] = static_cast<uint8_t>(r.lba >> 8);
  block[11] = static_cast<uint8_t>(r.lba >> 40);
  block[12] = static_cast<uint8_t>(r.lba >> 16);
  block[13] = r.device;
  block[14] = r.command;
  return block;
}

int AtaIdentify(std::string_view path, uint8_t* buffer) {
  AtaRegisters r;
  r.protocol = Protocol::PioIn;
  r.flags = kFlagsIn;
  r.device = kIdentifyDeviceByte;
  r.command = kIdentifyDevice;
  return In(path, r, buffer, kSector);
}

int AtaVendorStatus(std::string_view path, uint8_t* buffer) {
  return In(path, Vendor(kFeatureStatus, Protocol::PioIn, 1), buffer, kSector);
}

int AtaReadInfo(std::string_view path, uint8_t* buffer, uint32_t length) {
  const auto count = static_cast<uint16_t>(length / kSector);
  return In(path, Vendor(kFeatureInfo, Protocol::PioIn, count), buffer, length);
}

int AtaReadFlash(std::string_view path, uint32_t address, uint8_t* buffer, uint32_t length) {
  return In(path, FlashTransfer(kFeatureReadFlash, Protocol::PioIn, address, length), buffer,
            length);
}

int AtaWriteFlash(std::string_view path, uint32_t address, const uint8_t* buffer, uint32_t length) {
  return Out(path, FlashTransfer(kFeatureWriteFlash, Protocol::PioOut, address, length), buffer,
             length);
}

int AtaEraseFlash(std::string_view path) {
  return Out(path, Vendor(kFeatureErase, Protocol::NonData), nullptr, 0);
}

int AtaSpiCommand(std::string_view path, const SpiRecord& record, const uint8_t* buffer,
                  uint32_t length) {
  const auto& b = record.bytes;
  const auto count = static_cast<uint16_t>(((b[1] & 1) << 7) | (b[0] & 0x7F));
  AtaRegisters r = Vendor(kFeatureSpiCommand, Protocol::NonData, count,
                          b[2] | (static_cast<uint32_t>(b[3]) << 8) | (b[4] << 16));
  r.device = 0x00;
  return Out(path, r, buffer, length);
}

int AtaSpiReadData(std::string_view path, uint8_t* buffer, uint32_t length) {
  return In(path, Vendor(kFeatureSpiReadData, Protocol::PioIn, static_cast<uint16_t>(length >> 9)),
            buffer, length);
}

int AtaSetFlashOpcodes(std::string_view path, const FlashProfile& profile) {
  const uint32_t opcodes = profile.chipEraseOpcode |
                           (static_cast<uint32_t>(profile.blockEraseOpcode) << 8) |
                           (static_cast<uint32_t>(profile.programOpcode) << 16);
  return In(path, Vendor(kFeatureOpcodes, Protocol::NonData, profile.makerCode, opcodes), nullptr,
            0);
}

int AtaSetFlashPageSize(std::string_view path, uint32_t pageSize) {
  return In(path, Vendor(kFeaturePageSize, Protocol::NonData, static_cast<uint16_t>(pageSize / 4)),
            nullptr, 0);
}

int AtaReadDmaExt(std::string_view path, uint64_t lba, uint8_t* buffer, uint32_t length,
                  uint32_t sectorSize) {
  if (sectorSize == 0) return 0;
  const auto r = DmaExt(Protocol::DmaIn, kReadDmaExt, lba, length, sectorSize);
  return SendBlockIn(path, AtaPassThrough16(r), buffer, length);
}

int AtaWriteDmaExt(std::string_view path, uint64_t lba, const uint8_t* buffer, uint32_t length,
                   uint32_t sectorSize) {
  if (sectorSize == 0) return 0;
  const auto r = DmaExt(Protocol::DmaOut, kWriteDmaExt, lba, length, sectorSize);
  return SendBlockOut(path, AtaPassThrough16(r), buffer, length);
}

}  // namespace fwtool
