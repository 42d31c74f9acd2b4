#include "text/text.h"

namespace quenbrel {
namespace {

// "#引号" in code page 936: a marker's stand-in for a double quote.
constexpr std::string_view kQuoteToken = "#\xD2\xFD\xBA\xC5";

}  // namespace

Text TextBetween(std::string_view text, std::string_view front, std::string_view back, int start,
                 bool ignoreCase) {
  const Text frontMarker = ReplaceText(front, kQuoteToken, {.replacement = "\""});
  const Text backMarker = ReplaceText(back, kQuoteToken, {.replacement = "\""});
  const int p = FindText(text, frontMarker, start, ignoreCase);
  if (p == -1) return {};
  const int c = p + TextLength(frontMarker);
  const int q = FindText(text, backMarker, c, ignoreCase);
  if (q == -1) return {};
  return TextMid(text, c, q - c);
}

Text TextLeftOf(std::string_view text, std::string_view marker, int start, bool ignoreCase) {
  const int p = FindText(text, marker, start, ignoreCase);
  if (p == -1) return {};
  return TextLeft(text, p - 1);
}

}  // namespace quenbrel
