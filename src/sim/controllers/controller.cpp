// SPDX-License-Identifier: GPL-2.0-or-later
#include "controller.h"

#include <algorithm>
#include <atomic>

namespace fwtool::sim {

namespace {
std::atomic<uint64_t> gSequence{0};
constexpr uint16_t kHostNoConnect = 0x01;
constexpr uint16_t kHostTimedOut = 0x03;
}  // namespace

bool BlockPattern::Matches(const uint8_t* block, int blockLength) const {
  for (int i = 0; i < length; ++i) {
    const uint8_t b = i < blockLength ? block[i] : 0;
    if ((b & mask[i]) != (bytes[i] & mask[i])) return false;
  }
  return true;
}

SimController::SimController(ChipProfile profile, FlashPartSpec part, BusTimings bus)
    : profile_(std::move(profile)), flash_(std::move(part)), bus_(bus), memory_(kMemorySize, 0) {
  reservedStart_ = DefaultReservedStart(disk_.Sectors(), flag17_).value_or(disk_.Sectors());
  flash_.SetTimeScale(bus_.timeScale);
  if (profile_.Has(kFamilyParallelFlash)) {
    parallel_.emplace(ParallelPartFor(profile_.parallelPart));
    parallel_->SetTimeScale(bus_.timeScale);
  }
  Boot(true);
}

void SimController::SetTimings(const BusTimings& bus) {
  bus_ = bus;
  flash_.SetTimeScale(bus_.timeScale);
  if (parallel_) parallel_->SetTimeScale(bus_.timeScale);
}

void SimController::SetFaults(const FaultPlan& faults) {
  faults_ = faults;
  vanishFired_ = false;
  stuckFired_ = false;
  flipFired_ = false;
  flash_.SetProgramBitErrors(faults.programBitErrors);
  flash_.SetPowerLossAtOperation(faults.powerLossAtOperation);
  flash_.SetEraseStuckCells(faults.eraseStuckCells);
  flash_.SetSlow(faults.slowFlash);
  if (parallel_) {
    parallel_->SetPowerLossAtOperation(faults.powerLossAtOperation);
    parallel_->SetSlow(faults.slowFlash);
  }
}

bool SimController::Present() const {
  return powered_ && !vanished_ && GetClock().Now() >= detachedUntil_;
}

void SimController::PowerOff() {
  if (!powered_) return;
  powered_ = false;
  CutFlashPower(GetClock().Now());
}

void SimController::CutFlashPower(Duration at) {
  flash_.PowerOff(at);
  if (parallel_) parallel_->PowerOff(at);
}

void SimController::PowerCycle() {
  CutFlashPower(GetClock().Now());
  flash_.ClearPowerLoss();
  flash_.SetStuckBusy(false);
  flash_.PowerOn();
  powered_ = true;
  vanished_ = false;
  detachedUntil_ = Duration{0};
  Boot(true);
}

void SimController::Restore(std::span<const uint8_t> flash, uint8_t flashStatus,
                            std::span<const uint8_t> memory, std::span<const uint8_t> parallel) {
  flash_.Load(flash);
  flash_.SetNonVolatileStatus(flashStatus);
  if (parallel_ && !parallel.empty()) parallel_->Load(parallel);
  std::fill(memory_.begin(), memory_.end(), 0);
  std::copy_n(memory.begin(), std::min<size_t>(memory.size(), memory_.size()), memory_.begin());
  Boot(false);
}

void SimController::Leave(Duration at) {
  if (presenceListener_) presenceListener_(false, at);
}

void SimController::Boot(bool clearMemory) {
  if (clearMemory) std::fill(memory_.begin(), memory_.end(), 0);
  pendingSpi_.reset();
  ataSpiAnswer_.clear();
  flashAccessSetUp_ = false;
  lastSense_.clear();
  Duration at = GetClock().Now();
  if (!flash_.StuckBusy()) at = std::max(at, flash_.ReadyAt());
  flashConfig_ = ControllerFlashConfig{};
  if (profile_.detectsFlash) DetectFlash(at);
  if (profile_.protectsMxicAtBoot && flashConfig_.makerCode == kMakerMxic)
    flash_.SetNonVolatileStatus(flash_.NonVolatileStatus() | flash_.Part().protectBits);

  // The controller restarts once the flash work it took is done: the boot
  // code waits for the part before it reads it.
  const auto& booted =
      parallel_ ? parallel_->ContentsAt(std::max(at, parallel_->ReadyAt())) : flash_.ContentsAt(at);
  bootImage_ = FindBootImage(profile_, booted);
  if (bootImage_) {
    std::copy_n(booted.begin() + bootImage_->versionAt, version_.size(), version_.begin());
  } else {
    version_ = profile_.romVersion;
  }

  // Registers the boot code fills in.
  memory_[0xFDB0] = 0x00;
  memory_[0xFDB1] = profile_.revisionRegister;
  memory_[0xFDB2] = 0x00;
  memory_[0xFDB3] = 0x00;
  const std::array<uint8_t, 4> flag505E = profile_.flag505E
                                              ? std::array<uint8_t, 4>{0x00, 0x00, 0x01, 0x00}
                                              : std::array<uint8_t, 4>{0x00, 0x01, 0x00, 0x00};
  std::copy(flag505E.begin(), flag505E.end(), memory_.begin() + 0x505E);
  memory_[0x506A] = 0x00;
  for (uint16_t address : {uint16_t{0x7038}, uint16_t{0x70F0}})
    std::fill_n(memory_.begin() + address, 4, 0);
  std::fill_n(memory_.begin() + 0xC000, 16, 0);
  BootFromDisk();
  if (bootImage_) {
    memory_[profile_.statusWordAddress + profile_.statusWordByte] |= profile_.statusWordBit;
    // The identification block of the running firmware.
    std::copy_n(booted.begin() + bootImage_->signatureAt, 10, memory_.begin() + 0xC000);
  }
}

void SimController::DetectFlash(Duration at) {
  auto probe = [&](uint8_t opcode) {
    const uint8_t out[] = {opcode};
    return flash_.Transaction(out, 4, at);
  };
  ControllerFlashConfig config;
  const auto id = probe(0x9F);
  std::copy_n(id.begin(), 3, config.jedecId.begin());
  uint8_t maker = 0;
  if ((id[0] == 0x7F && id[1] == 0x37) || (id[0] == 0x37 && id[1] == 0x30))
    maker = kMakerAmic;
  else if (id[0] == 0x1F)
    maker = kMakerAtmel;
  else if (id[0] == 0xC2)
    maker = kMakerMxic;
  else if (id[0] == 0xEF)
    maker = kMakerWinbond;
  else if (id[0] == 0x20)
    maker = kMakerSt;
  else if (id[0] == 0x1C)
    maker = kMakerEon;
  else if (id[0] == 0x8C)
    maker = kMakerEsmt;
  else if (id[0] == 0x7F && id[1] == 0x9D)
    maker = kMakerPmc;
  else if (id[0] == 0x62) {
    maker = kMakerSanyo;
    config.sectorEraseOpcode = 0xD7;
  }
  if (maker == 0 && probe(0x90)[3] == 0xBF) {
    maker = kMakerSst;
    config.chipEraseOpcode = 0x60;
    config.blockEraseOpcode = 0x52;
    config.programOpcode = 0xAF;
  }
  if (maker == 0) {
    const auto signature = probe(0xAB);
    if (signature[3] == 0x9D)
      maker = kMakerPmc;
    else if (signature[3] == 0x05)
      maker = kMakerSt;
  }
  if (maker == 0 && probe(0x15)[0] == 0x1F) {
    maker = kMakerAtmel;
    config.chipEraseOpcode = 0x62;
    config.blockEraseOpcode = 0x52;
  }
  config.makerCode = maker;
  flashConfig_ = config;
}

PassThroughResult SimController::Execute(const PassThroughRequest& rq, InterfaceKind iface) {
  PassThroughResult result;
  if (!Present()) {
    result.detail = "no such device";
    return result;
  }
  const Duration arrival = GetClock().Now();
  ++commandCount_;
  if (faults_.vanishAtCommand != 0 && !vanishFired_ && commandCount_ >= faults_.vanishAtCommand) {
    vanishFired_ = true;
    vanished_ = true;
    // Pulled out: the flash loses power with the rest of the unit.
    CutFlashPower(arrival);
    Leave(arrival);
    result.detail = "no such device";
    return result;
  }
  if (faults_.stuckBusyFrom != 0 && !stuckFired_ && commandCount_ >= faults_.stuckBusyFrom) {
    stuckFired_ = true;
    flash_.SetStuckBusy(true);
  }

  LoggedCommand entry;
  entry.sequence = ++gSequence;
  entry.number = commandCount_;
  entry.path = rq.path;
  entry.at = arrival;
  entry.cdb = rq.cdb;
  entry.cdbLength = rq.cdbLength;
  entry.direction = rq.direction;
  entry.length = rq.length;
  if (rq.direction == DataDirection::Out && rq.data != nullptr)
    entry.dataOut.assign(rq.data, rq.data + rq.length);

  // The block, its data phase and the status take their time on the bus.
  GetClock().Sleep(Scaled(bus_, CommandTime(bus_, rq.length)));

  Reply reply;
  const bool patternFails =
      std::any_of(faults_.failMatching.begin(), faults_.failMatching.end(),
                  [&](const BlockPattern& p) { return p.Matches(rq.cdb.data(), rq.cdbLength); });
  if (faults_.failCommand != 0 && faults_.failCommand == commandCount_)
    reply = Check(0x04, 0x44);  // HARDWARE ERROR, internal target failure
  else if (patternFails)
    reply = Unknown();
  else
    reply = Dispatch(rq, iface);

  if (diskPowerLost_) {
    // The power went in the middle of the command: the host sees the unit
    // drop off the bus instead of its status.
    reply = Reply{};
    reply.hostStatus = kHostNoConnect;
    reply.detail = "no such device";
  } else if (faults_.statusLostAtCommand != 0 && faults_.statusLostAtCommand == commandCount_) {
    // The work is done but the status phase never arrives: the host waits
    // out its time-out and gives up on the command.
    GetClock().Sleep(std::chrono::seconds(rq.timeoutSeconds));
    reply = Reply{};
    reply.hostStatus = kHostTimedOut;
    reply.detail = "command timed out";
  }
  if (faults_.flipReadBitFrom != 0 && !flipFired_ && commandCount_ >= faults_.flipReadBitFrom &&
      reply.status == 0 && reply.hostStatus == 0 && rq.direction == DataDirection::In &&
      !reply.data.empty()) {
    // One bit of the data phase arrives flipped.
    flipFired_ = true;
    const size_t byte = (commandCount_ * 7919u) % reply.data.size();
    reply.data[byte] ^= static_cast<uint8_t>(1u << (commandCount_ % 8));
  }

  result.opened = true;
  result.callOk = true;
  result.scsiStatus = reply.status;
  result.hostStatus = reply.hostStatus;
  result.detail = reply.detail;
  if (reply.status == 2) {
    result.sense = reply.sense;
    lastSense_ = reply.sense;
  }
  if (reply.status == 0 && reply.hostStatus == 0) {
    if (rq.direction == DataDirection::In) {
      const uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(reply.data.size()), rq.length);
      if (n > 0 && rq.data != nullptr) std::copy_n(reply.data.begin(), n, rq.data);
      result.transferred = n;
    } else {
      result.transferred = rq.length;
    }
  }
  entry.scsiStatus = result.scsiStatus;
  entry.transferred = result.transferred;
  entry.sense = result.sense;
  log_.push_back(std::move(entry));

