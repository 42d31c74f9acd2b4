// Charset conversion through local text: ICU decodes and encodes, the local code page
// (codepage.cc) holds the text in between.

#include "charset/charset.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "charset/charset_internal.h"
#include "charset/codepage_internal.h"

namespace quenbrel {
namespace {

enum class Encoding {
  kLocal,    // code page 936: the local text is already the result
  kUtf8,     // byte-order mark EF BB BF
  kUtf16Le,  // byte-order mark FF FE
  kUtf16Be,  // byte-order mark FE FF
  kOther,    // an ICU converter, no byte-order mark
};

struct Charset {
  std::string_view name;  // as Windows registers it; matched without regard to case
  Encoding encoding;
  const char* converter;  // ICU converter name
};

// The charset names the routines accept, modelled on the names Windows registers, most used
// first. "iso-8859-1" is true Latin-1 (code page 28591), "us-ascii" seven-bit ASCII.
constexpr Charset kCharsets[] = {
    {"utf-8", Encoding::kUtf8, "UTF-8"},
    {"gbk", Encoding::kLocal, "windows-936-2000"},
    {"gb2312", Encoding::kLocal, "windows-936-2000"},
    {"unicode", Encoding::kUtf16Le, "UTF-16LE"},
    {"unicodeFFFE", Encoding::kUtf16Be, "UTF-16BE"},
    {"chinese", Encoding::kLocal, "windows-936-2000"},
    {"cp936", Encoding::kLocal, "windows-936-2000"},
    {"windows-936", Encoding::kLocal, "windows-936-2000"},
    {"csgb2312", Encoding::kLocal, "windows-936-2000"},
    {"csiso58gb231280", Encoding::kLocal, "windows-936-2000"},
    {"gb_2312-80", Encoding::kLocal, "windows-936-2000"},
    {"iso-ir-58", Encoding::kLocal, "windows-936-2000"},
    {"x-gbk", Encoding::kLocal, "windows-936-2000"},
    {"euc-cn", Encoding::kLocal, "windows-936-2000"},
    {"x-euc-cn", Encoding::kLocal, "windows-936-2000"},
    {"cn-gb", Encoding::kLocal, "windows-936-2000"},
    {"gb231280", Encoding::kLocal, "windows-936-2000"},
    {"gb_2312", Encoding::kLocal, "windows-936-2000"},
    {"x-cp20936", Encoding::kOther, "ibm-1383"},
    {"unicode-1-1-utf-8", Encoding::kUtf8, "UTF-8"},
    {"unicode-2-0-utf-8", Encoding::kUtf8, "UTF-8"},
    {"x-unicode20utf8", Encoding::kUtf8, "UTF-8"},
    {"x-unicode11utf8", Encoding::kUtf8, "UTF-8"},
    {"utf-16", Encoding::kUtf16Le, "UTF-16LE"},
    {"utf-16le", Encoding::kUtf16Le, "UTF-16LE"},
    {"ucs-2", Encoding::kUtf16Le, "UTF-16LE"},
    {"iso-10646-ucs-2", Encoding::kUtf16Le, "UTF-16LE"},
    {"csunicode", Encoding::kUtf16Le, "UTF-16LE"},
    {"utf-16be", Encoding::kUtf16Be, "UTF-16BE"},
    {"utf-32", Encoding::kOther, "UTF-32LE"},
    {"utf-32le", Encoding::kOther, "UTF-32LE"},
    {"utf-32be", Encoding::kOther, "UTF-32BE"},
    {"utf-7", Encoding::kOther, "UTF-7"},
    {"unicode-1-1-utf-7", Encoding::kOther, "UTF-7"},
    {"unicode-2-0-utf-7", Encoding::kOther, "UTF-7"},
    {"csunicode11utf7", Encoding::kOther, "UTF-7"},
    {"gb18030", Encoding::kOther, "gb18030"},
    {"hz-gb-2312", Encoding::kOther, "HZ"},
    {"big5", Encoding::kOther, "windows-950-2000"},
    {"cn-big5", Encoding::kOther, "windows-950-2000"},
    {"csbig5", Encoding::kOther, "windows-950-2000"},
    {"x-x-big5", Encoding::kOther, "windows-950-2000"},
    {"shift_jis", Encoding::kOther, "windows-932"},
    {"shift-jis", Encoding::kOther, "windows-932"},
    {"csshiftjis", Encoding::kOther, "windows-932"},
    {"cswindows31j", Encoding::kOther, "windows-932"},
    {"ms_kanji", Encoding::kOther, "windows-932"},
    {"x-ms-cp932", Encoding::kOther, "windows-932"},
    {"x-sjis", Encoding::kOther, "windows-932"},
    {"sjis", Encoding::kOther, "windows-932"},
    {"euc-jp", Encoding::kOther, "EUC-JP"},
    {"extended_unix_code_packed_format_for_japanese", Encoding::kOther, "EUC-JP"},
    {"x-euc-jp", Encoding::kOther, "EUC-JP"},
    {"cseucpkdfmtjapanese", Encoding::kOther, "EUC-JP"},
    {"iso-2022-jp", Encoding::kOther, "ISO-2022-JP"},
    {"csiso2022jp", Encoding::kOther, "ISO-2022-JP"},
    {"euc-kr", Encoding::kOther, "windows-949-2000"},
    {"cseuckr", Encoding::kOther, "windows-949-2000"},
    {"ks_c_5601-1987", Encoding::kOther, "windows-949-2000"},
    {"ks_c_5601", Encoding::kOther, "windows-949-2000"},
    {"ks_c_5601_1987", Encoding::kOther, "windows-949-2000"},
    {"ks_c_5601-1989", Encoding::kOther, "windows-949-2000"},
    {"ksc5601", Encoding::kOther, "windows-949-2000"},
    {"ksc_5601", Encoding::kOther, "windows-949-2000"},
    {"csksc56011987", Encoding::kOther, "windows-949-2000"},
    {"iso-ir-149", Encoding::kOther, "windows-949-2000"},
    {"korean", Encoding::kOther, "windows-949-2000"},
    {"iso-2022-kr", Encoding::kOther, "ISO-2022-KR"},
    {"csiso2022kr", Encoding::kOther, "ISO-2022-KR"},
    {"windows-874", Encoding::kOther, "windows-874-2000"},
    {"dos-874", Encoding::kOther, "windows-874-2000"},
    {"iso-8859-11", Encoding::kOther, "windows-874-2000"},
    {"tis-620", Encoding::kOther, "windows-874-2000"},
    {"windows-1250", Encoding::kOther, "windows-1250"},
    {"x-cp1250", Encoding::kOther, "windows-1250"},
    {"windows-1251", Encoding::kOther, "windows-1251"},
    {"x-cp1251", Encoding::kOther, "windows-1251"},
    {"windows-1252", Encoding::kOther, "windows-1252"},
    {"windows-1253", Encoding::kOther, "windows-1253"},
    {"windows-1254", Encoding::kOther, "windows-1254"},
    {"windows-1255", Encoding::kOther, "windows-1255"},
    {"windows-1256", Encoding::kOther, "windows-1256"},
    {"windows-1257", Encoding::kOther, "windows-1257"},
    {"windows-1258", Encoding::kOther, "windows-1258"},
    {"iso-8859-1", Encoding::kOther, "ISO-8859-1"},
    {"iso_8859-1:1987", Encoding::kOther, "ISO-8859-1"},
    {"iso_8859-1", Encoding::kOther, "ISO-8859-1"},
    {"iso8859-1", Encoding::kOther, "ISO-8859-1"},
    {"latin1", Encoding::kOther, "ISO-8859-1"},
    {"l1", Encoding::kOther, "ISO-8859-1"},
    {"cp819", Encoding::kOther, "ISO-8859-1"},
    {"ibm819", Encoding::kOther, "ISO-8859-1"},
    {"iso-ir-100", Encoding::kOther, "ISO-8859-1"},
    {"csisolatin1", Encoding::kOther, "ISO-8859-1"},
    {"iso-8859-2", Encoding::kOther, "ISO-8859-2"},
    {"iso_8859-2", Encoding::kOther, "ISO-8859-2"},
    {"iso8859-2", Encoding::kOther, "ISO-8859-2"},
    {"iso_8859-2:1987", Encoding::kOther, "ISO-8859-2"},
    {"iso-ir-101", Encoding::kOther, "ISO-8859-2"},
    {"latin2", Encoding::kOther, "ISO-8859-2"},
    {"l2", Encoding::kOther, "ISO-8859-2"},
    {"csisolatin2", Encoding::kOther, "ISO-8859-2"},
    {"iso-8859-3", Encoding::kOther, "ISO-8859-3"},
    {"iso_8859-3", Encoding::kOther, "ISO-8859-3"},
    {"iso_8859-3:1988", Encoding::kOther, "ISO-8859-3"},
    {"iso-ir-109", Encoding::kOther, "ISO-8859-3"},
    {"latin3", Encoding::kOther, "ISO-8859-3"},
    {"l3", Encoding::kOther, "ISO-8859-3"},
    {"csisolatin3", Encoding::kOther, "ISO-8859-3"},
    {"iso-8859-4", Encoding::kOther, "ISO-8859-4"},
    {"iso_8859-4", Encoding::kOther, "ISO-8859-4"},
    {"iso_8859-4:1988", Encoding::kOther, "ISO-8859-4"},
    {"iso-ir-110", Encoding::kOther, "ISO-8859-4"},
    {"latin4", Encoding::kOther, "ISO-8859-4"},
    {"l4", Encoding::kOther, "ISO-8859-4"},
    {"csisolatin4", Encoding::kOther, "ISO-8859-4"},
    {"iso-8859-5", Encoding::kOther, "ISO-8859-5"},
    {"iso_8859-5", Encoding::kOther, "ISO-8859-5"},
    {"iso_8859-5:1988", Encoding::kOther, "ISO-8859-5"},
    {"iso-ir-144", Encoding::kOther, "ISO-8859-5"},
    {"cyrillic", Encoding::kOther, "ISO-8859-5"},
    {"csisolatincyrillic", Encoding::kOther, "ISO-8859-5"},
    {"iso-8859-6", Encoding::kOther, "ISO-8859-6"},
    {"iso_8859-6", Encoding::kOther, "ISO-8859-6"},
    {"iso_8859-6:1987", Encoding::kOther, "ISO-8859-6"},
    {"iso-ir-127", Encoding::kOther, "ISO-8859-6"},
    {"arabic", Encoding::kOther, "ISO-8859-6"},
    {"ecma-114", Encoding::kOther, "ISO-8859-6"},
    {"csisolatinarabic", Encoding::kOther, "ISO-8859-6"},
    {"iso-8859-7", Encoding::kOther, "ISO-8859-7"},
    {"iso_8859-7", Encoding::kOther, "ISO-8859-7"},
    {"iso_8859-7:1987", Encoding::kOther, "ISO-8859-7"},
    {"iso-ir-126", Encoding::kOther, "ISO-8859-7"},
    {"greek", Encoding::kOther, "ISO-8859-7"},
    {"greek8", Encoding::kOther, "ISO-8859-7"},
    {"elot_928", Encoding::kOther, "ISO-8859-7"},
    {"ecma-118", Encoding::kOther, "ISO-8859-7"},
    {"csisolatingreek", Encoding::kOther, "ISO-8859-7"},
    {"iso-8859-8", Encoding::kOther, "ISO-8859-8"},
    {"iso_8859-8", Encoding::kOther, "ISO-8859-8"},
    {"iso_8859-8:1988", Encoding::kOther, "ISO-8859-8"},
    {"iso-ir-138", Encoding::kOther, "ISO-8859-8"},
    {"hebrew", Encoding::kOther, "ISO-8859-8"},
    {"visual", Encoding::kOther, "ISO-8859-8"},
    {"csisolatinhebrew", Encoding::kOther, "ISO-8859-8"},
    {"iso-8859-9", Encoding::kOther, "ISO-8859-9"},
    {"iso_8859-9", Encoding::kOther, "ISO-8859-9"},
    {"iso_8859-9:1989", Encoding::kOther, "ISO-8859-9"},
    {"iso-ir-148", Encoding::kOther, "ISO-8859-9"},
    {"latin5", Encoding::kOther, "ISO-8859-9"},
    {"l5", Encoding::kOther, "ISO-8859-9"},
    {"csisolatin5", Encoding::kOther, "ISO-8859-9"},
    {"iso-8859-13", Encoding::kOther, "ISO-8859-13"},
    {"iso-8859-15", Encoding::kOther, "ISO-8859-15"},
    {"iso_8859-15", Encoding::kOther, "ISO-8859-15"},
    {"latin-9", Encoding::kOther, "ISO-8859-15"},
    {"latin9", Encoding::kOther, "ISO-8859-15"},
    {"l9", Encoding::kOther, "ISO-8859-15"},
    {"csisolatin9", Encoding::kOther, "ISO-8859-15"},
    {"us-ascii", Encoding::kOther, "US-ASCII"},
    {"ascii", Encoding::kOther, "US-ASCII"},
    {"us", Encoding::kOther, "US-ASCII"},
    {"ansi_x3.4-1968", Encoding::kOther, "US-ASCII"},
    {"ansi_x3.4-1986", Encoding::kOther, "US-ASCII"},
    {"iso646-us", Encoding::kOther, "US-ASCII"},
    {"iso_646.irv:1991", Encoding::kOther, "US-ASCII"},
    {"iso-ir-6", Encoding::kOther, "US-ASCII"},
    {"cp367", Encoding::kOther, "US-ASCII"},
    {"ibm367", Encoding::kOther, "US-ASCII"},
    {"csascii", Encoding::kOther, "US-ASCII"},
    {"koi8-r", Encoding::kOther, "KOI8-R"},
    {"koi", Encoding::kOther, "KOI8-R"},
    {"koi8", Encoding::kOther, "KOI8-R"},
    {"koi8r", Encoding::kOther, "KOI8-R"},
    {"cskoi8r", Encoding::kOther, "KOI8-R"},
    {"koi8-u", Encoding::kOther, "KOI8-U"},
    {"koi8-ru", Encoding::kOther, "KOI8-U"},
    {"ibm866", Encoding::kOther, "ibm-866"},
    {"csibm866", Encoding::kOther, "ibm-866"},
    {"cp866", Encoding::kOther, "ibm-866"},
    {"ibm437", Encoding::kOther, "ibm-437"},
    {"437", Encoding::kOther, "ibm-437"},
    {"cspc8codepage437", Encoding::kOther, "ibm-437"},
    {"cp437", Encoding::kOther, "ibm-437"},
    {"macintosh", Encoding::kOther, "macintosh"},
};

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiLower(x) == AsciiLower(y);
         });
}

