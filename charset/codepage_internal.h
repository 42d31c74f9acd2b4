// Building blocks of the local code page shared by the charset routines; not for other folders.
//
// Encoding to the local code page uses a table shared read-only by all threads, decoding the
// calling thread's converter (see codepage.h). Inputs shorter than 2^31 bytes or code units.

#ifndef QUENBREL_CHARSET_CODEPAGE_INTERNAL_H_
#define QUENBREL_CHARSET_CODEPAGE_INTERNAL_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace quenbrel::charset_internal {

// bytes up to, not including, the first zero byte.
std::string_view UpToZeroByte(std::string_view bytes);
// units up to, not including, the first U+0000.
std::u16string_view UpToZeroUnit(std::u16string_view units);

// Writes units as code page 936 (best fit, otherwise "?" per code unit) at out, which has room
// for 2 bytes per unit; returns the end of what it wrote.
// REQUIRES: units holds no U+0000.
char* WriteUtf16AsLocal(std::u16string_view units, char* out);
// Writes UTF-8, up to its first zero byte, as code page 936 at out, which has room for
// utf8.size() bytes; invalid sequences count as U+FFFD. Returns the end of what it wrote.
char* WriteUtf8AsLocal(std::string_view utf8, char* out);

// Appends the local form of units (see WriteUtf16AsLocal) to out, a std::string or Bytes.
template <typename Buffer>
void AppendUtf16AsLocal(std::u16string_view units, Buffer& out) {
  const size_t start = out.size();
  out.resize(start + 2 * units.size());
  char* begin = reinterpret_cast<char*>(out.data()) + start;
  out.resize(start + static_cast<size_t>(WriteUtf16AsLocal(units, begin) - begin));
}
// Appends the local form of utf8 (see WriteUtf8AsLocal) to out, a std::string or Bytes.
template <typename Buffer>
void AppendUtf8AsLocal(std::string_view utf8, Buffer& out) {
  const size_t start = out.size();
  out.resize(start + utf8.size());
  char* begin = reinterpret_cast<char*>(out.data()) + start;
  out.resize(start + static_cast<size_t>(WriteUtf8AsLocal(utf8, begin) - begin));
}

// Appends code page 936 bytes as UTF-16 (broken pairs as U+FFFD).
void AppendLocalAsUtf16(std::string_view bytes, std::u16string& out);
// UTF-16 as UTF-8, lone surrogates as U+FFFD.
std::string EncodeUtf8(std::u16string_view units);

}  // namespace quenbrel::charset_internal

#endif  // QUENBREL_CHARSET_CODEPAGE_INTERNAL_H_
