// The local code page: conversions between Text (code page 936) and UTF-16 or UTF-8.
//
// Every Text of the tool is a byte string in code page 936 (GBK as Windows defines it). These
// routines cross between that code page and Unicode exactly as the Windows ANSI conversion does:
//
//   To Unicode:   all 24,070 codes of the code page: the 128 ASCII bytes, 0x80 = U+20AC, 0xFF =
//                 U+F8F5, and every lead byte 0x81..0xFE with every trail byte 0x40..0xFE but
//                 0x7F (the user-defined areas map to the private use area). A lead byte followed
//                 by nothing or by a byte that cannot be a trail byte decodes to U+FFFD, and that
//                 next byte is decoded by itself: "\x81\"" gives U+FFFD '"'.
//   From Unicode: round-trip codes first, then the code page's best fit (U+00C9 'É' -> A8 A6,
//                 U+00B2 '²' -> "2"), and the default character "?" for every other UTF-16 code
//                 unit. That includes the default-ignorable characters (U+200B, U+FEFF, U+FE0F,
//                 ...), which are never dropped, and U+FFE9..U+FFEE, which never become control
//                 bytes. A supplementary character (an emoji) is two UTF-16 code units that the
//                 code page lacks, so it becomes "??"; a lone surrogate becomes "?".
//   Zero:         a U+0000 character or a zero byte ends the text; the rest is ignored. So the
//                 results are texts in the Text sense: no zero byte, no U+0000.
//
// Invalid UTF-8 given to Utf8ToLocal decodes to U+FFFD first, which then becomes "?".
//
// REQUIRES (all routines): inputs shorter than 2^31 bytes or code units.
//
// Examples:
//   Utf8ToLocal("中文")               == "\xD6\xD0\xCE\xC4"
//   Utf16ToLocal(u"É²\u200B")         == "\xA8\xA6" "2?"
//   Utf16ToLocal(u"a\U0001F600b")     == "a??b"
//   LocalToUtf16("\x80\xFF")          == u"\u20AC\uF8F5"
//   LocalToUtf8("ab\0cd" as 5 bytes)  == "ab"
//
// Threading: decoding uses the calling thread's own converter, opened on its first call and kept
// until the thread ends; encoding uses one read-only table, built from the same converter data on
// the first call in the process. Nothing is opened before the first call and nothing mutable is
// shared, so every routine is safe to call from any number of threads. If ICU cannot open the
// converter, the results are empty.

#ifndef QUENBREL_CHARSET_CODEPAGE_H_
#define QUENBREL_CHARSET_CODEPAGE_H_

#include <string>
#include <string_view>

#include "text/text.h"

namespace quenbrel {

// Code page 936 bytes (up to the first zero byte) as UTF-16.
std::u16string LocalToUtf16(std::string_view text);
// UTF-16 (up to the first U+0000) as code page 936: best fit, otherwise "?" per code unit.
Text Utf16ToLocal(std::u16string_view text);
// Code page 936 bytes (up to the first zero byte) as UTF-8.
std::string LocalToUtf8(std::string_view text);
// UTF-8 (up to the first zero byte; invalid sequences count as U+FFFD) as code page 936.
Text Utf8ToLocal(std::string_view utf8);

}  // namespace quenbrel

#endif  // QUENBREL_CHARSET_CODEPAGE_H_
