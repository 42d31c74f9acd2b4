// Charset conversion through local text: ICU decodes and encodes, the local code page
// (codepage.cc) holds the text in between.

#include "charset/charset.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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
    {"unicode-1-1-utf-8", Encoding::kUtf8, "UTF-8"},
    {"unicode-2-0-utf-8", Encoding::kUtf8, "UTF-8"},
    {"x-unicode20utf8", Encoding::kUtf8, "UTF-8"},
    {"utf-16", Encoding::kUtf16Le, "UTF-16LE"},
    {"utf-16le", Encoding::kUtf16Le, "UTF-16LE"},
    {"ucs-2", Encoding::kUtf16Le, "UTF-16LE"},
    {"iso-10646-ucs-2", Encoding::kUtf16Le, "UTF-16LE"},
    {"csunicode", Encoding::kUtf16Le, "UTF-16LE"},
    {"utf-16be", Encoding::kUtf16Be, "UTF-16BE"},
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
    {"x-euc-jp", Encoding::kOther, "EUC-JP"},
    {"cseucpkdfmtjapanese", Encoding::kOther, "EUC-JP"},
    {"iso-2022-jp", Encoding::kOther, "ISO-2022-JP"},
    {"csiso2022jp", Encoding::kOther, "ISO-2022-JP"},
    {"euc-kr", Encoding::kOther, "windows-949-2000"},
    {"cseuckr", Encoding::kOther, "windows-949-2000"},
    {"ks_c_5601-1987", Encoding::kOther, "windows-949-2000"},
    {"ks_c_5601", Encoding::kOther, "windows-949-2000"},
    {"ks_c_5601_1987", Encoding::kOther, "windows-949-2000"},
    {"ksc5601", Encoding::kOther, "windows-949-2000"},
    {"ksc_5601", Encoding::kOther, "windows-949-2000"},
    {"csksc56011987", Encoding::kOther, "windows-949-2000"},
    {"iso-ir-149", Encoding::kOther, "windows-949-2000"},
    {"korean", Encoding::kOther, "windows-949-2000"},
    {"iso-2022-kr", Encoding::kOther, "ISO-2022-KR"},
    {"csiso2022kr", Encoding::kOther, "ISO-2022-KR"},
    {"windows-874", Encoding::kOther, "windows-874-2000"},
    {"windows-1250", Encoding::kOther, "windows-1250"},
    {"windows-1251", Encoding::kOther, "windows-1251"},
    {"windows-1252", Encoding::kOther, "windows-1252"},
    {"windows-1253", Encoding::kOther, "windows-1253"},
    {"windows-1254", Encoding::kOther, "windows-1254"},
    {"windows-1255", Encoding::kOther, "windows-1255"},
    {"windows-1256", Encoding::kOther, "windows-1256"},
    {"windows-1257", Encoding::kOther, "windows-1257"},
    {"windows-1258", Encoding::kOther, "windows-1258"},
    {"iso-8859-1", Encoding::kOther, "ISO-8859-1"},
    {"iso_8859-1", Encoding::kOther, "ISO-8859-1"},
    {"iso8859-1", Encoding::kOther, "ISO-8859-1"},
    {"latin1", Encoding::kOther, "ISO-8859-1"},
    {"l1", Encoding::kOther, "ISO-8859-1"},
    {"cp819", Encoding::kOther, "ISO-8859-1"},
    {"ibm819", Encoding::kOther, "ISO-8859-1"},
    {"iso-ir-100", Encoding::kOther, "ISO-8859-1"},
    {"csisolatin1", Encoding::kOther, "ISO-8859-1"},
    {"iso-8859-2", Encoding::kOther, "ISO-8859-2"},
    {"iso-8859-3", Encoding::kOther, "ISO-8859-3"},
    {"iso-8859-4", Encoding::kOther, "ISO-8859-4"},
    {"iso-8859-5", Encoding::kOther, "ISO-8859-5"},
    {"iso-8859-6", Encoding::kOther, "ISO-8859-6"},
    {"iso-8859-7", Encoding::kOther, "ISO-8859-7"},
    {"iso-8859-8", Encoding::kOther, "ISO-8859-8"},
    {"iso-8859-9", Encoding::kOther, "ISO-8859-9"},
    {"iso-8859-13", Encoding::kOther, "ISO-8859-13"},
    {"iso-8859-15", Encoding::kOther, "ISO-8859-15"},
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
    {"cskoi8r", Encoding::kOther, "KOI8-R"},
    {"koi8-u", Encoding::kOther, "KOI8-U"},
    {"ibm866", Encoding::kOther, "ibm-866"},
    {"cp866", Encoding::kOther, "ibm-866"},
    {"ibm437", Encoding::kOther, "ibm-437"},
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

// ---- Converters of the calling thread ----

// To-Unicode callback: U+FFFD for every invalid or unmappable sequence.
void WriteReplacementCharacter(const void* /*context*/, UConverterToUnicodeArgs* args,
                               const char* /*codeUnits*/, int32_t /*length*/,
                               UConverterCallbackReason reason, UErrorCode* error) {
  if (reason != UCNV_UNASSIGNED && reason != UCNV_ILLEGAL && reason != UCNV_IRREGULAR) return;
  *error = U_ZERO_ERROR;
  static const UChar kReplacement = 0xFFFD;
  ucnv_cbToUWriteUChars(args, &kReplacement, 1, 0, error);
}

