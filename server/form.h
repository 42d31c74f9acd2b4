// Form bodies and long addresses: decoding, charset checks and validation for the short-link API.
//
// The tool posts "username=..&password=..&longurl=.." as application/x-www-form-urlencoded. Its
// values are percent-encoded over their code page 936 bytes; older tools sent the raw GBK bytes
// unescaped. Both arrive here: DecodeForm percent-decodes ("+" is a space), and ToUtf8 then
// checks the bytes strictly against the declared charset and converts them to UTF-8.
//
// Examples:
//   DecodeForm("a=1&b=x+y%26")   == {{"a", "1"}, {"b", "x y&"}}
//   DecodeForm("a=%zz")          == std::nullopt           (invalid percent-encoding)
//   ToUtf8("\xD6\xD0", kGbk)     == "中"
//   ToUtf8("\xD6", kGbk)         == std::nullopt           (a lead byte without its trail byte)
//   CheckLongUrl("javascript:alert(1)", {}) == "只支持 http 和 https 网址"
//
// Every routine is a pure function, safe from any thread.

#ifndef QUENBREL_SERVER_FORM_H_
#define QUENBREL_SERVER_FORM_H_

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quenbrel {

using FormFields = std::vector<std::pair<std::string, std::string>>;

// The fields of an urlencoded body in their order, percent-decoded, "+" as a space; nullopt
// when a "%" is not followed by two hex digits. Empty pieces ("a=1&&b=2") are skipped; a piece
// without "=" is a field with an empty value.
std::optional<FormFields> DecodeForm(std::string_view body);

// The value of the first field named name, or nullopt when there is none.
std::optional<std::string> FindField(const FormFields& fields, std::string_view name);

enum class BodyCharset { kGbk, kUtf8 };

// The charset a Content-Type declares: UTF-8 for "charset=utf-8" (any case, quoted or not),
// code page 936 otherwise.
BodyCharset CharsetOf(std::string_view contentType);

// True when bytes are well-formed code page 936: ASCII, 0x80 (the euro sign), or a lead byte
// 0x81..0xFE followed by a trail byte 0x40..0xFE other than 0x7F.
bool IsValidGbk(std::string_view bytes);
// True when bytes are well-formed UTF-8 (no overlong forms, no surrogates, at most U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// bytes as UTF-8 after a strict check against charset; nullopt when they are not valid in it or
// hold a zero byte.
std::optional<std::string> ToUtf8(std::string_view bytes, BodyCharset charset);

// The host and port of an address this service answers on, to refuse links to itself.
struct Origin {
  std::string host;  // lower case, without brackets
  int port = 0;
};

// The origin of an "http://host:port" base (the scheme's default port when none is given);
// nullopt when base is not an http or https address with a host.
std::optional<Origin> OriginOf(std::string_view base);

// The longest long address accepted, in UTF-8 bytes.
inline constexpr size_t kMaxLongUrlBytes = 8 * 1024;

// Empty when url (UTF-8) may be shortened: http or https, a host, at most 8 KB, no control
// character, not on one of the service's own origins. Otherwise the reason, in Chinese.
std::string CheckLongUrl(std::string_view url, const std::vector<Origin>& ownOrigins);

// url with every byte that may not stand in a Location header (non-ASCII, space, '"', '<', '>',
// '\\', '^', '`', '{', '|', '}', and a "%" that starts no escape) percent-encoded; escapes that
// are already there stay as they are.
std::string EncodeForLocation(std::string_view url);

// text as the body of a JSON string (without the quotes): '"', '\\' and control characters
// escaped, everything else kept as its UTF-8 bytes.
std::string JsonEscape(std::string_view text);

}  // namespace quenbrel

#endif  // QUENBREL_SERVER_FORM_H_
