// SPDX-License-Identifier: GPL-2.0-or-later
// Keeping a farm's units between runs: per unit a raw flash file, a raw
// controller memory file, the parallel part's cells (the units that have
// one), the disk's sectors that differ from an unwritten disk, and a small
// JSON file that says whose they are.
//
// The disk file is a run of records in ascending sector order, each the
// sector number (8 bytes, least significant first) followed by the
// sector's bytes: a check from outside can read which sectors a run wrote
// and what they hold, and compare the unit before and after a run.
#include <fmt/format.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <span>

#include "farm.h"
#include "host_services.h"

namespace fwtool::sim {

namespace {

namespace fs = std::filesystem;

std::string BaseName(const SimUnit& unit) {
  return fmt::format("unit{}-{}", unit.index, unit.controller->Profile().name);
}

// A unit's file in the state folder: a new file each time, renamed over the
// old one inside the folder, which must be the user's own (nobody else can
// put a link there or swap a name).
bool WriteFile(const fs::path& path, std::span<const uint8_t> bytes, std::string* error) {
  std::string why;
  if (host::WriteNewFile(path.string(), bytes, host::TakenName::Replace, nullptr, &why))
    return true;
  if (error != nullptr) *error = "cannot write " + path.string() + ": " + why;
  return false;
}

constexpr size_t kLbaBytes = 8;

std::vector<uint8_t> DiskRecords(const SimDisk& disk) {
  std::vector<uint8_t> records;
  records.reserve(disk.Stored().size() * (kLbaBytes + disk.SectorSize()));
  for (const auto& [lba, sector] : disk.Stored()) {
    for (size_t i = 0; i < kLbaBytes; ++i) records.push_back(static_cast<uint8_t>(lba >> (8 * i)));
    records.insert(records.end(), sector.begin(), sector.end());
  }
  return records;
}

std::optional<SimDisk::StoredSectors> SectorsFromRecords(std::span<const uint8_t> records,
                                                         uint32_t sectorSize) {
  const size_t record = kLbaBytes + sectorSize;
  if (records.size() % record != 0) return std::nullopt;
  SimDisk::StoredSectors sectors;
  for (size_t at = 0; at < records.size(); at += record) {
    uint64_t lba = 0;
    for (size_t i = kLbaBytes; i-- > 0;) lba = lba << 8 | records[at + i];
    const auto bytes = records.subspan(at + kLbaBytes, sectorSize);
    sectors[lba].assign(bytes.begin(), bytes.end());
  }
  return sectors;
}

nlohmann::json PartitionJson(const SimDisk& disk) {
  const auto partition = disk.UserPartition();
  if (!partition) return nullptr;
  return {partition->first, partition->end};
}

// The state files are read as the program reads every file of the user's
// own: never through a link, never waiting on a FIFO, never more than the
// file can hold.
constexpr uint64_t kMaxMetaBytes = 1024 * 1024;
constexpr uint64_t kMaxMemoryBytes = 1024 * 1024;
constexpr uint64_t kMaxDiskBytes = 256 * 1024 * 1024;
constexpr uint64_t kMaxFlashBytes = 64 * 1024 * 1024;

struct StateFile {
  bool missing = false;
  std::vector<uint8_t> bytes;
};

std::optional<StateFile> ReadFile(const fs::path& path, uint64_t maxBytes, std::string* error) {
  host::OwnFile file = host::ReadOwnFile(path.string(), maxBytes);
  if (!file.error.empty()) {
    if (error != nullptr) *error = "cannot read " + file.error;
    return std::nullopt;
  }
  StateFile state;
  state.missing = file.missing;
  state.bytes.assign(file.bytes.begin(), file.bytes.end());
  return state;
}

// The disk's kept sectors, when the state has them and belongs to a disk
// like this one (its size, sector size and partition).
bool LoadDisk(const fs::path& base, const nlohmann::json& meta, SimDisk& disk, std::string* error) {
  const fs::path path = base.string() + ".disk";
  auto records = ReadFile(path, kMaxDiskBytes, error);
  if (!records) return false;
  if (records->missing) return true;  // kept before disks were
  const bool same = meta.contains("diskSectors") && meta["diskSectors"].is_number() &&
                    meta["diskSectors"].get<uint64_t>() == disk.Sectors() &&
                    meta.contains("sectorSize") && meta["sectorSize"].is_number() &&
                    meta["sectorSize"].get<uint32_t>() == disk.SectorSize() &&
                    meta.contains("partition") && meta["partition"] == PartitionJson(disk);
  if (!same) {
    if (error != nullptr)
      *error = fmt::format("{} belongs to another disk than this unit's ({} sectors of {} bytes{})",
                           path.string(), disk.Sectors(), disk.SectorSize(),
                           disk.UserPartition() ? ", with a partition" : "");
    return false;
  }
  auto sectors = SectorsFromRecords(records->bytes, disk.SectorSize());
  if (!sectors || !disk.ReplaceStored(std::move(*sectors))) {
    if (error != nullptr) *error = path.string() + " is not a disk state file of this unit";
    return false;
  }
  return true;
}

}  // namespace

bool SimFarm::SaveState(const std::string& directory, std::string* error) const {
  std::lock_guard lock(mutex_);
  for (const auto& unit : units_) {
    std::lock_guard unitLock(unit->lock);
    const auto& controller = *unit->controller;
    const fs::path base = fs::path(directory) / BaseName(*unit);
    nlohmann::json meta = {
        {"description", unit->config.text},
        {"chipType", controller.Profile().type},
        {"subRevision", controller.Profile().subRev},
        {"flashSize", controller.Flash().Size()},
        {"flashStatus", controller.Flash().NonVolatileStatus()},
        {"diskSectors", controller.Disk().Sectors()},
        {"sectorSize", controller.Disk().SectorSize()},
        {"partition", PartitionJson(controller.Disk())},
    };
    const std::string metaText = meta.dump(2) + "\n";
    const ParallelFlash* parallel = controller.Parallel();
    if (!WriteFile(base.string() + ".flash", controller.Flash().Contents(), error) ||
        !WriteFile(base.string() + ".ram", controller.Memory(), error) ||
        (parallel != nullptr &&
         !WriteFile(base.string() + ".parallel", parallel->Contents(), error)) ||
        !WriteFile(base.string() + ".disk", DiskRecords(controller.Disk()), error) ||
        !WriteFile(base.string() + ".json",
                   std::span(reinterpret_cast<const uint8_t*>(metaText.data()), metaText.size()),
                   error))
      return false;
  }
  return true;
}

bool SimFarm::LoadState(const std::string& directory, std::string* error) {
  // Loaded only from where it could be saved.
  if (const std::string why = host::OwnFolderProblem(directory); !why.empty()) {
    if (error != nullptr) *error = why;
    return false;
  }
  std::lock_guard lock(mutex_);
  for (auto& unit : units_) {
    std::lock_guard unitLock(unit->lock);
    auto& controller = *unit->controller;
    const fs::path base = fs::path(directory) / BaseName(*unit);
    const fs::path metaPath = base.string() + ".json";
    auto metaFile = ReadFile(metaPath, kMaxMetaBytes, error);
    if (!metaFile) return false;
    if (metaFile->missing) continue;  // nothing kept for this unit yet
    const std::vector<uint8_t>& metaBytes = metaFile->bytes;
    nlohmann::json meta = nlohmann::json::parse(metaBytes.begin(), metaBytes.end(), nullptr,
                                                /*allow_exceptions=*/false);
    if (meta.is_discarded() || !meta.is_object() || !meta.contains("chipType") ||
        !meta.contains("flashSize") || !meta["chipType"].is_number() ||
        !meta["flashSize"].is_number()) {
      if (error != nullptr) *error = metaPath.string() + " is not a unit state file";
      return false;
    }
    if (meta["chipType"].get<int>() != controller.Profile().type ||
        meta["flashSize"].get<uint32_t>() != controller.Flash().Size()) {
      if (error != nullptr)
        *error = fmt::format("{} belongs to chip type {} with {} bytes of flash, not to unit {}",
                             metaPath.string(), meta["chipType"].get<int>(),
                             meta["flashSize"].get<uint32_t>(), unit->index);
      return false;
    }
    auto flashFile = ReadFile(base.string() + ".flash", kMaxFlashBytes, error);
    if (!flashFile) return false;
    if (flashFile->missing) {
      if (error != nullptr) *error = "cannot read " + base.string() + ".flash";
      return false;
    }
    const std::vector<uint8_t>* flash = &flashFile->bytes;
    if (flash->size() != controller.Flash().Size()) {
      if (error != nullptr) *error = base.string() + ".flash has the wrong size";
      return false;
    }
    std::vector<uint8_t> memory;
    {
      auto bytes = ReadFile(base.string() + ".ram", kMaxMemoryBytes, error);
      if (!bytes) return false;
      memory = std::move(bytes->bytes);
    }
    std::vector<uint8_t> parallel;
    if (const ParallelFlash* part = controller.Parallel(); part != nullptr) {
      auto bytes = ReadFile(base.string() + ".parallel", kMaxFlashBytes, error);
      if (!bytes) return false;
      if (!bytes->missing) {
        if (bytes->bytes.size() != part->Part().size) {
          if (error != nullptr) *error = base.string() + ".parallel has the wrong size";
          return false;
        }
        parallel = std::move(bytes->bytes);
      }
    }
    if (!LoadDisk(base, meta, controller.Disk(), error)) return false;
    const uint8_t status = meta.contains("flashStatus") && meta["flashStatus"].is_number()
                               ? meta["flashStatus"].get<uint8_t>()
                               : controller.Flash().NonVolatileStatus();
    controller.Restore(*flash, status, memory, parallel);
  }
  return true;
}

}  // namespace fwtool::sim
