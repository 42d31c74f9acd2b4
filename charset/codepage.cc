// The local code page over ICU's "windows-936-2000" converter, with the corrections that make it
// behave as the Windows ANSI conversion does (see codepage.h).
//
// Decoding runs through the calling thread's ICU converter. Encoding runs through one table of
// 65,536 entries (one per UTF-16 code unit), built once from the same converter on first use and
// then shared read-only by every thread: it holds ICU's mappings and best fits with the Windows
// corrections applied, and is several times faster than a converter with callbacks.

#include "charset/codepage.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "charset/codepage_internal.h"

namespace quenbrel {
namespace {

constexpr char kLocalConverterName[] = "windows-936-2000";
constexpr char16_t kReplacementCharacter = 0xFFFD;
// UTF-8 is decoded this many bytes at a time, so the UTF-16 pivot stays in the cache.
constexpr size_t kChunkBytes = 16 * 1024;

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

// Writes the local form of [begin, end) at out (room for 2 bytes per unit); returns the new end.
char* EncodeUnits(const EncodeTable& table, const char16_t* begin, const char16_t* end, char* out) {
  for (; begin != end; ++begin) {
    const LocalCode code = table[*begin];
    if (code < 0x100) {
      *out++ = static_cast<char>(code);
    } else {
      *out++ = static_cast<char>(code >> 8);
      *out++ = static_cast<char>(code & 0xFF);
    }
  }
  return out;
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

bool IsUtf8Continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// Length of the first piece of utf8 to decode on its own: at most kChunkBytes, and never ending
// inside a sequence. A sequence has at most three continuation bytes, so stepping back over three
// of them always reaches a lead byte or a point that no sequence crosses.
size_t Utf8ChunkLength(std::string_view utf8) {
  if (utf8.size() <= kChunkBytes) return utf8.size();
  size_t cut = kChunkBytes;
  for (int step = 0; step < 3 && IsUtf8Continuation(utf8[cut]); ++step) --cut;
  return cut;
}

}  // namespace

namespace charset_internal {

std::string_view UpToZeroByte(std::string_view bytes) {
  return bytes.substr(0, std::min(bytes.find('\0'), bytes.size()));
}

std::u16string_view UpToZeroUnit(std::u16string_view units) {
  return units.substr(0, std::min(units.find(u'\0'), units.size()));
}

void AppendUtf16AsLocal(std::u16string_view units, std::string& out) {
  const EncodeTable* table = LocalEncodeTable();
  if (table == nullptr || units.empty()) return;
  const size_t start = out.size();
  out.resize(start + 2 * units.size());
  char* end = EncodeUnits(*table, units.data(), units.data() + units.size(), out.data() + start);
  out.resize(static_cast<size_t>(end - out.data()));
}

void AppendUtf8AsLocal(std::string_view utf8, std::string& out) {
  const EncodeTable* table = LocalEncodeTable();
  if (table == nullptr || utf8.empty()) return;
  // Each UTF-8 sequence, and each byte of an invalid one, gives at most as many local bytes as
  // it has, so the text never outgrows its UTF-8 form and out grows once.
  out.reserve(out.size() + utf8.size());
  std::u16string units(std::min(utf8.size(), kChunkBytes), u'\0');
  while (!utf8.empty()) {
    const size_t length = Utf8ChunkLength(utf8);
    int32_t unitCount = 0;
    UErrorCode error = U_ZERO_ERROR;
    u_strFromUTF8WithSub(units.data(), static_cast<int32_t>(units.size()), &unitCount, utf8.data(),
                         static_cast<int32_t>(length), kReplacementCharacter, nullptr, &error);
    if (U_FAILURE(error)) return;
    const size_t start = out.size();
    out.resize(start + length);
    char* end = EncodeUnits(*table, units.data(), units.data() + unitCount, out.data() + start);
    out.resize(static_cast<size_t>(end - out.data()));
    utf8.remove_prefix(length);
  }
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
  charset_internal::AppendUtf8AsLocal(charset_internal::UpToZeroByte(utf8), local);
  return local;
}

}  // namespace quenbrel
