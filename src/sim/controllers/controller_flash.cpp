// SPDX-License-Identifier: GPL-2.0-or-later
// The vendor command families: the DF blocks (flash, memory, configuration
// word), the FF-04 blocks (flash by address, status, erase, SPI
// pass-through, flash set-up, id string, controller info, host link, reset),
// and the controller's own flash work behind them.
#include <algorithm>

#include "controller.h"

namespace fwtool::sim {

namespace {

constexpr uint8_t kOpWriteStatus = 0x01;
constexpr uint8_t kOpRead = 0x03;
constexpr uint8_t kOpWriteDisable = 0x04;
constexpr uint8_t kOpWriteEnable = 0x06;
constexpr uint8_t kOpAaiWord = 0xAD;
constexpr uint8_t kOpAaiByte = 0xAF;

constexpr uint8_t kModeUnprotect = 0x80;

uint32_t Address24(const std::array<uint8_t, 16>& cdb, int at) {
  return (static_cast<uint32_t>(cdb[at]) << 16) | (cdb[at + 1] << 8) | cdb[at + 2];
}

std::vector<uint8_t> WithAddress(uint8_t opcode, uint32_t address) {
  return {opcode, static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
          static_cast<uint8_t>(address)};
}

std::span<const uint8_t> DataOut(const PassThroughRequest& rq, uint32_t length) {
  if (rq.direction != DataDirection::Out || rq.data == nullptr) return {};
  return {rq.data, std::min(length, rq.length)};
}

}  // namespace

SimController::Reply SimController::DfBlock(const PassThroughRequest& rq) {
  const auto& cdb = rq.cdb;
  const uint32_t length = (cdb[3] << 8) | cdb[4];
  Reply reply;
  switch (cdb[11]) {
    case 0xFA:  // flash read
      if (Lacks(kFamilyDfFlash, reply)) return reply;
      if (rq.direction != DataDirection::In) return InvalidField();
      return ReadFlashBytes(Address24(cdb, 8), std::min(length, rq.length), rq);
    case 0xFB:  // flash write, erase mode in byte 1
      if (Lacks(kFamilyDfFlash, reply)) return reply;
      if (rq.direction != DataDirection::Out) return InvalidField();
      return WriteFlashBlock(Address24(cdb, 8), DataOut(rq, length), cdb[1], rq);
    case 0xFD: {  // memory read
      if (Lacks(kFamilyMemory, reply)) return reply;
      if (rq.direction != DataDirection::In) return InvalidField();
      const uint16_t address = static_cast<uint16_t>((cdb[6] << 8) | cdb[7]);
      std::vector<uint8_t> data(std::min(length, rq.length));
      for (size_t i = 0; i < data.size(); ++i) {
        const auto at = static_cast<uint16_t>(address + i);
        data[i] = memory_[at];
        // On these chips bit 0 of 0x506A always reads 1.
        if (at == 0x506A && profile_.register506AReadsOne) data[i] |= 0x01;
      }
      return Good(std::move(data));
    }
    case 0xFE: {  // memory write
      if (Lacks(kFamilyMemory, reply)) return reply;
      if (rq.direction != DataDirection::Out) return InvalidField();
      const uint16_t address = static_cast<uint16_t>((cdb[6] << 8) | cdb[7]);
      const auto data = DataOut(rq, length);
      for (size_t i = 0; i < data.size(); ++i)
        memory_[static_cast<uint16_t>(address + i)] = data[i];
      return Good();
    }
    case 0xEC:  // IDENTIFY DEVICE to the drive, device byte in byte 10
      return DriveIdentify(rq);
    case 0xFF:  // configuration word
      if (Lacks(kFamilyConfigWord, reply)) return reply;
      return Good({profile_.configWord[0], profile_.configWord[1]});
    default:
      return Unknown();
  }
}

SimController::Reply SimController::Ff04Block(const PassThroughRequest& rq) {
  const auto& cdb = rq.cdb;
  Reply reply;
  switch (cdb[2]) {
    case 0x00:  // parallel flash: busy, erase start, program, read, erase script, select
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x05:
      if (Lacks(kFamilyParallelFlash, reply)) return reply;
      return ParallelBlock(rq);
    case 0x10:  // read flash at address
      if (Lacks(kFamilyFlashAt, reply)) return reply;
      if (rq.direction != DataDirection::In) return InvalidField();
      return ReadFlashBytes(Address24(cdb, 3), rq.length, rq);
    case 0x11:  // program flash at address, no erase
      if (Lacks(kFamilyFlashAt, reply)) return reply;
      if (rq.direction != DataDirection::Out) return InvalidField();
      return ProgramOnly(Address24(cdb, 3), DataOut(rq, rq.length), rq);
    case 0x12:  // flash status
      if (Lacks(kFamilyFlashStatus, reply)) return reply;
      return Good({flash_.ReadStatus(GetClock().Now()), 0x00});
    case 0x13:  // chip erase
      if (Lacks(kFamilyFlashAt, reply)) return reply;
      return EraseWith(flashConfig_.chipEraseOpcode, 0, rq);
    case 0x14:  // sector erase
      if (Lacks(kFamilyFlashAt, reply)) return reply;
      return EraseWith(flashConfig_.blockEraseOpcode, Address24(cdb, 3), rq);
    case 0x15:
    case 0x20:
    case 0x21:
    case 0x22:
      if (Lacks(kFamilySpi, reply)) return reply;
      return SpiBlock(rq);
    case 0x23: {  // flash maker code the controller detected
      if (Lacks(kFamilyFlashMakerCode, reply)) return reply;
      const auto& id = flashConfig_.jedecId;
      return Good({flashConfig_.makerCode, id[0], id[1], id[2]});
    }
    case 0x24: {  // flash opcodes: chip erase, block erase, program, maker
      if (Lacks(kFamilyFlashOpcodes, reply)) return reply;
      flashConfig_.chipEraseOpcode = cdb[4];
      flashConfig_.blockEraseOpcode = cdb[5];
      flashConfig_.programOpcode = cdb[6];
      flashConfig_.makerCode = cdb[7];
      return Good({cdb[4], cdb[5]});
    }
    case 0x25:
      if (rq.direction == DataDirection::Out) {
        // Flash access set-up before erasing, backing up or programming.
        if (Lacks(kFamilyFlashParams, reply)) return reply;
        flashAccessSetUp_ = true;
        return Good();
      }
      // Page size in units of 4 bytes.
      if (Lacks(kFamilyFlashOpcodes, reply)) return reply;
      if (cdb[4] == 0) return InvalidField();
      flashConfig_.pageSize = cdb[4] * 4u;
      return Good({cdb[3], cdb[4]});
    case 0x0F: {  // flash parameters
      if (Lacks(kFamilyFlashParams, reply)) return reply;
      const uint32_t page = profile_.wideFlashParams ? ((cdb[7] << 8) | cdb[8]) : cdb[7] * 4u;
      if (page == 0) return InvalidField();
      flashConfig_.chipEraseOpcode = cdb[3];
      flashConfig_.blockEraseOpcode = cdb[4];
      flashConfig_.programOpcode = cdb[5];
      flashConfig_.sectorEraseOpcode = cdb[6];
      flashConfig_.pageSize = page;
      return Good();
    }
    case 0x26:  // reset: "VQ"
      if (Lacks(kFamilyReset, reply)) return reply;
      if (cdb[3] != 'V' || cdb[4] != 'Q') return InvalidField();
      resetRequested_ = true;
      return Good();
    case 0x30: {  // chip id string
      if (profile_.idToken.empty()) return Unknown();
      std::vector<uint8_t> data(40, 0);
      std::copy(profile_.idToken.begin(), profile_.idToken.end(), data.begin());
      data[5] = profile_.idRevision;
      return Good(std::move(data));
    }
    case 0x56:  // host link: "Q" then 0x55 open or 0xAA close
      if (Lacks(kFamilyHostLink, reply)) return reply;
      if (cdb[3] != 'Q' || (cdb[4] != 0x55 && cdb[4] != 0xAA)) return InvalidField();
      return Good();
    case 0xA0: {  // controller information
      if (Lacks(kFamilyControllerInfo, reply)) return reply;
      std::vector<uint8_t> data(32, 0);
      data[0] = 'V';
      data[1] = 'Q';
      std::copy_n(profile_.model.begin(), std::min<size_t>(3, profile_.model.size()),
                  data.begin() + 2);
      data[5] = profile_.chipInfoRevision;
      data[8] = profile_.controllerInfoValue;
      // Byte 16: the firmware runs from the disk's reserved stretch; byte
      // 17: that stretch starts one sector later on this controller.
      data[16] = runsFromDisk_ ? 1 : 0;
      data[17] = flag17_ ? 1 : 0;
      data[19] = RunsFromFlash() ? 1 : 0;
      data.resize(std::min<size_t>(data.size(), cdb[3]));
      return Good(std::move(data));
    }
    default:
      return Unknown();
  }
}

SimController::Reply SimController::SpiBlock(const PassThroughRequest& rq) {
  const auto& cdb = rq.cdb;
  const Duration now = GetClock().Now();
  // The pass-through hands the bytes to the part as they come; the part
  // itself ignores what it cannot take while busy.
  auto completePending = [&] {
    if (pendingSpi_) flash_.Transaction(*pendingSpi_, 0, now);
    pendingSpi_.reset();
  };
  switch (cdb[2]) {
    case 0x15: {  // opcode, dummy bytes, then read
      if (rq.direction != DataDirection::In) return InvalidField();
      completePending();
      std::vector<uint8_t> out(1 + cdb[5], 0x00);
      out[0] = cdb[4];
      return Good(flash_.Transaction(out, rq.length, now));
    }
    case 0x20: {  // bytes clocked out, chip select held when byte 4 is 1
      const uint8_t count = cdb[3];
      if (count < 1 || count > 7) return InvalidField();
      completePending();
      std::vector<uint8_t> out(cdb.begin() + 5, cdb.begin() + 5 + count);
      const auto extra = DataOut(rq, rq.length);
      out.insert(out.end(), extra.begin(), extra.end());
      if (cdb[4] == 1)
        pendingSpi_ = std::move(out);
      else
        flash_.Transaction(out, 0, now);
      return Good();
    }
    case 0x21: {  // read phase of the held instruction
      if (rq.direction != DataDirection::In) return InvalidField();
      std::vector<uint8_t> in(rq.length, 0xFF);
      if (pendingSpi_) in = flash_.Transaction(*pendingSpi_, rq.length, now);
      pendingSpi_.reset();
      return Good(std::move(in));
    }
    case 0x22: {  // data phase of the held instruction
      if (rq.direction != DataDirection::Out) return InvalidField();
      const auto data = DataOut(rq, (cdb[7] << 8) | cdb[8]);
      std::vector<uint8_t> out = pendingSpi_ ? *pendingSpi_ : std::vector<uint8_t>{};
      out.insert(out.end(), data.begin(), data.end());
      pendingSpi_.reset();
      flash_.Transaction(out, 0, now);
      return Good();
    }
    default:
      return Unknown();
  }
}

Duration SimController::Send(std::vector<uint8_t> bytes, Duration at) {
  // The controller's own routines wait for the part between instructions.
  if (!flash_.StuckBusy()) at = std::max(at, flash_.ReadyAt());
  flash_.Transaction(bytes, 0, at);
  return at;
}

SimController::Reply SimController::ReadFlashBytes(uint32_t address, uint32_t length,
                                                   const PassThroughRequest& rq) {
  Reply reply;
  if (!WaitFlashReady(rq, reply)) return reply;
  GetClock().Sleep(Scaled(bus_, FlashFetchTime(bus_, length)));
  return Good(flash_.Transaction(WithAddress(kOpRead, address), length, GetClock().Now()));
}

Duration SimController::EraseUnit(uint32_t start, uint32_t length, Duration at) {
  const auto& part = flash_.Part();
  const uint32_t end = std::min<uint64_t>(static_cast<uint64_t>(start) + length, part.size);
  if (start == 0 && end >= part.size) {
    at = Send({kOpWriteEnable}, at);
    return Send({flashConfig_.chipEraseOpcode}, at);
  }
  uint32_t address = start;
  while (address < end) {
    // The largest erase instruction that fits the unit exactly; failing
    // that, the smallest the part has there (it erases more than asked).
    std::optional<std::pair<uint8_t, FlashPartSpec::Range>> best;
    for (const auto& instruction : part.eraseInstructions) {
      const auto range = part.EraseRangeFor(instruction.opcode, address);
      if (range.length == 0 || range.start != address || range.start + range.length > end) continue;
      if (!best || range.length > best->second.length) best.emplace(instruction.opcode, range);
    }
    if (!best) {
      const auto smallest = part.SmallestEraseAt(address);
      if (!smallest) {
        at = Send({kOpWriteEnable}, at);
        return Send({flashConfig_.chipEraseOpcode}, at);
      }
      best.emplace(smallest->opcode, part.EraseRangeFor(smallest->opcode, address));
    }
    at = Send({kOpWriteEnable}, at);
    at = Send(WithAddress(best->first, address), at);
    address = best->second.start + best->second.length;
  }
  return at;
}

Duration SimController::Program(uint32_t address, std::span<const uint8_t> data, Duration at) {
  if (data.empty()) return at;
  const uint8_t opcode = flashConfig_.programOpcode;
  if (opcode == kOpAaiByte || opcode == kOpAaiWord) {
    const size_t unit = opcode == kOpAaiWord ? 2 : 1;
    at = Send({kOpWriteEnable}, at);
    for (size_t i = 0; i < data.size(); i += unit) {
      std::vector<uint8_t> out =
          i == 0 ? WithAddress(opcode, address) : std::vector<uint8_t>{opcode};
      for (size_t k = 0; k < unit; ++k) out.push_back(i + k < data.size() ? data[i + k] : 0xFF);
      at = Send(std::move(out), at);
    }
    return Send({kOpWriteDisable}, at);
  }
  const uint32_t page = std::max<uint32_t>(1, flashConfig_.pageSize);
  size_t done = 0;
  while (done < data.size()) {
    const uint32_t target = static_cast<uint32_t>(address + done);
    const size_t room = page - target % page;
    const size_t count = std::min(room, data.size() - done);
    at = Send({kOpWriteEnable}, at);
    std::vector<uint8_t> out = WithAddress(opcode, target);
    out.insert(out.end(), data.begin() + done, data.begin() + done + count);
    at = Send(std::move(out), at);
    done += count;
  }
  return at;
}

SimController::Reply SimController::WriteFlashBlock(uint32_t address, std::span<const uint8_t> data,
                                                    uint8_t mode, const PassThroughRequest& rq) {
  Reply reply;
  if (!WaitFlashReady(rq, reply)) return reply;
  address %= flash_.Size();
  // The controller takes the data and works on its own; the flash stays
  // busy until the erase and the programming are done.
  Duration at = GetClock().Now();
  if (mode & kModeUnprotect) {
    at = Send({kOpWriteEnable}, at);
    at = Send({kOpWriteStatus, 0x00}, at);
  }
  const uint8_t maker = flashConfig_.makerCode < kMakerCount ? flashConfig_.makerCode : 0;
  uint32_t unit = 0;
  switch (mode & 0x07) {
    case 1:
    case 4:
      unit = profile_.smallEraseOverride != 0 ? profile_.smallEraseOverride
                                              : kControllerSmallEraseUnit[maker];
      break;
    case 2:
    case 5:
      unit = kControllerLargeEraseUnit[maker];
      break;
    case 3:
    case 6:
    case 7:
      // The whole chip, with the block that starts the flash only.
      if (address == 0) at = EraseUnit(0, flash_.Size(), at);
      break;
    default:
      break;
  }
  if (unit != 0) at = EraseUnit(address / unit * unit, unit, at);
  Program(address, data, at);
  return Good();
}

SimController::Reply SimController::ProgramOnly(uint32_t address, std::span<const uint8_t> data,
                                                const PassThroughRequest& rq) {
  Reply reply;
  if (!WaitFlashReady(rq, reply)) return reply;
  Program(address % flash_.Size(), data, GetClock().Now());
  return Good();
}

SimController::Reply SimController::EraseWith(uint8_t opcode, uint32_t address,
                                              const PassThroughRequest& rq) {
  Reply reply;
  if (!WaitFlashReady(rq, reply)) return reply;
  Duration at = Send({kOpWriteEnable}, GetClock().Now());
  if (flash_.Part().IsChipErase(opcode))
    Send({opcode}, at);
  else
    Send(WithAddress(opcode, address % flash_.Size()), at);
  return Good();
}

}  // namespace fwtool::sim
