// Every code of every single-byte and double-byte code page, in both directions, against tables
// written at build time from Python's codecs (code_page_tables.py), which follow the code pages
// Windows defines, code by code: every code a page decodes (all single bytes, every lead byte with
// every trail byte) and every UTF-16 code unit but the surrogates. The places where the
// conversion knowingly differs from those tables are listed below (KnownDifference) with the
// reason. Python's codecs have no best fit, so for a character the reference cannot encode,
// pages with Windows' best fit (874, 936, 949, 950) may give a code other than "?": those are
// counted, not checked. Each page prints its counts.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "charset/charset_internal.h"

namespace quenbrel {
namespace {

using charset_internal::DecodeCharset;
using charset_internal::EncodeCharset;

std::string HexBytes(std::string_view bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return hex;
}

std::string HexUnits(std::u16string_view units) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (char16_t unit : units) {
    if (!hex.empty()) hex += ' ';
    for (int shift = 12; shift >= 0; shift -= 4) hex += kDigits[(unit >> shift) & 15];
  }
  return hex;
}

std::string FromHex(std::string_view hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  }
  return bytes;
}

std::u16string FromHexUnits(std::string_view hex) {
  std::u16string units;
  for (size_t i = 0; i + 4 <= hex.size(); i += 5) {
    units += static_cast<char16_t>(std::stoi(std::string(hex.substr(i, 4)), nullptr, 16));
  }
  return units;
}

// One code page of the generated tables, hex as written there and raw.
struct Page {
  struct Decode {
    std::string hexBytes;
    std::string hexUnits;  // "-": the reference rejects the code
    std::string bytes;
    std::u16string units;
  };
  std::vector<Decode> decodes;
  std::map<char16_t, std::string> encodes;  // unit -> raw bytes
};

const std::map<std::string, Page>& Pages() {
  static const std::map<std::string, Page>* pages = [] {
    auto* read = new std::map<std::string, Page>;
    std::ifstream in(QUENBREL_CODE_PAGE_TABLES);
    Page* page = nullptr;
    for (std::string line; std::getline(in, line);) {
      std::istringstream fields(line);
      std::string kind, first, rest;
      fields >> kind >> first;
      std::getline(fields >> std::ws, rest);
      if (kind == "page") {
        page = &(*read)[first];
      } else if (page != nullptr && kind == "d") {
        page->decodes.push_back({first, rest, FromHex(first), FromHexUnits(rest)});
      } else if (page != nullptr && kind == "e") {
        page->encodes[static_cast<char16_t>(std::stoi(first, nullptr, 16))] = FromHex(rest);
      }
    }
    return read;
  }();
  return *pages;
}

bool IsOneOf(std::string_view page, std::initializer_list<std::string_view> pages) {
  return std::find(pages.begin(), pages.end(), page) != pages.end();
}

bool IsPrivateUse(std::string_view hexUnits) {
  return hexUnits.size() == 4 && hexUnits >= "E000" && hexUnits <= "F8FF";
}