const Charset* FindCharset(std::string_view name) {
  for (const Charset& charset : kCharsets) {
    if (EqualsIgnoringCase(charset.name, name)) return &charset;
  }
  return nullptr;
}

std::string_view ByteOrderMark(Encoding encoding) {
  switch (encoding) {
    case Encoding::kUtf8:
      return "\xEF\xBB\xBF";
    case Encoding::kUtf16Le:
      return "\xFF\xFE";
    case Encoding::kUtf16Be:
      return "\xFE\xFF";
    default:
      return {};
  }
}

// ---- Where ICU's converters differ from Windows ----

// A code unit that ICU's converter gives for a code where Windows gives another: decoding turns
// icuUnit into windowsUnit, encoding windowsUnit into icuUnit. kNoUnit as windowsUnit: the code
// has no character in Windows, so it decodes to U+FFFD and icuUnit encodes to "?".
struct UnitMend {
  char16_t windowsUnit;
  char16_t icuUnit;
};
constexpr char16_t kNoUnit = 0xFFFD;
constexpr char16_t kUnmappable = 0xFFFF;  // a noncharacter no code page has: encodes to "?"

// A code that ICU's converter lacks: decodes to unit, and unit encodes to it. oneWay: only the
// encoding (a second character Windows writes as that code).
struct ExtraCode {
  std::uint16_t code;  // a byte, or lead byte << 8 | trail byte
  char16_t unit;
  bool oneWay = false;
};

