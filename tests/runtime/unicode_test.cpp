#include "runtime/unicode.h"

#include <gtest/gtest.h>

namespace {

TEST(Utf8ToUtf16, TakesWellFormedTextAndMarksEveryFault) {
  struct Case {
    const char* utf8;
    std::u16string utf16;
    bool ok;
  } cases[] = {
      {"", u"", true},
      {"Gr\xC3\xBC\xC3\x9F" "e", u"Gr\u00FC\u00DFe", true},
      {"\xE6\x97\xA5\xE6\x9C\xAC", u"\u65E5\u672C", true},
      {"\xF0\x9F\x93\x8E.pdf", u"\U0001F4CE.pdf", true},   // beyond the BMP: a pair
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF", true},
      // A legacy ANSI byte, a lone continuation, a cut-off sequence.
      {"Passw\xF6rt", u"Passw\uFFFDrt", false},
      {"\x80x", u"\uFFFDx", false},
      {"ab\xE6\x97", u"ab\uFFFD", false},
      {"\xE6\x97x", u"\uFFFDx", false},
      // Overlong forms, an encoded surrogate, past U+10FFFF, bytes never used.
      {"\xC0\xAF", u"\uFFFD\uFFFD", false},
      {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD", false},
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", false},
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", false},
      {"\xFF\xFE", u"\uFFFD\uFFFD", false},
  };
  for (const Case& c : cases) {
    std::u16string out;
    EXPECT_EQ(runtime::Utf8ToUtf16(c.utf8, out), c.ok) << c.utf8;
    EXPECT_EQ(out, c.utf16) << c.utf8;
  }
}

TEST(Utf16ToUtf8, JoinsPairsAndMarksUnpairedSurrogates) {
  struct Case {
    std::u16string utf16;
    const char* utf8;
    bool ok;
  } cases[] = {
      {u"", "", true},
      {u"Gr\u00FC\u00DFe \u65E5\u672C", "Gr\xC3\xBC\xC3\x9F" "e \xE6\x97\xA5\xE6\x9C\xAC", true},
      {u"\U0001F600", "\xF0\x9F\x98\x80", true},
      {u"\u07FF\u0800\uFFFF", "\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF", true},
      {std::u16string(u"a") + char16_t(0xD83D), "a\xEF\xBF\xBD", false},
      {std::u16string(1, char16_t(0xDE00)) + u"b", "\xEF\xBF\xBD" "b", false},
      {std::u16string{char16_t(0xD83D), char16_t(0xD83D), char16_t(0xDE00)}, "\xEF\xBF\xBD\xF0\x9F\x98\x80", false},
  };
  for (const Case& c : cases) {
    std::string out;
    EXPECT_EQ(runtime::Utf16ToUtf8(c.utf16, out), c.ok) << c.utf8;
    EXPECT_EQ(out, c.utf8);
    // What converts cleanly converts back to itself.
    std::u16string back;
    EXPECT_TRUE(!c.ok || (runtime::Utf8ToUtf16(out, back) && back == c.utf16));
  }
}

TEST(Utf8PrefixLength, NeverEndsInsideACharacter) {
  const std::string text = "a\xC3\xBC\xE6\x97\xA5\xF0\x9F\x98\x80";  // 1 + 2 + 3 + 4 bytes
  const std::size_t expected[] = {0, 1, 1, 3, 3, 3, 6, 6, 6, 6, 10, 10};
  for (std::size_t max = 0; max < std::size(expected); ++max) {
    EXPECT_EQ(runtime::Utf8PrefixLength(text, max), expected[max]) << max;
  }
}

}  // namespace
