#include "net/cookies.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "fuzz/net/reference.h"

namespace quenbrel {
namespace {

struct MergeCase {
  std::string cookies;
  std::string received;
  std::string merged;
};

TEST(MergeCookiesTest, MergesAsDescribed) {
  const MergeCase cases[] = {
      // New items first, then the old items whose names the response did not set.
      {"SID=abc; lang=zh", "SID=xyz; token=1", "SID=xyz; token=1; lang=zh"},
      {"a=1; b=2", "b=deleted", "a=1"},
      {"a=1; b=2", "", "a=1; b=2"},
      {"", "x=1", "x=1"},
      {"", "", ""},
      // Of old items with one name only the first survives; new items with one name all stay.
      {"a=1; a=2; c=3", "", "a=1; c=3"},
      {"a=0", "a=1; a=2", "a=1; a=2"},
      {"", "k=1; k=1", "k=1"},
      {"", "k=1; k=2", "k=1; k=2"},
      {"SID=1", "sid=2", "sid=2; SID=1"},
      // Spaces go everywhere, values included; full-width spaces too.
      {"a=hello world", "", "a=helloworld"},
      {"a = 1 ; b = 2", "", "a=1; b=2"},
      {"\xA1\xA1"
       "a=1\xA1\xA1;\xA1\xA1"
       "b=\xA1\xA1"
       "2",
       "c=3\xA1\xA1", "c=3; a=1; b=2"},
      // Deletion marks, exact case, last 8 bytes only.
      {"x=deleted", "", ""},
      {"a=b=deleted", "", ""},
      {"deleted", "", "deleted"},
      {"a=DELETED", "", "a=DELETED"},
      {"a=1", "a=deleted; b=2", "b=2"},
      // A leading ";" or ";;" is an empty item, which stays once; a final ";" adds none.
      {";a=1", "", "; a=1"},
      {";;a=1;", "", "; a=1"},
      {";", "", ""},
      {"a=1", ";b=2", "; b=2; a=1"},
      // Items without "=" are cookies named by the whole item.
      {"flag; a=1", "flag", "flag; a=1"},
      // Two-byte characters: a ";" or "=" that is a second byte neither splits nor names.
      {"n=\xD6\xD0\xCE\xC4; m=1", "m=2", "m=2; n=\xD6\xD0\xCE\xC4"},
      {"a=\x81;b=2", "b=3", "b=3; a=\x81;b=2"},
      {"a=\x81;b=2", "a=9", "a=9"},
      {"\x81=x=1", "\x81=x=2", "\x81=x=2"},
  };
  for (const MergeCase& c : cases) {
    SCOPED_TRACE("cookies '" + c.cookies + "' received '" + c.received + "'");
    Text cookies = c.cookies, received = c.received;
    EXPECT_EQ(MergeCookies(cookies, received), c.merged);
  }
}

TEST(MergeCookiesTest, RewritesBothArguments) {
  Text cookies = "a=1; b = 2", received =
                                   " b=3 ;\xA1\xA1"
                                   "c=4 ";
  Text merged = MergeCookies(cookies, received);
  EXPECT_EQ(merged, "b=3; c=4; a=1");
  EXPECT_EQ(cookies, merged);
  EXPECT_EQ(received, "b=3;c=4");
}

// A deterministic mix of repeated names, repeated items, deletions, empty items and spaces must
// merge exactly as the step-by-step walk of the lists does.
TEST(MergeCookiesTest, MatchesStepByStepMergeOnMixedTexts) {
  std::mt19937 random(5);
  const char* const values[] = {"1", "2", "deleted", "", "x y", "\xD6\xD0"};
  auto cookieText = [&](int items) {
    Text text;
    for (int i = 0; i < items; ++i) {
      if (i > 0) text += (random() % 4 == 0) ? ";" : "; ";
      if (random() % 10 == 0) continue;  // an empty item
      text += "n" + std::to_string(random() % 40);
      if (random() % 8 != 0) text += std::string("=") + values[random() % 6];
    }
    return text;
  };
  for (int round = 0; round < 20; ++round) {
    Text cookies = cookieText(150), received = cookieText(60);
    Text stepCookies = cookies, stepReceived = received;
    SCOPED_TRACE(round);
    EXPECT_EQ(MergeCookies(cookies, received), reference::MergeCookies(stepCookies, stepReceived));
    EXPECT_EQ(cookies, stepCookies);
    EXPECT_EQ(received, stepReceived);
  }
}

TEST(CookieNameTest, TextBeforeFirstEqualsSignTrimmed) {
  const std::pair<std::string, std::string> cases[] = {
      {"a=1", "a"}, {" SID =abc", "SID"}, {"flag", "flag"},       {"=x", ""},
      {"", ""},     {"a=b=c", "a"},       {"\x81=x=1", "\x81=x"}, {"\xA1\xA1k\xA1\xA1=v", "k"},
  };
  for (const auto& [item, name] : cases) EXPECT_EQ(CookieName(item), name) << item;
}

TEST(ContainsCookieNameTest, LooksAtEveryItemsName) {
  const TextList items = {"a=1", " b =2", "flag", ""};
  EXPECT_TRUE(ContainsCookieName(items, "a"));
  EXPECT_TRUE(ContainsCookieName(items, "b"));
  EXPECT_TRUE(ContainsCookieName(items, "flag"));
  EXPECT_TRUE(ContainsCookieName(items, ""));
  EXPECT_FALSE(ContainsCookieName(items, "A"));
  EXPECT_FALSE(ContainsCookieName(items, "a=1"));
  EXPECT_FALSE(ContainsCookieName({}, ""));
}

}  // namespace
}  // namespace quenbrel
