// SPDX-License-Identifier: GPL-2.0-or-later
#include "embedded_firmware.h"

#include <algorithm>

namespace fwtool {

size_t CopyImage(std::span<const uint8_t> image, std::span<uint8_t> destination, size_t offset,
                 size_t length) {
  if (image.empty()) return 0;
  if (offset >= image.size()) return image.size();
  const size_t rest = image.size() - offset;
  if (length == 0 || length > rest) length = rest;
  length = std::min(length, destination.size());
  std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(offset), length, destination.begin());
  return image.size();
}

size_t LoadEmbeddedImage(std::span<uint8_t> destination, size_t offset, size_t length) {
  return CopyImage(EmbeddedImage(), destination, offset, length);
}

}  // namespace fwtool
