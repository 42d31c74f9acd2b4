#include <algorithm>
#include <unordered_set>

#include "text/text.h"

namespace quenbrel {

int ListCount(const TextList& list) { return static_cast<int>(list.size()); }

void ListAppend(TextList& list, std::string_view text) { list.emplace_back(text); }

int FindListItem(const TextList& items, std::string_view sought) {
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (CompareText(items[i], sought) == 0) return static_cast<int>(i) + 1;
  }
  return -1;
}

Text RemoveDuplicateItems(std::string_view text, std::string_view delimiter) {
  // A set of the items kept so far stands in for searching the kept list item by item: the same
  // items are kept, in the same order, in linear rather than quadratic time.
  const TextList items = SplitText(text, delimiter);
  std::unordered_set<std::string_view> kept;
  kept.reserve(items.size());
  Text out;
  out.reserve(text.size() + delimiter.size());
  for (const Text& item : items) {
    if (!kept.insert(item).second) continue;
    out.append(item);
    out.append(delimiter);
  }
  out.resize(out.size() - std::min(out.size(), delimiter.size()));
  return out;
}

}  // namespace quenbrel
