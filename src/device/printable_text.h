// SPDX-License-Identifier: GPL-2.0-or-later
// Text that comes from a unit (its INQUIRY names, serial number, versions)
// or from a file (the history) and goes to a screen: control characters
// would move the cursor, retitle the terminal or hide what follows, so they
// are shown as escapes instead.
#pragma once

#include <string>
#include <string_view>

namespace fwtool {

// `text` with every control character written as "\xNN": the bytes 0x00 to
// 0x1F and 0x7F, and the C1 controls U+0080 to U+009F (in UTF-8, C2 80 to
// C2 9F). Everything else, backslashes included, is kept as it is.
std::string EscapeControls(std::string_view text);

}  // namespace fwtool
