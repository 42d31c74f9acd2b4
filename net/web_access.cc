#include "net/web_access.h"

#include "net/cookies.h"
#include "net/headers.h"
#include "net/request.h"
#include "net/url.h"

namespace quenbrel {
namespace {

constexpr std::string_view kSetCookie = "Set-Cookie:";
constexpr std::string_view kLineEnd = "\r\n";

// The cookie of one header line, when it is a "Set-Cookie" line.
bool CookieOfLine(std::string_view line, Text& value) {
  // The first ": " of the line must end exactly the name "Set-Cookie".
  if (!line.starts_with("Set-Cookie: ")) return false;
  int semicolon = FindText(line, ";");
  if (semicolon != -1) {
    int start = TextLength(kSetCookie) + 1;
    value = TrimBoth(TextMid(line, start, semicolon - start));
  } else {
    value = TrimBoth(ReplaceText(line, kSetCookie, {.matchCase = false}));
  }
  return true;
}

}  // namespace

Text CollectSetCookies(std::string_view responseHeaders) {
  Text cookies;
  Text value;
  for (const Text& line : SplitText(responseHeaders, kLineEnd)) {
    if (!CookieOfLine(line, value)) continue;
    cookies += value;
    cookies += "; ";
  }
  return TextLeft(cookies, TextLength(cookies) - 2);
}

Bytes WebAccess(std::string_view url, const WebAccessOptions& options) {
  // 1-2. The verb and the secure flag.
  int method = options.method;
  if (method < 0 || method >= static_cast<int>(kWebMethods.size())) method = 0;
  std::string_view verb = kWebMethods[method];
  bool secure = ToLower(TextLeft(url, 8)) == "https://";

  Text localHeaders;
  Text& headers = options.headers != nullptr ? *options.headers : localHeaders;

  // 3-4. The agent, read from the header text as the caller passed it, and the session.
  Text agent = UserAgentFromHeaders(headers);
  SessionHandle session;
  if (options.proxy.empty()) {
    session = OpenSession(agent, kAccessDirect, "");
  } else if (secure) {
    session = OpenSession(agent, kAccessProxy, options.proxy);
  } else {
    session = OpenSession(agent, kAccessProxy, ConcatTexts("http=", options.proxy));
  }
  if (!session) return Bytes();

  // 5. The connection.
  ConnectionHandle connection = OpenConnection(*session, UrlHost(url), UrlPort(url));
  if (!connection) return Bytes();

  // 6-7. The flag word and the request.
  bool cookiesSupplied = options.cookies != nullptr;
  std::uint32_t flags = kFlagReload | kFlagNeedFile;
  if (cookiesSupplied) flags |= kFlagNoCookies;
  if (options.noRedirect) flags |= kFlagNoAutoRedirect;
  flags |= secure ? kFlagSecure : kFlagIgnoreRedirectToHttps;
  RequestHandle request = OpenRequest(*connection, verb, UrlPath(url), flags);
  if (!request) return Bytes();

  // 8. The completed header text, written back to the caller from here on.
  CompleteRequestHeaders(headers, url, method, cookiesSupplied ? *options.cookies : Text(),
                         options.addDefaultHeaders, options.normalizeHeaderNames);

  // 9. The body: never for GET; bodyBytes, filled from body when empty, for every other verb.
  Bytes localBodyBytes;
  Bytes& bodyBytes = options.bodyBytes != nullptr ? *options.bodyBytes : localBodyBytes;
  std::span<const std::uint8_t> body;
  if (method != 0) {
    if (bodyBytes.empty()) bodyBytes = ToBytes(options.body);
    body = bodyBytes;
  }

  // 10-11. Send, then read the whole body.
  SendRequest(*request, headers, body);
  Bytes response;
  while (ReadResponse(*request, response) > 0) {
  }

  // 12-13. The raw header block, then close the request, the connection and the session.
  Text responseHeaders = RawResponseHeaders(*request);
  request.reset();
  connection.reset();
  session.reset();

  // 14-15. The cookies the response set, merged into supplied cookies when asked.
  Text received = CollectSetCookies(responseHeaders);
  if (options.mergeCookies && cookiesSupplied) received = MergeCookies(*options.cookies, received);
  if (options.responseHeaders != nullptr) *options.responseHeaders = std::move(responseHeaders);
  if (options.receivedCookies != nullptr) *options.receivedCookies = std::move(received);

  // 16.
  return response;
}

}  // namespace quenbrel
