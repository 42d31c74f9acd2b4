// WebAccess: one complete HTTP or HTTPS request per call, and the gathering of the cookies a
// response sets.
//
// WebAccess takes the address, a verb by index (kWebMethods), a body as text or bytes, header
// text, an optional cookie text, a proxy and a few switches; it returns the whole response body
// and hands back the completed header text, the raw response header block and the cookies the
// server set. The HTTP status is not inspected: a 404 returns its body like a 200.
//
// Optional parameters sit in WebAccessOptions with their defaults. The in/out parameters are
// pointers to the caller's variables (null: omitted). For cookies, null means "not supplied":
// then the process-wide cookie store sends and keeps cookies; a pointer to empty text means
// "supplied empty": no store is used and the merge runs.
//
// What the caller's variables hold on return:
//   the address has an empty host or a port outside 0 to 65535: all unchanged, empty result;
//   otherwise (also when the server cannot be reached): headers holds the completed header
//   text, responseHeaders the final header block (empty when none arrived or it does not fit
//   5000 bytes with a zero byte), receivedCookies the gathered (and, with mergeCookies and
//   supplied cookies, merged) cookies, bodyBytes the body's bytes when it was empty and the
//   method is not GET, cookies the merged text when a merge ran.
//
// Example:
//   Text cookies, head;
//   Bytes reply = WebAccess("http://127.0.0.1:8080/api/",
//                           {.method = 1, .body = "a=1", .cookies = &cookies,
//                            .responseHeaders = &head, .noRedirect = true});
//   CollectSetCookies("HTTP/1.1 200 OK\r\nSet-Cookie: a=1; path=/\r\nSet-Cookie: b=2\r\n\r\n")
//       == "a=1; b=2"
//
// Blocking: a call returns once the response has been read or has failed (see net/request.h for
// the time limits). Thread safety: calls on different variables may run on any threads at once.

#ifndef QUENBREL_NET_WEB_ACCESS_H_
#define QUENBREL_NET_WEB_ACCESS_H_

#include <array>
#include <string_view>

#include "text/text.h"

namespace quenbrel {

// The verbs by method index; an index outside the table counts as 0.
inline constexpr std::array<std::string_view, 8> kWebMethods = {
    "GET", "POST", "HEAD", "PUT", "OPTIONS", "DELETE", "TRACE", "CONNECT"};

// The optional parameters of WebAccess, in their order, with their defaults.
struct WebAccessOptions {
  int method = 0;                    // index into kWebMethods
  std::string_view body = {};        // sent (as its bytes) when bodyBytes is empty, unless GET
  Text* cookies = nullptr;           // in; out when a merge runs. Null: not supplied
  Text* receivedCookies = nullptr;   // out: the cookies the response set
  Text* headers = nullptr;           // in/out: header lines; on return the text sent
  Text* responseHeaders = nullptr;   // out: the raw response header block
  bool noRedirect = false;           // return redirect responses as they are
  Bytes* bodyBytes = nullptr;        // in/out: the body as bytes; wins over body
  std::string_view proxy = {};       // "host:port"; empty: direct
  bool mergeCookies = true;          // merge the received cookies into supplied cookies
  bool addDefaultHeaders = true;     // add the default header lines
  bool normalizeHeaderNames = true;  // capitalise the header names
};

// Performs one request to url and returns the response body exactly as received (chunked coding
// removed, any content coding kept); empty when the request could not be opened or nothing was
// received. A body cut short returns the bytes that arrived.
Bytes WebAccess(std::string_view url, const WebAccessOptions& options = {});

// The cookies set by a raw response header block: of every line that begins "Set-Cookie: "
// (exact case), the trimmed text between "Set-Cookie:" and the first ";", or, without a ";", the
// trimmed line with every "Set-Cookie:" (any case) removed; joined by "; " in order.
Text CollectSetCookies(std::string_view responseHeaders);

}  // namespace quenbrel

#endif  // QUENBREL_NET_WEB_ACCESS_H_
