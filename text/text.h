// Text, byte and list primitives over GBK (code page 936) byte strings, and marker extraction.
//
// A Text is a byte string in code page 936 that holds no zero byte; the empty text and an absent
// text are the same value. Lengths, counts and positions are numbers of bytes, positions are
// 1-based, and a search that finds nothing answers -1.
//
// Characters: a byte of 0x80 or more is the first byte of a two-byte character and the byte after
// it, whatever its value, is the second; a lead byte that ends a text is a character by itself.
// Searching, splitting, replacing, trimming and case changes walk a text one character at a time,
// so a match never begins on a second byte. The cutting routines (TextLeft, TextRight, TextMid)
// count bytes only and may cut a character in two.
//
// Every routine is a pure function: it returns a new value and never changes its arguments, except
// ListAppend, which adds to the list it is given. No routine fails; out-of-range positions and
// counts are clamped as each comment says. Case folding covers the ASCII letters only.
//
// REQUIRES (all routines): texts shorter than 2^31 bytes, so that positions fit an int.
//
// Examples:
//   FindText("abcabc", "bc")            == 2
//   FindText("abcabc", "bc", 3)         == 5
//   FindTextReverse("a.b.c", ".", 4)    == 2      // only occurrences that end before 4
//   SplitText("a;;b;", ";")             == {"a", "", "b"}
//   ReplaceText("aaa", "aa", {.replacement = "b"}) == "ba"
//   TextBetween("items[3]", "[", "]")   == "3"
//   TextLeftOf("Set-Cookie: a=1", ": ") == "Set-Cookie"
//
// Thread safety: no shared state; safe to call from any number of threads.

