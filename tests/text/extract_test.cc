#include <gtest/gtest.h>

#include "text/text.h"

namespace quenbrel {
namespace {

TEST(TextBetween, Table) {
  struct Case {
    Text text, front, back;
    int start;
    bool ignoreCase;
    Text expected;
  };
  const Text quote = "#\xD2\xFD\xBA\xC5";  // "#引号" in code page 936
  const Case cases[] = {
      {"Accept: */*\r\nUser-Agent: X1\r\n", "User-Agent:", "\r\n", 1, false, " X1"},
      {"items[3]", "[", "]", 1, false, "3"},
      {"a[b", "[", "]", 1, false, ""},
      {"x]y[z", "[", "]", 1, false, ""},
      {"[1][2]", "[", "]", 3, false, "2"},
      {"[1][2]", "[", "]", -4, false, "1"},
      {"[]", "[", "]", 1, false, ""},
      {"ab[", "[", "]", 1, false, ""},
      {"id=\"7\"", "id=" + quote, quote, 1, false, "7"},
      {"k=v", "", "=", 1, false, "k"},
      {"k=v", "", "=", 2, false, "k"},
      {"k=v", "k", "", 1, false, ""},
      {"Set-Cookie: a=1; path=/", "Set-Cookie:", ";", 1, false, " a=1"},
      {"Host: a.b", "host: ", ".", 1, false, ""},
      {"Host: a.b", "host: ", ".", 1, true, "a"},
      // Markers are found on character boundaries only.
      {"\xD6[1][2]", "[", "]", 1, false, "2"},  // D6 5B is one character
      {"\xD6[1]", "[", "]", 2, false, "1"},
      {"\xD6[1]", "[", "]", 1, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "text '" << c.text << "' front '" << c.front << "'");
    EXPECT_EQ(TextBetween(c.text, c.front, c.back, c.start, c.ignoreCase), c.expected);
  }
  EXPECT_EQ(TextBetween("items[3]", "[", "]"), "3");
}

TEST(TextLeftOf, Table) {
  struct Case {
    Text text, marker;
    int start;
    Text expected;
  };
  const Case cases[] = {
      {"Set-Cookie: a=1", ": ", 1, "Set-Cookie"},
      {"abc", "x", 1, ""},
      {":abc", ":", 1, ""},
      {"a:b:c", ":", 3, "a:b"},
      {"a:b:c", ":", 0, "a"},
      {"abc", "", 1, ""},
      {"items[3]", "[", 1, "items"},
      {"items", "[", 1, ""},
      {"\xD6:a:", ":", 1, "\xD6:a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "text '" << c.text << "' marker '" << c.marker << "'");
    EXPECT_EQ(TextLeftOf(c.text, c.marker, c.start), c.expected);
  }
  EXPECT_EQ(TextLeftOf("A:b", "a", 1, true), "");
  EXPECT_EQ(TextLeftOf("xA:b", "a:", 1, true), "x");
}

}  // namespace
}  // namespace quenbrel
