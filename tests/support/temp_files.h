// SPDX-License-Identifier: GPL-2.0-or-later
// A scratch folder for one test, removed with everything in it afterwards.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace fwtool::testing {

// Writes the bytes to `path`, replacing what was there; the path as text.
inline std::string WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return path.string();
}

class TempDir {
 public:
  TempDir() {
    // Tests run as parallel processes: a random name keeps them apart.
    std::random_device random;
    do {
      path_ = std::filesystem::temp_directory_path() /
              ("fwtool-test-" + std::to_string(random()) + std::to_string(random()));
    } while (!std::filesystem::create_directory(path_));
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string Path(const std::string& name) const { return (path_ / name).string(); }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    return WriteFile(path_ / name, bytes);
  }
  std::string Root() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

// XDG_DATA_HOME (the backup folder's root) set for one scope, then as it was.
class ScopedDataHome {
 public:
  explicit ScopedDataHome(const std::string& folder) {
    if (const char* home = std::getenv("XDG_DATA_HOME")) saved_ = home;
    ::setenv("XDG_DATA_HOME", folder.c_str(), 1);
  }
  ~ScopedDataHome() {
    if (saved_)
      ::setenv("XDG_DATA_HOME", saved_->c_str(), 1);
    else
      ::unsetenv("XDG_DATA_HOME");
  }
  ScopedDataHome(const ScopedDataHome&) = delete;
  ScopedDataHome& operator=(const ScopedDataHome&) = delete;

 private:
  std::optional<std::string> saved_;
};

// The whole of a file; empty when it cannot be read.
inline std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace fwtool::testing
