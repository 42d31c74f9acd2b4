// Charset conversion: re-encodes bytes from one named charset into another through local text.
//
// ConvertCharset decodes data with fromCharset, holds the result as a Text (code page 936, see
// codepage.h), encodes that text with toCharset and drops the first startPosition bytes:
//
//   - Decoding skips a leading byte-order mark of fromCharset ("UTF-8": EF BB BF, "unicode":
//     FF FE, "unicodeFFFE": FE FF) and turns invalid sequences into U+FFFD.
//   - Holding the text as local text means that a character code page 936 lacks (an emoji, a
//     U+FFFD) arrives as "?" and that a U+0000 ends the text: the rest of data is lost.
//   - Encoding to "UTF-8" writes the byte-order mark EF BB BF first, to "unicode" (UTF-16LE)
//     FF FE and to "unicodeFFFE" (UTF-16BE) FE FF; that is why callers pass a start position of
//     3 or 2. A character toCharset lacks becomes "?". Text that comes out empty gives no bytes,
//     byte-order mark included.
//   - startPosition skips that many bytes of the encoded result; not given, 0 or negative: none;
//     at or beyond the end: the result is empty.
//
// Charset names are matched without regard to ASCII case against a table of the names Windows
// registers for its charsets: "utf-8", "unicode", "unicodeFFFE", "utf-32", "gb2312", "gbk",
// "chinese", "euc-cn", "cn-gb" (code page 936), "x-cp20936" (GB 2312 alone), "gb18030", "big5",
// "shift_jis", "euc-kr", "iso-8859-1", "latin2", "windows-1252", "us-ascii", "ibm437" and others
// (see charset.cc). Nothing is trimmed: " gbk" is unknown. An unknown name, empty data or
// anything else that fails gives empty bytes; no routine throws.
//
// Each name converts as the Windows code page of that name does, in both directions: control
// bytes keep their numbers, bytes a page leaves undefined in 80..9F pass through as the C1
// control of the same number, and a character the page lacks becomes "?" (pages 874, 936, 949
// and 950 also have Windows' best fit). Stateful charsets ("hz-gb-2312", "iso-2022-jp",
// "iso-2022-kr", "utf-7") end their output in their initial state, so bytes appended after it
// read as ASCII: "中" to "hz-gb-2312" is "~{VP~}".
//
// Examples (bytes written as strings):
//   ConvertCharset("\xE4\xB8\xAD")                                  == "\xD6\xD0"
//   ConvertCharset("\xD6\xD0", {.fromCharset = "gbk", .toCharset = "utf-8"})
//                                                                   == "\xEF\xBB\xBF\xE4\xB8\xAD"
//   ConvertCharset("a", {.fromCharset = "gbk", .toCharset = "unicode", .startPosition = 2})
//                                                                   == "a\0"
//   Text from, to;  ConvertCharset(data, from, to);   // now from == "UTF-8", to == "GBK"
//
// Threading: each thread opens the converters it needs on first use and keeps them until it
// ends; nothing is shared but read-only tables, so the routines are safe to call from any number
// of threads. REQUIRES: data shorter than 2^31 bytes.

#ifndef QUENBREL_CHARSET_CHARSET_H_
#define QUENBREL_CHARSET_CHARSET_H_

#include <optional>
#include <string_view>

#include "text/text.h"

namespace quenbrel {

// The charsets used when a charset is omitted or given as the empty text.
inline constexpr std::string_view kDefaultFromCharset = "UTF-8";
inline constexpr std::string_view kDefaultToCharset = "GBK";

struct ConvertOptions {
  std::string_view fromCharset = {};                // empty: "UTF-8"
  std::string_view toCharset = {};                  // empty: "GBK"
  std::optional<int> startPosition = std::nullopt;  // bytes of the result to skip; 0: none
};

// data re-encoded as options say; by default from UTF-8 to GBK.
Bytes ConvertCharset(const Bytes& data, const ConvertOptions& options = {});
// The same with the charsets in the caller's variables: an empty one is first set to its default
// ("UTF-8", "GBK"), in the variable too.
Bytes ConvertCharset(const Bytes& data, Text& fromCharset, Text& toCharset,
                     std::optional<int> startPosition = std::nullopt);

// The conversion itself, with the charsets as given (an empty name is unknown: empty bytes).
Bytes StreamConvert(const Bytes& data, std::string_view fromCharset, std::string_view toCharset,
                    std::optional<int> startPosition = std::nullopt);

}  // namespace quenbrel

#endif  // QUENBREL_CHARSET_CHARSET_H_
