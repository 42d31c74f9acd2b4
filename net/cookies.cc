#include "net/cookies.h"

#include <unordered_set>

namespace quenbrel {
namespace {

constexpr std::string_view kDeletedMark = "=deleted";
constexpr std::string_view kItemSeparator = "; ";

}  // namespace

Text MergeCookies(Text& cookies, Text& receivedCookies) {
  cookies = RemoveSpaces(cookies);
  receivedCookies = RemoveSpaces(receivedCookies);
  TextList oldItems = SplitText(cookies, ";");
  TextList items = SplitText(receivedCookies, ";");

  // An old item joins the list only when no item already in it, new or old, has its name. The
  // names in the list are kept in a set so each test is one look-up and not a walk of the list.
  std::unordered_set<Text> names;
  names.reserve(items.size() + oldItems.size());
  for (const Text& item : items) names.insert(CookieName(item));
  for (Text& item : oldItems) {
    if (names.insert(CookieName(item)).second) items.push_back(std::move(item));
  }

  Text merged;
  for (const Text& item : items) {
    if (TextRight(item, TextLength(kDeletedMark)) == kDeletedMark) continue;
    merged += item;
    merged += kItemSeparator;
  }
  merged = TextLeft(merged, TextLength(merged) - TextLength(kItemSeparator));
  cookies = RemoveDuplicateItems(merged, kItemSeparator);
  return cookies;
}

Text CookieName(std::string_view item) {
  int p = FindText(item, "=");
  if (p == -1) return TrimBoth(item);
  return TrimBoth(TextLeft(item, p - 1));
}

bool ContainsCookieName(const TextList& items, std::string_view name) {
  for (const Text& item : items) {
    if (CompareText(CookieName(item), name) == 0) return true;
  }
  return false;
}

}  // namespace quenbrel
