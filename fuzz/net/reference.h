// Plain step-by-step forms of the net/ routines that the library computes differently, used by
// the fuzzer to check the library's results and by the benchmark as the baseline.
//
// Each routine here walks its lists item by item exactly as the routine is described (the
// cookie merge and the duplicate removal are quadratic in the number of items), or keeps the
// original form of a step that net/ mends (the agent fallback, the host search of the path).
// Header-only; pure functions; for testing and measuring only.

#ifndef QUENBREL_FUZZ_NET_REFERENCE_H_
#define QUENBREL_FUZZ_NET_REFERENCE_H_

#include <string_view>

#include "net/net.h"
#include "text/text.h"

namespace quenbrel::reference {

// Drops repeated items, searching the list of items kept so far for each one.
inline Text RemoveDuplicateItems(std::string_view text, std::string_view delimiter) {
  TextList kept;
  Text result;
  for (const Text& item : SplitText(text, delimiter)) {
    if (FindListItem(kept, item) != -1) continue;
    ListAppend(kept, item);
    result += item;
    result += delimiter;
  }
  return TextLeft(result, TextLength(result) - TextLength(delimiter));
}

// The cookie merge, walking the growing list for every old item's name.
inline Text MergeCookies(Text& cookies, Text& receivedCookies) {
  cookies = RemoveSpaces(cookies);
  receivedCookies = RemoveSpaces(receivedCookies);
  TextList oldItems = SplitText(cookies, ";");
  TextList items = SplitText(receivedCookies, ";");
  for (const Text& item : oldItems) {
    if (!ContainsCookieName(items, CookieName(item))) ListAppend(items, item);
  }
  Text merged;
  for (const Text& item : items) {
    if (TextRight(item, 8) != "=deleted") {
      merged += item;
      merged += "; ";
    }
  }
  merged = TextLeft(merged, TextLength(merged) - 2);
  cookies = RemoveDuplicateItems(merged, "; ");
  return cookies;
}

// The path with the host searched from the first byte of the address.
inline Text UrlPath(std::string_view url) {
  int a = FindText(url, UrlHost(url), 1, true);
  int b = FindText(url, "/", a, true);
  if (b == -1) return "/";
  return TextRight(url, TextLength(url) - b + 1);
}

// The agent with the fallback taken from the first ":" of the whole header text.
inline Text UserAgentFromHeaders(std::string_view headers) {
  if (FindText(headers, "User-Agent:", 1, true) == -1) return Text(kDefaultUserAgent);
  Text v = TrimBoth(TextBetween(ConcatTexts(headers, "\r\n"), "User-Agent:", "\r\n"));
  if (v.empty()) return HeaderValue(headers);
  return v;
}

// The cookies of a raw header block, step by step: split into lines, test each line's name with
// TextLeftOf, cut the value with TextBetween or ReplaceText, join with "; " and drop the last.
inline Text CollectSetCookies(std::string_view responseHeaders) {
  Text received;
  for (const Text& line : SplitText(responseHeaders, "\r\n")) {
    if (CompareText(TextLeftOf(line, ": "), "Set-Cookie") != 0) continue;
    Text value;
    if (FindText(line, ";") != -1) {
      value = TrimBoth(TextBetween(line, "Set-Cookie:", ";"));
    } else {
      value = TrimBoth(ReplaceText(line, "Set-Cookie:", {.matchCase = false}));
    }
    received += value;
    received += "; ";
  }
  return TextLeft(received, TextLength(received) - 2);
}

}  // namespace quenbrel::reference

#endif  // QUENBREL_FUZZ_NET_REFERENCE_H_
