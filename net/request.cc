#include "net/request.h"

#include <curl/curl.h>
#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <mutex>
#include <new>
#include <utility>

#include "net/url.h"

namespace quenbrel {

struct Session {
  Text agent;
  int accessType = kAccessDirect;
  Text proxyList;
};

struct Connection {
  Session session;
  Text host;
  int port = 0;
};

namespace {

// Asks for huge pages on the room of body beyond its bytes, before it is first touched: a large
// body then takes a few hundred page faults instead of one per 4 KiB. Only advice; the kernel may
// decline it.
void AdviseHugePages(const Bytes& body) {
  constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
  auto begin = reinterpret_cast<std::uintptr_t>(body.data() + body.size());
  auto end = reinterpret_cast<std::uintptr_t>(body.data() + body.capacity());
  begin = (begin + kHugePage - 1) & ~(kHugePage - 1);
  end &= ~(kHugePage - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

using Clock = std::chrono::steady_clock;

std::mutex settings_mutex;
RequestSettings settings;  // guarded by settings_mutex

// libcurl's global state, made once for the process, thread-safely.
bool CurlReady() {
  static const bool ready = curl_global_init(CURL_GLOBAL_ALL) == CURLE_OK;
  return ready;
}

// The process cookie store: a share handle whose cookie data libcurl locks through these mutexes.
class CookieStore {
 public:
  CookieStore() : share_(curl_share_init()) {
    if (share_ == nullptr) return;
    curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &CookieStore::Lock);
    curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &CookieStore::Unlock);
    curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
  }
  ~CookieStore() {
    if (share_ != nullptr) curl_share_cleanup(share_);
  }
  CookieStore(const CookieStore&) = delete;
  CookieStore& operator=(const CookieStore&) = delete;

  CURLSH* share() const { return share_; }

 private:
  static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
    static_cast<CookieStore*>(self)->mutexes_[Index(data)].lock();
  }
  static void Unlock(CURL*, curl_lock_data data, void* self) {
    static_cast<CookieStore*>(self)->mutexes_[Index(data)].unlock();
  }
  static std::size_t Index(curl_lock_data data) {
    auto i = static_cast<std::size_t>(data);
    return i < CURL_LOCK_DATA_LAST ? i : 0;
  }

  CURLSH* share_;
  std::array<std::mutex, CURL_LOCK_DATA_LAST> mutexes_;
};

CURLSH* ProcessCookieStore() {
  static CookieStore store;
  return store.share();
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && ToLower(text.substr(0, prefix.size())) == ToLower(prefix);
}

bool IsSpaceOrTab(char c) { return c == ' ' || c == '\t'; }

// The proxy entry of list that serves scheme ("http" or "https"), as a libcurl proxy address;
// empty when none does. An entry for the scheme wins over one for every scheme.
Text ProxyFor(std::string_view list, std::string_view scheme) {
  Text general, specific;
  std::size_t i = 0;
  while (i < list.size()) {
    while (i < list.size() && (list[i] == ' ' || list[i] == ';' || list[i] == '\t')) ++i;
    std::size_t end = i;
    while (end < list.size() && list[end] != ' ' && list[end] != ';' && list[end] != '\t') ++end;
    std::string_view entry = list.substr(i, end - i);
    i = end;
    if (entry.empty()) continue;
    std::size_t eq = entry.find('=');
    if (eq == std::string_view::npos) {
      if (general.empty()) general = Text(entry);
    } else if (ToLower(entry.substr(0, eq)) == scheme && specific.empty()) {
      specific = Text(entry.substr(eq + 1));
    }
  }
  Text chosen = specific.empty() ? general : specific;
  if (chosen.empty()) return chosen;
  if (chosen.find("://") == Text::npos) chosen = "http://" + chosen;
  return chosen;
}

// A host name that may be handed to the resolver and written into a Host line.
bool IsSafeHost(std::string_view host) {
  if (host.empty()) return false;
  for (char c : host) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '.' || c == '_' || c == '[' || c == ']' || c == ':';
    if (!ok) return false;
  }
  return true;
}

// objectName with control bytes, spaces and DEL percent-encoded, so that it stays one token of
// the request line.
Text SafeTarget(std::string_view objectName) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  Text out;
  out.reserve(objectName.size());
  for (char c : objectName) {
    auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b == 0x7F) {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    } else {
      out += c;
    }
  }
  return out;
}

