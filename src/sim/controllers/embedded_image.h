// SPDX-License-Identifier: GPL-2.0-or-later
// The bundled firmware image file (resources/VQB719FW.bin) that units
// described with fw=embedded carry in their flash. Its place is fixed at
// build time and can be changed at run time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fwtool::sim {

// Where the bundled image is read from: the path set here, else the
// environment variable FWTOOL_SIM_EMBEDDED_IMAGE, else the build-time path.
void SetEmbeddedImagePath(std::string path);
std::string EmbeddedImagePath();
// Uses these bytes instead of any file (for a program that carries the
// image in itself). An empty vector goes back to the file.
void SetEmbeddedImageBytes(std::vector<uint8_t> bytes);

// The image, or nullopt with a reason in `error`.
std::optional<std::vector<uint8_t>> LoadEmbeddedImageFile(std::string* error);
// No simulated flash holds more than this (size=16384, in KB), so no image
// file for one may be larger; reading stops past it, which also bounds a
// path such as /dev/zero that never ends.
inline constexpr size_t kMaxSimImageFileSize = 16u * 1024 * 1024;

// Any image file of at most kMaxSimImageFileSize bytes, or nullopt with a
// reason in `error`.
std::optional<std::vector<uint8_t>> LoadImageFile(const std::string& path, std::string* error);

}  // namespace fwtool::sim
