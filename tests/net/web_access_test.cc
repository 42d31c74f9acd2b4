// WebAccess against real servers on 127.0.0.1: a scripted raw server (plain and TLS) that
// records the exact request bytes, and a tinyproxy process.

#include "net/web_access.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "net/headers.h"
#include "net/request.h"
#include "tests/net/test_server.h"

namespace quenbrel {
namespace {

using testing::Always;
using testing::Certificates;
using testing::FreeLoopbackPort;
using testing::Reply;
using testing::ScriptedServer;
using testing::Tinyproxy;

constexpr char kOk[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";

std::string AsString(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The header line named name in a recorded request ("" when absent), and whether the body after
// the head equals body.
std::string HeaderLine(const std::string& request, const std::string& name) {
  std::size_t at = request.find("\r\n" + name + ":");
  if (at == std::string::npos) return "";
  return request.substr(at + 2, request.find("\r\n", at + 2) - at - 2);
}
std::string BodyOf(const std::string& request) {
  std::size_t end = request.find("\r\n\r\n");
  return end == std::string::npos ? "" : request.substr(end + 4);
}
std::string RequestLine(const std::string& request) {
  return request.substr(0, request.find("\r\n"));
}

class WebAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Certificates().ok) << "openssl could not make the test certificates";
    SetRequestSettings(
        {.connectTimeoutMs = 5000, .receiveIdleMs = 5000, .extraCaFile = Certificates().caFile});
  }
  void TearDown() override { SetRequestSettings({}); }
};

TEST_F(WebAccessTest, SendsExactlyTheCompletedHeadersAndBody) {
  ScriptedServer server(Always(kOk));
  const std::string url = server.url("/api/?q=1");
  Text headers = "x-trace: 7\r\n\r\nuser-agent: Probe/2";
  Bytes bodyBytes;
  Bytes reply = WebAccess(url, {.method = 1,
                                .body = "x=1",
                                .cookies = nullptr,
                                .headers = &headers,
                                .bodyBytes = &bodyBytes});
  EXPECT_EQ(AsString(reply), "ok");
  EXPECT_EQ(headers,
            "X-Trace: 7\r\nUser-Agent: Probe/2\r\nAccept: */*\r\nReferer: " + url +
                "\r\nAccept-Language: zh-cn\r\nContent-Type: application/x-www-form-urlencoded");
  EXPECT_EQ(AsString(bodyBytes), "x=1");
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0],
            "POST /api/?q=1 HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.port()) + "\r\n" +
                headers + "\r\nContent-Length: 3\r\n\r\nx=1");
}

TEST_F(WebAccessTest, DefaultAgentAndNoLinesOfTheTransport) {
  ScriptedServer server(Always(kOk));
  WebAccess(server.url("/"), {.addDefaultHeaders = false});
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0],
            "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
                "\r\nUser-Agent: " + std::string(kDefaultUserAgent) + "\r\n\r\n");
}

// Every method index, with a body given as text and as bytes.
TEST_F(WebAccessTest, VerbsAndBodies) {
  struct Case {
    int method;
    const char* verb;
    bool sendsBody;
    bool postContentType;
  };
  const Case cases[] = {{-1, "GET", false, false},   {0, "GET", false, false},
                        {1, "POST", true, true},     {2, "HEAD", true, false},
                        {3, "PUT", true, false},     {4, "OPTIONS", true, false},
                        {5, "DELETE", true, false},  {6, "TRACE", true, false},
                        {7, "CONNECT", true, false}, {8, "GET", false, false}};
  ScriptedServer server(Always(kOk));
  for (const Case& c : cases) {
    for (bool asBytes : {false, true}) {
      SCOPED_TRACE(std::to_string(c.method) + (asBytes ? " bytes" : " text"));
      const std::string expected = asBytes ? std::string("raw\0b\0", 6) : "k=v";
      Bytes bodyBytes = asBytes ? Bytes(expected.begin(), expected.end()) : Bytes();
      Bytes reply = WebAccess(
          server.url("/v"),
          {.method = c.method, .body = asBytes ? "ignored" : "k=v", .bodyBytes = &bodyBytes});
      const std::string request = server.requests().back();
      EXPECT_EQ(RequestLine(request), std::string(c.verb) + " /v HTTP/1.1");
      EXPECT_EQ(BodyOf(request), c.sendsBody ? expected : "");
      EXPECT_EQ(HeaderLine(request, "Content-Length"),
                c.sendsBody ? "Content-Length: " + std::to_string(expected.size()) : "");
      EXPECT_EQ(HeaderLine(request, "Content-Type").empty(), !c.postContentType);
      // The text body is written back as bytes for every verb but GET.
      EXPECT_EQ(AsString(bodyBytes), c.sendsBody || asBytes ? expected : "");
      EXPECT_EQ(AsString(reply), c.verb == std::string("HEAD") ? "" : "ok");
    }
  }
}