  const Duration now = GetClock().Now();
  if (flash_.PowerLost() || (parallel_ && parallel_->PowerLost()) || diskPowerLost_) {
    // The power drops in the middle of an erase or program: the flash
    // keeps what was done by then (the disk, the sectors it wrote).
    Duration drop = now;
    if (flash_.PowerDropAt())
      drop = *flash_.PowerDropAt();
    else if (parallel_ && parallel_->PowerDropAt())
      drop = *parallel_->PowerDropAt();
    CutFlashPower(drop);
    flash_.ClearPowerLoss();
    if (parallel_) parallel_->ClearPowerLoss();
    diskPowerLost_ = false;
    powered_ = false;
    pendingSpi_.reset();
    Leave(now);
  } else if (resetRequested_) {
    // The controller restarts: it leaves the bus, boots the firmware now in
    // its flash and attaches again.
    resetRequested_ = false;
    detachedUntil_ = now + Scaled(bus_, bus_.reattachDelay);
    Leave(now);
    Boot(true);
    if (presenceListener_) presenceListener_(true, detachedUntil_);
  }
  return result;
}

bool SimController::Lacks(Family family, Reply& reply) const {
  if (profile_.Has(family)) return false;
  reply = Unknown();
  return true;
}

SimController::Reply SimController::Good(std::vector<uint8_t> data) const {
  Reply reply;
  reply.data = std::move(data);
  return reply;
}

