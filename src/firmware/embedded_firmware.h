// SPDX-License-Identifier: GPL-2.0-or-later
// The firmware image the program carries for the two target chip types: a
// complete image with its 4 KB header area, built into the executable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace fwtool {

inline constexpr std::string_view kEmbeddedImageName = "VQB719FW";
// The size of the image normally carried; a vendor image may differ.
inline constexpr size_t kEmbeddedImageSize = 65056;

// The bytes of the image built in (empty when the build carries none).
// Defined by the image library (fwtool_embedded_image), generated from the
// file named by the FWTOOL_EMBEDDED_IMAGE build option.
std::span<const uint8_t> EmbeddedImage();

// Copies `length` bytes of `image` from `offset` into `destination` (the
// whole rest of the image when `length` is 0 or reaches past its end), never
// more than `destination` holds and nothing when `offset` lies at or past the
// image's end. Returns the image's full size, or 0 when `image` is empty
// (nothing copied).
size_t CopyImage(std::span<const uint8_t> image, std::span<uint8_t> destination, size_t offset,
                 size_t length);
// CopyImage from the embedded image.
size_t LoadEmbeddedImage(std::span<uint8_t> destination, size_t offset, size_t length);

}  // namespace fwtool
