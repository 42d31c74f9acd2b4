#include "text/text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "text/search.h"

namespace quenbrel {
namespace {

using internal::AfterMatch;
using internal::IsLeadByte;
using internal::Searcher;

constexpr std::size_t kNone = std::string_view::npos;

unsigned char ByteAt(std::string_view text, std::size_t i) {
  return static_cast<unsigned char>(text[i]);
}

// Length of the character that begins at i: 2 at a lead byte with a byte after it, else 1.
std::size_t CharLength(std::string_view text, std::size_t i) {
  return (IsLeadByte(ByteAt(text, i)) && i + 1 < text.size()) ? 2 : 1;
}

// Length of the space character at i (0x20, or the full-width A1 A1), or 0.
std::size_t SpaceLength(std::string_view text, std::size_t i) {
  if (text[i] == ' ') return 1;
  if (ByteAt(text, i) == 0xA1 && i + 1 < text.size() && ByteAt(text, i + 1) == 0xA1) return 2;
  return 0;
}

int ToPosition(std::size_t index) { return static_cast<int>(index) + 1; }

// Walks characters, copying each, with ASCII letters of one-byte characters mapped.
Text MapCase(std::string_view text, char from, char to) {
  Text out(text);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(out[i]);
    if (IsLeadByte(c)) {
      ++i;  // the second byte stays as it is
    } else if (c >= from && c <= from + 25) {
      out[i] = static_cast<char>(c - from + to);
    }
  }
  return out;
}

}  // namespace

int TextLength(std::string_view text) { return static_cast<int>(text.size()); }

Text TextLeft(std::string_view text, int count) {
  if (count <= 0) return {};
  return Text(text.substr(0, static_cast<std::size_t>(count)));
}

Text TextRight(std::string_view text, int count) {
  if (count <= 0) return {};
  const std::size_t n = std::min(text.size(), static_cast<std::size_t>(count));
  return Text(text.substr(text.size() - n));
}

Text TextMid(std::string_view text, int start, int count) {
  if (start < 1 || start > TextLength(text) || count <= 0) return {};
  return Text(text.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(count)));
}

int FindText(std::string_view text, std::string_view sought, int start, bool ignoreCase) {
  const std::size_t from = start <= 1 ? 0 : static_cast<std::size_t>(start - 1);
  if (from >= text.size()) return -1;
  if (sought.empty()) return 1;
  const std::size_t p = Searcher(sought, ignoreCase).Find(text, from, from, text.size());
  return p == kNone ? -1 : ToPosition(p);
}

int FindTextReverse(std::string_view text, std::string_view sought, std::optional<int> start,
                    bool ignoreCase) {
  std::size_t end = text.size();
  if (start.has_value()) {
    if (*start <= 1) return -1;
    end = std::min(end, static_cast<std::size_t>(*start - 1));
  }
  if (end == 0) return -1;
  if (sought.empty()) return 1;
  std::size_t last = kNone;
  Searcher(sought, ignoreCase).Scan(text, 0, 0, end, [&](std::size_t p) {
    last = p;
    return AfterMatch::kContinue;
  });
  return last == kNone ? -1 : ToPosition(last);
}

Text ReplaceText(std::string_view text, std::string_view sought, const ReplaceOptions& options) {
  const std::size_t from = options.start < 1 ? 0 : static_cast<std::size_t>(options.start - 1);
  if (text.empty() || sought.empty() || from >= text.size() || options.count == 0) {
    return Text(text);
  }
  Text out;
  out.reserve(text.size());
  std::size_t copied = 0;  // bytes of text already in out
  int left = options.count;
  Searcher(sought, !options.matchCase).Scan(text, from, from, text.size(), [&](std::size_t p) {
    out.append(text, copied, p - copied);
    out.append(options.replacement);
    copied = p + sought.size();
    return --left == 0 ? AfterMatch::kStop : AfterMatch::kRestart;
  });
  out.append(text, copied);
  return out;
}

TextList SplitText(std::string_view text, std::string_view delimiter, std::optional<int> limit) {
  const std::size_t most = limit.has_value() ? static_cast<std::size_t>(std::max(*limit, 0))
                                             : static_cast<std::size_t>(-1);
  TextList items;
  if (text.empty() || most == 0) return items;
  if (delimiter.empty()) return {Text(text)};
  std::size_t itemStart = 0;
  Searcher(delimiter, false).Scan(text, 0, 0, text.size(), [&](std::size_t p) {
    items.emplace_back(text.substr(itemStart, p - itemStart));
    itemStart = p + delimiter.size();
    return items.size() == most ? AfterMatch::kStop : AfterMatch::kRestart;
  });
  if (items.size() < most && itemStart < text.size()) items.emplace_back(text.substr(itemStart));
  return items;
}