// Redirect codes against verbs: what the second request is.
TEST_F(WebAccessTest, RedirectVerbRules) {
  struct Case {
    int code;
    int method;
    const char* nextVerb;
    bool keepsBody;
  };
  const Case cases[] = {
      {301, 1, "GET", false},   {302, 1, "GET", false}, {303, 1, "GET", false},
      {307, 1, "POST", true},   {308, 1, "POST", true}, {301, 3, "PUT", true},
      {302, 5, "DELETE", true}, {303, 3, "GET", false}, {303, 2, "HEAD", true},
      {303, 0, "GET", false},   {307, 3, "PUT", true},  {308, 2, "HEAD", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.code) + " " + std::string(kWebMethods[c.method]));
    ScriptedServer server([&c](int index, const std::string&) {
      if (index == 0) {
        return Reply{"HTTP/1.1 " + std::to_string(c.code) +
                     " Moved\r\nLocation: /next?a=1\r\nContent-Length: 5\r\n\r\nmoved"};
      }
      return Reply{kOk};
    });
    Text responseHeaders;
    Bytes reply = WebAccess(server.url("/first"), {.method = c.method,
                                                   .body = "b=1",
                                                   .headers = nullptr,
                                                   .responseHeaders = &responseHeaders,
                                                   .addDefaultHeaders = false});
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(RequestLine(requests[1]), std::string(c.nextVerb) + " /next?a=1 HTTP/1.1");
    EXPECT_EQ(BodyOf(requests[1]), c.keepsBody && c.method != 0 ? "b=1" : "");
    EXPECT_EQ(responseHeaders, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n");
    EXPECT_EQ(AsString(reply), c.nextVerb == std::string("HEAD") ? "" : "ok");
  }
}

TEST_F(WebAccessTest, NoRedirectReturnsTheRedirectWithItsCookies) {
  ScriptedServer server(Always(
      "HTTP/1.1 302 Found\r\nLocation: /x\r\nSet-Cookie: s=1; Path=/nr\r\nContent-Length: 5\r\n"
      "\r\nmoved"));
  Text responseHeaders, received;
  Bytes reply = WebAccess(
      server.url("/nr/a"),
      {.receivedCookies = &received, .responseHeaders = &responseHeaders, .noRedirect = true});
  EXPECT_EQ(AsString(reply), "moved");
  EXPECT_EQ(responseHeaders.substr(0, 22), "HTTP/1.1 302 Found\r\nLo");
  EXPECT_EQ(received, "s=1");
  EXPECT_EQ(server.requests().size(), 1u);
}

