// SPDX-License-Identifier: GPL-2.0-or-later
// Text from a unit or a file reaches a screen with its control characters
// shown, not obeyed.
#include "printable_text.h"

#include <gtest/gtest.h>

#include <string>

namespace fwtool {
namespace {

TEST(PrintableText, ControlCharactersAreShownAsEscapes) {
  struct Case {
    const char* name;
    std::string text;
    std::string shown;
  };
  const Case cases[] = {
      {"plain", "TALVE   VQB719 Bridge", "TALVE   VQB719 Bridge"},
      {"a window title", "\x1b]0;owned\x07name", "\\x1B]0;owned\\x07name"},
      {"a line feed, a carriage return and a tab", "a\nb\rc\td", "a\\x0Ab\\x0Dc\\x09d"},
      {"zero and DEL", std::string("a\0b\x7f", 4), "a\\x00b\\x7F"},
      {"C1 CSI in UTF-8",
       "x\xc2\x9b"
       "2J",
       "x\\x9B2J"},
      {"letters beyond ASCII stay", "Gr\xc3\xbc\xc3\x9f \xc4\x80", "Gr\xc3\xbc\xc3\x9f \xc4\x80"},
      {"a no-break space stays",
       "a\xc2\xa0"
       "b",
       "a\xc2\xa0"
       "b"},
      {"backslashes stay", "C:\\fw\\a.bin", "C:\\fw\\a.bin"},
      {"a lone C2 at the end", "a\xc2", "a\xc2"},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeControls(c.text), c.shown) << c.name;
}

}  // namespace
}  // namespace fwtool
