// SPDX-License-Identifier: GPL-2.0-or-later
#include "embedded_image.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#ifndef FWTOOL_SIM_EMBEDDED_IMAGE
#define FWTOOL_SIM_EMBEDDED_IMAGE "resources/VQB719FW.bin"
#endif

namespace fwtool::sim {

namespace {
struct Source {
  std::string path;
  std::vector<uint8_t> bytes;
};
Source& TheSource() {
  static Source source;
  return source;
}
}  // namespace

void SetEmbeddedImagePath(std::string path) {
  TheSource().path = std::move(path);
}

std::string EmbeddedImagePath() {
  if (!TheSource().path.empty()) return TheSource().path;
  if (const char* env = std::getenv("FWTOOL_SIM_EMBEDDED_IMAGE"); env != nullptr && *env != 0)
    return env;
  return FWTOOL_SIM_EMBEDDED_IMAGE;
}

void SetEmbeddedImageBytes(std::vector<uint8_t> bytes) {
  TheSource().bytes = std::move(bytes);
}

std::optional<std::vector<uint8_t>> LoadImageFile(const std::string& path, std::string* error) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                       &std::fclose);
  if (!file) {
    if (error != nullptr) *error = "cannot open " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  std::vector<uint8_t> bytes;
  uint8_t chunk[8192];
  size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
    bytes.insert(bytes.end(), chunk, chunk + got);
    if (bytes.size() > kMaxSimImageFileSize) {
      if (error != nullptr)
        *error = path + " holds more than " + std::to_string(kMaxSimImageFileSize / 1024) +
                 " KB, more than any simulated flash";
      return std::nullopt;
    }
  }
  if (std::ferror(file.get())) {
    if (error != nullptr) *error = "cannot read " + path;
    return std::nullopt;
  }
  if (bytes.empty()) {
    if (error != nullptr) *error = path + " is empty";
    return std::nullopt;
  }
  return bytes;
}

std::optional<std::vector<uint8_t>> LoadEmbeddedImageFile(std::string* error) {
  if (!TheSource().bytes.empty()) return TheSource().bytes;
  std::string reason;
  auto bytes = LoadImageFile(EmbeddedImagePath(), &reason);
  if (!bytes && error != nullptr)
    *error = "the bundled firmware image is missing (" + reason +
             "); build it into resources/ or set FWTOOL_SIM_EMBEDDED_IMAGE";
  return bytes;
}

}  // namespace fwtool::sim
