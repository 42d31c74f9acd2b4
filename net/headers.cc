#include "net/headers.h"

namespace quenbrel {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kAgentName = "User-Agent:";
constexpr int kPostMethod = 1;  // index of POST in the method table

// Whether a default row adds its line to headers as they stand now.
bool DefaultLineApplies(const DefaultHeaderLine& row, std::string_view headers, int method) {
  switch (row.condition) {
    case DefaultLineCondition::kTextEmpty:
      return headers.empty();
    case DefaultLineCondition::kNameMissing:
      return FindText(headers, row.name, 1, /*ignoreCase=*/true) == -1;
    case DefaultLineCondition::kPostAndNameMissing:
      return method == kPostMethod && FindText(headers, row.name, 1, /*ignoreCase=*/true) == -1;
  }
  return false;
}

// The header name rewritten into capitalised words. A name ending in "-" comes back one byte
// shorter, because the split drops the empty part after the final "-".
Text CapitalizeName(std::string_view name) {
  if (FindText(name, "-") == -1) return CapitalizeWord(name);
  Text joined;
  bool first = true;
  for (const Text& part : SplitText(name, "-")) {
    if (!first) joined += "-";
    joined += CapitalizeWord(part);
    first = false;
  }
  return joined;
}

}  // namespace

Text UserAgentFromHeaders(std::string_view headers) {
  int found = FindText(headers, kAgentName, 1, /*ignoreCase=*/true);
  if (found == -1) return Text(kDefaultUserAgent);
  // The added line end lets a last line without one yield its value.
  Text text = ConcatTexts(headers, kLineEnd);
  Text agent = TrimBoth(TextBetween(text, kAgentName, kLineEnd));
  if (!agent.empty()) return agent;
  // No "User-Agent:" in that case, or a blank value: take the value of the line that the
  // case-blind search found, up to its line end or the end of the text. (Taking what follows the
  // first ":" of the whole header text instead would hand over another header's value and the
  // lines after it, line ends included.)
  int start = found + TextLength(kAgentName);
  int end = FindText(headers, kLineEnd, start);
  if (end == -1) end = TextLength(headers) + 1;
  return TrimBoth(TextMid(headers, start, end - start));
}

void CompleteRequestHeaders(Text& headers, std::string_view url, int method,
                            std::string_view cookies, bool addDefaultHeaders,
                            bool normalizeHeaderNames) {
  if (addDefaultHeaders) {
    for (const DefaultHeaderLine& row : kDefaultHeaderLines) {
      if (!DefaultLineApplies(row, headers, method)) continue;
      std::string_view url_part = row.appendUrl ? url : std::string_view();
      if (row.condition == DefaultLineCondition::kTextEmpty) {
        headers = ConcatTexts(row.line, url_part);
      } else {
        headers = ConcatTexts(headers, kLineEnd, row.line, url_part);
      }
    }
  }
  if (normalizeHeaderNames) headers = NormalizeHeaderNames(headers);
  if (!cookies.empty()) {
    // A cookie text that already holds "Cookie:" is a whole line of the caller's own.
    if (FindText(cookies, "Cookie:") != -1) {
      headers = ConcatTexts(headers, kLineEnd, cookies);
    } else {
      headers = ConcatTexts(headers, kLineEnd, "Cookie: ", cookies);
    }
  }
}

Text HeaderValue(std::string_view text) {
  int p = FindText(text, ":");
  if (p == -1) return Text();
  return TrimBoth(TextRight(text, TextLength(text) - p));
}

Text NormalizeHeaderNames(std::string_view text) {
  Text result;
  for (const Text& line : SplitText(text, kLineEnd)) {
    int p = FindText(line, ":");
    if (p == -1) continue;
    Text name = CapitalizeName(TextMid(line, 1, p - 1));
    // From the end of the rewritten name on: the ":" and the value, and a final "-" of the name
    // where the rewritten name is one byte shorter.
    Text rest = TextRight(line, TextLength(line) - TextLength(name));
    result += name;
    result += rest;
    result += kLineEnd;
  }
  return TextLeft(result, TextLength(result) - TextLength(kLineEnd));
}

Text CapitalizeWord(std::string_view text) {
  return ConcatTexts(ToUpper(TextLeft(text, 1)), TextMid(text, 2, TextLength(text)));
}

}  // namespace quenbrel
