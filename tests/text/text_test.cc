#include "text/text.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <random>
#include <string>

namespace quenbrel {
namespace {

// GBK bytes used below: 中 = D6 D0, 文 = CE C4, the full-width space = A1 A1.
const Text kZhong = "\xD6\xD0";
const Text kWen = "\xCE\xC4";
const Text kWideSpace = "\xA1\xA1";

TEST(Cutting, ClampsToTheText) {
  EXPECT_EQ(TextLength(""), 0);
  EXPECT_EQ(TextLength(kZhong), 2);
  EXPECT_EQ(TextMid("abc", 3, 5), "c");
  EXPECT_EQ(TextMid("abc", 4, 1), "");
  EXPECT_EQ(TextMid("abc", 0, 2), "");
  EXPECT_EQ(TextMid("abc", 2, 0), "");
  EXPECT_EQ(TextMid("abc", 2, INT_MAX), "bc");
  EXPECT_EQ(TextLeft("abc", -2), "");
  EXPECT_EQ(TextLeft("abc", 2), "ab");
  EXPECT_EQ(TextLeft("abc", INT_MAX), "abc");
  EXPECT_EQ(TextRight("abc", 9), "abc");
  EXPECT_EQ(TextRight("abc", 1), "c");
  EXPECT_EQ(TextRight("abc", 0), "");
  // Cutting counts bytes and may split a character.
  EXPECT_EQ(TextLeft(kZhong + kWen, 3), kZhong + "\xCE");
}

struct FindCase {
  Text text;
  Text sought;
  std::optional<int> start;
  bool ignoreCase;
  int forward;  // FindText
  int reverse;  // FindTextReverse
};

TEST(Searching, Table) {
  const FindCase cases[] = {
      {"abcabc", "bc", std::nullopt, false, 2, 5},
      {"abcabc", "bc", 3, false, 5, -1},
      {"abcabc", "bc", 0, false, 2, -1},
      {"abcabc", "bc", 6, false, -1, 2},
      {"abcabc", "bc", 7, false, -1, 5},
      {"a.b.c", ".", std::nullopt, false, 2, 4},
      {"a.b.c", ".", 5, false, -1, 4},
      {"a.b.c", ".", 4, false, 4, 2},
      {"a.b.c", ".", 1, false, 2, -1},
      {"a.b.c", ".", 9, false, -1, 4},
      // An empty sought text is found at 1 whenever the range is not empty.
      {"abc", "", std::nullopt, false, 1, 1},
      {"abc", "", 3, false, 1, 1},
      {"abc", "", 4, false, -1, 1},
      {"abc", "", 1, false, 1, -1},
      {"", "", std::nullopt, false, -1, -1},
      {"", "a", std::nullopt, false, -1, -1},
      {"xAbC", "abc", std::nullopt, true, 2, 2},
      {"xAbC", "abc", std::nullopt, false, -1, -1},
      {"ab", "abc", std::nullopt, false, -1, -1},
      // A match never starts on a second byte.
      {kZhong + kWen, "\xD0\xCE", std::nullopt, false, -1, -1},
      {"\xE4\xB8\xAD;", ";", std::nullopt, false, -1, -1},
      {"\xE4\xB8\xAD;;", ";", std::nullopt, false, 5, 5},
      {"\xD6"
       "a"
       "a",
       "a", std::nullopt, false, 3, 3},
      // Case folding reaches second bytes: D6 41 holds 'A' as its second byte.
      {"\xD6\x41", "\xD6\x61", std::nullopt, true, 1, 1},
      {"\xD6\x41", "\xD6\x61", std::nullopt, false, -1, -1},
      // A lone lead byte at the end is a character of its own.
      {"ab\xD6", "\xD6", std::nullopt, false, 3, 3},
      // A start on a second byte makes that byte begin a character.
      {kZhong + kWen, "\xD0\xCE", 2, false, 2, -1},
      {kZhong + "a", "a", 2, false, -1, -1},  // D0 61 is one character
  };
  for (const FindCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "text '" << c.text << "' sought '" << c.sought << "' start "
                                    << c.start.value_or(-99));
    EXPECT_EQ(FindText(c.text, c.sought, c.start.value_or(1), c.ignoreCase), c.forward);
    EXPECT_EQ(FindTextReverse(c.text, c.sought, c.start, c.ignoreCase), c.reverse);
  }
}

// The plain walk of the routines' definition: every character start of the range, in order.
std::vector<int> PlainMatches(const Text& text, const Text& sought, std::size_t from,
                              std::size_t end, bool ignoreCase) {
  auto fold = [&](unsigned char c) { return ignoreCase && c >= 'A' && c <= 'Z' ? c + 32 : c; };
  std::vector<int> found;
  for (std::size_t i = from; i < end; i += static_cast<unsigned char>(text[i]) >= 0x80 ? 2 : 1) {
    if (end - i < sought.size()) break;
    bool match = true;
    for (std::size_t k = 0; k < sought.size() && match; ++k) {
      match = fold(static_cast<unsigned char>(text[i + k])) ==
              fold(static_cast<unsigned char>(sought[k]));
    }
    if (match) found.push_back(static_cast<int>(i) + 1);
  }
  return found;
}

TEST(Searching, AgreesWithThePlainWalkOnRandomTexts) {
  std::mt19937 random(7);
  const char alphabet[] = {'a', 'A', 'b', ';', '\x81', '\xD6', '\xD0', '\xA1'};
  for (int round = 0; round < 3000; ++round) {
    auto make = [&](int most) {
      Text t(random() % most, 'a');
      for (char& ch : t) ch = alphabet[random() % sizeof alphabet];
      return t;
    };
    const Text text = make(40);
    const Text sought = make(4) + "a";
    const bool ignoreCase = random() % 2 == 0;
    const int start = static_cast<int>(random() % 45) - 2;
    SCOPED_TRACE(testing::Message() << "round " << round);
    const std::size_t from = start <= 1 ? 0 : static_cast<std::size_t>(start - 1);
    const auto forward = from < text.size()
                             ? PlainMatches(text, sought, from, text.size(), ignoreCase)
                             : std::vector<int>{};
    EXPECT_EQ(FindText(text, sought, start, ignoreCase), forward.empty() ? -1 : forward[0]);
    const std::size_t end = start <= 1 ? 0 : std::min<std::size_t>(start - 1, text.size());
    const auto reverse = PlainMatches(text, sought, 0, end, ignoreCase);
    EXPECT_EQ(FindTextReverse(text, sought, start, ignoreCase),
              reverse.empty() ? -1 : reverse.back());
  }
}

// Needles that keep matching on second bytes, and dense overlapping matches, push the search off
// its fast path; the answers must not change.
TEST(Searching, AdversarialInputsKeepExactAnswers) {
  Text shifted = "\x80";
  for (int i = 0; i < 5000; ++i) shifted += "\x81\x82";
  const Text needle = "\x81\x82\x81\x82\x81\x82\x81\x82\x81\x82";  // occurs only on second bytes
  EXPECT_EQ(FindText(shifted, needle), -1);
  EXPECT_EQ(FindText(shifted, needle, 2), 2);
  EXPECT_EQ(FindTextReverse(shifted, needle), -1);
  EXPECT_EQ(FindText(shifted + "a" + needle, needle), TextLength(shifted) + 2);

  const Text dense(20000, 'a');
  EXPECT_EQ(FindTextReverse(dense, Text(100, 'a')), 20000 - 99);
  EXPECT_EQ(FindTextReverse(dense, Text(100, 'A'), std::nullopt, true), 20000 - 99);
  EXPECT_EQ(ReplaceText(dense, Text(100, 'a'), {.replacement = "b"}), Text(200, 'b'));
}

// Occurrences far into a text, where the case-insensitive scan runs on whole vector blocks, must
// be found, or skipped when they begin on a second byte, at every offset.
TEST(Searching, IgnoreCaseFarIntoTheText) {
  for (std::size_t at = 65536 - 8; at <= 65536 + 2; ++at) {
    Text text(at, 'x');
    text += "NeEdLe";
    text += Text(70000, 'y');
    SCOPED_TRACE(at);
    EXPECT_EQ(FindText(text, "needle", 1, true), static_cast<int>(at) + 1);
    EXPECT_EQ(FindText(text, "needle", 2, true), static_cast<int>(at) + 1);
    EXPECT_EQ(FindTextReverse(text, "NEEDLE", std::nullopt, true), static_cast<int>(at) + 1);
    Text shifted = "\x81" + text;  // now the match begins on a second byte
    shifted[at] = '\x81';
    EXPECT_EQ(FindText(shifted, "needle", 1, true), -1);
  }
}

// Texts longer than the scan's blocks, made of the bytes that trip a case-insensitive scan: both
// cases of the needle's letters, the bytes next to them that folding must leave alone ('@' and
// '`', '[' and '{'), and two-byte characters whose second bytes are letters.
TEST(Searching, IgnoreCaseAgreesWithThePlainWalkOnLongTexts) {
  std::mt19937 random(11);
  const char* const pieces[] = {"a", "A", "b", "B",        "@",        "`",        "[",
                                "{", "-", " ", "\xB0\x41", "\xC1\x61", "\xD6\xD0", "\x81"};
  for (int round = 0; round < 400; ++round) {
    auto make = [&](int most) {
      Text t;
      for (int k = static_cast<int>(random() % most); k > 0; --k) t += pieces[random() % 14];
      return t;
    };
    const Text text = make(300);
    Text sought = make(5) + (random() % 2 ? "a" : "B") + make(3);
    const int start = static_cast<int>(random() % 300) - 2;
    SCOPED_TRACE(testing::Message() << "round " << round << " sought '" << sought << "'");
    const std::size_t from = start <= 1 ? 0 : static_cast<std::size_t>(start - 1);
    const auto forward = from < text.size() ? PlainMatches(text, sought, from, text.size(), true)
                                            : std::vector<int>{};
    EXPECT_EQ(FindText(text, sought, start, true), forward.empty() ? -1 : forward[0]);
    const auto reverse = PlainMatches(text, sought, 0, text.size(), true);
    EXPECT_EQ(FindTextReverse(text, sought, std::nullopt, true),
              reverse.empty() ? -1 : reverse.back());
  }
}

// A text where nearly every position looks like the start of the needle but only the last one is,
// and one where the only full matches begin on second bytes: the answers stay exact.
TEST(Searching, IgnoreCaseNearMisses) {
  const Text dense(20000, 'a');
  const Text needle = Text(99, 'A') + "b";
  EXPECT_EQ(FindText(dense, needle, 1, true), -1);
  EXPECT_EQ(FindText(dense + "B", needle, 1, true), 20000 - 98);
  EXPECT_EQ(FindTextReverse(dense + "B" + dense, needle, std::nullopt, true), 20000 - 98);

  // B0 41 pairs: 41 B0 41 holds "a", B0, "a" folded, but only ever from a second byte.
  const Text sought = Text("a") + "\xB0" + "a";
  Text shifted = "\xB0";
  for (int i = 0; i < 3000; ++i) shifted += "\x41\xB0";
  EXPECT_EQ(FindText(shifted, sought, 1, true), -1);
  EXPECT_EQ(FindTextReverse(shifted, sought, std::nullopt, true), -1);
  EXPECT_EQ(FindText(shifted, sought, 2, true), 2);
  // The final B0 takes "x" as its second byte, so the next "A" begins a character.
  EXPECT_EQ(FindText(shifted + "xA\xB0\x61", sought, 1, true), TextLength(shifted) + 2);
}

TEST(Replacing, Table) {
  struct Case {
    Text text, sought;
    ReplaceOptions options;
    Text expected;
  };
  const Case cases[] = {
      {"Set-Cookie: a=1", "set-cookie:", {.matchCase = false}, " a=1"},
      {"Set-Cookie: a=1", "set-cookie:", {.matchCase = true}, "Set-Cookie: a=1"},
      {"aaa", "aa", {.replacement = "b"}, "ba"},
      {"abab", "ab", {.replacement = "ab-ab"}, "ab-abab-ab"},  // inserted text is not searched
      {"a.b.c.d", ".", {.replacement = "/", .start = 3}, "a.b/c/d"},
      {"a.b.c.d", ".", {.replacement = "/", .start = -5, .count = 2}, "a/b/c.d"},
      {"a.b.c", ".", {.replacement = "/", .count = 0}, "a.b.c"},
      {"a.b.c", ".", {.replacement = "/", .start = 6}, "a.b.c"},
      {"a.b.c", "", {.replacement = "/"}, "a.b.c"},
      {"", ".", {.replacement = "/"}, ""},
      {"xXx", "X", {.replacement = "y", .matchCase = false}, "yyy"},
      // Never from a second byte; the walk resumes right after a match.
      {kZhong + kWen, "\xD0\xCE", {.replacement = "?"}, kZhong + kWen},
      {kZhong + "\xD0"
                "a",
       "\xD6",
       {.replacement = "+"},
       "+\xD0\xD0"
       "a"},
      {"#\xD2\xFD\xBA\xC5x#\xD2\xFD\xBA\xC5", "#\xD2\xFD\xBA\xC5", {.replacement = "\""}, "\"x\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "text '" << c.text << "' sought '" << c.sought << "'");
    EXPECT_EQ(ReplaceText(c.text, c.sought, c.options), c.expected);
  }
}

TEST(Splitting, Table) {
  struct Case {
    Text text, delimiter;
    std::optional<int> limit;
    TextList expected;
  };
  const Case cases[] = {
      {"a;;b;", ";", std::nullopt, {"a", "", "b"}},
      {";", ";", std::nullopt, {""}},
      {"", ";", std::nullopt, {}},
      {"a;b;c", ";", 2, {"a", "b"}},
      {"a;b;c", ";", 0, {}},
      {"a;b;c", ";", -3, {}},
      {"a;b;c", ";", 9, {"a", "b", "c"}},
      {"abc", "", std::nullopt, {"abc"}},
      {";a", ";", std::nullopt, {"", "a"}},
      {"a\r\n\r\nb\r\n", "\r\n", std::nullopt, {"a", "", "b"}},
      {"aXbxc", "x", std::nullopt, {"aXb", "c"}},                  // always case-sensitive
      {"\xE4\xB8\xAD;a;", ";", std::nullopt, {"\xE4\xB8\xAD;a"}},  // AD 3B is one character
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "text '" << c.text << "'");
    EXPECT_EQ(SplitText(c.text, c.delimiter, c.limit), c.expected);
  }
  EXPECT_EQ(SplitText("a,b"), (TextList{"a", "b"}));
}

TEST(Spaces, TrimAndRemove) {
  EXPECT_EQ(TrimBoth(" \tx\t  "), "\tx\t");
  EXPECT_EQ(TrimBoth(kWideSpace + "x" + kWideSpace + " "), "x");
  EXPECT_EQ(TrimBoth("   "), "");
  EXPECT_EQ(TrimBoth(""), "");
  EXPECT_EQ(TrimBoth(" a b "), "a b");
  // D6 20 is one character, so its 20 is no space; A1 at the end is a lone character.
  EXPECT_EQ(TrimBoth("\xD6 "), "\xD6 ");
  EXPECT_EQ(TrimBoth("x\xA1"), "x\xA1");
  EXPECT_EQ(TrimBoth("\xD6\xA1\xA1"), "\xD6\xA1\xA1");
  EXPECT_EQ(RemoveSpaces(" a = b ; c=d "), "a=b;c=d");
  EXPECT_EQ(RemoveSpaces("a" + kWideSpace + "b\t"), "ab\t");
  EXPECT_EQ(RemoveSpaces("\xD6 \xA1\xA1\xA1"), "\xD6 \xA1");
}

TEST(Case, OnlyOneByteLettersChange) {
  EXPECT_EQ(ToUpper("abC-z1"), "ABC-Z1");
  EXPECT_EQ(ToLower("ABc-Z1"), "abc-z1");
  EXPECT_EQ(ToUpper("\xD6"
                    "ab"),
            "\xD6"
            "aB");
  EXPECT_EQ(ToLower("\xD6\x41\x41"),
            "\xD6\x41"
            "a");
}

TEST(Numbers, ToInteger) {
  const std::pair<Text, int> cases[] = {
      {"\xA3\xB8\xA3\xB0\xA3\xB8\xA3\xB0", 8080},  // full-width 8080
      {"\xA3\xAD\xA3\xB7", -7},                    // full-width minus
      {kWideSpace + "42", 42},
      {"+12px", 12},
      {" -7", -7},
      {"\t\n\v\f\r 9", 9},
      {"12.7", 12},
      {"0x1A", 0},
      {"abc", 0},
      {"", 0},
      {"-", 0},
      {"+-1", 0},
      {"4294967297", 1},
      {"2147483648", INT_MIN},
      {"-2147483648", INT_MIN},
      {"\xD6\xD0"
       "1",
       0},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(ToInteger(text), value) << text;
}

TEST(Conversions, TextBytesAndCodes) {
  EXPECT_EQ(ToText(-42), "-42");
  EXPECT_EQ(ToText(INT_MIN), "-2147483648");
  EXPECT_EQ(ToText(3.0), "3");
  EXPECT_EQ(ToText(2.5), "2.5");
  EXPECT_EQ(ToText(0.1 + 0.2), "0.3");
  EXPECT_EQ(ToText(1e20), "1e+20");
  EXPECT_EQ(ToText(Bytes{0x61, 0x62, 0x00, 0x63}), "ab");
  EXPECT_EQ(ToText(Bytes{}), "");
  EXPECT_EQ(ToBytes("x=1"), (Bytes{'x', '=', '1'}));
  EXPECT_EQ(ToBytes(""), Bytes{});
  EXPECT_EQ(CharCode("abc"), 97);
  EXPECT_EQ(CharCode("abc", 4), 0);
  EXPECT_EQ(CharCode("abc", 0), 0);
  EXPECT_EQ(CharCode(""), 0);
  EXPECT_EQ(CharCode("\xD6"), -42);
  EXPECT_EQ(CharFromCode(0), "");
  EXPECT_EQ(CharFromCode(256), "");
  EXPECT_EQ(CharFromCode(65), "A");
  EXPECT_EQ(CharFromCode(-42), "\xD6");
  EXPECT_EQ(BlankText(3), "   ");
  EXPECT_EQ(BlankText(-1), "");
}

TEST(Comparing, TextsAndBytes) {
  EXPECT_EQ(CompareText("", ""), 0);
  EXPECT_EQ(CompareText("a", "A") > 0, true);
  EXPECT_LT(CompareText("ab", "abc"), 0);
  EXPECT_GT(CompareText("\xD6", "z"), 0);  // bytes compare as unsigned
  EXPECT_EQ(ConcatTexts("a", "", Text("b"), "c"), "abc");
  EXPECT_TRUE(CompareBytes(Bytes{1, 0}, Bytes{1, 0}));
  EXPECT_FALSE(CompareBytes(Bytes{1, 0}, Bytes{1}));
  EXPECT_EQ(BlankBytes(2), (Bytes{0, 0}));
  EXPECT_EQ(BlankBytes(-2), Bytes{});
  EXPECT_EQ(BytesLeft(Bytes{1, 2, 3}, 2), (Bytes{1, 2}));
  EXPECT_EQ(BytesLeft(Bytes{1, 2, 3}, -1), Bytes{});
  EXPECT_EQ(BytesLeft(Bytes{1, 2, 3}, 9), (Bytes{1, 2, 3}));
  EXPECT_EQ(ConcatBytes(Bytes{1}, Bytes{}, Bytes{0, 2}), (Bytes{1, 0, 2}));
  EXPECT_EQ(BytesLength(Bytes{0, 0, 0}), 3);
}

}  // namespace
}  // namespace quenbrel
