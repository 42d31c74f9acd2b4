// Request header text: the agent, the default lines, name normalisation and the cookie line.
//
// A header text is one Text of lines joined by CRLF, each a name, ": " and a value, with no CRLF
// after the last line once normalised. Apart from NormalizeHeaderNames, which takes the text
// apart into lines, every check is a plain substring search on the whole text: a name is looked
// for as the name followed by ":" anywhere, ignoring ASCII case, so "X-Accept: 1" counts as an
// "Accept:" line.
//
// Examples:
//   UserAgentFromHeaders("User-Agent: Foo/1.0\r\nAccept: */*")  == "Foo/1.0"
//   UserAgentFromHeaders("Accept: */*")                         == kDefaultUserAgent
//   HeaderValue("Name:  v ")                                    == "v"
//   NormalizeHeaderNames("x-requested-with: a\r\nno colon")     == "X-Requested-With: a"
//   CapitalizeWord("etag")                                      == "Etag"
//   Text h; CompleteRequestHeaders(h, "http://a/", 0, "k=1", true, true);
//   // h == "Accept: */*\r\nReferer: http://a/\r\nAccept-Language: zh-cn\r\nCookie: k=1"
//
// All routines but CompleteRequestHeaders return a new value and only read their arguments;
// CompleteRequestHeaders rewrites the header text it is given. Thread safety: no shared state.

#ifndef QUENBREL_NET_HEADERS_H_
#define QUENBREL_NET_HEADERS_H_

#include <array>
#include <string_view>

#include "text/text.h"

namespace quenbrel {

// The agent used when the header text names none.
inline constexpr std::string_view kDefaultUserAgent =
    "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

// When a default line applies.
enum class DefaultLineCondition {
  kTextEmpty,    // the header text is empty: it becomes the line itself, with no leading CRLF
  kNameMissing,  // the name is nowhere in the text: CRLF and the line are appended
  kPostAndNameMissing,  // as kNameMissing, for the POST method (index 1) only
};

// One row of the default-line table.
struct DefaultHeaderLine {
  DefaultLineCondition condition;
  std::string_view name;  // looked for, ignoring case; includes the ":"
  std::string_view line;  // the text added
  bool appendUrl;         // the request address follows the line, exactly as the caller gave it
};

// The default lines, applied from top to bottom, each test made on the text as the rows above
// have left it.
inline constexpr std::array<DefaultHeaderLine, 5> kDefaultHeaderLines = {{
    {DefaultLineCondition::kTextEmpty, "", "Accept: */*", false},
    {DefaultLineCondition::kNameMissing, "Accept:", "Accept: */*", false},
    {DefaultLineCondition::kNameMissing, "Referer:", "Referer: ", true},
    {DefaultLineCondition::kNameMissing, "Accept-Language:", "Accept-Language: zh-cn", false},
    {DefaultLineCondition::kPostAndNameMissing,
     "Content-Type:", "Content-Type: application/x-www-form-urlencoded", false},
}};

// The agent for the session: kDefaultUserAgent when the text has no "User-Agent:" in any case;
// else the trimmed value after the first "User-Agent:" in exactly that case, up to the next CRLF;
// when that is missing or blank, the trimmed value after the first one in any case, up to the
// next CRLF or the end of the text. Empty when the agent named is blank. Never holds a line end.
Text UserAgentFromHeaders(std::string_view headers);

// Completes headers in place, in this order: the default-line table when addDefaultHeaders,
// NormalizeHeaderNames when normalizeHeaderNames, then, when cookies is not empty, CRLF and
// cookies unchanged if it holds "Cookie:" (exact case), else CRLF, "Cookie: " and cookies.
// REQUIRES: method is an index of the method table (0 to 7); 1 is POST.
void CompleteRequestHeaders(Text& headers, std::string_view url, int method,
                            std::string_view cookies, bool addDefaultHeaders,
                            bool normalizeHeaderNames);

// The trimmed part of text right of its first ":"; empty when text has no ":".
Text HeaderValue(std::string_view text);

// text with every line that has no ":" dropped (empty lines included) and, in the name before
// the first ":" of each other line, the first byte and each byte after a "-" upper-cased. Lines
// are rejoined by CRLF with none after the last. Applying it twice changes nothing more.
Text NormalizeHeaderNames(std::string_view text);

// text with its first byte upper-cased (ASCII letters only); empty stays empty.
Text CapitalizeWord(std::string_view text);

}  // namespace quenbrel

#endif  // QUENBREL_NET_HEADERS_H_