// Ten hops are followed; the eleventh redirect comes back as it is.
TEST_F(WebAccessTest, RedirectHopLimit) {
  for (int redirects : {10, 11}) {
    SCOPED_TRACE(redirects);
    ScriptedServer server([redirects](int index, const std::string&) {
      if (index < redirects) {
        return Reply{"HTTP/1.1 302 Found\r\nLocation: /hop" + std::to_string(index + 1) +
                     "\r\nContent-Length: 4\r\n\r\nhop" + std::to_string(index % 10)};
      }
      return Reply{kOk};
    });
    Text responseHeaders;
    Bytes reply = WebAccess(server.url("/hop0"), {.responseHeaders = &responseHeaders});
    EXPECT_EQ(server.requests().size(), 11u);
    EXPECT_EQ(RequestLine(server.requests().back()), "GET /hop10 HTTP/1.1");
    EXPECT_EQ(AsString(reply), redirects == 10 ? "ok" : "hop0");
    EXPECT_EQ(responseHeaders.substr(0, 12), redirects == 10 ? "HTTP/1.1 200" : "HTTP/1.1 302");
  }
}

// The caller's lines go out again on every hop; the Cookie line only to its own host.
TEST_F(WebAccessTest, CookieLineStaysWithItsHost) {
  // The second redirect names the server under another host name.
  ScriptedServer other(Always(kOk));
  ScriptedServer front([&other](int index, const std::string&) {
    if (index == 0)
      return Reply{"HTTP/1.1 302 Found\r\nLocation: /same\r\nContent-Length: 0\r\n\r\n"};
    return Reply{"HTTP/1.1 307 Moved\r\nLocation: http://localhost:" +
                 std::to_string(other.port()) + "/other\r\nContent-Length: 0\r\n\r\n"};
  });
  Text cookies = "k=1";
  Text headers = "X-Keep: yes";
  Bytes reply = WebAccess(front.url("/start"), {.method = 3,
                                                .body = "put",
                                                .cookies = &cookies,
                                                .headers = &headers,
                                                .addDefaultHeaders = false});
  EXPECT_EQ(AsString(reply), "ok");
  auto first = front.requests();
  ASSERT_EQ(first.size(), 2u);
  for (const std::string& request : first) {
    EXPECT_EQ(HeaderLine(request, "Cookie"), "Cookie: k=1");
    EXPECT_EQ(HeaderLine(request, "X-Keep"), "X-Keep: yes");
  }
  ASSERT_EQ(other.requests().size(), 1u);
  const std::string moved = other.requests()[0];
  EXPECT_EQ(RequestLine(moved), "PUT /other HTTP/1.1");
  EXPECT_EQ(HeaderLine(moved, "X-Keep"), "X-Keep: yes");
  EXPECT_EQ(HeaderLine(moved, "Cookie"), "");
  EXPECT_EQ(BodyOf(moved), "put");
}

