#include "charset/codepage.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace quenbrel {
namespace {

std::string Hex(std::string_view bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char c : bytes) {
    if (!hex.empty()) hex += ' ';
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return hex;
}

TEST(LocalCodePageTest, SingleBytes) {
  for (int b = 1; b < 0x80; ++b) {
    EXPECT_EQ(LocalToUtf16(std::string(1, static_cast<char>(b))), std::u16string(1, char16_t(b)))
        << b;
  }
  EXPECT_EQ(LocalToUtf16("\x80"), u"\u20AC");
  EXPECT_EQ(LocalToUtf16("\xFF"), u"\uF8F5");
  // A lead byte that ends the text is a broken character.
  for (int b = 0x81; b <= 0xFE; ++b) {
    EXPECT_EQ(LocalToUtf16(std::string(1, static_cast<char>(b))), u"\uFFFD") << b;
  }
}

TEST(LocalCodePageTest, TwoByteCodes) {
  struct Case {
    const char* local;
    std::u16string unicode;
  };
  const Case kCases[] = {
      {"\x81\x40", u"\u4E02"},  // first code of the extension area
      {"\xB0\xA1", u"\u554A"},  // first code of GB2312 level 1
      {"\xD2\xBB", u"\u4E00"}, {"\xD6\xD0\xCE\xC4", u"\u4E2D\u6587"},
      {"\xA1\xA1", u"\u3000"},  // full-width space
      {"\xA1\xA4", u"\u00B7"}, {"\xA1\xAA", u"\u2014"},
      {"\xA3\xA4", u"\uFFE5"}, {"\xA8\xA6", u"\u00E9"},
      {"\xA8\xBB", u"\u0251"}, {"\xA8\x44", u"\u2015"},
      {"\xA8\xBF", u"\uE7C8"},  // codes the page leaves to the private use area
      {"\xFE\x50", u"\uE815"}, {"\xFD\x9B", u"\u9FA5"},
      {"\xAA\xA1", u"\uE000"},  // user-defined areas map to the private use area
      {"\xFE\xFE", u"\uE4C5"}, {"\xA1\x40", u"\uE4C6"},
      {"\xA2\xA0", u"\uE585"}, {"a\xB0\xA1z", u"a\u554Az"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(LocalToUtf16(c.local), c.unicode) << Hex(c.local);
    EXPECT_EQ(Utf16ToLocal(c.unicode), c.local) << Hex(c.local);
  }
}

// Every lead byte with every trail byte (0x40..0xFE but 0x7F) is a code of the page, and each
// encodes back to itself.
TEST(LocalCodePageTest, EveryTwoByteCodeRoundTrips) {
  int codes = 0;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      const std::string local{static_cast<char>(lead), static_cast<char>(trail)};
      const std::u16string unicode = LocalToUtf16(local);
      ASSERT_EQ(unicode.size(), 1u) << Hex(local);
      ASSERT_NE(unicode[0], 0xFFFD) << Hex(local);
      ++codes;
      EXPECT_EQ(Utf16ToLocal(unicode), local) << Hex(local);
    }
  }
  EXPECT_EQ(codes + 130, 24070);  // with the 128 ASCII bytes, 0x80 and 0xFF
}

TEST(LocalCodePageTest, BrokenPairs) {
  struct Case {
    std::string local;
    std::u16string unicode;
  };
  const Case kCases[] = {
      {"\x81\x7F", u"\uFFFD\u007F"},  // not a trail byte: decoded by itself
      {"\x81\x22x", u"\uFFFD\"x"},
      {"\x81\xFF", u"\uFFFD\uF8F5"},
      {"\x81\x30\x81\x30", u"\uFFFD0\uFFFD0"},
      {"ab\x81", u"ab\uFFFD"},
  };
  for (const Case& c : kCases) EXPECT_EQ(LocalToUtf16(c.local), c.unicode) << Hex(c.local);
}