// The known differences from the reference tables: given a code where the conversion (ours)
// differs from the reference (expected), the reason, or nullptr for a fault. Decoding: code and
// expected are hex bytes and hex units; encoding: a hex unit and hex bytes.
const char* KnownDifference(const std::string& page, char direction, const std::string& code,
                            const std::string& ours, const std::string& expected,
                            const std::map<std::string, std::string>& decodes) {
  // Windows' own tables for its single-byte pages map every byte of 80..9F that the page leaves
  // undefined to the C1 control of the same number, and back (the web's tables for these pages,
  // which copy Windows, do the same); the reference leaves them undefined. ICU's converter for
  // 20936 does the same with the single bytes 80..9F (not checked against Windows).
  if (IsOneOf(page,
              {"windows-874", "windows-1250", "windows-1251", "windows-1252", "windows-1253",
               "windows-1254", "windows-1255", "windows-1257", "windows-1258", "x-cp20936"})) {
    const bool c1Byte = code.size() == 2 && code >= "80" && code <= "9F";
    if (direction == 'd' && c1Byte && expected == "-" && ours == "00" + code) {
      return "undefined C1 byte passes through";
    }
    const bool c1Unit = code.size() == 4 && code >= "0080" && code <= "009F";
    if (direction == 'e' && c1Unit && expected == "3F" && ours == code.substr(2)) {
      return "undefined C1 byte passes through";
    }
  }
  // Codes the page reserves for user-defined characters (and the other bytes Windows gives a
  // private-use character) decode to the private use area and back, as the tables made from
  // Windows' own conversions have them; the reference leaves most of them undefined, and in
  // code page 950 fills part of C6A1..C8FE with kana and symbols (another vendor's extension)
  // that Windows and glibc's CP950 do not have there.
  if (direction == 'd' && IsPrivateUse(ours) &&
      (expected == "-" || (page == "big5" && code >= "C6A1" && code <= "C8FE"))) {
    return "user-defined code as private use";
  }
  if (page == "big5" && direction == 'e' && ours == "3F" && expected >= "C6A1" &&
      expected <= "C8FE") {
    return "user-defined code as private use";
  }
  if (direction == 'e' && IsPrivateUse(code) && expected == "3F") {
    const auto back = decodes.find(ours);
    if (back == decodes.end() || back->second == "-" ||
        (page == "big5" && ours >= "C6A1" && ours <= "C8FE")) {
      return "user-defined code as private use";
    }
  }
  // Code page 932 has a second code for many characters (NEC's selection of IBM's extensions,
  // rows ED and EE, beside IBM's own in FA..FC, and NEC's row 13 beside JIS codes), and 950 for
  // some box-drawing characters (A2A4.. and F9F9..); Windows writes the IBM extension's, the JIS
  // or the F9 code, the reference the other one. Both decode to the character.
  if (IsOneOf(page, {"shift_jis", "big5"}) && direction == 'e' && expected != "3F") {
    const auto back = decodes.find(ours);
    if (back != decodes.end() && back->second == code)
      return "second code of a character: Windows' choice";
  }
  // Best fits of code page 950 where ICU's table, made from Windows' conversions, and the
  // reference's one-way mappings disagree: U+203E OVERLINE as A1C3 (FULLWIDTH MACRON) rather than
  // A1C2 (MACRON), U+223C TILDE OPERATOR as "?" rather than A1E3 (U+FF5E).
  if (page == "big5" && direction == 'e' &&
      ((code == "203E" && ours == "A1C3") || (code == "223C" && ours == "3F"))) {
    return "best fit of Windows' table";
  }
  // Code pages 949 and 950 pass the byte 80 through as U+0080, as Windows' tables have it.
  if (IsOneOf(page, {"euc-kr", "big5"}) && direction == 'd' && code == "80" && ours == "0080") {
    return "80 passes through";
  }
  // Code page 936 has the euro sign at 80 as a single byte.
  if (page == "gbk" && direction == 'd' && code == "80" && ours == "20AC") {
    return "936 euro sign at 80";
  }
  return nullptr;
}

struct Counts {
  int decoded = 0;
  int encoded = 0;
  int bestFits = 0;
  std::map<std::string, int> differences;  // by reason
};

// Charsets whose best fit (ICU's fallbacks from Windows' own tables) the reference lacks: a
// character without a mapping there may give another code than "?".
bool HasBestFit(std::string_view page) {
  return IsOneOf(page, {"gbk", "euc-kr", "big5", "windows-874"});
}

class CodePageSweepTest : public testing::TestWithParam<std::string> {};

// Codes are converted in blocks of this many; a block whose result is the reference's, joined, is
// taken as agreeing code by code (the swept pages are stateless), any other block code by code.
constexpr size_t kBlock = 64;