// One exchange of a request: where it goes and what it sends.
struct Hop {
  bool secure = false;
  Text host;
  int port = 0;  // 0: the scheme's default
  Text target;
  Text verb;
  bool withBody = true;
};

// Collects the header lines libcurl reports and keeps the final response's block.
class HeaderBlock {
 public:
  void Reset() { *this = HeaderBlock(); }
  void Add(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (done_) return;  // trailers
    if (!open_) {
      if (!line.starts_with("HTTP/")) return;
      open_ = true;
      current_.clear();
      status_ = 0;
      std::size_t space = line.find(' ');
      if (space != std::string_view::npos) status_ = ToInteger(line.substr(space + 1));
    }
    if (current_.size() < static_cast<std::size_t>(kRawHeaderBufferSize)) {
      // A bare CR inside a line becomes a space, so that CRLF only ever ends a line.
      std::size_t from = current_.size();
      current_.append(line);
      std::replace(current_.begin() + static_cast<std::ptrdiff_t>(from), current_.end(), '\r', ' ');
      current_.append("\r\n");
    }
    if (line.empty()) {
      open_ = false;
      if (status_ >= 200 || status_ < 100) {
        done_ = true;
        final_ = std::move(current_);
      }
      current_.clear();
    }
  }
  bool done() const { return done_; }
  // The trimmed value of the final block's first line named name (ASCII case ignored).
  Text Value(std::string_view name) const {
    std::size_t at = 0;
    while (at < final_.size()) {
      std::size_t end = final_.find("\r\n", at);
      if (end == Text::npos) end = final_.size();
      std::string_view line(final_.data() + at, end - at);
      if (line.size() > name.size() && line[name.size()] == ':' && StartsWithNoCase(line, name)) {
        line.remove_prefix(name.size() + 1);
        while (!line.empty() && IsSpaceOrTab(line.front())) line.remove_prefix(1);
        while (!line.empty() && IsSpaceOrTab(line.back())) line.remove_suffix(1);
        return Text(line);
      }
      at = end + 2;
    }
    return Text();
  }
  int status() const { return status_; }
  const Text& block() const { return final_; }

 private:
  bool open_ = false;
  bool done_ = false;
  int status_ = 0;
  Text current_;
  Text final_;
};

struct CurlListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlList = std::unique_ptr<curl_slist, CurlListDeleter>;

struct CurlUrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using CurlUrl = std::unique_ptr<CURLU, CurlUrlDeleter>;

struct CurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;

}  // namespace

struct Request {
  CurlHandle curl;
  Session session;
  Text host;  // the connection's host: the only one that receives Cookie lines
  int port = 0;
  bool secure = false;
  Text verb;
  Text target;
  std::uint32_t flags = 0;
  bool sent = false;
  bool stopAfterHeaders = false;  // a HEAD request with a body: no response body follows

  // The current hop's response and the receive-idle watch.
  Bytes body;
  std::size_t handedOver = 0;
  bool reserved = false;
  HeaderBlock headers;
  std::uint64_t activity = 0;  // bytes of headers and body received
  std::uint64_t seenActivity = 0;
  curl_off_t seenUpload = 0;
  bool connected = false;
  Clock::time_point lastActivity;
  Clock::duration idleLimit{};
  CurlList headerList;
  CurlUrl url;
};

void SessionDeleter::operator()(Session* session) const { delete session; }
void ConnectionDeleter::operator()(Connection* connection) const { delete connection; }
void RequestDeleter::operator()(Request* request) const { delete request; }

RequestSettings GetRequestSettings() {
  std::lock_guard<std::mutex> lock(settings_mutex);
  return settings;
}

void SetRequestSettings(const RequestSettings& value) {
  std::lock_guard<std::mutex> lock(settings_mutex);
  settings = value;
}

SessionHandle OpenSession(std::string_view agent, int accessType, std::string_view proxyList) {
  if (!CurlReady()) return nullptr;
  auto* session = new (std::nothrow) Session;
  if (session == nullptr) return nullptr;
  session->agent = Text(agent);
  session->accessType = accessType;
  if (accessType == kAccessProxy) session->proxyList = Text(proxyList);
  return SessionHandle(session);
}

