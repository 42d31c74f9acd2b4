// Folding the cookies a response sets into the caller's cookie text.
//
// A cookie text holds items "name=value". As written here the items are joined by "; " with no
// separator before the first or after the last ("SID=abc; lang=zh"); as read by the merge, every
// space (0x20 and the full-width A1 A1) is first removed, values included, and the items are
// what lies between ";" (a leading ";" or ";;" makes an empty item, a final ";" none). A name is
// the part before the first "=" (the whole item without one), trimmed, compared byte for byte
// and case-sensitively. An item whose last 8 bytes are "=deleted" is a cookie the server has
// deleted; no merged text holds one.
//
// Examples:
//   Text c = "SID=abc; lang=zh", r = "SID=xyz; token=1";
//   MergeCookies(c, r) == "SID=xyz; token=1; lang=zh"     // and c holds the same text after
//   c = "a=1; b=2"; r = "b=deleted";  MergeCookies(c, r) == "a=1"
//   CookieName(" SID =abc")                                == "SID"
//
// MergeCookies rewrites both of its arguments; the other routines only read theirs.
// Thread safety: no shared state.

#ifndef QUENBREL_NET_COOKIES_H_
#define QUENBREL_NET_COOKIES_H_

#include <string_view>

#include "text/text.h"

namespace quenbrel {

// Merges receivedCookies (the cookies a response set) into cookies and returns the merged text,
// which is also left in cookies; receivedCookies is left without spaces. The new items come
// first, all of them, in their order; then each old item whose name no item before it in that
// list has; then items marked "=deleted" are dropped and, of repeated items, only the first
// stays. Runs in near-linear time in the number of items.
Text MergeCookies(Text& cookies, Text& receivedCookies);

// The trimmed part of item before its first "=", or the whole item trimmed when it has none.
Text CookieName(std::string_view item);

// True when some item of items has the cookie name name (compared byte for byte).
bool ContainsCookieName(const TextList& items, std::string_view name);

}  // namespace quenbrel

#endif  // QUENBREL_NET_COOKIES_H_