SimController::Reply SimController::Check(uint8_t key, uint8_t asc, uint8_t ascq) const {
  Reply reply;
  reply.status = 2;  // CHECK CONDITION
  reply.sense.assign(18, 0);
  reply.sense[0] = 0x70;  // current error, fixed format
  reply.sense[2] = key;
  reply.sense[7] = 10;
  reply.sense[12] = asc;
  reply.sense[13] = ascq;
  return reply;
}

bool SimController::WaitFlashReady(const PassThroughRequest& rq, Reply& reply) {
  const Duration now = GetClock().Now();
  const Duration ready = flash_.ReadyAt();
  if (ready <= now) return true;
  const Duration limit = std::chrono::seconds(rq.timeoutSeconds);
  if (ready - now > limit) {
    // The controller waits for its flash and the host gives up first.
    GetClock().Sleep(limit);
    reply = Reply{};
    reply.hostStatus = kHostTimedOut;
    reply.detail = "command timed out";
    return false;
  }
  GetClock().Sleep(ready - now);
  return true;
}

SimController::Reply SimController::Dispatch(const PassThroughRequest& rq, InterfaceKind iface) {
  switch (rq.cdb[0]) {
    case 0xDF:
      return DfBlock(rq);
    case 0xE0:
      if (rq.cdb[1] == 0xF4 && rq.cdb[2] == 0xE7) return ChipInfo(rq);
      return Unknown();
    case 0xFF:
      if (rq.cdb[1] == 0x04) return Ff04Block(rq);
      return Unknown();
    case 0xA1:
    case 0x85:
      return AtaBlock(rq);
    default:
      return Standard(rq, iface);
  }
}

}  // namespace fwtool::sim