// IBM's layout of the control bytes: 1A, 1C and 7F decode to U+001C, U+007F and U+001A, where
// Windows maps each of them to the control character of the same number.
constexpr UnitMend kIbmControls[] = {{0x1A, 0x1C}, {0x1C, 0x7F}, {0x7F, 0x1A}};
// Code page 932: IBM's controls, and no code for U+F86F (ICU writes it as 87 82, which is U+2116).
constexpr UnitMend kWindows932[] = {{0x1A, 0x1C}, {0x1C, 0x7F}, {0x7F, 0x1A}, {kNoUnit, 0xF86F}};
// Code page 437: IBM's controls, and the micro sign at E6, not the Greek small letter mu.
constexpr UnitMend kIbm437[] = {{0x1A, 0x1C}, {0x1C, 0x7F}, {0x7F, 0x1A}, {0x00B5, 0x03BC}};
// Code page 1253 has nothing at AA.
constexpr UnitMend kWindows1253[] = {{kNoUnit, 0x00AA}};

// Code page 54936 follows GB 18030 as Windows has it: A8BC is the private-use U+E7C7 and
// U+1E3F a four-byte code, where ICU's converter has them the other way round.
constexpr UnitMend kGb18030[] = {{0xE7C7, 0x1E3F}, {0x1E3F, 0xE7C7}};

