// SPDX-License-Identifier: GPL-2.0-or-later
// A farm of simulated units behind the `sim:` pass-through backend: it
// routes each block by path to the unit's controller, lists the units'
// disk and CD-ROM interfaces like the platform's enumeration does, plugs and
// unplugs units at run time with device-change events, and keeps the units'
// flash, memory and disks in files between runs.
//
// Paths: "sim:" + bus marker + "#" + interface + "&ven_talve&prod_" + chip
// name + "#" + unit number, for example
//   sim:usbsto#disk&ven_talve&prod_vqb719#0     (USB mass storage, disk)
//   sim:usbsto#cdrom&ven_talve&prod_vqb719#0    (the same unit's CD-ROM interface)
//   sim:sbp2#disk&ven_talve&prod_vqb717#1       (IEEE 1394 SBP-2)
// They are lower case already, stable for a given description, and carry
// "usbsto" or "sbp2" as the device list expects.
#pragma once

#include <array>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "controller.h"
#include "enumeration.h"
#include "farm_description.h"
#include "pass_through.h"

namespace fwtool::sim {

// How one interface of a unit is opened: over the unit's life, and now.
struct InterfaceOpens {
  uint64_t total = 0;
  int shared = 0;
  int exclusive = 0;
};

struct SimUnit {
  // Held while the unit answers a command or changes state, so that units
  // answer side by side while each one answers one command at a time.
  // Recursive: a node opened for one command closes while the command
  // still holds it.
  mutable std::recursive_mutex lock;
  size_t index = 0;
  UnitConfig config;
  std::string diskPath;
  std::string cdromPath;  // empty without a CD-ROM interface
  // What the bus tells of the unit: a USB unit's serial number string, an
  // SBP-2 unit's unique id. Made from the chip and the unit's place in the
  // farm, so each unit of a run has its own.
  std::string serial;
  bool plugged = true;
  std::unique_ptr<SimController> controller;
  // Opens of the disk and CD-ROM interfaces (by InterfaceKind). An
  // interface open for exclusive access refuses every other open; one open
  // shared refuses an exclusive open, as an sg node does with O_EXCL.
  std::array<InterfaceOpens, 2> opens{};
  // Times the unit left; a node opened before it left answers no more.
  uint64_t departures = 0;
};

class SimDeviceWatcher;

class SimFarm final : public PassThroughBackend, public std::enable_shared_from_this<SimFarm> {
 public:
  // A farm from a description (see farm_description.h); null with a reason
  // in `error`. Units start plugged in and powered.
  static std::shared_ptr<SimFarm> Create(std::string_view description, std::string* error);
  static std::shared_ptr<SimFarm> Create(const std::vector<UnitConfig>& units, std::string* error);
  explicit SimFarm(BusTimings timings = {});

  // Adds units at run time; they arrive like a hot-plugged device.
  bool AddUnits(std::string_view description, std::string* error);
  bool AddUnit(const UnitConfig& config, std::string* error);

  size_t UnitCount() const { return units_.size(); }
  SimUnit& Unit(size_t index) { return *units_.at(index); }
  SimController& Controller(size_t index) { return *units_.at(index)->controller; }
  // The unit behind a disk or CD-ROM interface path (case-insensitive), or null.
  SimUnit* FindUnit(std::string_view path);
  // The serial number of the unit behind the path; empty when none is there.
  std::string SerialNumber(std::string_view path);

  // Hot-plug. An unplugged unit cannot be opened and is not listed; plugging
  // it in powers it up, so it boots the firmware its flash holds.
  void Unplug(size_t index);
  void Plug(size_t index);
  // Off and on again (a vanished or powerless unit comes back).
  void PowerCycle(size_t index);
  // Unit `index` is pulled and another one (a description of one unit)
  // plugged in at once under the same interface paths, as a re-plug that
  // gets the same node names: nodes opened before answer no more, and the
  // path now leads to the other unit.
  bool SwapUnit(size_t index, std::string_view description, std::string* error);

  PassThroughResult Execute(const PassThroughRequest& request) override;

  // Interface paths of the units present now, in unit order.
  std::vector<std::string> DiskInterfaces() const;
  std::vector<std::string> CdromInterfaces() const;
  std::shared_ptr<InterfaceEnumerator> Enumerator();
  // A watcher that hears of units arriving and leaving; call its Dispatch()
  // (from a timer, or after driving the farm) to receive the due events.
  std::shared_ptr<SimDeviceWatcher> Watcher();

  // Every block every unit received, in order.
  std::vector<LoggedCommand> CommandLog() const;
  void ClearCommandLog();

  // Bus and time-scale figures for every unit (new units take them too).
  void SetTimings(const BusTimings& timings);
  const BusTimings& Timings() const { return timings_; }
  void SetTimeScale(double scale);

  // Flash cells, flash protection, controller memory, the parallel part and
  // the disk's sectors that differ from an unwritten disk, of every unit,
  // one set of files per unit in `directory` (farm_state.cpp describes the
  // disk file). Loading skips units without files and refuses files that
  // belong to another chip, flash size or disk.
  bool SaveState(const std::string& directory, std::string* error) const;
  bool LoadState(const std::string& directory, std::string* error);

  // One line per unit: path, chip, flash part, firmware version.
  std::string Describe() const;

 private:
  void Announce(SimUnit& unit, bool present, Duration at);
  // A unit with its controller and paths, not yet in the farm.
  std::unique_ptr<SimUnit> MakeUnit(const UnitConfig& config, size_t index, std::string* error);
  struct SimNode;

  // Lock order: the farm, then a unit, then the watchers. A unit that
  // leaves or arrives in the middle of a command announces it while its own
  // lock is held, so announcing never takes the farm's lock.
  BusTimings timings_;
  std::vector<std::unique_ptr<SimUnit>> units_;  // only ever grows
  mutable std::recursive_mutex mutex_;
  std::vector<std::weak_ptr<SimDeviceWatcher>> watchers_;
  std::mutex watchersMutex_;
};

// Device-change events of a farm (arrival 0x8000, removal 0x8004, device
// type 5 for interfaces).
class SimDeviceWatcher final : public DeviceChangeWatcher {
 public:
  bool Start(Listener listener) override;
  void Stop() override;
  // Delivers every event whose time has come, in order.
  void Dispatch() override;
  // Events waiting, due or not.
  size_t Pending() const;

 private:
  friend class SimFarm;
  struct Queued {
    DeviceChangeEvent event;
    Duration due;
  };
  void Queue(DeviceChangeEvent event, Duration due);

  mutable std::mutex mutex_;
  Listener listener_;
  bool started_ = false;
  std::vector<Queued> queue_;
};

}  // namespace fwtool::sim
