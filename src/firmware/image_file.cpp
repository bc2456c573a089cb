// SPDX-License-Identifier: GPL-2.0-or-later
#include "image_file.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <new>

namespace fwtool {

namespace {
void SetWhy(std::string* why, std::string text) {
  if (why != nullptr) *why = std::move(text);
}
}  // namespace

std::optional<ImageFile> ImageFile::Open(const std::string& path, std::string* why) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (ec || !fs::exists(status)) {
    SetWhy(why, ec && ec != std::errc::no_such_file_or_directory ? ec.message() : "no such file");
    return std::nullopt;
  }
  if (fs::is_directory(status)) {
    SetWhy(why, "it is a directory, not a file");
    return std::nullopt;
  }
  if (!fs::is_regular_file(status)) {
    SetWhy(why, "it is not a regular file");
    return std::nullopt;
  }
  const uintmax_t size = fs::file_size(path, ec);
  if (ec) {
    SetWhy(why, ec.message());
    return std::nullopt;
  }
  errno = 0;
  std::unique_ptr<std::FILE, Closer> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    SetWhy(why, errno != 0 ? std::strerror(errno) : "it cannot be opened");
    return std::nullopt;
  }
  return ImageFile(std::move(file), size);
}

size_t ImageFile::ReadAt(uint64_t offset, uint8_t* buffer, size_t length) {
  if (offset >= size_ || length == 0) return 0;
  if (offset > static_cast<uint64_t>(LONG_MAX)) return 0;
  if (std::fseek(file_.get(), static_cast<long>(offset), SEEK_SET) != 0) return 0;
  return std::fread(buffer, 1, length, file_.get());
}

SignatureBlock ImageFile::BlockAt(uint64_t offset) {
  SignatureBlock block;
  block.complete = ReadAt(offset, block.bytes.data(), block.bytes.size()) == block.bytes.size();
  if (!block.complete) block.bytes.fill(0);
  return block;
}

bool ImageFile::ReadAll(std::vector<uint8_t>& data, std::string* why) {
  if (size_ > kMaxImageFileSize) {
    SetWhy(why, "it is larger than any firmware image (" + std::to_string(size_) + " bytes)");
    return false;
  }
  try {
    data.assign(static_cast<size_t>(size_), 0);
  } catch (const std::bad_alloc&) {
    SetWhy(why, "no memory for " + std::to_string(size_) + " bytes");
    return false;
  }
  if (ReadAt(0, data.data(), data.size()) != data.size() && !data.empty()) {
    SetWhy(why, "it could not be read in full");
    data.clear();
    return false;
  }
  return true;
}

}  // namespace fwtool