// Code page 20936 is GB 2312 alone: A3A7 is FULLWIDTH APOSTROPHE, and none of the characters
// IBM's converter adds in row FE is there.
constexpr UnitMend kGb2312[] = {
    {0xFF07, 0x00B4},  {kNoUnit, 0x2010}, {kNoUnit, 0x2025}, {kNoUnit, 0x2121}, {kNoUnit, 0x2170},
    {kNoUnit, 0x2171}, {kNoUnit, 0x2172}, {kNoUnit, 0x2173}, {kNoUnit, 0x2174}, {kNoUnit, 0x2175},
    {kNoUnit, 0x2176}, {kNoUnit, 0x2177}, {kNoUnit, 0x2178}, {kNoUnit, 0x2179}, {kNoUnit, 0x25BC},
    {kNoUnit, 0x25BD}, {kNoUnit, 0x3006}, {kNoUnit, 0x3007}, {kNoUnit, 0x3012}, {kNoUnit, 0x309B},
    {kNoUnit, 0x309C}, {kNoUnit, 0x309D}, {kNoUnit, 0x309E}, {kNoUnit, 0x30FC}, {kNoUnit, 0x30FD},
    {kNoUnit, 0x30FE}, {kNoUnit, 0x3231}, {kNoUnit, 0xFFE2}, {kNoUnit, 0xFFE4}};

