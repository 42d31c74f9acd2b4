// The local code page over ICU's "windows-936-2000" converter, with the corrections that make it
// behave as the Windows ANSI conversion does (see codepage.h).
//
// Decoding runs through the calling thread's ICU converter. Encoding runs through one table of
// 65,536 entries (one per UTF-16 code unit), built once from the same converter on first use and
// then shared read-only by every thread: it holds ICU's mappings and best fits with the Windows
// corrections applied. UTF-8 is read straight into that table, decoded as ICU decodes it, so the
// common conversion (a UTF-8 reply to local text) is one pass without a UTF-16 pivot.

#include "charset/codepage.h"

#include <sys/mman.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "charset/codepage_internal.h"

namespace quenbrel {
namespace {

constexpr char kLocalConverterName[] = "windows-936-2000";
constexpr char16_t kReplacementCharacter = 0xFFFD;

// ---- Encoding table ----

// Entry of the encoding table: a single byte (below 0x100) or a lead and a trail byte (0x8140 and
// above).
using LocalCode = std::uint16_t;
using EncodeTable = std::array<LocalCode, 0x10000>;

constexpr LocalCode kDefaultCharacter = '?';

// From-Unicode callback for building the table: the default character for whatever has no
// mapping. Unlike ICU's stock substitution it never skips default-ignorable characters.
void WriteDefaultCharacter(const void* /*context*/, UConverterFromUnicodeArgs* args,
                           const UChar* /*codeUnits*/, int32_t /*length*/, UChar32 /*codePoint*/,
                           UConverterCallbackReason reason, UErrorCode* error) {
  if (reason != UCNV_UNASSIGNED && reason != UCNV_ILLEGAL && reason != UCNV_IRREGULAR) return;
  *error = U_ZERO_ERROR;
  ucnv_cbFromUWriteBytes(args, "?", 1, 0, error);
}

// Every code unit but U+0000 and the surrogates through the converter in one call; the offsets
// tell which output bytes belong to which unit. Units left out, and the surrogates, keep the
// default character: a supplementary character is two units the code page lacks.
std::unique_ptr<EncodeTable> BuildEncodeTable() {
  auto table = std::make_unique<EncodeTable>();
  table->fill(kDefaultCharacter);
  (*table)[0] = 0;

  UErrorCode error = U_ZERO_ERROR;
  UConverter* converter = ucnv_open(kLocalConverterName, &error);
  if (U_FAILURE(error)) return nullptr;
  ucnv_setFallback(converter, true);  // the best-fit mappings are ICU fallbacks
  ucnv_setFromUCallBack(converter, WriteDefaultCharacter, nullptr, nullptr, nullptr, &error);

  std::u16string units;
  for (char32_t unit = 1; unit <= 0xFFFF; ++unit) {
    if (unit < 0xD800 || unit > 0xDFFF) units.push_back(static_cast<char16_t>(unit));
  }
  std::string bytes(2 * units.size(), '\0');
  std::vector<int32_t> offsets(bytes.size());
  char* target = bytes.data();
  const UChar* source = units.data();
  ucnv_fromUnicode(converter, &target, bytes.data() + bytes.size(), &source, source + units.size(),
                   offsets.data(), true, &error);
  ucnv_close(converter);
  if (U_FAILURE(error)) return nullptr;

  const size_t written = static_cast<size_t>(target - bytes.data());
  for (size_t i = 0; i < written;) {
    const int32_t offset = offsets[i];
    const auto first = static_cast<unsigned char>(bytes[i]);
    LocalCode code = first;
    if (i + 1 < written && offsets[i + 1] == offset) {
      code = static_cast<LocalCode>(first << 8 | static_cast<unsigned char>(bytes[i + 1]));
      ++i;
    }
    ++i;
    if (offset >= 0 && static_cast<size_t>(offset) < units.size()) (*table)[units[offset]] = code;
  }
  // ICU's fallbacks turn U+FFE9..U+FFEE (half-width arrows and shapes) into control bytes; the
  // code page has no mapping for them.
  for (char16_t unit = 0xFFE9; unit <= 0xFFEE; ++unit) (*table)[unit] = kDefaultCharacter;
  return table;
}

// The process's encoding table, built on first use; nullptr if ICU cannot open the converter.
const EncodeTable* LocalEncodeTable() {
  static const std::unique_ptr<EncodeTable> table = BuildEncodeTable();
  return table.get();
}

char* PutCode(LocalCode code, char* out) {
  if (code < 0x100) {
    *out++ = static_cast<char>(code);
  } else {
    *out++ = static_cast<char>(code >> 8);
    *out++ = static_cast<char>(code & 0xFF);
  }
  return out;
}

// Writes the local form of [begin, end) at out (room for 2 bytes per unit); returns the new end.
char* EncodeUnits(const EncodeTable& table, const char16_t* begin, const char16_t* end, char* out) {
  for (; begin != end; ++begin) out = PutCode(table[*begin], out);
  return out;
}

int CodeSize(LocalCode code) { return code < 0x100 ? 1 : 2; }

// Writes the local form of the UTF-8 bytes [p, end), up to the first zero byte, into
// [out, outEnd); stops before the first character that does not fit. Decodes exactly as ICU does:
// a well-formed sequence is one character and every maximal ill-formed subpart (a lead byte with
// the continuation bytes that still fit it, or one stray byte) is one U+FFFD. A supplementary
// character is looked up as its two surrogates. Each sequence or subpart gives at most as many
// bytes as it has.
charset_internal::Utf8Written EncodeUtf8Bytes(const EncodeTable& table, const unsigned char* begin,
                                              const unsigned char* end, char* out, char* outEnd) {
  const unsigned char* p = begin;
  auto stop = [&](const unsigned char* at, bool done) {
    return charset_internal::Utf8Written{static_cast<size_t>(at - begin), out, done};
  };
  while (p != end) {
    const unsigned char* const sequence = p;
    const unsigned char lead = *p++;
    if (lead < 0x80) {
      if (lead == 0) return stop(sequence, true);  // U+0000 ends the text
      if (out == outEnd) return stop(sequence, false);
      out = PutCode(table[lead], out);
      continue;
    }
    // Fast path for the common case, three bytes with a lead of E1..EC (all of CJK).
    if (lead >= 0xE1 && lead <= 0xEC && end - p >= 2 && (p[0] & 0xC0) == 0x80 &&
        (p[1] & 0xC0) == 0x80) {
      const LocalCode code = table[(lead & 0x0F) << 12 | (p[0] & 0x3F) << 6 | (p[1] & 0x3F)];
      if (outEnd - out < 2 && outEnd - out < CodeSize(code)) return stop(sequence, false);
      out = PutCode(code, out);
      p += 2;
      continue;
    }
    int missing = 0;  // continuation bytes still to come
    char32_t code = 0;
    unsigned char low = 0x80;  // range of the next byte; only the second byte is narrower
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      missing = 1;
      code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      missing = 2;
      code = lead & 0x0F;
      if (lead == 0xE0) low = 0xA0;   // no overlong forms
      if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      missing = 3;
      code = lead & 0x07;
      if (lead == 0xF0) low = 0x90;   // no overlong forms
      if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    }
    for (; missing > 0 && p != end && *p >= low && *p <= high; --missing, ++p) {
      code = code << 6 | (*p & 0x3F);
      low = 0x80;
      high = 0xBF;
    }
    LocalCode first = table[kReplacementCharacter];
    LocalCode second = 0;  // none
    if (missing > 0 || lead < 0xC2 || lead > 0xF4) {
      // an ill-formed subpart or a stray byte: U+FFFD
    } else if (code > 0xFFFF) {
      first = table[0xD800 + ((code - 0x10000) >> 10)];
      second = table[0xDC00 + (code & 0x3FF)];
    } else {
      first = table[code];
    }
    if (outEnd - out < CodeSize(first) + (second != 0 ? CodeSize(second) : 0)) {
      return stop(sequence, false);
    }
    out = PutCode(first, out);
    if (second != 0) out = PutCode(second, out);
  }
  return stop(p, true);
}

// ---- Decoding converter ----

// The calling thread's code page 936 converter for decoding, opened on first use and closed
// when the thread ends; get() is nullptr if ICU cannot open it.
class LocalDecoder {
 public:
  LocalDecoder() {
    UErrorCode error = U_ZERO_ERROR;
    converter_ = ucnv_open(kLocalConverterName, &error);
    if (U_FAILURE(error)) converter_ = nullptr;
  }
  ~LocalDecoder() {
    if (converter_ != nullptr) ucnv_close(converter_);
  }
  LocalDecoder(const LocalDecoder&) = delete;
  LocalDecoder& operator=(const LocalDecoder&) = delete;

