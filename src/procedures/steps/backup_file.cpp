// SPDX-License-Identifier: GPL-2.0-or-later
#include "backup_file.h"

#include <filesystem>
#include <span>
#include <system_error>

#include "host_services.h"

namespace fwtool {

namespace fs = std::filesystem;

namespace {

std::string SafeName(std::string_view devicePath) {
  std::string name;
  for (char c : devicePath) {
    const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '.';
    if (keep) {
      name += c;
    } else if (!name.empty() && name.back() != '_') {
      name += '_';
    }
  }
  while (!name.empty() && (name.back() == '_' || name.back() == '.')) name.pop_back();
  return name.empty() ? std::string("device") : name;
}

void SetError(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
}

}  // namespace

std::string DefaultBackupFolder() {
  const std::string data = host::UserDataFolder();
  if (data.empty()) return "fwtool-backups";
  return (fs::path(data) / "backups").string();
}

std::string DefaultBackupPath(std::string_view devicePath) {
  const fs::path folder = DefaultBackupFolder();
  const std::string stem = SafeName(devicePath) + "-" + host::LocalTimeStamp();
  fs::path candidate = folder / (stem + ".bin");
  std::error_code ec;
  for (int n = 2; fs::exists(candidate, ec) && n < 10000; ++n)
    candidate = folder / (stem + "-" + std::to_string(n) + ".bin");
  return candidate.string();
}

BackupTarget EngineeringBackupTarget(const std::string& operatorFile, const char* defaultName) {
  if (!operatorFile.empty()) return {operatorFile, ExistingFile::Refuse, true};
  return {(fs::path(DefaultBackupFolder()) / defaultName).string(), ExistingFile::Number, false};
}

int SaveBackupFile(const std::string& path, const uint8_t* data, size_t length, std::string* error,
                   ExistingFile existing, std::string* written) {
  if (path.empty()) {
    SetError(error, "no backup file name");
    return 0;
  }
  const host::TakenName taken =
      existing == ExistingFile::Number ? host::TakenName::Number : host::TakenName::Refuse;
  std::string why;
  if (!host::WriteNewFile(path, std::span<const uint8_t>(data, length), taken, written, &why)) {
    SetError(error, path + (why == "exists already" ? " " : ": ") + why);
    return 0;
  }
  return 1;
}

}  // namespace fwtool