// Code page 932: the bytes 80, A0 and FD..FF, and the characters Windows writes as the code of a
// look-alike (U+00A2 CENT SIGN as FULLWIDTH CENT SIGN, ...).
constexpr ExtraCode kWindows932Codes[] = {
    {0x80, 0x0080},         {0xA0, 0xF8F0},         {0xFD, 0xF8F1},         {0xFE, 0xF8F2},
    {0xFF, 0xF8F3},         {0x8191, 0x00A2, true}, {0x8192, 0x00A3, true}, {0x81CA, 0x00AC, true},
    {0x8161, 0x2016, true}, {0x817C, 0x2212, true}, {0x8160, 0x301C, true},
};

// How one ICU converter is used and mended. Converters not listed use round-trip mappings only.
struct ConverterTraits {
  std::string_view icuName;
  // ICU's fallbacks are the code page's best fit: true for the tables ICU made from Windows' own
  // conversions. Otherwise only round-trip mappings are used and everything else becomes "?",
  // since another vendor's fallbacks give bytes Windows does not (U+4FE0 as 8B A0 in 932).
  bool bestFit = false;
  // The converter (HZ) writes a needless "~}" (switch to ASCII) before text that starts in ASCII,
  // and does not switch back to ASCII with "~}" at the end of its output, so whatever followed
  // would be read as GB text. Windows and other converters do neither.
  bool hzEscapes = false;
  std::span<const UnitMend> mends = {};
  std::span<const ExtraCode> extraCodes = {};
};

constexpr ConverterTraits kConverterTraits[] = {
    {"windows-936-2000", true},
    {"windows-949-2000", true},
    {"windows-950-2000", true},
    {"windows-874-2000", true},
    {"windows-932", false, false, kWindows932, kWindows932Codes},
    {"ibm-437", false, false, kIbm437},
    {"ibm-866", false, false, kIbmControls},
    {"windows-1253", false, false, kWindows1253},
    {"gb18030", false, false, kGb18030},
    {"ibm-1383", false, false, kGb2312},
    {"HZ", false, true},
};

const ConverterTraits& TraitsOf(std::string_view icuName) {
  static constexpr ConverterTraits kPlain = {};
  for (const ConverterTraits& traits : kConverterTraits) {
    if (traits.icuName == icuName) return traits;
  }
  return kPlain;
}

char16_t ToWindowsUnit(const ConverterTraits& traits, char16_t unit) {
  for (const UnitMend& mend : traits.mends) {
    if (mend.icuUnit == unit) return mend.windowsUnit;
  }
  return unit;
}

char16_t ToIcuUnit(const ConverterTraits& traits, char16_t unit) {
  for (const UnitMend& mend : traits.mends) {
    if (mend.windowsUnit == unit && unit != kNoUnit) return mend.icuUnit;
  }
  for (const UnitMend& mend : traits.mends) {
    if (mend.icuUnit == unit) return kUnmappable;
  }
  return unit;
}