TEST(CollectSetCookiesTest, Table) {
  struct Case {
    const char* block;
    const char* cookies;
  };
  const Case cases[] = {
      {"HTTP/1.1 200 OK\r\nSet-Cookie: a=1; path=/\r\nSet-Cookie: b=2\r\n\r\n", "a=1; b=2"},
      {"HTTP/1.1 200 OK\r\nset-cookie: a=1\r\nSet-Cookie:b=2\r\n\r\n", ""},  // case, no space
      {"HTTP/1.1 200 OK\r\nSet-Cookie:  k=v  ;x\r\nSet-Cookie: k=v\r\n\r\n", "k=v; k=v"},
      {"HTTP/1.1 200 OK\r\nSet-Cookie: a=SET-COOKIE:b\r\n\r\n", "a=b"},  // any case removed
      {"HTTP/1.1 200 OK\r\nSet-Cookie: ;\r\nSet-Cookie: z=9\r\n\r\n", "; z=9"},
      {"HTTP/1.1 200 OK\r\nX: Set-Cookie: a=1\r\n\r\n", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(CollectSetCookies(c.block), c.cookies) << c.block;
}

// Supplied cookies are sent and merged; the process store is left alone.
TEST_F(WebAccessTest, GathersAndMergesCookies) {
  ScriptedServer server(
      Always("HTTP/1.1 200 OK\r\nSet-Cookie: sid=new; Path=/m\r\nSet-Cookie: gone=deleted\r\n"
             "Set-Cookie: sid=again\r\nContent-Length: 2\r\n\r\nok"));
  struct Case {
    bool supply;
    bool merge;
    const char* cookiesAfter;
    const char* received;
  };
  const Case cases[] = {
      {true, true, "sid=new; sid=again; keep=1", "sid=new; sid=again; keep=1"},
      {true, false, "sid=old; keep=1; gone=x", "sid=new; gone=deleted; sid=again"},
      {false, true, "", "sid=new; gone=deleted; sid=again"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.supply) + std::to_string(c.merge));
    Text cookies = c.supply ? "sid=old; keep=1; gone=x" : "";
    Text received = "stale";
    WebAccess(server.url("/m/x"), {.cookies = c.supply ? &cookies : nullptr,
                                   .receivedCookies = &received,
                                   .mergeCookies = c.merge});
    EXPECT_EQ(cookies, c.cookiesAfter);
    EXPECT_EQ(received, c.received);
    if (c.supply) {
      EXPECT_EQ(HeaderLine(server.requests().back(), "Cookie"), "Cookie: sid=old; keep=1; gone=x");
    }
  }
}

// Omitted cookies use the process store, which carries a cookie to the next call; supplied
// cookies (even empty) neither send nor store anything.
TEST_F(WebAccessTest, ProcessCookieStore) {
  // A path of its own for each run, since the store outlives a test.
  static int run = 0;
  const std::string path = "/store" + std::to_string(run++);
  ScriptedServer server([&path](int index, const std::string&) {
    if (index == 0) return Reply{"HTTP/1.1 200 OK\r\nSet-Cookie: st=1; Path=" + path + "\r\n\r\n"};
    if (index == 2) return Reply{"HTTP/1.1 200 OK\r\nSet-Cookie: sup=2; Path=" + path + "\r\n\r\n"};
    return Reply{kOk};
  });
  const std::string url = server.url(path + "/x");
  Text empty;
  WebAccess(url);                       // 0: stores st=1
  WebAccess(url);                       // 1: sends st=1
  WebAccess(url, {.cookies = &empty});  // 2: sends nothing, does not store sup=2
  WebAccess(url);                       // 3: st=1 only
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(HeaderLine(requests[0], "Cookie"), "");
  EXPECT_EQ(HeaderLine(requests[1], "Cookie"), "Cookie: st=1");
  EXPECT_EQ(HeaderLine(requests[2], "Cookie"), "");
  EXPECT_EQ(HeaderLine(requests[3], "Cookie"), "Cookie: st=1");
  EXPECT_EQ(empty, "sup=2");  // the merge ran on the supplied empty text
}

TEST_F(WebAccessTest, ResponseHeaderBlock) {
  struct Case {
    std::string reply;
    std::string block;
    std::string body;
  };
  const Case cases[] = {
      {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nz",
       "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n", "z"},
      {"HTTP/1.1 200 OK\nX-Bare: lf\n\nbody", "HTTP/1.1 200 OK\r\nX-Bare: lf\r\n\r\n", "body"},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n"
       "X-Trailer: t\r\n\r\n",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", "abcde"},
      {std::string("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 4\r\n\r\n") +
           std::string("\x1f\x8b\0\1", 4),
       "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 4\r\n\r\n",
       std::string("\x1f\x8b\0\1", 4)},
      {"HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\nnone",
       "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\n", "none"},
  };
  for (const Case& c : cases) {
    ScriptedServer server(Always(c.reply));
    Text block;
    Bytes reply = WebAccess(server.url("/"), {.responseHeaders = &block});
    EXPECT_EQ(block, c.block);
    EXPECT_EQ(AsString(reply), c.body);
  }
}

// The block and its zero byte must fit 5000 bytes; a block that does not gives no cookies.
TEST_F(WebAccessTest, HeaderBlockLimit) {
  for (int size : {4999, 5000}) {
    SCOPED_TRACE(size);
    std::string head = "HTTP/1.1 200 OK\r\nSet-Cookie: big=1\r\nX-Pad: ";
    head += std::string(size - head.size() - 4, 'p') + "\r\n\r\n";
    ASSERT_EQ(head.size(), static_cast<std::size_t>(size));
    ScriptedServer server(Always(head + "tail"));
    Text block = "old", received = "old", cookies;  // supplied: the process store stays clean
    Bytes reply =
        WebAccess(server.url("/"),
                  {.cookies = &cookies, .receivedCookies = &received, .responseHeaders = &block});
    EXPECT_EQ(AsString(reply), "tail");
    EXPECT_EQ(block, size == 4999 ? head : "");
    EXPECT_EQ(received, size == 4999 ? "big=1" : "");
  }
}

// Bodies of any size come back whole, a cut-off one as far as it arrived.
TEST_F(WebAccessTest, BodiesWholeAndCut) {
  struct Case {
    std::string head;
    std::size_t fill;
    std::size_t expected;
  };
  const std::size_t k50Mb = 50u << 20;
  const Case cases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 2500\r\n\r\n", 2500, 2500},
      {"HTTP/1.1 200 OK\r\n\r\n", 2500, 2500},                          // ends at close
      {"HTTP/1.1 200 OK\r\nContent-Length: 9000\r\n\r\n", 2500, 2500},  // cut off
      {"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(k50Mb) + "\r\n\r\n", k50Mb, k50Mb},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.head);
    ScriptedServer server([&c](int, const std::string&) { return Reply{c.head, c.fill}; });
    Text block;
    Bytes reply = WebAccess(server.url("/"), {.responseHeaders = &block});
    ASSERT_EQ(reply.size(), c.expected);
    for (std::size_t i = 0; i < reply.size(); i += 4093) {
      ASSERT_EQ(reply[i], testing::FillByte(i)) << i;
    }
    EXPECT_EQ(block, c.head);
  }
}

// A server that goes quiet is given up after the receive limit, keeping what arrived.
TEST_F(WebAccessTest, StalledServerEndsAtTheReceiveLimit) {
  SetRequestSettings(
      {.connectTimeoutMs = 5000, .receiveIdleMs = 300, .extraCaFile = Certificates().caFile});
  struct Case {
    std::string head;
    std::size_t fill;
    std::string block;
  };
  const Case cases[] = {
      {"", 0, ""},
      {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n", 40,
       "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n"},
  };
  for (const Case& c : cases) {
    ScriptedServer server([&c](int, const std::string&) {
      return Reply{c.head, c.fill, /*stall=*/true};
    });
    Text block = "old", headers;
    auto start = testing::Clock::now();
    Bytes reply = WebAccess(server.url("/"), {.headers = &headers, .responseHeaders = &block});
    EXPECT_LT(testing::Clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(reply.size(), c.fill);
    EXPECT_EQ(block, c.block);
    EXPECT_NE(headers, "");  // the request was opened: the completed text is written back
  }
}

// A listener whose queue is full never completes the handshake: the connect limit ends it.
TEST_F(WebAccessTest, ConnectLimit) {
  SetRequestSettings({.connectTimeoutMs = 300, .receiveIdleMs = 5000, .extraCaFile = ""});
  int port = 0;
  const int listener = testing::ListenOnLoopback(&port, /*backlog=*/0);
  ASSERT_GE(listener, 0);
  sockaddr_in addr = testing::LoopbackAddress(port);
  // Fill the accept queue with connections nobody accepts.
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    fillers.push_back(fd);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  Text headers;
  auto start = testing::Clock::now();
  Bytes reply = WebAccess("http://127.0.0.1:" + std::to_string(port) + "/", {.headers = &headers});
  EXPECT_LT(testing::Clock::now() - start, std::chrono::seconds(3));
  EXPECT_TRUE(reply.empty());
  EXPECT_NE(headers, "");
  for (int fd : fillers) close(fd);
  close(listener);
}

// Calls on several threads at once share the process cookie store safely.
TEST_F(WebAccessTest, ConcurrentCallsShareTheStore) {
  ScriptedServer server([](int index, const std::string&) {
    if (index == 0) return Reply{"HTTP/1.1 200 OK\r\nSet-Cookie: par=1; Path=/par\r\n\r\n"};
    return Reply{kOk};
  });
  WebAccess(server.url("/par/0"));
  std::vector<std::thread> threads;
  std::vector<std::string> replies(4);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 5; ++i) replies[t] += AsString(WebAccess(server.url("/par/x")));
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const std::string& reply : replies) EXPECT_EQ(reply, "okokokokok");
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 21u);
  for (std::size_t i = 1; i < requests.size(); ++i) {
    EXPECT_EQ(HeaderLine(requests[i], "Cookie"), "Cookie: par=1");
  }
}

