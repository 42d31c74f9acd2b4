// Building blocks of the local code page shared by the charset routines; not for other folders.
//
// The Append routines take input already cut at its first zero and append to out; they use the
// calling thread's converter (see codepage.h). Inputs shorter than 2^31 bytes or code units.

#ifndef QUENBREL_CHARSET_CODEPAGE_INTERNAL_H_
#define QUENBREL_CHARSET_CODEPAGE_INTERNAL_H_

#include <string>
#include <string_view>

#include "text/text.h"

namespace quenbrel::charset_internal {

// Appends units as code page 936 (best fit, otherwise "?" per code unit).
// REQUIRES: units holds no U+0000.
void AppendUtf16AsLocal(std::u16string_view units, Text& out);
// Appends the code page 936 bytes as UTF-16 (broken pairs as U+FFFD).
void AppendLocalAsUtf16(std::string_view bytes, std::u16string& out);
// UTF-8 as UTF-16, invalid sequences as U+FFFD; zero bytes stay U+0000.
std::u16string DecodeUtf8(std::string_view utf8);
// UTF-16 as UTF-8, lone surrogates as U+FFFD.
std::string EncodeUtf8(std::u16string_view units);

}  // namespace quenbrel::charset_internal

#endif  // QUENBREL_CHARSET_CODEPAGE_INTERNAL_H_
