// SPDX-License-Identifier: GPL-2.0-or-later
// Firmware images: their layouts, checksums, the file tests and the image
// the program carries.
#pragma once

#include "checksums.h"
#include "embedded_firmware.h"
#include "file_tests.h"
#include "image_file.h"
#include "image_info.h"
#include "image_layout.h"