TEST_P(CodePageSweepTest, AgreesWithReference) {
  const std::string& name = GetParam();
  const auto found = Pages().find(name);
  ASSERT_NE(found, Pages().end()) << "no table for " << name;
  const Page& page = found->second;
  std::map<std::string, std::string> hexDecodes;  // hex bytes -> hex units, for the reasons
  for (const Page::Decode& decode : page.decodes) hexDecodes[decode.hexBytes] = decode.hexUnits;
  Counts counts;
  int failures = 0;
  auto check = [&](char direction, const std::string& code, const std::string& ours,
                   const std::string& expected) {
    if (ours == expected) return;
    if (const char* reason = KnownDifference(name, direction, code, ours, expected, hexDecodes)) {
      ++counts.differences[reason];
    } else if (++failures <= 40) {
      ADD_FAILURE() << name << ' ' << direction << ' ' << code << ": ours " << ours
                    << ", reference " << expected;
    }
  };

  auto decodeOne = [&](const Page::Decode& decode) {
    const std::optional<std::u16string> units = DecodeCharset(name, decode.bytes);
    ASSERT_TRUE(units.has_value());
    // A code the reference rejects decodes to U+FFFD, for a pair followed by its trail byte
    // alone where that is a character of its own.
    std::string ours = HexUnits(*units);
    if (decode.hexUnits == "-" && ours.substr(0, 4) == "FFFD") ours = "-";
    check('d', decode.hexBytes, ours, decode.hexUnits);
  };
  std::vector<const Page::Decode*> block;
  auto decodeBlock = [&] {
    std::string bytes;
    std::u16string expected;
    for (const Page::Decode* decode : block) {
      bytes += decode->bytes;
      expected += decode->units;
    }
    if (DecodeCharset(name, bytes) != expected) {
      for (const Page::Decode* decode : block) decodeOne(*decode);
    }
    block.clear();
  };
  for (const Page::Decode& decode : page.decodes) {
    ++counts.decoded;
    if (decode.hexUnits == "-") {
      decodeOne(decode);  // alone: it may take the bytes after it
      continue;
    }
    block.push_back(&decode);
    if (block.size() == kBlock) decodeBlock();
  }
  decodeBlock();

  auto expectedBytes = [&](char16_t unit) {
    const auto mapped = page.encodes.find(unit);
    return mapped == page.encodes.end() ? std::string("?") : mapped->second;
  };
  auto encodeOne = [&](char16_t unit) {
    const std::u16string units(1, unit);
    const std::optional<std::string> bytes = EncodeCharset(name, units);
    ASSERT_TRUE(bytes.has_value());
    const std::string ours = HexBytes(*bytes);
    const std::string code = HexUnits(units);
    const std::string expected = HexBytes(expectedBytes(unit));
    if (expected == "3F" && ours != "3F" && HasBestFit(name) &&
        !KnownDifference(name, 'e', code, ours, expected, hexDecodes)) {
      ++counts.bestFits;  // best fit where the reference has none
      return;
    }
    check('e', code, ours, expected);
  };
  std::u16string units;
  auto encodeBlock = [&] {
    std::string expected;
    for (char16_t unit : units) expected += expectedBytes(unit);
    if (EncodeCharset(name, units) != expected) {
      for (char16_t unit : units) encodeOne(unit);
    }
    units.clear();
  };
  for (char32_t unit = 1; unit <= 0xFFFF; ++unit) {
    if (unit >= 0xD800 && unit <= 0xDFFF) continue;
    ++counts.encoded;
    units += static_cast<char16_t>(unit);
    if (units.size() == kBlock) encodeBlock();
  }
  encodeBlock();

  EXPECT_EQ(failures, 0);
  std::printf("%-13s decoded %5d, encoded %5d, best fits %4d", name.c_str(), counts.decoded,
              counts.encoded, counts.bestFits);
  for (const auto& [reason, count] : counts.differences) {
    std::printf("; %s: %d", reason.c_str(), count);
  }
  std::printf("\n");
}

INSTANTIATE_TEST_SUITE_P(
    Pages, CodePageSweepTest,
    testing::Values("windows-874", "windows-1250", "windows-1251", "windows-1252", "windows-1253",
                    "windows-1254", "windows-1255", "windows-1256", "windows-1257", "windows-1258",
                    "iso-8859-1", "iso-8859-2", "iso-8859-3", "iso-8859-4", "iso-8859-5",
                    "iso-8859-6", "iso-8859-7", "iso-8859-8", "iso-8859-9", "iso-8859-13",
                    "iso-8859-15", "us-ascii", "koi8-r", "koi8-u", "ibm866", "ibm437", "macintosh",
                    "gbk", "shift_jis", "euc-kr", "big5", "x-cp20936", "gb18030"),
    [](const testing::TestParamInfo<std::string>& info) {
      std::string name = info.param;
      for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return name;
    });

}  // namespace
}  // namespace quenbrel