// ---- Converters of the calling thread ----

// To-Unicode callback (context: the converter's traits): a code of the traits' extra codes,
// otherwise U+FFFD for every invalid or unmappable sequence.
void WriteReplacementCharacter(const void* context, UConverterToUnicodeArgs* args,
                               const char* codeUnits, int32_t length,
                               UConverterCallbackReason reason, UErrorCode* error) {
  if (reason != UCNV_UNASSIGNED && reason != UCNV_ILLEGAL && reason != UCNV_IRREGULAR) return;
  *error = U_ZERO_ERROR;
  UChar unit = 0xFFFD;
  if (length == 1 || length == 2) {
    std::uint16_t code = static_cast<unsigned char>(codeUnits[0]);
    if (length == 2)
      code = static_cast<std::uint16_t>(code << 8 | static_cast<unsigned char>(codeUnits[1]));
    for (const ExtraCode& extra : static_cast<const ConverterTraits*>(context)->extraCodes) {
      if (extra.code == code && !extra.oneWay) unit = extra.unit;
    }
  }
  ucnv_cbToUWriteUChars(args, &unit, 1, 0, error);
}

// From-Unicode callback (context: the converter's traits): the code of the traits' extra codes,
// otherwise the substitution character ("?" where the charset has it) for every character that
// has no mapping, default-ignorable ones included.
void WriteSubstitute(const void* context, UConverterFromUnicodeArgs* args,
                     const UChar* /*codeUnits*/, int32_t /*length*/, UChar32 codePoint,
                     UConverterCallbackReason reason, UErrorCode* error) {
  if (reason != UCNV_UNASSIGNED && reason != UCNV_ILLEGAL && reason != UCNV_IRREGULAR) return;
  *error = U_ZERO_ERROR;
  for (const ExtraCode& extra : static_cast<const ConverterTraits*>(context)->extraCodes) {
    if (extra.unit == codePoint) {
      const char bytes[] = {static_cast<char>(extra.code >> 8), static_cast<char>(extra.code)};
      const bool single = extra.code < 0x100;
      ucnv_cbFromUWriteBytes(args, single ? bytes + 1 : bytes, single ? 1 : 2, 0, error);
      return;
    }
  }
  ucnv_cbFromUWriteSub(args, 0, error);
}

UConverter* OpenConverter(const char* name, const ConverterTraits& traits) {
  UErrorCode error = U_ZERO_ERROR;
  UConverter* converter = ucnv_open(name, &error);
  if (U_FAILURE(error)) return nullptr;
  ucnv_setFallback(converter, traits.bestFit);
  ucnv_setToUCallBack(converter, WriteReplacementCharacter, &traits, nullptr, nullptr, &error);
  ucnv_setFromUCallBack(converter, WriteSubstitute, &traits, nullptr, nullptr, &error);
  if (U_FAILURE(error)) {
    ucnv_close(converter);
    return nullptr;
  }
  UErrorCode substError = U_ZERO_ERROR;  // charsets without a one-byte "?" keep their own
  ucnv_setSubstChars(converter, "?", 1, &substError);
  return converter;
}

// An open converter and how it is mended.
struct ThreadConverter {
  UConverter* converter;  // nullptr if ICU cannot open it
  const ConverterTraits* traits;
};

// The converters one thread has opened, by ICU name; each is opened on its first use and closed
// when the thread ends. A name that failed to open is remembered as nullptr.
class ConverterCache {
 public:
  ConverterCache() = default;
  ConverterCache(const ConverterCache&) = delete;
  ConverterCache& operator=(const ConverterCache&) = delete;
  ~ConverterCache() {
    for (auto& [name, converter] : converters_) {
      if (converter.converter != nullptr) ucnv_close(converter.converter);
    }
  }

  // The converter for name, reset.
  ThreadConverter Get(const char* name) {
    for (auto& [cachedName, converter] : converters_) {
      if (cachedName == name) {
        if (converter.converter != nullptr) ucnv_reset(converter.converter);
        return converter;
      }
    }
    const ConverterTraits& traits = TraitsOf(name);
    converters_.emplace_back(name, ThreadConverter{OpenConverter(name, traits), &traits});
    return converters_.back().second;
  }

