// SPDX-License-Identifier: GPL-2.0-or-later
#include "farm.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>

#include "embedded_image.h"
#include "held_node.h"
#include "unit_firmware.h"

namespace fwtool::sim {

namespace {

// What the disk-hosted controllers boot from their reserved stretch.
constexpr uint32_t kDiskFirmwareSize = 65536;

std::string Lower(std::string_view text) {
  std::string lower;
  for (char c : text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

std::string PathFor(const SimUnit& unit, const ChipProfile& profile, bool cdrom) {
  const char* bus = unit.config.bus == BusKind::Sbp2 ? "sbp2" : "usbsto";
  return fmt::format("sim:{}#{}&ven_talve&prod_{}#{}", bus, cdrom ? "cdrom" : "disk", profile.name,
                     unit.index);
}

// "TLVVQB719000001" for the second unit over USB; a 64-bit unique id such as
// "0x0030e0f400000001" over SBP-2.
std::string SerialFor(const SimUnit& unit, const ChipProfile& profile) {
  if (unit.config.bus == BusKind::Sbp2) return fmt::format("0x0030e0f4{:08x}", unit.index);
  std::string name(profile.name);
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return fmt::format("TLV{}{:06d}", name, unit.index);
}

class FarmEnumerator final : public InterfaceEnumerator {
 public:
  explicit FarmEnumerator(std::weak_ptr<SimFarm> farm) : farm_(std::move(farm)) {}
  std::vector<std::string> DiskInterfaces() override {
    auto farm = farm_.lock();
    return farm ? farm->DiskInterfaces() : std::vector<std::string>{};
  }
  std::vector<std::string> CdromInterfaces() override {
    auto farm = farm_.lock();
    return farm ? farm->CdromInterfaces() : std::vector<std::string>{};
  }
  std::string SerialNumber(const std::string& path) override {
    auto farm = farm_.lock();
    return farm ? farm->SerialNumber(path) : std::string();
  }

 private:
  std::weak_ptr<SimFarm> farm_;
};

// errno values a node of a real system gives for the same situations.
constexpr int kInUseError = 16;  // EBUSY
constexpr int kGoneError = 19;   // ENODEV

}  // namespace

// An interface of a unit, open for one command or for a session.
struct SimFarm::SimNode final : OpenNode {
  SimNode(std::weak_ptr<SimFarm> farm, SimUnit& unit, InterfaceKind iface, bool exclusive)
      : farm(std::move(farm)),
        index(unit.index),
        iface(iface),
        exclusive(exclusive),
        departures(unit.departures) {
    InterfaceOpens& opens = unit.opens[static_cast<size_t>(iface)];
    ++opens.total;
    ++(exclusive ? opens.exclusive : opens.shared);
  }
  ~SimNode() override {
    const auto owner = farm.lock();
    if (!owner) return;
    SimUnit& unit = owner->Unit(index);
    std::lock_guard lock(unit.lock);
    InterfaceOpens& opens = unit.opens[static_cast<size_t>(iface)];
    --(exclusive ? opens.exclusive : opens.shared);
  }
  SimNode(const SimNode&) = delete;
  SimNode& operator=(const SimNode&) = delete;

  const std::weak_ptr<SimFarm> farm;
  const size_t index;
  const InterfaceKind iface;
  const bool exclusive;
  const uint64_t departures;  // of the unit when it was opened
};

SimFarm::SimFarm(BusTimings timings) : timings_(timings) {}

std::shared_ptr<SimFarm> SimFarm::Create(std::string_view description, std::string* error) {
  auto units = ParseFarmDescription(description, error);
  if (!units) return nullptr;
  return Create(*units, error);
}

std::shared_ptr<SimFarm> SimFarm::Create(const std::vector<UnitConfig>& units, std::string* error) {
  auto farm = std::make_shared<SimFarm>();
  for (const auto& unit : units)
    if (!farm->AddUnit(unit, error)) return nullptr;
  return farm;
}

bool SimFarm::AddUnits(std::string_view description, std::string* error) {
  auto units = ParseFarmDescription(description, error);
  if (!units) return false;
  for (const auto& unit : *units)
    if (!AddUnit(unit, error)) return false;
  return true;
}

bool SimFarm::AddUnit(const UnitConfig& config, std::string* error) {
  std::lock_guard lock(mutex_);
  auto unit = MakeUnit(config, units_.size(), error);
  if (!unit) return false;
  SimUnit* raw = unit.get();
  raw->controller->SetPresenceListener(
      [this, raw](bool present, Duration at) { Announce(*raw, present, at); });
  units_.push_back(std::move(unit));
  Announce(*raw, true, GetClock().Now());
  return true;
}

bool SimFarm::SwapUnit(size_t index, std::string_view description, std::string* error) {
  auto configs = ParseFarmDescription(description, error);
  if (!configs) return false;
  if (configs->size() != 1) {
    if (error != nullptr) *error = "a swap puts in one unit";
    return false;
  }
  std::lock_guard lock(mutex_);
  auto fresh = MakeUnit(configs->front(), index, error);
  if (!fresh) return false;
  SimUnit& unit = *units_.at(index);
  std::lock_guard unitLock(unit.lock);
  const Duration now = GetClock().Now();
  if (unit.plugged && unit.controller->Present()) Announce(unit, false, now);
  unit.config = fresh->config;
  unit.serial = fresh->serial;
  unit.controller = std::move(fresh->controller);
  unit.controller->SetPresenceListener(
      [this, raw = &unit](bool present, Duration at) { Announce(*raw, present, at); });
  unit.plugged = true;
  Announce(unit, true, now);
  return true;
}

std::unique_ptr<SimUnit> SimFarm::MakeUnit(const UnitConfig& config, size_t index,
                                           std::string* error) {
  auto fail = [&](const std::string& reason) -> std::unique_ptr<SimUnit> {
    if (error != nullptr)
      *error = fmt::format("unit {} (\"{}\"): {}", index + 1, config.text, reason);
    return nullptr;
  };
  std::optional<ChipProfile> profile;
  const int subRev = config.subRev.value_or(DefaultSubRevision(config.chipType));
  if (!config.chipName.empty()) profile = ChipProfileForName(config.chipName, subRev);
  if (!profile) profile = ChipProfileFor(config.chipType, subRev);
  if (profile->type == 0) return fail("no such chip type");
  if (config.protect && !*config.protect) profile->protectsMxicAtBoot = false;
  if (config.regValue) profile->controllerInfoValue = *config.regValue;
  if ((config.parallelPart || config.a1Chip) && !profile->Has(kFamilyParallelFlash))
    return fail("parallel= and a1 need a chip with a parallel flash (vq64779, vq64779u)");
  if (config.parallelPart) profile->parallelPart = *config.parallelPart;
  if (config.a1Chip) profile->refusesRomSwitch = true;
  // Some chips keep their firmware on the disk when they have no flash part.
  if (profile->diskFirmwareWithoutFlash && config.maker && *config.maker == 0)
    profile->firmwareOnDisk = true;

  const uint8_t maker = config.maker.value_or(profile->defaultMaker);
  FlashPartSpec part = FlashPartFor(maker, config.flashKB.value_or(profile->defaultFlashKB));
  if (!config.jedecId.empty()) part = WithJedecId(std::move(part), config.jedecId);

  auto unit = std::make_unique<SimUnit>();
  unit->index = index;
  unit->config = config;

  std::vector<uint8_t> image;
  std::string reason;
  switch (config.firmware) {
    case FirmwareSource::Older: {
      const std::string serial = config.serial.empty()
                                     ? fmt::format("SIM{}-{:06}", profile->model, unit->index + 1)
                                     : config.serial;
      const uint32_t room = profile->firmwareOnDisk ? kDiskFirmwareSize : part.size;
      image = BuildOlderFirmware(*profile, room, serial,
                                 config.olderVersion.value_or(OlderFirmwareVersion(profile->type)));
      break;
    }
    case FirmwareSource::Embedded: {
      auto bytes = LoadEmbeddedImageFile(&reason);
      if (!bytes) return fail("fw=embedded: " + reason);
      image = std::move(*bytes);
      break;
    }
    case FirmwareSource::File: {
      auto bytes = LoadImageFile(config.firmwareFile, &reason);
      if (!bytes) return fail("fw=" + config.firmwareFile + ": " + reason);
      image = std::move(*bytes);
      break;
    }
    case FirmwareSource::Blank:
      break;
  }
  if (profile->firmwareOnDisk && image.size() > kDiskFirmwareSize)
    return fail(
        fmt::format("the firmware ({} bytes) does not fit the 64 KB on the disk", image.size()));
  if (!profile->firmwareOnDisk && image.size() > part.size)
    return fail(fmt::format("the firmware ({} bytes) does not fit the {} KB flash", image.size(),
                            part.size / 1024));
  if (config.badBanks[0] || config.badBanks[1]) {
    if (profile->imagePlace != ImagePlace::Banks)
      return fail("bank= needs a chip whose flash holds two banks (vqs175)");
    if (part.size < 2 * kFlashBankSize)
      return fail(
          fmt::format("bank= needs a flash of two banks, 128 KB or more (this one has {} KB)",
                      part.size / 1024));
    image.resize(part.size, 0xFF);
    for (int bank = 0; bank < 2; ++bank)
      if (config.badBanks[static_cast<size_t>(bank)]) SpoilBank(image, bank);
  }

  BusTimings timings = config.bus == BusKind::Sbp2 ? Sbp2BusTimings() : BusTimings{};
  timings.timeScale = timings_.timeScale;
  timings.reattachDelay = timings_.reattachDelay;
  unit->controller = std::make_unique<SimController>(*profile, std::move(part), timings);
  auto& controller = *unit->controller;
  if (config.diskBytes || config.diskSectors || config.visibleSectors || config.flag17 ||
      config.sectorSize != SimController::kMediumBlockSize) {
    const uint64_t sectors = config.diskSectors.value_or(
        config.diskBytes.value_or(uint64_t{SimController::kMediumBlocks} *
                                  SimController::kMediumBlockSize) /
        config.sectorSize);
    if (sectors == 0) return fail("disk= is smaller than one sector");
    if (!controller.SetDisk(sectors, config.sectorSize, config.visibleSectors, config.flag17))
      return fail(
          "visible= needs a multiple of 256 sectors with at least 256 more sectors on the disk");
  }
  if (profile->firmwareOnDisk) {
    controller.LoadDiskFirmware(image);
  } else {
    controller.Flash().Load(image);
    if (auto* parallel = controller.Parallel()) parallel->Load(image);
  }
  if (config.protect && *config.protect)
    controller.Flash().SetNonVolatileStatus(controller.Flash().NonVolatileStatus() |
                                            controller.Flash().Part().protectBits);
  controller.PowerCycle();
  if (config.partition && !controller.PartitionDisk())
    return fail(fmt::format(
        "partition needs a disk the host is shown beyond sector {} (it is shown {} sectors)",
        SimController::kPartitionStart, controller.VisibleSectors()));
  controller.SetFaults(config.faults);
  unit->diskPath = PathFor(*unit, *profile, false);
  if (config.cdrom) unit->cdromPath = PathFor(*unit, *profile, true);
  unit->serial = SerialFor(*unit, *profile);
  return unit;
}

SimUnit* SimFarm::FindUnit(std::string_view path) {
  std::lock_guard lock(mutex_);
  const std::string lower = Lower(path);
  for (auto& unit : units_)
    if (lower == unit->diskPath || (!unit->cdromPath.empty() && lower == unit->cdromPath))
      return unit.get();
  return nullptr;
}

std::string SimFarm::SerialNumber(std::string_view path) {
  SimUnit* unit = FindUnit(path);
  return unit != nullptr ? unit->serial : std::string();
}

void SimFarm::Unplug(size_t index) {
  std::lock_guard lock(mutex_);
  auto& unit = *units_.at(index);
  std::lock_guard unitLock(unit.lock);
  if (!unit.plugged) return;
  unit.plugged = false;
  unit.controller->PowerOff();
  Announce(unit, false, GetClock().Now());
}

void SimFarm::Plug(size_t index) {
  std::lock_guard lock(mutex_);
  auto& unit = *units_.at(index);
  std::lock_guard unitLock(unit.lock);
  if (unit.plugged) return;
  unit.plugged = true;
  unit.controller->PowerCycle();
  Announce(unit, true, GetClock().Now());
}

void SimFarm::PowerCycle(size_t index) {
  std::lock_guard lock(mutex_);
  auto& unit = *units_.at(index);
  std::lock_guard unitLock(unit.lock);
  const Duration now = GetClock().Now();
  if (unit.plugged && unit.controller->Present()) Announce(unit, false, now);
  unit.controller->PowerCycle();
  if (unit.plugged) Announce(unit, true, now);
}

PassThroughResult SimFarm::Execute(const PassThroughRequest& request) {
  // Only the unit addressed is held while it answers: a command that takes
  // its time on one unit does not hold up the others.
  SimUnit* unit = FindUnit(request.path);
  const bool cdrom =
      unit != nullptr && !unit->cdromPath.empty() && Lower(request.path) == unit->cdromPath;
  const InterfaceKind iface = cdrom ? InterfaceKind::Cdrom : InterfaceKind::Disk;
  std::unique_lock<std::recursive_mutex> unitLock;
  if (unit != nullptr) unitLock = std::unique_lock(unit->lock);
  NodeOps ops;
  ops.open = [&](bool exclusive, PassThroughResult& failure) -> std::unique_ptr<OpenNode> {
    if (unit == nullptr || !unit->plugged || !unit->controller->Present()) {
      failure.detail = "no such device";
      return nullptr;
    }
    InterfaceOpens& opens = unit->opens[static_cast<size_t>(iface)];
    if (opens.exclusive > 0 || (exclusive && opens.shared > 0)) {
      failure.errorCode = kInUseError;
      failure.detail = "in use by another program";
      return nullptr;
    }
    return std::make_unique<SimNode>(weak_from_this(), *unit, iface, exclusive);
  };
  ops.send = [&](OpenNode& open, bool& gone) {
    if (static_cast<const SimNode&>(open).departures != unit->departures) {
      gone = true;
      PassThroughResult result;
      result.opened = true;
      result.errorCode = kGoneError;
      result.detail = "the device is gone";
      return result;
    }
    return unit->controller->Execute(request, iface);
  };
  return ExecuteOnNode(request, ops);
}

std::vector<std::string> SimFarm::DiskInterfaces() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> paths;
  for (const auto& unit : units_) {
    std::lock_guard unitLock(unit->lock);
    if (unit->plugged && unit->controller->Present()) paths.push_back(unit->diskPath);
  }
  return paths;
}

std::vector<std::string> SimFarm::CdromInterfaces() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> paths;
  for (const auto& unit : units_) {
    std::lock_guard unitLock(unit->lock);
    if (unit->plugged && unit->controller->Present() && !unit->cdromPath.empty())
      paths.push_back(unit->cdromPath);
  }
  return paths;
}

std::shared_ptr<InterfaceEnumerator> SimFarm::Enumerator() {
  return std::make_shared<FarmEnumerator>(weak_from_this());
}

std::shared_ptr<SimDeviceWatcher> SimFarm::Watcher() {
  std::lock_guard lock(watchersMutex_);
  auto watcher = std::make_shared<SimDeviceWatcher>();
  watchers_.push_back(watcher);
  return watcher;
}

void SimFarm::Announce(SimUnit& unit, bool present, Duration at) {
  if (!present) ++unit.departures;  // under the unit's lock, held by every caller
  std::lock_guard lock(watchersMutex_);
  const uint32_t code = present ? kDeviceArrival : kDeviceRemoveComplete;
  std::erase_if(watchers_, [](const auto& w) { return w.expired(); });
  for (const auto& weak : watchers_) {
    auto watcher = weak.lock();
    if (!watcher) continue;
    watcher->Queue({code, kDeviceTypeInterface, unit.diskPath}, at);
    if (!unit.cdromPath.empty()) watcher->Queue({code, kDeviceTypeInterface, unit.cdromPath}, at);
  }
}

std::vector<LoggedCommand> SimFarm::CommandLog() const {
  std::lock_guard lock(mutex_);
  std::vector<LoggedCommand> all;
  for (const auto& unit : units_) {
    std::lock_guard unitLock(unit->lock);
    const auto& log = unit->controller->Log();
    all.insert(all.end(), log.begin(), log.end());
  }
  std::sort(all.begin(), all.end(),
            [](const auto& a, const auto& b) { return a.sequence < b.sequence; });
  return all;
}

void SimFarm::ClearCommandLog() {
  std::lock_guard lock(mutex_);
  for (auto& unit : units_) {
    std::lock_guard unitLock(unit->lock);
    unit->controller->ClearLog();
  }
}

void SimFarm::SetTimings(const BusTimings& timings) {
  std::lock_guard lock(mutex_);
  timings_ = timings;
  for (auto& unit : units_) {
    std::lock_guard unitLock(unit->lock);
    BusTimings own = timings;
    if (unit->config.bus == BusKind::Sbp2) {
      const BusTimings sbp2 = Sbp2BusTimings();
      own.commandLatency = sbp2.commandLatency;
      own.bytesPerSecond = sbp2.bytesPerSecond;
    }
    unit->controller->SetTimings(own);
  }
}

void SimFarm::SetTimeScale(double scale) {
  std::lock_guard lock(mutex_);
  timings_.timeScale = scale;
  for (auto& unit : units_) {
    std::lock_guard unitLock(unit->lock);
    BusTimings own = unit->controller->Timings();
    own.timeScale = scale;
    unit->controller->SetTimings(own);
  }
}

std::string SimFarm::Describe() const {
  std::lock_guard lock(mutex_);
  std::string text;
  for (const auto& unit : units_) {
    std::lock_guard unitLock(unit->lock);
    const auto& c = *unit->controller;
    const auto& p = c.Profile();
    const auto& v = c.ReportedVersion();
    text += fmt::format("{}  chip {} rev {} ({}), {} {} KB ({}), {}{}{}\n", unit->diskPath, p.type,
                        p.subRev, p.label, c.Flash().Part().name, c.Flash().Size() / 1024,
                        MakerShortName(c.Flash().Part().makerCode),
                        c.RunsFromFlash() ? fmt::format("firmware {}.{}.{}.{}.{}.{}", v[0], v[1],
                                                        v[2], v[3], v[4], v[5])
                                          : std::string("internal code"),
                        unit->cdromPath.empty() ? "" : ", with a CD-ROM interface",
                        unit->plugged ? "" : ", unplugged");
  }
  return text;
}

bool SimDeviceWatcher::Start(Listener listener) {
  std::lock_guard lock(mutex_);
  listener_ = std::move(listener);
  started_ = true;
  return true;
}

void SimDeviceWatcher::Stop() {
  std::lock_guard lock(mutex_);
  started_ = false;
  queue_.clear();
}

size_t SimDeviceWatcher::Pending() const {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

void SimDeviceWatcher::Queue(DeviceChangeEvent event, Duration due) {
  std::lock_guard lock(mutex_);
  if (!started_) return;
  queue_.push_back({std::move(event), due});
}

void SimDeviceWatcher::Dispatch() {
  std::vector<DeviceChangeEvent> due;
  Listener listener;
  {
    std::lock_guard lock(mutex_);
    const Duration now = GetClock().Now();
    std::stable_sort(queue_.begin(), queue_.end(),
                     [](const Queued& a, const Queued& b) { return a.due < b.due; });
    auto split =
        std::find_if(queue_.begin(), queue_.end(), [&](const Queued& q) { return q.due > now; });
    for (auto it = queue_.begin(); it != split; ++it) due.push_back(std::move(it->event));
    queue_.erase(queue_.begin(), split);
    listener = listener_;
  }
  if (!listener) return;
  for (const auto& event : due) listener(event);
}

}  // namespace fwtool::sim