TEST(LocalCodePageTest, BestFitAndDefaultCharacter) {
  struct Case {
    std::u16string unicode;
    std::string local;
  };
  const Case kCases[] = {
      // Best fit.
      {u"\u00C9", "\xA8\xA6"},  // É -> é
      {u"\u00C0", "\xA8\xA4"},  // À -> à
      {u"\u0100", "\xA8\xA1"},  // Ā -> ā
      {u"\u00B2\u00B3\u00B9", "231"},
      // The default character, one per code unit.
      {u"\u1234", "?"},
      {u"\u2022", "?"},
      {u"a\u200Bb", "a?b"},  // default-ignorable characters are not dropped
      {u"\uFEFFx", "?x"},
      {u"\u2764\uFE0F", "??"},
      {u"\u034F\u2060\u00AD",
       "?"
       "?-"},
      {u"\uFFE9\uFFEA\uFFEB\uFFEC\uFFED\uFFEE", "??????"},  // never control bytes
      {u"\uFFE5\uFFE9", "\xA3\xA4?"},
      // Supplementary characters are two code units the code page lacks.
      {u"a\U0001F600b", "a??b"},
      {u"\U00020000", "??"},
      {u"\xD83Dx", "?x"},  // lone surrogates
      {u"x\xDE00", "x?"},
      {u"\xD83D", "?"},
      {u"\uFFFD", "?"},
      // Mapped characters outside the two-byte area.
      {u"\u20AC\uF8F5", "\x80\xFF"},
  };
  for (const Case& c : kCases) EXPECT_EQ(Hex(Utf16ToLocal(c.unicode)), Hex(c.local));
}

TEST(LocalCodePageTest, ZeroEndsTheText) {
  EXPECT_EQ(Utf16ToLocal(std::u16string(u"ab\0cd", 5)), "ab");
  EXPECT_EQ(Utf16ToLocal(std::u16string(u"\0cd", 3)), "");
  EXPECT_EQ(LocalToUtf16(std::string("ab\0cd", 5)), u"ab");
  EXPECT_EQ(LocalToUtf8(std::string("\xD6\xD0\0cd", 5)), "\xE4\xB8\xAD");
  EXPECT_EQ(Utf8ToLocal(std::string("\xE4\xB8\xAD\0cd", 7)), "\xD6\xD0");
}

TEST(LocalCodePageTest, Utf8) {
  struct Case {
    std::string utf8;
    std::string local;
  };
  const Case kCases[] = {
      {"", ""},
      {"plain ASCII", "plain ASCII"},
      {"\xE4\xB8\xAD\xE6\x96\x87", "\xD6\xD0\xCE\xC4"},
      {"\xE2\x82\xAC", "\x80"},
      {"\xC3\x89", "\xA8\xA6"},    // best fit
      {"\xF0\x9F\x98\x80", "??"},  // emoji
      {"\xEF\xBB\xBFx", "?x"},     // a BOM here is text: U+FEFF
      {"a\xC3", "a?"},             // truncated sequence
      {"\xFF\xFE", "??"},          // bytes that never occur in UTF-8
      {"\xED\xA0\x80", "???"},     // an encoded surrogate
      {"\xC0\xAF", "??"},          // an overlong form
      {"\xE4\xB8x", "?x"},
      // Stray continuation bytes give more than the size estimated for well-formed text.
      {"\x80\x80\x80", "???"},
      {"\xE4\xB8\xAD\x80\xBF", "\xD6\xD0??"},
      {"\xC3\x89\x89\xE4\xB8\xAD", "\xA8\xA6?\xD6\xD0"},
  };
  for (const Case& c : kCases) EXPECT_EQ(Hex(Utf8ToLocal(c.utf8)), Hex(c.local)) << Hex(c.utf8);
  // Long runs, so the room for the result is grown while converting.
  EXPECT_EQ(Utf8ToLocal(std::string(100000, '\x80')), std::string(100000, '?'));
  std::string mixed;
  std::string mixedLocal;
  for (int i = 0; i < 20000; ++i) {
    mixed +=
        "\xE4\xB8\xAD\xBF\xF0\x9F\x98\x80"
        "a";
    mixedLocal += "\xD6\xD0???a";
  }
  EXPECT_EQ(Utf8ToLocal(mixed), mixedLocal);
  EXPECT_EQ(LocalToUtf8("\xD6\xD0\xCE\xC4\x80\xFF"),
            "\xE4\xB8\xAD\xE6\x96\x87\xE2\x82\xAC\xEF\xA3\xB5");
  EXPECT_EQ(LocalToUtf8(""), "");
}

// Each thread opens its own converter; concurrent use must not mix their states.
TEST(LocalCodePageTest, ThreadsConvertIndependently) {
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < 200; ++i) {
        if (Utf8ToLocal("\xE4\xB8\xAD\xF0\x9F\x98\x80") != "\xD6\xD0??") ++failures[t];
        if (LocalToUtf16("\xB0\xA1\x81") != u"\u554A\uFFFD") ++failures[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace quenbrel
