// SPDX-License-Identifier: GPL-2.0-or-later
#include "printable_text.h"

#include <cstdint>

namespace fwtool {

std::string EscapeControls(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  auto escape = [&out](uint8_t byte) {
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<uint8_t>(text[i]);
    if (byte < 0x20 || byte == 0x7F) {
      escape(byte);
    } else if (byte == 0xC2 && i + 1 < text.size() && static_cast<uint8_t>(text[i + 1]) >= 0x80 &&
               static_cast<uint8_t>(text[i + 1]) <= 0x9F) {
      escape(static_cast<uint8_t>(text[++i]));
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace fwtool
