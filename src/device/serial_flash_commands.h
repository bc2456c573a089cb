// Commands that reach the serial flash part behind the controller.
#pragma once

#include <cstdint>
#include <string_view>

namespace fwtool {

// The flash maker code the controller detected by itself at boot, in byte 0
// of a 4-byte reply (0 when it found none).
int GetFlashMakerCode(std::string_view path, uint8_t* buffer);

}  // namespace fwtool
