// Keeping a farm's units between runs: per unit a raw flash file, a raw
// controller memory file and a small JSON file that says whose they are.
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

std::optional<std::vector<uint8_t>> ReadFile(const fs::path& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error != nullptr) *error = "cannot read " + path.string();
    return std::nullopt;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  return bytes;
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
    };
    const std::string metaText = meta.dump(2) + "\n";
    if (!WriteFile(base.string() + ".flash", controller.Flash().Contents(), error) ||
        !WriteFile(base.string() + ".ram", controller.Memory(), error) ||
        !WriteFile(base.string() + ".json",
                   std::span(reinterpret_cast<const uint8_t*>(metaText.data()), metaText.size()),
                   error))
      return false;
  }
  return true;
}

bool SimFarm::LoadState(const std::string& directory, std::string* error) {
  std::lock_guard lock(mutex_);
  for (auto& unit : units_) {
    std::lock_guard unitLock(unit->lock);
    auto& controller = *unit->controller;
    const fs::path base = fs::path(directory) / BaseName(*unit);
    const fs::path metaPath = base.string() + ".json";
    if (!fs::exists(metaPath)) continue;  // nothing kept for this unit yet
    auto metaBytes = ReadFile(metaPath, error);
    if (!metaBytes) return false;
    nlohmann::json meta = nlohmann::json::parse(metaBytes->begin(), metaBytes->end(), nullptr,
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
    auto flash = ReadFile(base.string() + ".flash", error);
    if (!flash) return false;
    if (flash->size() != controller.Flash().Size()) {
      if (error != nullptr) *error = base.string() + ".flash has the wrong size";
      return false;
    }
    std::vector<uint8_t> memory;
    if (fs::exists(base.string() + ".ram")) {
      auto bytes = ReadFile(base.string() + ".ram", error);
      if (!bytes) return false;
      memory = std::move(*bytes);
    }
    const uint8_t status = meta.contains("flashStatus") && meta["flashStatus"].is_number()
                               ? meta["flashStatus"].get<uint8_t>()
                               : controller.Flash().NonVolatileStatus();
    controller.Restore(*flash, status, memory);
  }
  return true;
}

}  // namespace fwtool::sim