// Nobody listening is not a failure to open: the out-parameters show the opened request.
TEST_F(WebAccessTest, UnreachablePort) {
  const std::string url = "http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/x";
  Text cookies = "a=1", received = "old", block = "old", headers;
  Bytes bodyBytes;
  Bytes reply = WebAccess(url, {.method = 1,
                                .body = "q",
                                .cookies = &cookies,
                                .receivedCookies = &received,
                                .headers = &headers,
                                .responseHeaders = &block,
                                .bodyBytes = &bodyBytes});
  EXPECT_TRUE(reply.empty());
  EXPECT_EQ(block, "");
  EXPECT_EQ(received, "a=1");  // merged with the supplied cookies
  EXPECT_EQ(cookies, "a=1");
  EXPECT_EQ(AsString(bodyBytes), "q");
  EXPECT_NE(FindText(headers, "\r\nCookie: a=1"), -1);
  // Without cookies nothing is gathered.
  received = "old";
  WebAccess(url, {.receivedCookies = &received});
  EXPECT_EQ(received, "");
}

// An empty host or a port out of range fails to open: nothing is touched.
TEST_F(WebAccessTest, FailingToOpenTouchesNothing) {
  for (const char* url : {"http:///x", "http://127.0.0.1:65536/", "http://127.0.0.1:-1/"}) {
    SCOPED_TRACE(url);
    Text cookies = "c", received = "r", headers = "h: 1", block = "b";
    Bytes bodyBytes;
    Bytes reply = WebAccess(url, {.method = 1,
                                  .body = "x",
                                  .cookies = &cookies,
                                  .receivedCookies = &received,
                                  .headers = &headers,
                                  .responseHeaders = &block,
                                  .bodyBytes = &bodyBytes});
    EXPECT_TRUE(reply.empty());
    EXPECT_EQ(cookies + received + headers + block, "crh: 1b");
    EXPECT_TRUE(bodyBytes.empty());
  }
}

