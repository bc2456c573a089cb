#include "backup_file.h"

#if defined(__unix__)
#include <unistd.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <system_error>

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

}  // namespace

std::string DefaultBackupFolder() {
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  if (dataHome != nullptr && dataHome[0] == '/')
    return (fs::path(dataHome) / "fwtool/backups").string();
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0')
    return (fs::path(home) / ".local/share/fwtool/backups").string();
  return "fwtool-backups";
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

int SaveBackupFile(const std::string& path, const uint8_t* data, size_t length,
                   std::string* error) {
  if (path.empty()) {
    SetError(error, "no backup file name");
    return 0;
  }
  const fs::path target(path);
  std::error_code ec;
  if (fs::exists(target, ec) || fs::is_symlink(target, ec)) {
    SetError(error, path + " exists already");
    return 0;
  }
  if (target.has_parent_path()) {
    fs::create_directories(target.parent_path(), ec);
    if (ec) {
      SetError(error, target.parent_path().string() + ": " + ec.message());
      return 0;
    }
  }
  const std::string temporary = path + ".part";
  // "x": a stale temporary file of another run is not written over.
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(temporary.c_str(), "wbx"),
                                                       &std::fclose);
  if (!file) {
    SetError(error, temporary + ": " + std::strerror(errno));
    return 0;
  }
  bool ok = length == 0 || std::fwrite(data, 1, length, file.get()) == length;
  ok = ok && std::fflush(file.get()) == 0;
#if defined(__unix__)
  // The copy must be on the disk before the flash is touched.
  ok = ok && ::fsync(::fileno(file.get())) == 0;
#endif
  int savedErrno = errno;
  if (std::fclose(file.release()) != 0) ok = false;
  // The final name appears only for a complete file.
  if (ok && !fs::exists(target, ec)) {
    fs::rename(temporary, target, ec);
    if (ec) {
      ok = false;
      savedErrno = ec.value();
    }
  } else if (ok) {
    ok = false;
    savedErrno = EEXIST;
  }
  if (!ok) {
    fs::remove(temporary, ec);
    SetError(error, path + ": " + std::strerror(savedErrno));
    return 0;
  }
  return 1;
}

}  // namespace fwtool
