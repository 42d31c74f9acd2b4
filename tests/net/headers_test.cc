#include "net/headers.h"

#include <gtest/gtest.h>

#include <string>

namespace quenbrel {
namespace {

struct CompleteCase {
  const char* headers;
  const char* url;
  int method;
  const char* cookies;
  bool addDefaultHeaders;
  bool normalizeHeaderNames;
  std::string expected;
};

TEST(CompleteRequestHeadersTest, DefaultsNormalisationAndCookieLine) {
  const std::string defaults =
      "Accept: */*\r\nReferer: http://example.com/api/\r\nAccept-Language: zh-cn";
  const std::string form = "\r\nContent-Type: application/x-www-form-urlencoded";
  const CompleteCase cases[] = {
      {"", "http://example.com/api/", 1, "", true, true, defaults + form},
      {"", "http://example.com/api/", 0, "", true, true, defaults},
      // Only POST gets the form content type; an existing one is kept.
      {"", "http://example.com/api/", 3, "", true, true, defaults},
      {"content-type: text/plain", "http://a/", 1, "", true, true,
       "Content-Type: text/plain\r\nAccept: */*\r\nReferer: http://a/\r\nAccept-Language: zh-cn"},
      // The names are searched ignoring case, anywhere in the text.
      {"accept: text/html", "http://a/", 0, "", true, true,
       "Accept: text/html\r\nReferer: http://a/\r\nAccept-Language: zh-cn"},
      {"X-Accept: 1", "http://a/", 0, "", true, true,
       "X-Accept: 1\r\nReferer: http://a/\r\nAccept-Language: zh-cn"},
      {"x-referer: r\r\naccept-language: en", "http://a/", 0, "", true, false,
       "x-referer: r\r\naccept-language: en\r\nAccept: */*"},
      // The referer is the address exactly as given.
      {"Accept: */*", "HTTP://Example.COM/A b", 0, "", true, true,
       "Accept: */*\r\nReferer: HTTP://Example.COM/A b\r\nAccept-Language: zh-cn"},
      // A lead byte in front of "Accept:" makes its "A" a second byte: no "Accept:" is found.
      {"X-\x81"
       "Accept: 1",
       "http://a/", 0, "", true, false,
       "X-\x81"
       "Accept: 1\r\nAccept: */*\r\nReferer: http://a/\r\nAccept-Language: zh-cn"},
      // The cookie line: always after a CRLF, never normalised, taken whole when it holds
      // "Cookie:" in exactly that case.
      {"", "http://a/", 0, "a=1", false, true, "\r\nCookie: a=1"},
      {"a: 1", "http://a/", 0, "Cookie: a=1; b=2", false, true, "A: 1\r\nCookie: a=1; b=2"},
      {"", "http://a/", 0, "cookie: a=1", false, true, "\r\nCookie: cookie: a=1"},
      {"", "http://a/", 1, "x-y=\xD6\xD0", true, true,
       "Accept: */*\r\nReferer: http://a/\r\nAccept-Language: zh-cn\r\n"
       "Content-Type: application/x-www-form-urlencoded\r\nCookie: x-y=\xD6\xD0"},
      // Both switches off: only the cookie line is added.
      {"x: 1\r\n", "http://a/", 1, "", false, false, "x: 1\r\n"},
      {"x: 1\r\n", "http://a/", 1, "k=v", false, false, "x: 1\r\n\r\nCookie: k=v"},
  };
  for (const CompleteCase& c : cases) {
    SCOPED_TRACE(c.headers);
    Text headers = c.headers;
    CompleteRequestHeaders(headers, c.url, c.method, c.cookies, c.addDefaultHeaders,
                           c.normalizeHeaderNames);
    EXPECT_EQ(headers, c.expected);
  }
}

TEST(NormalizeHeaderNamesTest, CapitalisesNamesAndDropsLinesWithoutColon) {
  const std::pair<std::string, std::string> cases[] = {
      {"content-type: text/html\r\nx-requested-with: XMLHttpRequest",
       "Content-Type: text/html\r\nX-Requested-With: XMLHttpRequest"},
      {"accept: */*\r\n\r\nno colon here\r\nhost: a:b", "Accept: */*\r\nHost: a:b"},
      {"cache--control: no", "Cache--Control: no"},
      {"", ""},
      {"a: 1\r\n", "A: 1"},
      {"no colon\r\n\r\n", ""},
      // Only the first byte of the name and of each part after "-" change.
      {"ETAG: x\r\nx-Forwarded-FOR: y", "ETAG: x\r\nX-Forwarded-FOR: y"},
      {" accept: x", " accept: x"},
      {": empty name", ": empty name"},
      {"value-part: a-b: c-d", "Value-Part: a-b: c-d"},
      // A name ending in "-" keeps its final "-".
      {"x-: y", "X-: y"},
      {"a-b-: v", "A-B-: v"},
      {"-: v\r\n--: w\r\n-a: z", "-: v\r\n--: w\r\n-A: z"},
      // Two-byte characters: a "-" or ":" that is a second byte splits nothing, and a part that
      // starts with a two-byte character stays as it is.
      {"\xD6\xD0-x: 1", "\xD6\xD0-X: 1"},
      {"x-\xD6\xD0: 1", "X-\xD6\xD0: 1"},
      {"\x81-x: 1", "\x81-x: 1"},
      {"a\x81:b: c", "A\x81:b: c"},
      {"a\x81:b", ""},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(NormalizeHeaderNames(text), expected);
    EXPECT_EQ(NormalizeHeaderNames(expected), expected);
  }
}

TEST(UserAgentFromHeadersTest, TakesTheAgentLineOrTheDefault) {
  const std::pair<std::string, std::string> cases[] = {
      {"User-Agent: Foo/1.0\r\nAccept: */*", "Foo/1.0"},
      {"User-Agent:   Foo/1.0   ", "Foo/1.0"},
      {"user-agent: Foo/1.0", "Foo/1.0"},
      {"Accept: */*", std::string(kDefaultUserAgent)},
      {"", std::string(kDefaultUserAgent)},
      {"User-Agent:\xA1\xA1\xD6\xD0/2\xA1\xA1", "\xD6\xD0/2"},
      {"X-User-Agent: Bar", "Bar"},
      // The name in exactly this case wins over an earlier one in another case.
      {"user-agent: A\r\nUser-Agent: B", "B"},
      {"User-Agent:", ""},
      // A lead byte at the end takes the added CR as its second byte: the value runs to the end.
      {"User-Agent: A\xF9", "A\xF9"},
      // The value of the matching line, never that of another line nor anything after a CRLF.
      {"Accept: */*\r\nuser-agent: Foo/1.0", "Foo/1.0"},
      {"Accept: */*\r\nuser-agent: Foo/1.0\r\nHost: a", "Foo/1.0"},
      {"User-Agent: \r\nAccept: */*", ""},
      {"Accept: */*\r\nUSER-AGENT:\r\nHost: a", ""},
  };
  for (const auto& [headers, expected] : cases) {
    SCOPED_TRACE(headers);
    EXPECT_EQ(UserAgentFromHeaders(headers), expected);
  }
}

TEST(HeaderValueTest, TrimmedTextAfterFirstColon) {
  EXPECT_EQ(HeaderValue("Name:  v "), "v");
  EXPECT_EQ(HeaderValue("no colon"), "");
  EXPECT_EQ(HeaderValue("Host: a:b"), "a:b");
  EXPECT_EQ(HeaderValue(":"), "");
  EXPECT_EQ(HeaderValue("a:\xA1\xA1v\t\xA1\xA1"), "v\t");
  EXPECT_EQ(HeaderValue("\x81:x: y"), "y");  // the first ":" is a second byte
}

TEST(CapitalizeWordTest, UpperCasesTheFirstByteOnly) {
  EXPECT_EQ(CapitalizeWord(""), "");
  EXPECT_EQ(CapitalizeWord("a"), "A");
  EXPECT_EQ(CapitalizeWord("accept"), "Accept");
  EXPECT_EQ(CapitalizeWord("eTAG"), "ETAG");
  EXPECT_EQ(CapitalizeWord("1abc"), "1abc");
  EXPECT_EQ(CapitalizeWord("\xD6\xD0x"), "\xD6\xD0x");
}

}  // namespace
}  // namespace quenbrel
