// SPDX-License-Identifier: GPL-2.0-or-later
// Creating the program's files on Windows: a temporary file made with
// CREATE_NEW beside the target (which fails on any name that exists, a link
// included), flushed, and moved into place without MOVEFILE_REPLACE_EXISTING,
// which fails when the name is taken.
#include <windows.h>
// After windows.h:
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

#include "host_services.h"
#include "numbered_name.h"

namespace fwtool::host {

namespace fs = std::filesystem;

namespace {

constexpr int kMostNumbers = 9999;
constexpr int kTemporaryNames = 32;

bool Fail(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
  return false;
}

bool FailCode(std::string* error, DWORD code) {
  if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS)
    return Fail(error, "exists already");
  return Fail(error, std::system_category().message(static_cast<int>(code)));
}

std::string RandomSuffix() {
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::random_device random;
  std::string suffix;
  for (int i = 0; i < 6; ++i) suffix += kDigits[random() % 36];
  return suffix;
}

}  // namespace

bool WriteNewFile(const std::string& path, std::span<const uint8_t> bytes, TakenName taken,
                  std::string* written, std::string* error) {
  const fs::path target(path);
  const std::string name = target.filename().string();
  if (name.empty() || name == "." || name == "..") return Fail(error, "no file name");
  const fs::path folder = target.parent_path();
  std::error_code ec;
  if (!folder.empty()) {
    fs::create_directories(folder, ec);
    if (ec) return Fail(error, folder.string() + ": " + ec.message());
  }

  std::string temporary;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int i = 0; i < kTemporaryNames && file == INVALID_HANDLE_VALUE; ++i) {
    temporary = (folder / ("." + name + "." + RandomSuffix() + ".part")).string();
    file = ::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS)
      return FailCode(error, ::GetLastError());
  }
  if (file == INVALID_HANDLE_VALUE) return FailCode(error, ERROR_FILE_EXISTS);
  auto discard = [&](DWORD code) {
    ::DeleteFileA(temporary.c_str());
    return FailCode(error, code);
  };
  size_t done = 0;
  bool ok = true;
  while (ok && done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
    DWORD moved = 0;
    ok = ::WriteFile(file, bytes.data() + done, chunk, &moved, nullptr) != 0 && moved > 0;
    done += moved;
  }
  // The copy must be on the disk before anything that relies on it happens.
  ok = ok && ::FlushFileBuffers(file) != 0;
  const DWORD code = ok ? 0 : ::GetLastError();
  if (::CloseHandle(file) == 0 && ok) return discard(::GetLastError());
  if (!ok) return discard(code);

  std::string given = name;
  DWORD moveError = 0;
  auto move = [&](const std::string& to, DWORD flags) {
    const std::string full = (folder / to).string();
    moveError = ::MoveFileExA(temporary.c_str(), full.c_str(), flags | MOVEFILE_WRITE_THROUGH) != 0
                    ? 0
                    : ::GetLastError();
    return moveError == 0;
  };
  switch (taken) {
    case TakenName::Refuse:
      move(name, 0);
      break;
    case TakenName::Number:
      for (int n = 1; n <= kMostNumbers; ++n) {
        given = NumberedName(name, n);
        if (move(given, 0)) break;
        if (moveError != ERROR_ALREADY_EXISTS && moveError != ERROR_FILE_EXISTS) break;
      }
      break;
    case TakenName::Replace:
      // The program's own folder under the user's profile.
      move(name, MOVEFILE_REPLACE_EXISTING);
      break;
  }
  if (moveError != 0) return discard(moveError);
  if (written != nullptr) *written = folder.empty() ? given : (folder / given).string();
  return true;
}

std::string OwnFolderProblem(const std::string& folder) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(fs::path(folder), ec);
  if (status.type() == fs::file_type::not_found) return {};
  if (status.type() == fs::file_type::symlink || status.type() != fs::file_type::directory)
    return folder + " is a link or a file, not a folder";
  return {};
}

OwnFile ReadOwnFile(const std::string& path, uint64_t maxBytes) {
  OwnFile file;
  std::error_code ec;
  const fs::path name(path);
  const fs::file_status status = fs::symlink_status(name, ec);
  if (ec || status.type() == fs::file_type::not_found) {
    file.missing = status.type() == fs::file_type::not_found;
    if (!file.missing) file.error = path + ": " + ec.message();
    return file;
  }
  if (status.type() == fs::file_type::symlink) {
    file.error = path + ": a link; it is not read through links";
    return file;
  }
  if (status.type() != fs::file_type::regular) {
    file.error = path + ": not a regular file";
    return file;
  }
  const uint64_t size = fs::file_size(name, ec);
  if (ec || size > maxBytes) {
    file.error = path + ": larger than " + std::to_string(maxBytes) + " bytes";
    return file;
  }
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) {
    file.error = path + ": cannot be read";
    return file;
  }
  file.bytes.resize(static_cast<size_t>(size));
  file.bytes.resize(std::fread(file.bytes.data(), 1, file.bytes.size(), in));
  std::fclose(in);
  return file;
}

std::FILE* OpenNewFile(const std::string& path) {
  // The C library of the system has no "x" mode; the exclusive create of
  // the lower level does the same.
  const int fd =
      ::_open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  std::FILE* file = ::_fdopen(fd, "wb");
  if (file == nullptr) ::_close(fd);
  return file;
}

}  // namespace fwtool::host
