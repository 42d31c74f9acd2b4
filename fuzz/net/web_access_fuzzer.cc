// Fuzzes WebAccess with arbitrary server replies from an in-process server on 127.0.0.1.
//
// Input: one control byte (method index, noRedirect, cookies supplied, mergeCookies), then up to
// four replies separated by the byte FF, served in order to the requests of one call (a reply
// past the last is an empty 200). The server closes the connection after each reply, so a reply
// may be cut anywhere. The bytes 01 to 0B stand for pieces of HTTP (status lines, line ends,
// Set-Cookie, Location to this server, Content-Length, chunked coding, a 1 KiB header line) so
// that short inputs reach redirects, cookies, chunked bodies and header blocks of any size.
//
// Checks: no crash or hang; the header block is empty or a whole block (status line first, CRLF
// line ends, an empty line last, under 5000 bytes); the received cookies equal the step-by-step
// gathering (and merge) of fuzz/net/reference.h on that block; CollectSetCookies agrees with the
// reference on the raw reply text too.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/net/fuzz_input.h"
#include "fuzz/net/reference.h"
#include "net/request.h"
#include "net/web_access.h"
#include "tests/net/test_server.h"

namespace quenbrel {
namespace {

using fuzzing::Check;

using testing::Reply;
using testing::ScriptedServer;

// Serves replies[n] to the n-th request of the current input.
class ReplyServer {
 public:
  ReplyServer()
      : server_(
            [this](int, const std::string&) {
              std::lock_guard<std::mutex> lock(mutex_);
              std::size_t n = next_++;
              if (n < replies_.size()) return Reply{replies_[n]};
              return Reply{"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"};
            },
            /*tls=*/nullptr, /*record=*/false) {}
  void Set(std::vector<std::string> replies) {
    std::lock_guard<std::mutex> lock(mutex_);
    replies_ = std::move(replies);
    next_ = 0;
  }
  int port() const { return server_.port(); }
  std::string url() const { return server_.url("/f"); }

 private:
  std::mutex mutex_;
  std::vector<std::string> replies_;
  std::size_t next_ = 0;
  ScriptedServer server_;
};

Text Expand(std::string_view text, int port) {
  const std::string tokens[] = {
      "HTTP/1.1 ",
      "\r\n",
      "Set-Cookie: ",
      "Location: /r\r\n",
      "Location: http://127.0.0.1:" + std::to_string(port) + "/abs\r\n",
      "Content-Length: ",
      "Transfer-Encoding: chunked\r\n",
      "302 Found\r\n",
      "200 OK\r\n",
      "\r\n\r\n",
      "X-Pad: " + std::string(1017, 'p') + "\r\n",
  };
  return fuzzing::ExpandTokens(text, std::span<const std::string>(tokens));
}

void CheckBlock(const Text& block) {
  if (block.empty()) return;
  Check(block.starts_with("HTTP/"), "block begins with a status line");
  Check(block.ends_with("\r\n\r\n"), "block ends with an empty line");
  Check(block.size() < 5000, "block fits the buffer");
  Check(block.find("\r\n\r\n") == block.size() - 4, "one empty line, at the end");
  for (std::size_t i = 0; i < block.size(); ++i) {
    if (block[i] == '\n') Check(i > 0 && block[i - 1] == '\r', "LF only after CR");
    if (block[i] == '\r') Check(i + 1 < block.size() && block[i + 1] == '\n', "CR before LF");
  }
}

}  // namespace
}  // namespace quenbrel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quenbrel;
  static ReplyServer* server = [] {
    SetRequestSettings({.connectTimeoutMs = 2000, .receiveIdleMs = 1000, .extraCaFile = ""});
    return new ReplyServer;
  }();
  if (size == 0 || size > 1 << 16) return 0;
  const std::uint8_t control = data[0];
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);

  std::vector<std::string> script;
  while (script.size() < 4) {
    std::size_t cut = rest.find('\xFF');
    script.push_back(Expand(rest.substr(0, cut), server->port()));
    if (cut == std::string_view::npos) break;
    rest.remove_prefix(cut + 1);
  }
  for (const std::string& reply : script) {
    Check(CollectSetCookies(reply) == reference::CollectSetCookies(reply), "collect on text");
  }
  server->Set(script);

  const bool noRedirect = control & 8;
  const bool supplyCookies = control & 16;
  const bool merge = control & 32;
  Text cookies = "sid=old; keep=1", received, block;
  Bytes reply = WebAccess(server->url(), {.method = control & 7,
                                          .body = "b=1",
                                          .cookies = supplyCookies ? &cookies : nullptr,
                                          .receivedCookies = &received,
                                          .responseHeaders = &block,
                                          .noRedirect = noRedirect,
                                          .mergeCookies = merge});
  CheckBlock(block);
  Text expected = reference::CollectSetCookies(block);
  if (supplyCookies && merge) {
    Text old = "sid=old; keep=1";
    expected = reference::MergeCookies(old, expected);
    Check(cookies == expected, "merged cookies left in cookies");
  }
  Check(received == expected, "received cookies");
  return 0;
}
