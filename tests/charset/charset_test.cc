#include "charset/charset.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "charset/charset_internal.h"

namespace quenbrel {
namespace {

Bytes B(std::string_view bytes) { return Bytes(bytes.begin(), bytes.end()); }

std::string Hex(const Bytes& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (std::uint8_t c : bytes) {
    if (!hex.empty()) hex += ' ';
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return hex;
}

// UTF-8 "中文" and its GBK form.
constexpr std::string_view kUtf8Chinese = "\xE4\xB8\xAD\xE6\x96\x87";
constexpr std::string_view kGbkChinese = "\xD6\xD0\xCE\xC4";

struct Case {
  std::string_view name;
  std::string input;
  std::string_view from;
  std::string_view to;
  std::optional<int> start;
  std::string expected;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class ConvertCharsetTest : public testing::TestWithParam<Case> {};

TEST_P(ConvertCharsetTest, Converts) {
  const Case& c = GetParam();
  EXPECT_EQ(Hex(ConvertCharset(
                B(c.input), {.fromCharset = c.from, .toCharset = c.to, .startPosition = c.start})),
            Hex(B(c.expected)));
}

using namespace std::string_literals;

const Case kCases[] = {
    // Defaults: UTF-8 to GBK.
    {"Defaults", std::string(kUtf8Chinese), "", "", {}, std::string(kGbkChinese)},
    {"DefaultsExplicit", std::string(kUtf8Chinese), "UTF-8", "GBK", {}, std::string(kGbkChinese)},
    {"NamesIgnoreCase", std::string(kUtf8Chinese), "uTf-8", "gBk", {}, std::string(kGbkChinese)},
    {"Gb2312IsGbk", std::string(kUtf8Chinese), "utf-8", "GB2312", {}, std::string(kGbkChinese)},
    {"ChineseIsGbk", std::string(kUtf8Chinese), "utf-8", "chinese", {}, std::string(kGbkChinese)},
    {"Ascii", "{\"msg\":\"ok\"}", "", "", {}, "{\"msg\":\"ok\"}"},
    // What local text cannot hold.
    {"EmojiBecomesTwoDefaults", "a\xF0\x9F\x98\x80z", "", "", {}, "a??z"},
    {"ZeroWidthSpaceNotDropped", "a\xE2\x80\x8Bz", "", "", {}, "a?z"},
    {"BestFit",
     "\xC3\x89\xC2\xB2",
     "",
     "",
     {},
     "\xA8\xA6"
     "2"},
    {"ZeroEndsText", "ab\0cd"s, "", "", {}, "ab"},
    {"ZeroFirst", "\0ab"s, "", "", {}, ""},
    {"InvalidUtf8", "a\xC3(\xFF\xE4\xB8", "", "", {}, "a?(??"},
    // Byte-order marks: skipped when decoding, written when encoding.
    {"Utf8BomSkipped",
     "\xEF\xBB\xBF"
     "a",
     "",
     "",
     {},
     "a"},
    {"Utf8BomOnly", "\xEF\xBB\xBF", "", "", {}, ""},
    {"Utf8BomLaterIsText", "a\xEF\xBB\xBF", "", "", {}, "a?"},
    {"Utf8BomWritten",
     std::string(kGbkChinese),
     "gbk",
     "utf-8",
     {},
     "\xEF\xBB\xBF" + std::string(kUtf8Chinese)},
    {"Utf8BomDroppedByStart", std::string(kGbkChinese), "gbk", "utf-8", 3,
     std::string(kUtf8Chinese)},
    {"UnicodeBomWritten",
     "a\xD6\xD0",
     "gbk",
     "unicode",
     {},
     "\xFF\xFE"
     "a\0\x2D\x4E"s},
    {"UnicodeBomDroppedByStart", "a", "gbk", "unicode", 2, "a\0"s},
    {"UnicodeFffeBomWritten", "a", "gbk", "unicodeFFFE", {}, "\xFE\xFF\0a"s},
    {"UnicodeBomSkipped", "\xFF\xFE\x2D\x4E", "unicode", "gbk", {}, "\xD6\xD0"},
    {"UnicodeWithoutBom",
     "\x2D\x4E"
     "a\0"s,
     "Unicode",
     "gbk",
     {},
     "\xD6\xD0"
     "a"},
    {"UnicodeOddByte",
     "\x2D\x4E"
     "a",
     "unicode",
     "gbk",
     {},
     "\xD6\xD0?"},
    {"UnicodeZeroEndsText", "a\0\0\0b\0"s, "unicode", "gbk", {}, "a"},
    {"UnicodeFffeBomSkipped", "\xFE\xFF\x4E\x2D", "unicodeFFFE", "gbk", {}, "\xD6\xD0"},
    {"GbkToGbkMendsBrokenPairs", "\xD6\xD0\x81\x22\x80", "gbk", "gbk", {}, "\xD6\xD0?\"\x80"},
    // Start position.
    {"StartTwoOnGbk", std::string(kUtf8Chinese), "", "", 2, "\xCE\xC4"},
    {"StartZeroIsNone", std::string(kUtf8Chinese), "", "", 0, std::string(kGbkChinese)},
    {"StartNegativeIsNone", std::string(kUtf8Chinese), "", "", -5, std::string(kGbkChinese)},
    {"StartAtEnd", std::string(kUtf8Chinese), "", "", 4, ""},
    {"StartBeyondEnd", std::string(kUtf8Chinese), "", "", 100, ""},
    // Failures and empty input.
    {"EmptyInput", "", "", "", {}, ""},
    {"EmptyInputToUtf8", "", "gbk", "utf-8", {}, ""},
    {"UnknownFrom", "abc", "klingon", "", {}, ""},
    {"UnknownTo", "abc", "", "klingon", {}, ""},
    {"SpacesAreAName", "abc", " ", "", {}, ""},
    {"NamesAreNotTrimmed", "abc", "", " gbk", {}, ""},
    // Other charsets.
    {"Big5", std::string(kUtf8Chinese) + "\xE7\xAE\x80", "", "big5", {}, "\xA4\xA4\xA4\xE5?"},
    {"Big5ToGbk", "\xA4\xA4\xA4\xE5", "big5", "gbk", {}, std::string(kGbkChinese)},
    {"ShiftJis", "\xD6\xD0", "gbk", "shift_jis", {}, "\x92\x86"},
    {"HangulIsNotLocalText", "\xB0\xA1", "euc-kr", "utf-8", 3, "?"},
    {"Latin1", "\xA8\xA6\xD6\xD0", "gbk", "iso-8859-1", {}, "\xE9?"},
    {"Windows1252", "\x80", "windows-1252", "utf-8", 3, "\xE2\x82\xAC"},
    {"AsciiHighByte", "a\x80", "us-ascii", "gbk", {}, "a?"},
    {"Gb18030Emoji", "\x94\x39\xFC\x36", "gb18030", "gbk", {}, "??"},
    {"Utf7", "+ZYdbVw-", "utf-7", "gbk", {}, "\xCE\xC4\xD7\xD6"},
    // Control bytes keep their numbers in the pages whose ICU converters follow IBM's layout.
    {"ShiftJisControls", "\x1A\x1C\x7F", "shift_jis", "shift_jis", {}, "\x1A\x1C\x7F"},
    {"Ibm437Controls", "\x1A\x1C\x7F", "ibm437", "ibm866", {}, "\x1A\x1C\x7F"},
    {"Ibm866ControlsToUtf8", "\x1A\x1C\x7F", "cp866", "utf-8", 3, "\x1A\x1C\x7F"},
    // No other vendor's fallbacks: code page 932 has no U+4FE0.
    {"ShiftJisHasNoVariantFallback", "\xE4\xBF\xA0", "", "shift_jis", {}, "?"},
    // Stateful charsets end in their initial state.
    {"HzEndsInAscii", "\xD6\xD0", "gbk", "hz-gb-2312", {}, "~{VP~}"},
    {"HzAsciiAround",
     "a\xD6\xD0"
     "b",
     "gbk",
     "hz-gb-2312",
     {},
     "a~{VP~}b"},
    {"HzAsciiOnly", "a~b", "gbk", "hz-gb-2312", {}, "a~~b"},
    {"Iso2022JpEndsInAscii", "a\xD6\xD0", "gbk", "iso-2022-jp", {}, "a\x1B$BCf\x1B(B"},
    {"Iso2022KrEndsShiftedIn", "\xD6\xD0", "gbk", "iso-2022-kr", {}, "\x1B$)C\x0Eqi\x0F"},
    {"Utf7EndsBase64", "\xD6\xD0", "gbk", "utf-7", {}, "+Ti0-"},
    // Other names Windows registers for these code pages.
    {"EucCnIsGbk", std::string(kUtf8Chinese), "", "euc-cn", {}, std::string(kGbkChinese)},
    {"CnGbIsGbk", std::string(kGbkChinese), "CN-GB", "utf-8", 3, std::string(kUtf8Chinese)},
    {"Cp20936IsGb2312Only", "\xD6\xD0\x81\x40", "gbk", "x-cp20936", {}, "\xD6\xD0?"},
    {"Utf32IsLittleEndian", "a\xD6\xD0", "gbk", "utf-32", {}, "a\0\0\0\x2D\x4E\0\0"s},
    {"Utf32Be", "\0\0\x4E\x2D"s, "utf-32BE", "gbk", {}, "\xD6\xD0"},
};

INSTANTIATE_TEST_SUITE_P(Table, ConvertCharsetTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

TEST(ConvertCharsetInOutTest, DataOnlyIsUtf8ToGbk) {
  EXPECT_EQ(ConvertCharset(B(kUtf8Chinese)), B(kGbkChinese));
}

TEST(ConvertCharsetInOutTest, EmptyCharsetsAreWrittenBack) {
  Text from;
  Text to;
  EXPECT_EQ(ConvertCharset(B(kUtf8Chinese), from, to), B(kGbkChinese));
  EXPECT_EQ(from, "UTF-8");
  EXPECT_EQ(to, "GBK");
}

TEST(ConvertCharsetInOutTest, GivenCharsetsStayAsTheyAre) {
  Text from = "gbk";
  Text to;
  EXPECT_EQ(ConvertCharset(B(kGbkChinese), from, to, 2), B("\xCE\xC4"));
  EXPECT_EQ(from, "gbk");
  EXPECT_EQ(to, "GBK");

  Text spaces = " ";
  Text utf8 = "utf-8";
  EXPECT_EQ(ConvertCharset(B("a"), spaces, utf8), Bytes());
  EXPECT_EQ(spaces, " ");  // not empty, so not defaulted
}

// Every name of the table reaches a converter that ICU can open: a name with a misspelt
// converter would give empty bytes.
TEST(CharsetNamesTest, EveryNameConverts) {
  for (std::string_view name : charset_internal::CharsetNames()) {
    EXPECT_FALSE(ConvertCharset(B("a"), {.fromCharset = "gbk", .toCharset = name}).empty()) << name;
    EXPECT_FALSE(ConvertCharset(ConvertCharset(B("a"), {.fromCharset = "gbk", .toCharset = name}),
                                {.fromCharset = name})
                     .empty())
        << name;
  }
}

TEST(StreamConvertTest, TakesCharsetsAsGiven) {
  EXPECT_EQ(StreamConvert(B("a"), "", "gbk"), Bytes());
  EXPECT_EQ(StreamConvert(B("a"), "utf-8", ""), Bytes());
  EXPECT_EQ(StreamConvert(B("a"), "utf-8", "unicode", 2), B("a\0"s));
}

// Long inputs are converted a piece at a time; no character may be split or lost on the way. The
// pattern is 13 bytes long, so over 13 shifts every byte of it meets every piece boundary.
TEST(ConvertCharsetLongTest, PiecesJoinSeamlessly) {
  for (int shift = 0; shift < 13; ++shift) {
    std::string utf8(shift, 'a');
    std::string gbk(shift, 'a');
    for (int i = 0; i < 3000; ++i) {
      utf8 += "\xF0\x9F\x98\x80" + std::string(kUtf8Chinese) + "\xE4\xB8x";
      gbk += "??" + std::string(kGbkChinese) + "?x";
    }
    ASSERT_EQ(ConvertCharset(B(utf8)), B(gbk)) << shift;
    // Back through UTF-16 and from it, both longer than one piece.
    Bytes utf16 = ConvertCharset(B(gbk), {.fromCharset = "gbk", .toCharset = "unicode"});
    ASSERT_EQ(ConvertCharset(utf16, {.fromCharset = "unicode"}), B(gbk)) << shift;
    ASSERT_EQ(ConvertCharset(B(gbk), {.fromCharset = "gbk", .toCharset = "big5"}).size(),
              gbk.size())
        << shift;
    // A zero far into the input still ends the text there.
    ASSERT_EQ(ConvertCharset(B(utf8 + '\0' + "tail")), B(gbk)) << shift;
    utf16.insert(utf16.end(), {0, 0, 'x', 0});
    ASSERT_EQ(ConvertCharset(utf16, {.fromCharset = "unicode"}), B(gbk)) << shift;
  }
}

}  // namespace
}  // namespace quenbrel
