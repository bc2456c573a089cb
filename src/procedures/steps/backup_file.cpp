// SPDX-License-Identifier: GPL-2.0-or-later
#include "backup_file.h"

#include <filesystem>
#include <span>
#include <system_error>

#include "host_services.h"
#include "procedure_host.h"
#include "procedure_texts.h"

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

namespace {

constexpr const char* kExistsAlready = "exists already";

// WriteNewFile's reason, empty on success.
std::string WriteBackup(const std::string& path, const uint8_t* data, size_t length,
                        ExistingFile existing, std::string* written) {
  if (path.empty()) return "no backup file name";
  const host::TakenName taken =
      existing == ExistingFile::Number ? host::TakenName::Number : host::TakenName::Refuse;
  std::string why;
  if (host::WriteNewFile(path, std::span<const uint8_t>(data, length), taken, written, &why))
    return {};
  return why.empty() ? std::string("cannot be written") : why;
}

}  // namespace

int SaveBackupFile(const std::string& path, const uint8_t* data, size_t length, std::string* error,
                   ExistingFile existing, std::string* written) {
  const std::string why = WriteBackup(path, data, length, existing, written);
  if (why.empty()) return 1;
  if (path.empty())
    SetError(error, why);
  else
    SetError(error, path + (why == kExistsAlready ? " " : ": ") + why);
  return 0;
}

int SaveEngineeringBackup(ProcedureHost& host, const BackupTarget& file, const uint8_t* data,
                          size_t length) {
  std::string written;
  const std::string why = WriteBackup(file.path, data, length, file.existing, &written);
  if (!why.empty()) {
    host.SetStatusText(texts::kOpenBackupFileError);
    host.Notice(why == kExistsAlready
                    ? texts::kBackupFileExistsNotice + file.path + texts::kBackupFileExistsNoticeEnd
                    : texts::kBackupFileNotWrittenNotice + file.path + ": " + why);
    return 0;
  }
  host.BackupSaved(written);
  return 1;
}

}  // namespace fwtool
