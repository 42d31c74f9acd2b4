// Building blocks of the local code page shared by the charset routines; not for other folders.
//
// The Append routines append to out and take input already cut at its first zero (see
// UpToZeroByte and UpToZeroUnit). Encoding uses a table shared read-only by all threads,
// decoding the calling thread's converter (see codepage.h). Inputs shorter than 2^31 bytes or
// code units.

#ifndef QUENBREL_CHARSET_CODEPAGE_INTERNAL_H_
#define QUENBREL_CHARSET_CODEPAGE_INTERNAL_H_

#include <string>
#include <string_view>

namespace quenbrel::charset_internal {

// bytes up to, not including, the first zero byte.
std::string_view UpToZeroByte(std::string_view bytes);
// units up to, not including, the first U+0000.
std::u16string_view UpToZeroUnit(std::u16string_view units);

// Appends units as code page 936 (best fit, otherwise "?" per code unit).
// REQUIRES: units holds no U+0000.
void AppendUtf16AsLocal(std::u16string_view units, std::string& out);
// Appends UTF-8 as code page 936; invalid sequences count as U+FFFD.
// REQUIRES: utf8 holds no zero byte.
void AppendUtf8AsLocal(std::string_view utf8, std::string& out);
// Appends code page 936 bytes as UTF-16 (broken pairs as U+FFFD).
void AppendLocalAsUtf16(std::string_view bytes, std::u16string& out);
// UTF-16 as UTF-8, lone surrogates as U+FFFD.
std::string EncodeUtf8(std::u16string_view units);

}  // namespace quenbrel::charset_internal

#endif  // QUENBREL_CHARSET_CODEPAGE_INTERNAL_H_
