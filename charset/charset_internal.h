// Decoding and encoding with one named charset, without the local text in between: what the
// charset routines use on either side of the local text, open to the tests that compare each code
// page with its reference tables. Not for other folders.
//
// The names and their behaviour are those of ConvertCharset (charset.h): invalid sequences decode
// to U+FFFD and characters a charset lacks encode to "?" (or the code page's best fit). Unlike
// ConvertCharset these neither skip nor write a byte-order mark, and decoding keeps U+0000.
// Threading as in charset.h. REQUIRES: inputs shorter than 2^31 bytes or code units.

#ifndef QUENBREL_CHARSET_CHARSET_INTERNAL_H_
#define QUENBREL_CHARSET_CHARSET_INTERNAL_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenbrel::charset_internal {

// The names of the charset table, in table order.
std::vector<std::string_view> CharsetNames();
// data decoded with the named charset, all of it; nullopt for an unknown name.
std::optional<std::u16string> DecodeCharset(std::string_view charsetName, std::string_view data);
// units, up to the first U+0000, encoded with the named charset; nullopt for an unknown name or a
// converter that cannot be opened.
std::optional<std::string> EncodeCharset(std::string_view charsetName, std::u16string_view units);

}  // namespace quenbrel::charset_internal

#endif  // QUENBREL_CHARSET_CHARSET_INTERNAL_H_