 private:
  // Keyed by the address of the name in kCharsets: few entries, compared as pointers.
  std::vector<std::pair<const char*, ThreadConverter>> converters_;
};

ThreadConverter ConverterFor(const Charset& charset) {
  thread_local ConverterCache cache;
  return cache.Get(charset.converter);
}

// ---- The two halves ----

// Decodes data with the charset's ICU converter a piece at a time, mended where it differs from
// Windows; calls consume(piece) for each piece of UTF-16 until it returns false.
template <typename Consume>
void DecodeWithConverter(std::string_view data, const Charset& charset, Consume consume) {
  const ThreadConverter converter = ConverterFor(charset);
  if (converter.converter == nullptr) return;
  std::u16string units(std::min<size_t>(data.size() + 1, 8 * 1024), u'\0');
  const char* source = data.data();
  const char* const sourceEnd = data.data() + data.size();
  for (bool done = false; !done;) {
    UChar* target = units.data();
    UErrorCode error = U_ZERO_ERROR;
    ucnv_toUnicode(converter.converter, &target, units.data() + units.size(), &source, sourceEnd,
                   nullptr, true, &error);
    if (U_FAILURE(error) && error != U_BUFFER_OVERFLOW_ERROR) return;
    done = error != U_BUFFER_OVERFLOW_ERROR;
    if (!converter.traits->mends.empty()) {
      std::transform(units.data(), target, units.data(), [&converter](char16_t unit) {
        return ToWindowsUnit(*converter.traits, unit);
      });
    }
    if (!consume(std::u16string_view(units.data(), static_cast<size_t>(target - units.data())))) {
      return;
    }
  }
}

// Appends data, decoded with charset and held as local text up to the first U+0000, to out (a
// Text, or Bytes when the local text is the result).
template <typename Buffer>
void DecodeToLocal(std::string_view data, const Charset& charset, Buffer& out) {
  const std::string_view byteOrderMark = ByteOrderMark(charset.encoding);
  if (data.substr(0, byteOrderMark.size()) == byteOrderMark) {
    data.remove_prefix(byteOrderMark.size());
  }
  if (charset.encoding == Encoding::kUtf8) {
    charset_internal::AppendUtf8AsLocal(data, out);
    return;
  }
  if (charset.encoding == Encoding::kLocal) {
    std::u16string units;
    charset_internal::AppendLocalAsUtf16(charset_internal::UpToZeroByte(data), units);
    charset_internal::AppendUtf16AsLocal(units, out);
    return;
  }
  // A U+0000 ends the text there.
  DecodeWithConverter(data, charset, [&out](std::u16string_view piece) {
    const std::u16string_view kept = charset_internal::UpToZeroUnit(piece);
    charset_internal::AppendUtf16AsLocal(kept, out);
    return kept.size() == piece.size();
  });
}

void AppendUtf16Bytes(std::u16string_view units, bool bigEndian, std::string& out) {
  out.reserve(out.size() + 2 * units.size());
  for (char16_t unit : units) {
    const char low = static_cast<char>(unit & 0xFF);
    const char high = static_cast<char>(unit >> 8);
    out += bigEndian ? high : low;
    out += bigEndian ? low : high;
  }
}

// Appends units encoded with charset, without a byte-order mark, to out; false if the converter
// fails.
bool AppendEncoded(std::u16string_view units, const Charset& charset, std::string& out) {
  switch (charset.encoding) {
    case Encoding::kLocal:
      charset_internal::AppendUtf16AsLocal(units, out);
      return true;
    case Encoding::kUtf8:
      out += charset_internal::EncodeUtf8(units);
      return true;
    case Encoding::kUtf16Le:
    case Encoding::kUtf16Be:
      AppendUtf16Bytes(units, charset.encoding == Encoding::kUtf16Be, out);
      return true;
    default:
      break;
  }
  const ThreadConverter converter = ConverterFor(charset);
  if (converter.converter == nullptr) return false;
  const bool hzEscapes = converter.traits->hzEscapes && !units.empty();
  std::u16string mended;
  if (!converter.traits->mends.empty()) {
    mended.resize(units.size());
    std::transform(units.begin(), units.end(), mended.begin(),
                   [&converter](char16_t unit) { return ToIcuUnit(*converter.traits, unit); });
    units = mended;
  }
  if (hzEscapes) {
    // An ASCII character after the text makes the converter switch back; its byte is dropped.
    if (units.data() != mended.data()) mended.assign(units);
    mended += u'a';
    units = mended;
  }
  const size_t start = out.size();
  out.resize(start +
             (units.size() + 16) * static_cast<size_t>(ucnv_getMaxCharSize(converter.converter)));
  char* target = out.data() + start;
  const UChar* source = units.data();
  for (;;) {
    UErrorCode error = U_ZERO_ERROR;
    ucnv_fromUnicode(converter.converter, &target, out.data() + out.size(), &source,
                     units.data() + units.size(), nullptr, true, &error);
    if (error != U_BUFFER_OVERFLOW_ERROR) {
      if (U_FAILURE(error)) {
        out.resize(start);
        return false;
      }
      break;
    }
    const size_t written = static_cast<size_t>(target - out.data());
    out.resize(2 * out.size());
    target = out.data() + written;
  }
  out.resize(static_cast<size_t>(target - out.data()));
  if (hzEscapes) {
    out.pop_back();
    // A "~" of the text is written as "~~", so a leading "~}" is always the escape.
    if (std::string_view(out).substr(start, 2) == "~}") out.erase(start, 2);
  }
  return true;
}

