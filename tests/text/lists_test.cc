#include <gtest/gtest.h>

#include "text/text.h"

namespace quenbrel {
namespace {

TEST(Lists, AppendCountAndFind) {
  TextList list;
  EXPECT_EQ(ListCount(list), 0);
  Text item = "a";
  ListAppend(list, item);
  item = "changed";  // the list holds its own copy
  ListAppend(list, "");
  ListAppend(list, "a");
  EXPECT_EQ(list, (TextList{"a", "", "a"}));
  EXPECT_EQ(ListCount(list), 3);
  EXPECT_EQ(FindListItem(list, "a"), 1);
  EXPECT_EQ(FindListItem(list, ""), 2);
  EXPECT_EQ(FindListItem(list, "A"), -1);
  EXPECT_EQ(FindListItem({}, ""), -1);
}

TEST(Lists, RemoveDuplicateItems) {
  const std::tuple<Text, Text, Text> cases[] = {
      {"k=1; k=1", "; ", "k=1"},
      {"k=1; k=2", "; ", "k=1; k=2"},
      {"b; a; b; c; a", "; ", "b; a; c"},
      {"; a; ; a", "; ", "; a"},  // the empty item stays once, at its first place
      {"", "; ", ""},
      {"a; ", "; ", "a"},
      {"K=1; k=1", "; ", "K=1; k=1"},
      {"x,y,x", "", "x,y,x"},
  };
  for (const auto& [text, delimiter, expected] : cases) {
    EXPECT_EQ(RemoveDuplicateItems(text, delimiter), expected) << text;
  }
}

}  // namespace
}  // namespace quenbrel