  UConverter* get() const { return converter_; }

 private:
  UConverter* converter_ = nullptr;
};

UConverter* ThreadLocalDecoder() {
  thread_local LocalDecoder decoder;
  return decoder.get();
}

}  // namespace

namespace charset_internal {

std::string_view UpToZeroByte(std::string_view bytes) {
  return bytes.substr(0, std::min(bytes.find('\0'), bytes.size()));
}

std::u16string_view UpToZeroUnit(std::u16string_view units) {
  return units.substr(0, std::min(units.find(u'\0'), units.size()));
}

char* WriteUtf16AsLocal(std::u16string_view units, char* out) {
  const EncodeTable* table = LocalEncodeTable();
  if (table == nullptr) return out;
  return EncodeUnits(*table, units.data(), units.data() + units.size(), out);
}

Utf8Written WriteUtf8AsLocal(std::string_view utf8, char* out, char* outEnd) {
  const EncodeTable* table = LocalEncodeTable();
  if (table == nullptr) return {utf8.size(), out, true};
  const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
  return EncodeUtf8Bytes(*table, bytes, bytes + utf8.size(), out, outEnd);
}

size_t EstimateUtf8AsLocalSize(std::string_view utf8) {
  // Eight bytes at a time: for each byte, bit 7 of `notContinuation` is set unless the byte is
  // 10xxxxxx and bit 7 of `lead` is set if it is 11xxxxxx. Each byte's count (0..2) goes to its
  // own lane of `lanes`, which is emptied into the total before a lane can overflow.
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  constexpr std::uint64_t kEvenLanes = 0x00FF00FF00FF00FFu;
  size_t size = 0;
  size_t i = 0;
  while (i + 8 <= utf8.size()) {
    std::uint64_t lanes = 0;
    for (int round = 0; round < 127 && i + 8 <= utf8.size(); ++round, i += 8) {
      std::uint64_t word;
      std::memcpy(&word, utf8.data() + i, 8);
      const std::uint64_t notContinuation = ~word | (word << 1);
      const std::uint64_t lead = word & (word << 1);
      lanes += ((notContinuation >> 7) & kOnes) + ((lead >> 7) & kOnes);
    }
    const std::uint64_t pairs = (lanes & kEvenLanes) + ((lanes >> 8) & kEvenLanes);
    size += static_cast<size_t>((pairs * 0x0001000100010001u) >> 48);
  }
  for (; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    size += ((byte & 0xC0) != 0x80) + (byte >= 0xC0);
  }
  return size;
}

void AdviseHugePages(void* data, size_t size) {
#ifdef MADV_HUGEPAGE
  constexpr std::uintptr_t kHugePage = 2 * 1024 * 1024;
  if (size < 4 * kHugePage) return;
  const auto first = (reinterpret_cast<std::uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
  const auto last = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kHugePage - 1);
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)data;
  (void)size;
#endif
}

