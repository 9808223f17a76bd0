// Python identifiers, non-ASCII ones included, judged as str.isidentifier judges them.
#include "core/identifier.hpp"

#include <gtest/gtest.h>

#include <string>

namespace quorvex::identifier {
namespace {

TEST(PythonIdentifier, LettersDigitsAndMarksWhereUnicodeAllowsThem) {
  // Other_ID_Start (U+2118, U+1885), a middle dot, a combining mark and a variation selector
  // only after the first character, East Asian, fullwidth and compatibility letters.
  for (const char* good : {"a", "_a", "a1", "ü", "ß", "ℌ", "℘x", "ᢅ", "a·", "a\u0301", "日本", "ǅ",
                           "Ⅸ", "x٣", "ｆｏｏ", "\U0002A700", "a\U000E0100b", "a\uFE0F", "ﬁ"})
    EXPECT_TRUE(isPythonIdentifier(good)) << good;
  // Spaces that look like none, line breaks, joiners, symbols, marks and digits first, and
  // bytes that are no UTF-8 (a lone continuation byte, an overlong "a", an encoded surrogate).
  for (const char* bad : {"", "1a", "·a", "\u0301a", "a\u00a0b", "x\u2028", "a\u200db",
                          "x🙂", "٣x", "\u309b", "a-b", "a.b", "a\x80", "\xC1\xA1",
                          "a\xED\xA0\x80"})
    EXPECT_FALSE(isPythonIdentifier(bad)) << bad;
}

} // namespace
} // namespace quorvex::identifier
