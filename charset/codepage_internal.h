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
// How far WriteUtf8AsLocal got.
struct Utf8Written {
  size_t consumed;  // bytes of the input converted
  char* end;        // end of what was written
  bool done;        // the input was converted up to its end or its first zero byte
};
// Writes UTF-8, up to its first zero byte, as code page 936 into [out, outEnd); invalid sequences
// count as U+FFFD. Stops early, between characters, when the next one does not fit. Each
// character gives at most as many bytes as its UTF-8 form has.
Utf8Written WriteUtf8AsLocal(std::string_view utf8, char* out, char* outEnd);
// The size of the local form of well-formed UTF-8: one byte per byte that is not a continuation
// byte, and one more per lead byte of a sequence (exact for text of ASCII and three-byte
// characters). Invalid input may need more; it never needs more than utf8.size().
size_t EstimateUtf8AsLocalSize(std::string_view utf8);

// Asks the system to back [data, data + size) with huge pages where it is large: a buffer that is
// written once then costs far fewer page faults.
void AdviseHugePages(void* data, size_t size);

// Sets the size of out, a std::string or Bytes, to size; storage it has to add for that is
// allocated once, for exactly that size, and advised for huge pages before it is first touched.
template <typename Buffer>
void ResizeForWriting(Buffer& out, size_t size) {
  if (size > out.capacity()) {
    out.reserve(size);
    AdviseHugePages(reinterpret_cast<char*>(out.data()) + out.size(), out.capacity() - out.size());
  }
  out.resize(size);
}

// Appends the local form of units (see WriteUtf16AsLocal) to out, a std::string or Bytes.
template <typename Buffer>
void AppendUtf16AsLocal(std::u16string_view units, Buffer& out) {
  const size_t start = out.size();
  out.resize(start + 2 * units.size());
  char* begin = reinterpret_cast<char*>(out.data()) + start;
  out.resize(start + static_cast<size_t>(WriteUtf16AsLocal(units, begin) - begin));
}
// Appends the local form of utf8 (see WriteUtf8AsLocal) to out, a std::string or Bytes. The room
// is sized by EstimateUtf8AsLocalSize and grown only for invalid input, so a large conversion
// touches little more fresh memory than its result needs.
template <typename Buffer>
void AppendUtf8AsLocal(std::string_view utf8, Buffer& out) {
  const size_t start = out.size();
  size_t written = 0;
  size_t room = EstimateUtf8AsLocalSize(utf8);
  for (;;) {
    ResizeForWriting(out, start + written + room);
    char* const begin = reinterpret_cast<char*>(out.data()) + start;
    const Utf8Written step = WriteUtf8AsLocal(utf8, begin + written, begin + written + room);
    written = static_cast<size_t>(step.end - begin);
    if (step.done) break;
    utf8.remove_prefix(step.consumed);
    room = utf8.size();  // always enough
  }
  out.resize(start + written);
}

// Appends code page 936 bytes as UTF-16 (broken pairs as U+FFFD).
void AppendLocalAsUtf16(std::string_view bytes, std::u16string& out);
// UTF-16 as UTF-8, lone surrogates as U+FFFD.
std::string EncodeUtf8(std::u16string_view units);

}  // namespace quenbrel::charset_internal

#endif  // QUENBREL_CHARSET_CODEPAGE_INTERNAL_H_