#ifndef QUENBREL_TEXT_TEXT_H_
#define QUENBREL_TEXT_TEXT_H_

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenbrel {

using Text = std::string;                 // bytes in code page 936, no zero byte
using Bytes = std::vector<std::uint8_t>;  // arbitrary bytes, zero bytes included
using TextList = std::vector<Text>;       // item n of the routines' numbering is list[n - 1]

// ---- Cutting (bytes only) ----

// Number of bytes.
int TextLength(std::string_view text);
// The first min(count, length) bytes; empty if count <= 0.
Text TextLeft(std::string_view text, int count);
// The last min(count, length) bytes; empty if count <= 0.
Text TextRight(std::string_view text, int count);
// count bytes from position start; empty if start < 1, start > length or count <= 0.
Text TextMid(std::string_view text, int start, int count);

// ---- Searching ----

// Position of the first occurrence of sought at or after start (start <= 1: the whole text), or
// -1. The walk steps from start, so a start on a second byte makes that byte begin a character.
// An empty sought answers 1 when the range is not empty. ignoreCase folds ASCII letters in every
// compared byte, second bytes included.
int FindText(std::string_view text, std::string_view sought, int start = 1,
             bool ignoreCase = false);
// Position of the last occurrence that ends before start (omitted: the whole text; start <= 1:
// nothing), or -1. The walk steps from position 1.
int FindTextReverse(std::string_view text, std::string_view sought,
                    std::optional<int> start = std::nullopt, bool ignoreCase = false);

// ---- Replacing, splitting, spaces, case ----

struct ReplaceOptions {
  std::string_view replacement = {};  // empty: occurrences are deleted
  int start = 1;                      // below 1 counts as 1; bytes before it are copied unchanged
  int count = -1;                     // most replacements made; negative: no limit, 0: none
  bool matchCase = true;              // false: ASCII letters match regardless of case
};
// text with the occurrences of sought replaced, left to right, never overlapping; the inserted
// text is never searched again. An empty sought or text comes back unchanged.
Text ReplaceText(std::string_view text, std::string_view sought,
                 const ReplaceOptions& options = {});

// The items between occurrences of delimiter (case-sensitive). Empty items at the start and
// between two delimiters stay; a final delimiter adds no empty item. An empty text or a limit of
// 0 (or below) gives no items; an empty delimiter gives the whole text as one item. With a limit,
// the walk stops once the list holds that many items and the rest is dropped.
TextList SplitText(std::string_view text, std::string_view delimiter = ",",
                   std::optional<int> limit = std::nullopt);

// A space is 0x20 or the full-width space A1 A1; tab, CR and LF are not spaces.
// text without its leading and trailing spaces.
Text TrimBoth(std::string_view text);
// text without any space.
Text RemoveSpaces(std::string_view text);

// a-z become A-Z; second bytes of two-byte characters stay as they are.
Text ToUpper(std::string_view text);
// A-Z become a-z; second bytes of two-byte characters stay as they are.
Text ToLower(std::string_view text);

// ---- Numbers and conversions ----

// The decimal number at the start of text: full-width digits, signs and spaces count as their
// ASCII forms, leading white space is skipped, one sign is taken, and the digits accumulate in
// 32-bit arithmetic that wraps. No digits: 0. Example: ToInteger("+12px") == 12.
int ToInteger(std::string_view text);
// The integer as "%d" writes it.
Text ToText(int value);
// The real as "%.13g" writes it: ToText(3.0) == "3", ToText(2.5) == "2.5".
Text ToText(double value);
// The bytes up to, not including, the first zero byte.
Text ToText(const Bytes& bytes);
// The bytes of the text.
Bytes ToBytes(std::string_view text);
// The byte at position (1-based) as a signed value from -128 to 127; 0 when out of range.
int CharCode(std::string_view text, int position = 1);
// A text of the one byte code modulo 256; empty when that byte is 0.
Text CharFromCode(int code);
// count spaces; empty if count <= 0.
Text BlankText(int count);

// Negative, 0 or positive as a compares below, equal to or above b, byte by byte as unsigned
// values; a text that is the beginning of the other is the smaller.
int CompareText(std::string_view a, std::string_view b);

// The texts joined in order.
Text ConcatTexts(std::initializer_list<std::string_view> parts);
template <typename... Parts>
Text ConcatTexts(std::string_view first, const Parts&... rest) {
  return ConcatTexts({first, std::string_view(rest)...});
}

// ---- Bytes ----

// Number of bytes.
int BytesLength(const Bytes& bytes);
// The first count bytes, with count clamped to 0..length.
Bytes BytesLeft(const Bytes& bytes, int count);
// count zero bytes; empty if count <= 0.
Bytes BlankBytes(int count);
// The buffers joined in order.
Bytes ConcatBytes(std::initializer_list<const Bytes*> parts);
template <typename... Parts>
Bytes ConcatBytes(const Bytes& first, const Parts&... rest) {
  return ConcatBytes({&first, &static_cast<const Bytes&>(rest)...});
}
// True when both hold the same bytes.
bool CompareBytes(const Bytes& a, const Bytes& b);

// ---- Lists ----

// Number of items.
int ListCount(const TextList& list);
// Adds a copy of text as the last item of list.
void ListAppend(TextList& list, std::string_view text);
// Number (from 1) of the first item equal to sought byte for byte, or -1.
int FindListItem(const TextList& items, std::string_view sought);
// text with every repeated item (between delimiters, compared byte for byte) dropped; each distinct
// item stays at its first occurrence. Example: RemoveDuplicateItems("k=1; k=1", "; ") == "k=1".
Text RemoveDuplicateItems(std::string_view text, std::string_view delimiter);

// ---- Marker extraction ----

// The bytes after the first front marker at or after start (below 1: 1) up to the first back
// marker that begins at or after its end; empty when either is missing. Each "#引号" in a marker
// stands for a double quote. ignoreCase folds ASCII letters as FindText does.
Text TextBetween(std::string_view text, std::string_view front, std::string_view back,
                 int start = 1, bool ignoreCase = false);
// Everything in front of the first marker at or after start, counted from the beginning of the
// text; empty when the marker is missing, empty or at position 1.
Text TextLeftOf(std::string_view text, std::string_view marker, int start = 1,
                bool ignoreCase = false);

}  // namespace quenbrel

#endif  // QUENBREL_TEXT_TEXT_H_