// Address bytes that would break the request line are percent-encoded; a host that is no host
// name is never contacted.
TEST_F(WebAccessTest, UnsafeAddressBytes) {
  ScriptedServer server(Always(kOk));
  WebAccess(server.url("/a b\r\nX-Injected: 1"), {.addDefaultHeaders = false});
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(RequestLine(server.requests()[0]), "GET /a%20b%0D%0AX-Injected:%201 HTTP/1.1");
  Text headers;
  Bytes reply = WebAccess("http://127.0.0.1\r\nx:" + std::to_string(server.port()) + "/",
                          {.headers = &headers});
  EXPECT_TRUE(reply.empty());
  EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(WebAccessTest, ProxyEnvironmentIsIgnored) {
  ScriptedServer server(Always(kOk));
  const std::string dead = "http://127.0.0.1:" + std::to_string(FreeLoopbackPort());
  for (const char* name : {"http_proxy", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"}) {
    setenv(name, dead.c_str(), 1);
  }
  Bytes reply = WebAccess(server.url("/"));
  for (const char* name : {"http_proxy", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"}) unsetenv(name);
  EXPECT_EQ(AsString(reply), "ok");
}

TEST_F(WebAccessTest, Tls) {
  const auto& certs = Certificates();
  struct Case {
    const testing::TlsIdentity* identity;
    bool ok;
  };
  const Case cases[] = {{&certs.good, true}, {&certs.wrongName, false}, {&certs.untrusted, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.identity->certFile);
    ScriptedServer server(Always(kOk), c.identity);
    Text block;
    Bytes reply = WebAccess(server.url("/s"), {.responseHeaders = &block});
    EXPECT_EQ(AsString(reply), c.ok ? "ok" : "");
    EXPECT_EQ(block.empty(), !c.ok);
    EXPECT_EQ(server.requests().size(), c.ok ? 1u : 0u);
  }
  // Without the extra authority the good certificate is not trusted either.
  SetRequestSettings({.connectTimeoutMs = 5000, .receiveIdleMs = 5000, .extraCaFile = ""});
  ScriptedServer server(Always(kOk), &certs.good);
  EXPECT_TRUE(WebAccess(server.url("/s")).empty());
}

// http -> https is followed; https -> http comes back as the redirect itself.
TEST_F(WebAccessTest, RedirectsBetweenSchemes) {
  ScriptedServer plain(Always(kOk));
  ScriptedServer secure(Always("HTTP/1.1 302 Found\r\nLocation: " + plain.url("/down") +
                               "\r\nContent-Length: 4\r\n\r\ndown"),
                        &Certificates().good);
  Text block;
  Bytes reply = WebAccess(secure.url("/"), {.responseHeaders = &block});
  EXPECT_EQ(AsString(reply), "down");
  EXPECT_EQ(block.substr(0, 12), "HTTP/1.1 302");
  EXPECT_TRUE(plain.requests().empty());

  ScriptedServer target(Always(kOk), &Certificates().good);
  ScriptedServer up(Always("HTTP/1.1 301 Moved\r\nLocation: " + target.url("/up") +
                           "\r\nContent-Length: 0\r\n\r\n"));
  EXPECT_EQ(AsString(WebAccess(up.url("/"))), "ok");
  ASSERT_EQ(target.requests().size(), 1u);
  EXPECT_EQ(RequestLine(target.requests()[0]), "GET /up HTTP/1.1");
}

TEST_F(WebAccessTest, ThroughTinyproxy) {
  Tinyproxy proxy;
  ASSERT_TRUE(proxy.ready()) << "tinyproxy did not start";
  ScriptedServer plain(Always(kOk));
  ScriptedServer secure(Always(kOk), &Certificates().good);
  const std::string dead = "127.0.0.1:" + std::to_string(FreeLoopbackPort());

  // http through the proxy: it asks for the whole address and adds its Via line.
  EXPECT_EQ(AsString(WebAccess(plain.url("/p?x=1"), {.proxy = proxy.address()})), "ok");
  ASSERT_EQ(plain.requests().size(), 1u);
  EXPECT_EQ(RequestLine(plain.requests()[0]), "GET /p?x=1 HTTP/1.1");
  EXPECT_NE(HeaderLine(plain.requests()[0], "Via"), "");
  EXPECT_NE(proxy.log().find("GET " + plain.url("/p?x=1")), std::string::npos);

  // https through a CONNECT tunnel.
  EXPECT_EQ(AsString(WebAccess(secure.url("/t"), {.proxy = proxy.address()})), "ok");
  EXPECT_NE(proxy.log().find("CONNECT 127.0.0.1:" + std::to_string(secure.port())),
            std::string::npos);

  // A proxy that serves http only leaves https direct; a dead proxy fails the request.
  EXPECT_EQ(AsString(WebAccess(secure.url("/d"), {.proxy = "http=" + dead})), "ok");
  EXPECT_TRUE(WebAccess(plain.url("/"), {.proxy = dead}).empty());
  EXPECT_TRUE(WebAccess(secure.url("/"), {.proxy = dead}).empty());
  EXPECT_EQ(secure.requests().size(), 2u);
}

}  // namespace
}  // namespace quenbrel
