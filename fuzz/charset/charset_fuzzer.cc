// Arbitrary bytes and charset pairs through ConvertCharset, with these checks:
//   - the output of a stateful charset ends in its initial state: an "a" after it reads as "a";
//   - a result in the local code page is local text: no zero byte, and it survives a trip
//     through UTF-16 unchanged;
//   - the UTF-8 decoder of the local code page agrees with ICU's (invalid sequences as U+FFFD);
//   - UTF-8 -> GBK -> UTF-8 is the identity for every text that code page 936 can hold, and
//     GBK -> UTF-8 -> GBK for every local text.
//
// Input: byte 0 picks the source charset, byte 1 the target, byte 2 the start position (as a
// signed byte); the rest is the data.

#include <unicode/ustring.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "charset/charset.h"
#include "charset/codepage.h"

namespace {

using quenbrel::Bytes;

// Names in the table in several spellings, and some that are not.
constexpr std::string_view kNames[] = {
    "",        "UTF-8",       "utf-8",        "GBK",      "gb2312",      "Chinese",
    "unicode", "UNICODE",     "unicodeFFFE",  "utf-16be", "big5",        "shift_jis",
    "euc-kr",  "iso-8859-1",  "windows-1252", "us-ascii", "gb18030",     "hz-gb-2312",
    "utf-7",   "iso-2022-jp", "koi8-r",       " gbk",     "klingon",     "utf8",
    "euc-cn",  "x-cp20936",   "utf-32",       "ibm437",   "iso-2022-kr", "ibm866",
};
constexpr size_t kNameCount = sizeof(kNames) / sizeof(kNames[0]);

void Check(bool condition) {
  if (!condition) std::abort();
}

Bytes AsBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

std::string_view AsView(const Bytes& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// ICU's reading of utf8 (up to its first zero byte) as local text.
std::string ReferenceUtf8ToLocal(std::string_view utf8) {
  utf8 = utf8.substr(0, std::min(utf8.find('\0'), utf8.size()));
  std::u16string units(utf8.size() + 1, u'\0');
  int32_t length = 0;
  UErrorCode error = U_ZERO_ERROR;
  u_strFromUTF8WithSub(units.data(), static_cast<int32_t>(units.size()), &length, utf8.data(),
                       static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr, &error);
  Check(U_SUCCESS(error));
  units.resize(static_cast<size_t>(length));
  return quenbrel::Utf16ToLocal(units);
}

bool IsStateful(std::string_view name) {
  return name == "hz-gb-2312" || name == "utf-7" || name == "iso-2022-jp" || name == "iso-2022-kr";
}

bool IsLocalName(std::string_view name) {
  return name == "" || name == "GBK" || name == "gb2312" || name == "Chinese";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const std::string_view from = kNames[data[0] % kNameCount];
  const std::string_view to = kNames[data[1] % kNameCount];
  const int start = static_cast<int8_t>(data[2]);
  const Bytes input(data + 3, data + size);
  const std::string_view text(reinterpret_cast<const char*>(data + 3), size - 3);

  // Any pair: no crash; the local code page gives local text.
  const Bytes converted = quenbrel::ConvertCharset(
      input, {.fromCharset = from, .toCharset = to, .startPosition = start});
  if (IsLocalName(to) && start <= 0) {
    const std::string_view local = AsView(converted);
    Check(local.find('\0') == std::string_view::npos);
    Check(quenbrel::Utf16ToLocal(quenbrel::LocalToUtf16(local)) == local);
  }

  // A stateful charset ends in its initial state: what follows its bytes reads as ASCII.
  if (IsStateful(to) && start <= 0 && !converted.empty()) {
    Bytes followed = converted;
    followed.push_back('a');
    const Bytes read = quenbrel::ConvertCharset(converted, {.fromCharset = to, .toCharset = "gbk"});
    Bytes readFollowed = read;
    readFollowed.push_back('a');
    Check(quenbrel::ConvertCharset(followed, {.fromCharset = to, .toCharset = "gbk"}) ==
          readFollowed);
  }

  // The UTF-8 reading agrees with ICU's.
  const std::string local = quenbrel::Utf8ToLocal(text);
  Check(local == ReferenceUtf8ToLocal(text));
  const std::string_view withoutBom = text.substr(text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0);
  Check(AsView(quenbrel::ConvertCharset(input)) == quenbrel::Utf8ToLocal(withoutBom));

  // Round trips.
  const std::string holdable = quenbrel::LocalToUtf8(local);  // a text code page 936 can hold
  const Bytes gbk = quenbrel::ConvertCharset(AsBytes(holdable));
  Check(AsView(gbk) == local);
  const Bytes back = quenbrel::ConvertCharset(
      gbk, {.fromCharset = "GBK", .toCharset = "UTF-8", .startPosition = 3});
  Check(AsView(back) == holdable);
  const std::string_view anyLocal = text.substr(0, std::min(text.find('\0'), text.size()));
  const std::string mended = quenbrel::Utf16ToLocal(quenbrel::LocalToUtf16(anyLocal));
  Check(quenbrel::Utf8ToLocal(quenbrel::LocalToUtf8(mended)) == mended);
  return 0;
}
