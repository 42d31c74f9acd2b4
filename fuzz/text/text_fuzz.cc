// Differential fuzzer: the text routines against a deliberately plain walk of their definitions,
// one character at a time with no cleverness, on random texts, needles, starts, counts and limits.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "text/text.h"

namespace {

using quenbrel::Text;
using quenbrel::TextList;

bool Lead(const Text& t, std::size_t i) { return static_cast<unsigned char>(t[i]) >= 0x80; }
std::size_t Step(const Text& t, std::size_t i) { return Lead(t, i) ? 2 : 1; }
unsigned char Fold(char c) {
  const unsigned char b = static_cast<unsigned char>(c);
  return b >= 'A' && b <= 'Z' ? b + 32 : b;
}
bool MatchAt(const Text& t, std::size_t i, const Text& s, bool fold) {
  for (std::size_t k = 0; k < s.size(); ++k) {
    if (fold ? Fold(t[i + k]) != Fold(s[k]) : t[i + k] != s[k]) return false;
  }
  return true;
}

// Walk [begin, end) from begin; every fitting character start that matches, in order.
std::optional<std::size_t> FirstMatch(const Text& t, const Text& s, std::size_t begin,
                                      std::size_t end, bool fold) {
  for (std::size_t i = begin; i < end; i += Step(t, i)) {
    if (end - i >= s.size() && MatchAt(t, i, s, fold)) return i;
  }
  return std::nullopt;
}

int RefFind(const Text& t, const Text& s, int start, bool fold) {
  const long long L = static_cast<long long>(t.size());
  if (start > L) return -1;
  const std::size_t begin = start <= 1 ? 0 : static_cast<std::size_t>(start - 1);
  if (begin >= t.size()) return -1;
  if (s.empty()) return 1;
  auto p = FirstMatch(t, s, begin, t.size(), fold);
  return p ? static_cast<int>(*p) + 1 : -1;
}

int RefFindReverse(const Text& t, const Text& s, std::optional<int> start, bool fold) {
  std::size_t end = t.size();
  if (start) {
    if (*start <= 1) return -1;
    end = std::min<std::size_t>(end, static_cast<std::size_t>(*start - 1));
  }
  if (end == 0) return -1;
  if (s.empty()) return 1;
  int last = -1;
  for (std::size_t i = 0; i < end; i += Step(t, i)) {
    if (end - i >= s.size() && MatchAt(t, i, s, fold)) last = static_cast<int>(i) + 1;
  }
  return last;
}

Text RefReplace(const Text& t, const Text& s, const Text& r, int start, int count, bool matchCase) {
  if (start < 1) start = 1;
  if (count < 0) count = -1;
  if (t.empty() || s.empty() || start > static_cast<int>(t.size()) || count == 0) return t;
  Text out = t.substr(0, static_cast<std::size_t>(start - 1));
  std::size_t i = static_cast<std::size_t>(start - 1);
  int done = 0;
  while (t.size() - i >= s.size()) {
    if (MatchAt(t, i, s, !matchCase)) {
      out += r;
      i += s.size();
      if (++done == count) break;
    } else {
      const std::size_t n = std::min(Step(t, i), t.size() - i);
      out += t.substr(i, n);
      i += n;
    }
  }
  return out + t.substr(i);
}

TextList RefSplit(const Text& t, const Text& d, std::optional<int> limit) {
  long long most = limit ? std::max(*limit, 0) : -1;
  TextList items;
  if (t.empty() || most == 0) return items;
  if (d.empty()) return {t};
  std::size_t itemStart = 0, i = 0;
  while (i < t.size()) {
    if (t.size() - i >= d.size() && MatchAt(t, i, d, false)) {
      items.push_back(t.substr(itemStart, i - itemStart));
      i += d.size();
      itemStart = i;
      if (static_cast<long long>(items.size()) == most) return items;
    } else {
      i += Step(t, i);
    }
  }
  if (itemStart < t.size()) items.push_back(t.substr(itemStart));
  return items;
}

Text RefTrim(const Text& t) {
  TextList chars;
  for (std::size_t i = 0; i < t.size(); i += Step(t, i)) chars.push_back(t.substr(i, Step(t, i)));
  auto space = [](const Text& c) { return c == " " || c == "\xA1\xA1"; };
  std::size_t a = 0, b = chars.size();
  while (a < b && space(chars[a])) ++a;
  while (b > a && space(chars[b - 1])) --b;
  Text out;
  for (std::size_t k = a; k < b; ++k) out += chars[k];
  return out;
}

Text RefBetween(const Text& t, const Text& front, const Text& back, int start, bool fold) {
  const Text quote = "#\xD2\xFD\xBA\xC5";
  const Text f = RefReplace(front, quote, "\"", 1, -1, true);
  const Text b = RefReplace(back, quote, "\"", 1, -1, true);
  const int p = RefFind(t, f, start, fold);
  if (p == -1) return {};
  const int c = p + static_cast<int>(f.size());
  const int q = RefFind(t, b, c, fold);
  if (q == -1 || q - c <= 0) return {};
  return t.substr(static_cast<std::size_t>(c - 1), static_cast<std::size_t>(q - c));
}

// The text with its ASCII letters in the other case.
Text SwapCase(Text t) {
  for (char& c : t) {
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') c ^= 0x20;
  }
  return t;
}

Text RefLeftOf(const Text& t, const Text& marker, int start, bool fold) {
  const int p = RefFind(t, marker, start, fold);
  return p <= 1 ? Text() : t.substr(0, static_cast<std::size_t>(p - 1));
}

// Bytes drawn mostly from a small alphabet, so that needles occur and boundaries matter. Both
// cases of two letters, and the bytes next to letters that folding must leave alone ('@', '`',
// '[', '{'), make case-insensitive hits that only the full comparison can tell apart.
Text MakeText(FuzzedDataProvider& in, std::size_t most) {
  static const char kAlphabet[] = {'a', 'A',    ';',    ' ',    '\x81', '\xA1', '\xD6', '\x40',
                                   'b', '"',    '\xD2', '\xFD', '\xBA', '\xC5', '#',    '\xA3',
                                   'B', '\x60', '[',    '{',    'z',    'Z'};
  const std::size_t n = in.ConsumeIntegralInRange<std::size_t>(0, most);
  Text t;
  for (std::size_t i = 0; i < n && in.remaining_bytes() > 0; ++i) {
    const unsigned char b = in.ConsumeIntegral<unsigned char>();
    t += b < 224 ? kAlphabet[b % sizeof kAlphabet] : static_cast<char>(b | 1);  // never 0
  }
  return t;
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "mismatch: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quenbrel;
  FuzzedDataProvider in(data, size);
  // A repeated chunk makes long periodic texts, where candidates that land on second bytes pile
  // up and the search leaves its fast path.
  const Text chunk = MakeText(in, 64);
  Text text;
  for (int reps = in.ConsumeIntegralInRange<int>(1, 200); reps > 0; --reps) text += chunk;
  const Text sought = in.ConsumeBool() ? MakeText(in, 6) : MakeText(in, 24) + chunk;
  const Text other = MakeText(in, 6);
  const int start = in.ConsumeIntegralInRange<int>(-3, 13000);
  const int count = in.ConsumeIntegralInRange<int>(-2, 8);
  const bool fold = in.ConsumeBool();
  const std::optional<int> maybe = in.ConsumeBool() ? std::optional<int>(start) : std::nullopt;

  Check(FindText(text, sought, start, fold) == RefFind(text, sought, start, fold), "FindText");
  Check(FindTextReverse(text, sought, maybe, fold) == RefFindReverse(text, sought, maybe, fold),
        "FindTextReverse");
  Check(ReplaceText(text, sought,
                    {.replacement = other, .start = start, .count = count, .matchCase = !fold}) ==
            RefReplace(text, sought, other, start, count, !fold),
        "ReplaceText");
  const std::optional<int> limit = in.ConsumeBool() ? std::optional<int>(count) : std::nullopt;
  Check(SplitText(text, sought, limit) == RefSplit(text, sought, limit), "SplitText");
  Check(TrimBoth(text) == RefTrim(text), "TrimBoth");
  Check(
      TextBetween(text, sought, other, start, fold) == RefBetween(text, sought, other, start, fold),
      "TextBetween");
  Check(TextLeftOf(text, sought, start, fold) == RefLeftOf(text, sought, start, fold),
        "TextLeftOf");

  // Case-insensitive searches, both ways, for a needle that surely has a letter to fold, planted
  // in the other case somewhere in the long text.
  const Text lettered = sought + (in.ConsumeBool() ? "a" : "Z");
  Text planted = text;
  planted.insert(in.ConsumeIntegralInRange<std::size_t>(0, planted.size()), SwapCase(lettered));
  Check(FindText(planted, lettered, start, true) == RefFind(planted, lettered, start, true),
        "FindText ignoreCase");
  Check(FindTextReverse(planted, lettered, maybe, true) ==
            RefFindReverse(planted, lettered, maybe, true),
        "FindTextReverse ignoreCase");
  return 0;
}