ConnectionHandle OpenConnection(const Session& session, std::string_view host, int port) {
  if (host.empty() || port < 0 || port > 65535) return nullptr;
  auto* connection = new (std::nothrow) Connection;
  if (connection == nullptr) return nullptr;
  connection->session = session;
  connection->host = Text(host);
  connection->port = port;
  return ConnectionHandle(connection);
}

RequestHandle OpenRequest(const Connection& connection, std::string_view verb,
                          std::string_view objectName, std::uint32_t flags) {
  CurlHandle curl(curl_easy_init());
  if (!curl) return nullptr;
  auto* request = new (std::nothrow) Request;
  if (request == nullptr) return nullptr;
  request->curl = std::move(curl);
  request->session = connection.session;
  request->host = connection.host;
  request->port = connection.port;
  request->secure = (flags & kFlagSecure) != 0;
  request->verb = Text(verb);
  request->target = SafeTarget(objectName);
  request->flags = flags;
  return RequestHandle(request);
}

namespace {

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto* request = static_cast<Request*>(user);
  std::size_t n = size * count;
  request->activity += n;
  request->headers.Add(std::string_view(data, n));
  // libcurl waits for the body a HEAD response announces unless told there is none, and that
  // would keep the request's own body back; so such a transfer ends here.
  if (request->stopAfterHeaders && request->headers.done()) return 0;
  return n;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* request = static_cast<Request*>(user);
  std::size_t n = size * count;
  request->activity += n;
  try {
    // Room for a body of announced length, taken in two steps so that a server announcing
    // more than it sends gets no more than kFirstReserve: a large body is copied once, at most
    // kFirstReserve bytes of it, and the buffer ends at its length.
    constexpr std::size_t kFirstReserve = std::size_t{16} << 20;
    std::size_t needed = request->body.size() + n;
    if (needed > request->body.capacity()) {
      curl_off_t length = -1;
      curl_easy_getinfo(request->curl.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
      constexpr curl_off_t kMaxAnnounced = curl_off_t{64} << 30;  // beyond: grow as bytes come
      auto announced = static_cast<std::size_t>(length > 0 && length <= kMaxAnnounced ? length : 0);
      if (announced >= needed) {
        std::size_t step = request->reserved ? announced : std::min(announced, kFirstReserve);
        request->reserved = true;
        try {
          request->body.reserve(std::max(step, needed));
          AdviseHugePages(request->body);
        } catch (const std::exception&) {
          // An announced length beyond memory: grow as the bytes come.
        }
      }
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);  // a plain memcpy
    request->body.insert(request->body.end(), bytes, bytes + n);
  } catch (const std::exception&) {
    return 0;  // out of memory: ends the transfer; what arrived so far is kept
  }
  return n;
}

// Ends a transfer that, once connected, has received and sent nothing for the idle limit.
int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t uploaded) {
  auto* request = static_cast<Request*>(user);
  Clock::time_point now = Clock::now();
  if (!request->connected) {
    curl_off_t ready = 0;
    curl_easy_getinfo(request->curl.get(), CURLINFO_PRETRANSFER_TIME_T, &ready);
    if (ready <= 0) return 0;  // the connect limit covers this phase
    request->connected = true;
    request->lastActivity = now;
  }
  if (request->activity != request->seenActivity || uploaded != request->seenUpload) {
    request->seenActivity = request->activity;
    request->seenUpload = uploaded;
    request->lastActivity = now;
    return 0;
  }
  return now - request->lastActivity > request->idleLimit ? 1 : 0;
}

