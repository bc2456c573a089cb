// SPDX-License-Identifier: GPL-2.0-or-later
// How a listed path names the bus its device sits on: "<marker>:<node>", for
// example "usbsto:/dev/sg2" or "sbp2:/dev/sg3". The device list picks USB
// mass storage and SBP-2 devices by these substrings on every platform.
#pragma once

#include <string_view>

namespace fwtool::platform {

inline constexpr std::string_view kUsbBusMarker = "usbsto";
inline constexpr std::string_view kSbp2BusMarker = "sbp2";

}  // namespace fwtool::platform