void AppendLocalAsUtf16(std::string_view bytes, std::u16string& out) {
  UConverter* converter = ThreadLocalDecoder();
  if (converter == nullptr || bytes.empty()) return;
  ucnv_resetToUnicode(converter);
  const size_t start = out.size();
  // One code unit per byte is the most the code page needs: a two-byte code gives one unit, a
  // broken pair U+FFFD and at most the one byte it did not swallow.
  out.resize(start + bytes.size());
  UChar* target = out.data() + start;
  const char* source = bytes.data();
  UErrorCode error = U_ZERO_ERROR;
  ucnv_toUnicode(converter, &target, out.data() + out.size(), &source, source + bytes.size(),
                 nullptr, true, &error);
  out.resize(U_SUCCESS(error) ? static_cast<size_t>(target - out.data()) : start);
}

std::string EncodeUtf8(std::u16string_view units) {
  std::string utf8;
  if (units.empty()) return utf8;
  utf8.resize(3 * units.size());
  int32_t length = 0;
  UErrorCode error = U_ZERO_ERROR;
  u_strToUTF8WithSub(utf8.data(), static_cast<int32_t>(utf8.size()), &length, units.data(),
                     static_cast<int32_t>(units.size()), kReplacementCharacter, nullptr, &error);
  utf8.resize(U_SUCCESS(error) ? static_cast<size_t>(length) : 0);
  return utf8;
}

}  // namespace charset_internal

std::u16string LocalToUtf16(std::string_view text) {
  std::u16string units;
  charset_internal::AppendLocalAsUtf16(charset_internal::UpToZeroByte(text), units);
  return units;
}

Text Utf16ToLocal(std::u16string_view text) {
  Text local;
  charset_internal::AppendUtf16AsLocal(charset_internal::UpToZeroUnit(text), local);
  return local;
}

std::string LocalToUtf8(std::string_view text) {
  return charset_internal::EncodeUtf8(LocalToUtf16(text));
}

Text Utf8ToLocal(std::string_view utf8) {
  Text local;
  charset_internal::AppendUtf8AsLocal(utf8, local);
  return local;
}

}  // namespace quenbrel
