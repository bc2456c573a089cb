// SPDX-License-Identifier: GPL-2.0-or-later
// A firmware file opened for the file tests: regular files only, read by
// position, closed when the object goes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "image_layout.h"

namespace fwtool {

// Whole-file reads stop here: flash parts hold at most a few megabytes, so a
// larger file is not a firmware image of this family.
inline constexpr uint64_t kMaxImageFileSize = 64ull * 1024 * 1024;

class ImageFile {
 public:
  // Empty when the path does not name a readable regular file; `why` (may be
  // null) then receives a sentence such as "no such file".
  static std::optional<ImageFile> Open(const std::string& path, std::string* why = nullptr);

  uint64_t size() const { return size_; }
  // Reads up to `length` bytes at `offset`; returns the bytes actually read.
  size_t ReadAt(uint64_t offset, uint8_t* buffer, size_t length);
  // The ten bytes at `offset`; incomplete when the file ends earlier.
  SignatureBlock BlockAt(uint64_t offset);
  // The whole file. False (with a reason) when it is larger than
  // kMaxImageFileSize, the buffer cannot be had, or a read comes up short.
  bool ReadAll(std::vector<uint8_t>& data, std::string* why = nullptr);

 private:
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  ImageFile(std::unique_ptr<std::FILE, Closer> file, uint64_t size)
      : file_(std::move(file)), size_(size) {}

  std::unique_ptr<std::FILE, Closer> file_;
  uint64_t size_ = 0;
};

}  // namespace fwtool