Text TrimBoth(std::string_view text) {
  std::size_t first = kNone;  // start of the first character that is not a space
  std::size_t last = 0;       // end of the last such character
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t space = SpaceLength(text, i);
    if (space != 0) {
      i += space;
      continue;
    }
    if (first == kNone) first = i;
    i += CharLength(text, i);
    last = i;
  }
  if (first == kNone) return {};
  return Text(text.substr(first, last - first));
}

Text RemoveSpaces(std::string_view text) {
  Text out;
  out.reserve(text.size());
  std::size_t run = 0;  // start of the run of non-space characters not yet copied
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t space = SpaceLength(text, i);
    if (space == 0) {
      i += CharLength(text, i);
      continue;
    }
    out.append(text, run, i - run);
    i += space;
    run = i;
  }
  out.append(text, run);
  return out;
}

Text ToUpper(std::string_view text) { return MapCase(text, 'a', 'A'); }
Text ToLower(std::string_view text) { return MapCase(text, 'A', 'a'); }

int ToInteger(std::string_view text) {
  // Reads one character at a time with the full-width forms made single-byte: A3 xx (xx from A1
  // to FE) is the byte xx - 0x80 and A1 A1 is a space.
  std::size_t i = 0;
  auto next = [&]() -> int {
    if (i >= text.size()) return -1;
    const unsigned char c = ByteAt(text, i);
    if (IsLeadByte(c) && i + 1 < text.size()) {
      const unsigned char second = ByteAt(text, i + 1);
      i += 2;
      if (c == 0xA3 && second >= 0xA1 && second <= 0xFE) return second - 0x80;
      if (c == 0xA1 && second == 0xA1) return ' ';
      return 0x100;  // some other two-byte character: not a digit, sign or space
    }
    ++i;
    return c;
  };
  int c = next();
  while (c == ' ' || (c >= '\t' && c <= '\r')) c = next();
  bool negative = false;
  if (c == '+' || c == '-') {
    negative = c == '-';
    c = next();
  }
  std::uint32_t value = 0;
  for (; c >= '0' && c <= '9'; c = next())
    value = value * 10u + static_cast<std::uint32_t>(c - '0');
  if (negative) value = 0u - value;
  return static_cast<int>(value);
}

Text ToText(int value) {
  char buffer[16];
  const int n = std::snprintf(buffer, sizeof buffer, "%d", value);
  return Text(buffer, static_cast<std::size_t>(n));
}

Text ToText(double value) {
  char buffer[64];
  const int n = std::snprintf(buffer, sizeof buffer, "%.13g", value);
  return Text(buffer, static_cast<std::size_t>(std::clamp(n, 0, 63)));
}

Text ToText(const Bytes& bytes) {
  const auto zero = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
  return Text(bytes.begin(), zero);
}

Bytes ToBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

int CharCode(std::string_view text, int position) {
  if (position < 1 || position > TextLength(text)) return 0;
  return static_cast<signed char>(text[static_cast<std::size_t>(position - 1)]);
}

Text CharFromCode(int code) {
  const char byte = static_cast<char>(static_cast<unsigned>(code) & 0xFFu);
  return byte == 0 ? Text() : Text(1, byte);
}

Text BlankText(int count) {
  return count <= 0 ? Text() : Text(static_cast<std::size_t>(count), ' ');
}

int CompareText(std::string_view a, std::string_view b) {
  const int order = a.compare(b);  // char_traits<char> compares as unsigned char
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

Text ConcatTexts(std::initializer_list<std::string_view> parts) {
  std::size_t size = 0;
  for (std::string_view part : parts) size += part.size();
  Text out;
  out.reserve(size);
  for (std::string_view part : parts) out.append(part);
  return out;
}

int BytesLength(const Bytes& bytes) { return static_cast<int>(bytes.size()); }

Bytes BytesLeft(const Bytes& bytes, int count) {
  const std::size_t n = std::min(bytes.size(), static_cast<std::size_t>(std::max(count, 0)));
  return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
}

Bytes BlankBytes(int count) { return Bytes(static_cast<std::size_t>(std::max(count, 0)), 0); }

Bytes ConcatBytes(std::initializer_list<const Bytes*> parts) {
  std::size_t size = 0;
  for (const Bytes* part : parts) size += part->size();
  Bytes out;
  out.reserve(size);
  for (const Bytes* part : parts) out.insert(out.end(), part->begin(), part->end());
  return out;
}

bool CompareBytes(const Bytes& a, const Bytes& b) { return a == b; }

}  // namespace quenbrel
