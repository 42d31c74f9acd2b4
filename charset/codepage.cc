// The local code page over ICU's "windows-936-2000" converter, with the corrections that make it
// behave as the Windows ANSI conversion does (see codepage.h).

#include "charset/codepage.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "charset/codepage_internal.h"

namespace quenbrel {
namespace {

constexpr char kLocalConverterName[] = "windows-936-2000";

// The code units that ICU's fallback table maps to control bytes (U+FFE9 -> 0x1B, ...), where
// Windows writes its default character.
constexpr char16_t kFirstControlFallback = 0xFFE9;
constexpr char16_t kLastControlFallback = 0xFFEE;

bool IsControlFallback(char16_t unit) {
  return unit >= kFirstControlFallback && unit <= kLastControlFallback;
}

// From-Unicode callback: one default character per UTF-16 code unit that has no mapping. Unlike
// ICU's stock substitution it never skips default-ignorable characters.
void WriteDefaultCharacters(const void* /*context*/, UConverterFromUnicodeArgs* args,
                            const UChar* /*codeUnits*/, int32_t length, UChar32 /*codePoint*/,
                            UConverterCallbackReason reason, UErrorCode* error) {
  if (reason != UCNV_UNASSIGNED && reason != UCNV_ILLEGAL && reason != UCNV_IRREGULAR) return;
  *error = U_ZERO_ERROR;
  for (int32_t i = 0; i < length && U_SUCCESS(*error); ++i) {
    ucnv_cbFromUWriteBytes(args, "?", 1, 0, error);
  }
}

// The calling thread's code page 936 converter, opened on first use and closed when the thread
// ends; nullptr if ICU cannot open it.
class LocalConverter {
 public:
  LocalConverter() {
    UErrorCode error = U_ZERO_ERROR;
    converter_ = ucnv_open(kLocalConverterName, &error);
    if (U_FAILURE(error)) {
      Close();
      return;
    }
    ucnv_setFallback(converter_, true);  // the best-fit mappings are ICU fallbacks
    ucnv_setFromUCallBack(converter_, WriteDefaultCharacters, nullptr, nullptr, nullptr, &error);
    if (U_FAILURE(error)) Close();
  }
  ~LocalConverter() { Close(); }
  LocalConverter(const LocalConverter&) = delete;
  LocalConverter& operator=(const LocalConverter&) = delete;

  UConverter* get() const { return converter_; }

 private:
  void Close() {
    if (converter_ != nullptr) ucnv_close(converter_);
    converter_ = nullptr;
  }
  UConverter* converter_ = nullptr;
};

UConverter* ThreadLocalConverter() {
  thread_local LocalConverter converter;
  return converter.get();
}

std::string_view UpToZeroByte(std::string_view bytes) {
  return bytes.substr(0, std::min(bytes.find('\0'), bytes.size()));
}

std::u16string_view UpToZeroUnit(std::u16string_view units) {
  return units.substr(0, std::min(units.find(u'\0'), units.size()));
}

// Encodes units (no U+0000, no control fallbacks) and appends the bytes to out.
void EncodeLocal(UConverter* converter, std::u16string_view units, Text& out) {
  if (units.empty()) return;
  ucnv_resetFromUnicode(converter);
  const size_t start = out.size();
  // Two bytes per code unit is the most the code page needs (a pair becomes "??").
  out.resize(start + 2 * units.size());
  char* target = out.data() + start;
  const UChar* source = units.data();
  UErrorCode error = U_ZERO_ERROR;
  ucnv_fromUnicode(converter, &target, out.data() + out.size(), &source, source + units.size(),
                   nullptr, true, &error);
  out.resize(U_SUCCESS(error) ? static_cast<size_t>(target - out.data()) : start);
}

}  // namespace

namespace charset_internal {

void AppendUtf16AsLocal(std::u16string_view units, Text& out) {
  UConverter* converter = ThreadLocalConverter();
  if (converter == nullptr) return;
  if (std::none_of(units.begin(), units.end(), IsControlFallback)) {
    EncodeLocal(converter, units, out);
    return;
  }
  std::u16string patched(units);
  std::replace_if(patched.begin(), patched.end(), IsControlFallback, u'?');
  EncodeLocal(converter, patched, out);
}

void AppendLocalAsUtf16(std::string_view bytes, std::u16string& out) {
  UConverter* converter = ThreadLocalConverter();
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

std::u16string DecodeUtf8(std::string_view utf8) {
  std::u16string units;
  if (utf8.empty()) return units;
  // UTF-8 never needs more code units than it has bytes.
  units.resize(utf8.size());
  int32_t length = 0;
  UErrorCode error = U_ZERO_ERROR;
  u_strFromUTF8WithSub(units.data(), static_cast<int32_t>(units.size()), &length, utf8.data(),
                       static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr, &error);
  units.resize(U_SUCCESS(error) ? static_cast<size_t>(length) : 0);
  return units;
}

std::string EncodeUtf8(std::u16string_view units) {
  std::string utf8;
  if (units.empty()) return utf8;
  utf8.resize(3 * units.size());
  int32_t length = 0;
  UErrorCode error = U_ZERO_ERROR;
  u_strToUTF8WithSub(utf8.data(), static_cast<int32_t>(utf8.size()), &length, units.data(),
                     static_cast<int32_t>(units.size()), 0xFFFD, nullptr, &error);
  utf8.resize(U_SUCCESS(error) ? static_cast<size_t>(length) : 0);
  return utf8;
}

}  // namespace charset_internal

std::u16string LocalToUtf16(std::string_view text) {
  std::u16string units;
  charset_internal::AppendLocalAsUtf16(UpToZeroByte(text), units);
  return units;
}

Text Utf16ToLocal(std::u16string_view text) {
  Text local;
  charset_internal::AppendUtf16AsLocal(UpToZeroUnit(text), local);
  return local;
}

std::string LocalToUtf8(std::string_view text) {
  return charset_internal::EncodeUtf8(LocalToUtf16(text));
}

Text Utf8ToLocal(std::string_view utf8) {
  Text local;
  charset_internal::AppendUtf16AsLocal(charset_internal::DecodeUtf8(UpToZeroByte(utf8)), local);
  return local;
}

}  // namespace quenbrel