// The header lines of one hop: the text's non-empty lines, without Cookie lines when the hop
// goes to another host, then empty entries that keep libcurl from adding lines of its own.
CurlList HeaderList(std::string_view text, bool withCookieLines) {
  curl_slist* list = nullptr;
  auto add = [&list](const Text& line) {
    curl_slist* grown = curl_slist_append(list, line.c_str());
    if (grown != nullptr) list = grown;
  };
  std::size_t at = 0;
  while (at <= text.size()) {
    // A lone CR or LF ends a line as well: it must not reach the wire inside one.
    std::size_t end = text.find_first_of("\r\n", at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + ((end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n') ? 2 : 1);
    if (line.empty()) continue;
    if (!withCookieLines && StartsWithNoCase(line, "Cookie:")) continue;
    std::size_t colon = line.find(':');
    std::string_view value =
        colon == std::string_view::npos ? std::string_view() : line.substr(colon + 1);
    bool blank = true;
    for (char c : value) blank = blank && IsSpaceOrTab(c);
    if (colon != std::string_view::npos && blank) {
      // libcurl drops "Name:" with a blank value; "Name;" is its way of sending "Name:".
      add(Text(line.substr(0, colon)) + ";");
    } else {
      add(Text(line));
    }
  }
  for (const char* own : {"Accept:", "Expect:", "Pragma:", "Content-Type:", "Proxy-Connection:"}) {
    add(own);
  }
  return CurlList(list);
}

// Points the transfer at hop. False when the hop's host cannot be used.
bool SetUpHop(Request& request, const Hop& hop, std::span<const std::uint8_t> body,
              const Text& proxy) {
  CURL* curl = request.curl.get();
  if (!IsSafeHost(hop.host)) return false;
  const char* scheme = hop.secure ? "https" : "http";
  CurlUrl url(curl_url());
  if (!url) return false;
  if (curl_url_set(url.get(), CURLUPART_SCHEME, scheme, 0) != CURLUE_OK ||
      curl_url_set(url.get(), CURLUPART_HOST, hop.host.c_str(), 0) != CURLUE_OK) {
    return false;
  }
  if (hop.port != 0 &&
      curl_url_set(url.get(), CURLUPART_PORT, ToText(hop.port).c_str(), 0) != CURLUE_OK) {
    return false;
  }
  // The address's path and query let the cookie store match paths; the request line carries the
  // target exactly.
  std::string_view target = hop.target;
  std::string_view path = target.substr(0, target.find_first_of("?#"));
  std::string_view rest = target.substr(path.size());
  curl_url_set(url.get(), CURLUPART_PATH, Text(path).c_str(), 0);
  if (rest.starts_with("?")) {
    Text query(rest.substr(
        1, rest.find('#') == std::string_view::npos ? std::string_view::npos : rest.find('#') - 1));
    if (!query.empty()) curl_url_set(url.get(), CURLUPART_QUERY, query.c_str(), 0);
  }
  request.url = std::move(url);
  curl_easy_setopt(curl, CURLOPT_CURLU, request.url.get());

  Text requestTarget = hop.target;
  if (!proxy.empty() && !hop.secure) {
    // A proxy that does not tunnel is asked for the whole address.
    requestTarget = "http://" + hop.host +
                    (hop.port != 0 && hop.port != 80 ? ":" + ToText(hop.port) : Text()) +
                    hop.target;
  }
  curl_easy_setopt(curl, CURLOPT_REQUEST_TARGET, requestTarget.c_str());

  // Verb and body. A plain GET first clears what an earlier hop set.
  curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  bool isHead = hop.verb == "HEAD";
  bool sendsBody = hop.withBody && hop.verb != "GET" && !body.empty();
  request.stopAfterHeaders = isHead && sendsBody;
  if (isHead && !sendsBody) curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);  // no response body
  if (sendsBody) {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
  }
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, hop.verb.c_str());
  return true;
}

// The absolute address of a Location value, resolved against the hop's address; empty when it
// cannot be resolved.
Text ResolveLocation(const Request& request, const Text& location) {
  if (location.empty() || !request.url) return Text();
  CurlUrl url(curl_url_dup(request.url.get()));
  if (!url) return Text();
  if (curl_url_set(url.get(), CURLUPART_URL, location.c_str(),
                   CURLU_ALLOW_SPACE | CURLU_URLENCODE) != CURLUE_OK) {
    return Text();
  }
  char* text = nullptr;
  if (curl_url_get(url.get(), CURLUPART_URL, &text, 0) != CURLUE_OK) return Text();
  Text resolved(text);
  curl_free(text);
  return resolved;
}

bool IsRedirect(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

void SendRequest(Request& request, std::string_view headers, std::span<const std::uint8_t> body) {
  if (request.sent) return;
  request.sent = true;
  CURL* curl = request.curl.get();
  RequestSettings limits = GetRequestSettings();
  request.idleLimit = std::chrono::milliseconds(limits.receiveIdleMs);

  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(curl, CURLOPT_HTTP_CONTENT_DECODING, 0L);
  curl_easy_setopt(curl, CURLOPT_HTTP_TRANSFER_DECODING, 1L);
  curl_easy_setopt(curl, CURLOPT_TRANSFER_ENCODING, 0L);
  curl_easy_setopt(curl, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, 256L * 1024);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connectTimeoutMs));
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &request);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &request);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &OnProgress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &request);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!limits.extraCaFile.empty()) {
    // The file is trusted besides, not instead of, the system's directory of authorities.
    curl_easy_setopt(curl, CURLOPT_CAINFO, limits.extraCaFile.c_str());
    curl_easy_setopt(curl, CURLOPT_CAPATH, "/etc/ssl/certs");
  }
  if (!request.session.agent.empty()) {
    curl_easy_setopt(curl, CURLOPT_USERAGENT, request.session.agent.c_str());
  }
  if ((request.flags & kFlagNoCookies) == 0) {
    CURLSH* store = ProcessCookieStore();
    if (store != nullptr) {
      curl_easy_setopt(curl, CURLOPT_SHARE, store);
      curl_easy_setopt(curl, CURLOPT_COOKIEFILE, "");  // the engine on, no file read or written
    }
  }
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "");

  Hop hop;
  hop.secure = request.secure;
  hop.host = request.host;
  hop.port = request.port;
  hop.target = request.target;
  hop.verb = request.verb;
  for (int redirects = 0;; ++redirects) {
    Text proxy = ProxyFor(request.session.proxyList, hop.secure ? "https" : "http");
    curl_easy_setopt(curl, CURLOPT_PROXY, proxy.c_str());  // "": direct, environment ignored
    if (!proxy.empty()) {
      curl_easy_setopt(curl, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
      curl_easy_setopt(curl, CURLOPT_PROXYPORT, 80L);  // when the entry names no port
    }
    request.headerList = HeaderList(headers, hop.host == request.host);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, request.headerList.get());

    request.body.clear();
    request.reserved = false;
    request.headers.Reset();
    request.connected = false;
    request.activity = request.seenActivity = 0;
    request.seenUpload = 0;
    if (!SetUpHop(request, hop, body, proxy)) return;
    curl_easy_perform(curl);  // a failure shows as a missing header block or a short body

    if ((request.flags & kFlagNoAutoRedirect) != 0 || !request.headers.done()) return;
    int status = request.headers.status();
    if (!IsRedirect(status) || redirects == kMaxRedirects) return;
    Text location = ResolveLocation(request, request.headers.Value("Location"));
    if (location.empty()) return;
    bool toSecure = StartsWithNoCase(location, "https://");
    if (!toSecure && !StartsWithNoCase(location, "http://")) return;
    if (hop.secure && !toSecure && (request.flags & kFlagIgnoreRedirectToHttp) == 0) return;
    if (!hop.secure && toSecure && (request.flags & kFlagIgnoreRedirectToHttps) == 0) return;

    if (((status == 301 || status == 302) && hop.verb == "POST") ||
        (status == 303 && hop.verb != "HEAD")) {
      hop.verb = "GET";
      hop.withBody = false;
    }
    hop.secure = toSecure;
    hop.host = UrlHost(location);
    int port = UrlPort(location);
    hop.port = (port == (toSecure ? 443 : 80)) ? 0 : port;
    hop.target = SafeTarget(UrlPath(location));
  }
}

std::size_t ReadResponse(Request& request, Bytes& response) {
  std::size_t left = request.body.size() - request.handedOver;
  if (left == 0) return 0;
  if (response.empty() && request.handedOver == 0) {
    response.swap(request.body);  // the whole body, without a copy
    request.body.clear();
    request.handedOver = 0;
    return left;
  }
  response.insert(response.end(), request.body.begin() + request.handedOver, request.body.end());
  request.handedOver = request.body.size();
  return left;
}

Text RawResponseHeaders(const Request& request) {
  if (!request.headers.done()) return Text();
  const Text& block = request.headers.block();
  if (block.size() + 1 > static_cast<std::size_t>(kRawHeaderBufferSize)) return Text();
  return block;
}

}  // namespace quenbrel