// The local text encoded with charset (not the local code page), byte-order mark first; empty for
// an empty text.
std::string EncodeFromLocal(std::string_view local, const Charset& charset) {
  if (local.empty()) return {};
  std::u16string units;
  charset_internal::AppendLocalAsUtf16(local, units);
  std::string encoded(ByteOrderMark(charset.encoding));
  if (!AppendEncoded(units, charset, encoded)) return {};
  return encoded;
}

}  // namespace

Bytes StreamConvert(const Bytes& data, std::string_view fromCharset, std::string_view toCharset,
                    std::optional<int> startPosition) {
  const Charset* from = FindCharset(fromCharset);
  const Charset* to = FindCharset(toCharset);
  if (from == nullptr || to == nullptr || data.empty()) return {};
  const std::string_view bytes(reinterpret_cast<const char*>(data.data()), data.size());
  Bytes result;
  if (to->encoding == Encoding::kLocal) {
    // Local text holds only codes of the page and "?", which decode and encode to themselves:
    // the text is the result.
    DecodeToLocal(bytes, *from, result);
  } else {
    Text local;
    DecodeToLocal(bytes, *from, local);
    const std::string encoded = EncodeFromLocal(local, *to);
    result.assign(encoded.begin(), encoded.end());
  }
  if (startPosition.has_value() && *startPosition > 0) {
    result.erase(result.begin(),
                 result.begin() + static_cast<std::ptrdiff_t>(std::min(
                                      static_cast<size_t>(*startPosition), result.size())));
  }
  return result;
}

Bytes ConvertCharset(const Bytes& data, const ConvertOptions& options) {
  return StreamConvert(
      data, options.fromCharset.empty() ? kDefaultFromCharset : options.fromCharset,
      options.toCharset.empty() ? kDefaultToCharset : options.toCharset, options.startPosition);
}

Bytes ConvertCharset(const Bytes& data, Text& fromCharset, Text& toCharset,
                     std::optional<int> startPosition) {
  if (fromCharset.empty()) fromCharset = kDefaultFromCharset;
  if (toCharset.empty()) toCharset = kDefaultToCharset;
  return StreamConvert(data, fromCharset, toCharset, startPosition);
}

namespace charset_internal {

std::vector<std::string_view> CharsetNames() {
  std::vector<std::string_view> names;
  for (const Charset& charset : kCharsets) names.push_back(charset.name);
  return names;
}

std::optional<std::u16string> DecodeCharset(std::string_view charsetName, std::string_view data) {
  const Charset* charset = FindCharset(charsetName);
  if (charset == nullptr) return std::nullopt;
  std::u16string units;
  if (charset->encoding == Encoding::kLocal) {
    AppendLocalAsUtf16(data, units);
  } else {
    DecodeWithConverter(data, *charset, [&units](std::u16string_view piece) {
      units += piece;
      return true;
    });
  }
  return units;
}

std::optional<std::string> EncodeCharset(std::string_view charsetName, std::u16string_view units) {
  const Charset* charset = FindCharset(charsetName);
  if (charset == nullptr) return std::nullopt;
  std::string bytes;
  if (!AppendEncoded(UpToZeroUnit(units), *charset, bytes)) return std::nullopt;
  return bytes;
}

}  // namespace charset_internal
}  // namespace quenbrel
