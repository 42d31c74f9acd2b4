// Form decoding, charset checks and address validation, without a server.

#include "server/form.h"

#include <gtest/gtest.h>

namespace quenbrel {
namespace {

TEST(DecodeForm, DecodesPercentAndPlusAndKeepsOrder) {
  const std::optional<FormFields> f = DecodeForm("b=x+y%26z&&a=%3d&flag&=v");
  ASSERT_TRUE(f);
  const FormFields want = {{"b", "x y&z"}, {"a", "="}, {"flag", ""}, {"", "v"}};
  EXPECT_EQ(*f, want);
  EXPECT_EQ(FindField(*f, "a"), "=");
  EXPECT_EQ(FindField(*f, "c"), std::nullopt);
  for (const char* bad : {"a=%", "a=%4", "a=%4g", "a%zz=1", "a=%%41"}) {
    EXPECT_EQ(DecodeForm(bad), std::nullopt) << bad;
  }
}

TEST(Charset, StrictGbkAndUtf8) {
  struct Case {
    std::string bytes;
    bool gbk;
    bool utf8;
  };
  const Case cases[] = {
      {"plain", true, true},
      {"\xD6\xD0", true, false},
      {"\xD6", false, false},
      {"\x81\x7F", false, false},
      {"\x81\x40", true, false},
      {"\xFF\x40", false, false},
      {"\x80", true, false},  // the euro sign of code page 936
      {"中", false, true},
      {"\xC0\xAF", true, false},      // overlong "/"
      {"\xED\xA0\x80", true, false},  // a surrogate in UTF-8
      {"\xF4\x90\x80\x80", true, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsValidGbk(c.bytes), c.gbk) << c.bytes;
    EXPECT_EQ(IsValidUtf8(c.bytes), c.utf8) << c.bytes;
  }
  EXPECT_EQ(ToUtf8("\xD6\xD0\xCE\xC4", BodyCharset::kGbk), "中文");
  EXPECT_EQ(ToUtf8(std::string("a\0b", 3), BodyCharset::kGbk), std::nullopt);
  EXPECT_EQ(CharsetOf("application/x-www-form-urlencoded; Charset=\"UTF-8\""), BodyCharset::kUtf8);
  EXPECT_EQ(CharsetOf("application/x-www-form-urlencoded; charset=gbk"), BodyCharset::kGbk);
  EXPECT_EQ(CharsetOf(""), BodyCharset::kGbk);
}

TEST(CheckLongUrl, AcceptsWebAddressesOnly) {
  const std::vector<Origin> own = {*OriginOf("http://s.example"),
                                   *OriginOf("http://127.0.0.1:8380")};
  for (const char* good :
       {"http://example.com", "HTTPS://Example.com:8443/a?b#c", "http://[2001:db8::1]/x",
        "http://user:pw@example.com/", "http://s.example:81/", "http://127.0.0.1:8381/"}) {
    EXPECT_EQ(CheckLongUrl(good, own), "") << good;
  }
  for (const char* bad :
       {"javascript:alert(1)", "JavaScript://x", "data:,x", "file:///x", "mailto:a@b", "http://",
        "http://@/", "http://[::1/", "http://a:99999/", "http://a:8x/", "http://S.Example/abc",
        "http://s.example:80/x", "http://localhost:8380/x", "http://127.0.0.1:8380", "http://a b/",
        "http://a/\x7F", "http://a/\xC2\x85"}) {
    EXPECT_NE(CheckLongUrl(bad, own), "") << bad;
  }
}

TEST(Output, LocationAndJsonEscaping) {
  EXPECT_EQ(EncodeForLocation("http://a/中 x?%41\"<>"), "http://a/%E4%B8%AD%20x?%41%22%3C%3E");
  EXPECT_EQ(EncodeForLocation("http://a/?p=100%&q=%4"), "http://a/?p=100%25&q=%254");
  EXPECT_EQ(JsonEscape("a\"b\\c\n<\xE2\x80\xA8中"), "a\\\"b\\\\c\\u000a\\u003c\\u2028中");
}

}  // namespace
}  // namespace quenbrel
