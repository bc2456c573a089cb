#include "backup_file.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
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

std::string TimeStamp() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
#if defined(_WIN32)
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
  return text;
}

void SetError(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
}

struct Temporary {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> handle{nullptr, &std::fclose};
  std::string path;
  int openErrno = 0;
};

// A new temporary file beside the target. The temporary file of another run
// is never written over; one left behind by a run that was cut short
// only moves this one to the next name.
Temporary CreateTemporary(const std::string& target) {
  constexpr int kNames = 10;
  Temporary file;
  for (int n = 1; n <= kNames && !file.handle; ++n) {
    file.path = target + ".part" + (n == 1 ? std::string() : std::to_string(n));
    file.handle.reset(host::OpenNewFile(file.path));
    file.openErrno = errno;
    if (!file.handle && file.openErrno != EEXIST) break;
  }
  return file;
}

}  // namespace

std::string DefaultBackupFolder() {
  const std::string data = host::UserDataFolder();
  if (data.empty()) return "fwtool-backups";
  return (fs::path(data) / "backups").string();
}

std::string DefaultBackupPath(std::string_view devicePath) {
  const fs::path folder = DefaultBackupFolder();
  const std::string stem = SafeName(devicePath) + "-" + TimeStamp();
  fs::path candidate = folder / (stem + ".bin");
  std::error_code ec;
  for (int n = 2; fs::exists(candidate, ec) && n < 10000; ++n)
    candidate = folder / (stem + "-" + std::to_string(n) + ".bin");
  return candidate.string();
}

int SaveBackupFile(const std::string& path, const uint8_t* data, size_t length, std::string* error,
                   ExistingFile existing) {
  if (path.empty()) {
    SetError(error, "no backup file name");
    return 0;
  }
  const bool replace = existing == ExistingFile::Replace;
  fs::path target(path);
  std::error_code ec;
  if (replace && fs::is_symlink(target, ec)) {
    // A named link: the file it leads to is replaced, not the link.
    const fs::path resolved = fs::weakly_canonical(target, ec);
    if (!ec) target = resolved;
  }
  if (!replace && (fs::exists(target, ec) || fs::is_symlink(target, ec))) {
    SetError(error, path + " exists already");
    return 0;
  }
  if (fs::is_directory(target, ec)) {
    SetError(error, path + " is a folder");
    return 0;
  }
  if (target.has_parent_path()) {
    fs::create_directories(target.parent_path(), ec);
    if (ec) {
      SetError(error, target.parent_path().string() + ": " + ec.message());
      return 0;
    }
  }
  auto file = CreateTemporary(target.string());
  if (!file.handle) {
    SetError(error, file.path + ": " + std::strerror(file.openErrno));
    return 0;
  }
  bool ok = length == 0 || std::fwrite(data, 1, length, file.handle.get()) == length;
  ok = ok && std::fflush(file.handle.get()) == 0;
  // The copy must be on the disk before the flash is touched.
  ok = ok && host::FlushToDisk(file.handle.get());
  int savedErrno = errno;
  if (std::fclose(file.handle.release()) != 0) ok = false;
  // The final name appears only for a complete file; a new backup never
  // takes the place of a file that appeared meanwhile.
  std::string reason;
  if (ok) {
    if (replace)
      fs::rename(file.path, target, ec);
    else
      host::RenameNoReplace(file.path, target.string(), ec);
    if (ec) {
      ok = false;
      reason = ec.message();
    }
  }
  if (!ok) {
    fs::remove(file.path, ec);
    SetError(error, path + ": " + (reason.empty() ? std::strerror(savedErrno) : reason));
    return 0;
  }
  return 1;
}

}  // namespace fwtool