// From-Unicode callback: the substitution character ("?" where the charset has it) for every
// character that has no mapping, default-ignorable ones included.
void WriteSubstitute(const void* /*context*/, UConverterFromUnicodeArgs* args,
                     const UChar* /*codeUnits*/, int32_t /*length*/, UChar32 /*codePoint*/,
                     UConverterCallbackReason reason, UErrorCode* error) {
  if (reason != UCNV_UNASSIGNED && reason != UCNV_ILLEGAL && reason != UCNV_IRREGULAR) return;
  *error = U_ZERO_ERROR;
  ucnv_cbFromUWriteSub(args, 0, error);
}

UConverter* OpenConverter(const char* name) {
  UErrorCode error = U_ZERO_ERROR;
  UConverter* converter = ucnv_open(name, &error);
  if (U_FAILURE(error)) return nullptr;
  ucnv_setFallback(converter, true);  // best fit, as the system conversions do
  ucnv_setToUCallBack(converter, WriteReplacementCharacter, nullptr, nullptr, nullptr, &error);
  ucnv_setFromUCallBack(converter, WriteSubstitute, nullptr, nullptr, nullptr, &error);
  if (U_FAILURE(error)) {
    ucnv_close(converter);
    return nullptr;
  }
  UErrorCode substError = U_ZERO_ERROR;  // charsets without a one-byte "?" keep their own
  ucnv_setSubstChars(converter, "?", 1, &substError);
  return converter;
}

// The converters one thread has opened, by ICU name; each is opened on its first use and closed
// when the thread ends. A name that failed to open is remembered as nullptr.
class ConverterCache {
 public:
  ConverterCache() = default;
  ConverterCache(const ConverterCache&) = delete;
  ConverterCache& operator=(const ConverterCache&) = delete;
  ~ConverterCache() {
    for (auto& [name, converter] : converters_) {
      if (converter != nullptr) ucnv_close(converter);
    }
  }

  // The converter for name, reset; nullptr if ICU cannot open it.
  UConverter* Get(const char* name) {
    for (auto& [cachedName, converter] : converters_) {
      if (cachedName == name) {
        if (converter != nullptr) ucnv_reset(converter);
        return converter;
      }
    }
    converters_.emplace_back(name, OpenConverter(name));
    return converters_.back().second;
  }

 private:
  // Keyed by the address of the name in kCharsets: few entries, compared as pointers.
  std::vector<std::pair<const char*, UConverter*>> converters_;
};

UConverter* ThreadConverter(const char* name) {
  thread_local ConverterCache cache;
  return cache.Get(name);
}

// ---- The two halves ----

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
  UConverter* converter = ThreadConverter(charset.converter);
  if (converter == nullptr) return;
  // Decoded a piece at a time; a U+0000 ends the text there.
  std::u16string units(std::min<size_t>(data.size() + 1, 8 * 1024), u'\0');
  const char* source = data.data();
  const char* const sourceEnd = data.data() + data.size();
  for (bool done = false; !done;) {
    UChar* target = units.data();
    UErrorCode error = U_ZERO_ERROR;
    ucnv_toUnicode(converter, &target, units.data() + units.size(), &source, sourceEnd, nullptr,
                   true, &error);
    if (U_FAILURE(error) && error != U_BUFFER_OVERFLOW_ERROR) return;
    done = error != U_BUFFER_OVERFLOW_ERROR;
    const std::u16string_view piece(units.data(), static_cast<size_t>(target - units.data()));
    const std::u16string_view kept = charset_internal::UpToZeroUnit(piece);
    charset_internal::AppendUtf16AsLocal(kept, out);
    if (kept.size() != piece.size()) break;
  }
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

// The local text encoded with charset (not the local code page), byte-order mark first; empty for
// an empty text.
std::string EncodeFromLocal(std::string_view local, const Charset& charset) {
  if (local.empty()) return {};
  std::u16string units;
  charset_internal::AppendLocalAsUtf16(local, units);
  std::string encoded(ByteOrderMark(charset.encoding));
  switch (charset.encoding) {
    case Encoding::kUtf8:
      encoded += charset_internal::EncodeUtf8(units);
      return encoded;
    case Encoding::kUtf16Le:
    case Encoding::kUtf16Be:
      AppendUtf16Bytes(units, charset.encoding == Encoding::kUtf16Be, encoded);
      return encoded;
    default:
      break;
  }
  UConverter* converter = ThreadConverter(charset.converter);
  if (converter == nullptr) return {};
  encoded.resize((units.size() + 16) * static_cast<size_t>(ucnv_getMaxCharSize(converter)));
  char* target = encoded.data();
  const UChar* source = units.data();
  for (;;) {
    UErrorCode error = U_ZERO_ERROR;
    ucnv_fromUnicode(converter, &target, encoded.data() + encoded.size(), &source,
                     units.data() + units.size(), nullptr, true, &error);
    if (error != U_BUFFER_OVERFLOW_ERROR) {
      if (U_FAILURE(error)) return {};
      break;
    }
    const size_t written = static_cast<size_t>(target - encoded.data());
    encoded.resize(2 * encoded.size());
    target = encoded.data() + written;
  }
  encoded.resize(static_cast<size_t>(target - encoded.data()));
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

}  // namespace quenbrel
