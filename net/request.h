// The HTTP request layer under WebAccess: session, connection, request, send, read, raw header
// block, close.
//
// Each routine stands in for one call of the Windows internet API that web access was first
// written against, with the same arguments and the same results, over libcurl:
//   OpenSession        agent, access type, proxy list (direct, or "[scheme=]host:port" entries)
//   OpenConnection     host and port; fails for an empty host or a port outside 0 to 65535
//   OpenRequest        verb, object name and the flag word (kFlag... below)
//   SendRequest        the completed header text and the body; runs the whole exchange, redirect
//                      hops included; failures (no route, refused, dropped, time limit, TLS) are
//                      not reported, they show as no data and no header block
//   ReadResponse       hands over the body received, then answers 0
//   RawResponseHeaders the final response's header block, or empty
// Closing is destroying the handle: the objects are owned by unique_ptr and nothing outlives them.
//
// What goes on the wire: the request line (verb, object name as given, HTTP/1.1), Host, the
// header text's lines in order without empty lines, the agent unless the text has a User-Agent
// line, Content-Length when there is a body, and a Cookie line from the process cookie store when
// kFlagNoCookies is clear. None of libcurl's own Accept, Expect, Pragma, Content-Type or
// Proxy-Connection lines. The body comes back with chunked coding removed and any content coding
// kept. Without kFlagNoCookies one in-memory cookie store, shared by the whole process and never
// written to disk, sends and keeps cookies. TLS checks the peer's certificate and host name.
//
// Time limits and an extra certificate authority come from RequestSettings, the one place tests
// change them.
//
// Thread safety: handles belong to one thread at a time; different handles may be used from
// different threads at once. The settings and the cookie store are guarded by locks.
//
// Example:
//   auto session = OpenSession("Agent/1.0", kAccessDirect, "");
//   auto connection = OpenConnection(*session, "127.0.0.1", 8080);
//   auto request = OpenRequest(*connection, "GET", "/a?b=1", kFlagReload);
//   SendRequest(*request, "Accept: */*", {});
//   Bytes body;
//   while (ReadResponse(*request, body) > 0) {}
//   Text head = RawResponseHeaders(*request);   // "HTTP/1.1 200 OK\r\n...\r\n\r\n"

#ifndef QUENBREL_NET_REQUEST_H_
#define QUENBREL_NET_REQUEST_H_

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "text/text.h"

namespace quenbrel {

// Time limits and trust, read when a request is sent.
struct RequestSettings {
  int connectTimeoutMs = 60000;  // a connection (and its TLS handshake) is made within this
  int receiveIdleMs = 30000;     // once connected, a request receiving nothing this long fails
  Text extraCaFile;              // PEM file of authorities trusted besides the system's; or empty
};
// The settings in force.
RequestSettings GetRequestSettings();
// Replaces the settings for requests sent from now on.
void SetRequestSettings(const RequestSettings& settings);

// Access types of a session.
inline constexpr int kAccessDirect = 1;  // no proxy; proxy environment variables are ignored
inline constexpr int kAccessProxy = 3;   // through the proxy list

// Bits of a request's flag word.
inline constexpr std::uint32_t kFlagReload = 0x80000000;  // from the server (there is no cache)
inline constexpr std::uint32_t kFlagNeedFile = 0x10;      // no effect: nothing is cached
inline constexpr std::uint32_t kFlagNoCookies = 0x80000;  // no cookie store
inline constexpr std::uint32_t kFlagNoAutoRedirect = 0x200000;       // return redirects as such
inline constexpr std::uint32_t kFlagSecure = 0x800000;               // TLS
inline constexpr std::uint32_t kFlagIgnoreRedirectToHttps = 0x4000;  // follow http -> https
inline constexpr std::uint32_t kFlagIgnoreRedirectToHttp = 0x8000;   // follow https -> http

// Most redirects followed by one request; the response after the last is returned as it is.
inline constexpr int kMaxRedirects = 10;
// Bytes the raw header block may take, its terminating zero byte included.
inline constexpr int kRawHeaderBufferSize = 5000;

struct Session;
struct Connection;
struct Request;
struct SessionDeleter {
  void operator()(Session* session) const;
};
struct ConnectionDeleter {
  void operator()(Connection* connection) const;
};
struct RequestDeleter {
  void operator()(Request* request) const;
};
using SessionHandle = std::unique_ptr<Session, SessionDeleter>;
using ConnectionHandle = std::unique_ptr<Connection, ConnectionDeleter>;
using RequestHandle = std::unique_ptr<Request, RequestDeleter>;

// A session with the agent sent on every request. proxyList holds entries separated by spaces or
// ";", each "scheme=host:port" (serves that scheme only) or "host:port" (serves every scheme,
// https through a CONNECT tunnel); the bypass list is empty. Null when libcurl cannot start.
SessionHandle OpenSession(std::string_view agent, int accessType, std::string_view proxyList);
// A connection to host and port (0: the scheme's default). Nothing is contacted yet. Null when
// host is empty or port is outside 0 to 65535.
ConnectionHandle OpenConnection(const Session& session, std::string_view host, int port);
// A request of verb for objectName (sent as written, after percent-encoding control bytes and
// spaces). Null when libcurl cannot make a transfer handle.
RequestHandle OpenRequest(const Connection& connection, std::string_view verb,
                          std::string_view objectName, std::uint32_t flags);
// Sends the request with the header text (lines joined by CRLF) and body, and receives the
// response, following redirects unless kFlagNoAutoRedirect: at most kMaxRedirects hops; POST
// becomes GET without a body on 301 and 302, every verb but HEAD on 303; 307 and 308 keep verb
// and body; https -> http only with kFlagIgnoreRedirectToHttp, http -> https only with
// kFlagIgnoreRedirectToHttps. Every hop sends the header lines again except Cookie lines, which
// go only to the connection's host. GET never sends a body. REQUIRES: called once per request.
void SendRequest(Request& request, std::string_view headers, std::span<const std::uint8_t> body);
// Appends the response body not yet handed over to response and answers how many bytes that
// was; 0 once everything has been handed over. A body cut short yields what arrived.
std::size_t ReadResponse(Request& request, Bytes& response);
// The final response's header block: status line first, every line ended by CRLF, an empty line
// last; no 1xx response, redirect hop, proxy tunnel reply or trailer. Empty when no complete
// block arrived or the block does not fit kRawHeaderBufferSize bytes with a zero byte after it.
Text RawResponseHeaders(const Request& request);

}  // namespace quenbrel

#endif  // QUENBREL_NET_REQUEST_H_
