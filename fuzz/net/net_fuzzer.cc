// Fuzzes the address, header and cookie routines of net/ with arbitrary texts.
//
// Input: one control byte (method index, switches, token expansion), then up to five texts
// separated by zero bytes: an address, a header text, a cookie text, a received cookie text and a
// delimiter. With expansion on, the bytes 01 to 08 stand for the markers the routines look for,
// so that short runs reach schemes, agent lines, deletion marks and full-width spaces.
// Checks the invariants of each routine and compares the cookie merge and the duplicate removal
// with their plain step-by-step forms in fuzz/net/reference.h.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string_view>

#include "fuzz/net/fuzz_input.h"
#include "fuzz/net/reference.h"
#include "net/net.h"
#include "text/text.h"

namespace quenbrel {
namespace {

using fuzzing::Check;

constexpr std::string_view kTokens[] = {
    "http://", "https://", "=deleted", "User-Agent:", "\r\n", "\xA1\xA1", "Cookie:", "; "};

Text Expand(std::string_view text) {
  return fuzzing::ExpandTokens(text, std::span<const std::string_view>(kTokens));
}

void CheckUrl(const Text& url) {
  Text host = UrlHost(url);
  Text hostAndPort = UrlHost(url, true);
  Check(TextLeft(hostAndPort, TextLength(host)) == host, "host begins the host with its port");
  Check(ToLower(hostAndPort) == hostAndPort, "host is lower case");
  Check(FindText(host, ":") == -1, "host without port holds no ':'");
  Check(FindText(hostAndPort, "/") == -1, "host part holds no '/'");
  int port = UrlPort(url);
  if (FindText(hostAndPort, ":") == -1) Check(port == 80 || port == 443, "default port");
  Text path = UrlPath(url);
  Check(TextLeft(path, 1) == "/", "path begins with '/'");
  Check(TextRight(url, TextLength(path)) == path || path == "/", "path is the end of the url");
  // The path differs from the search from the first byte only where that search finds the host
  // before the place it was taken from, which puts "//" in front of the path.
  Text literal = reference::UrlPath(url);
  if (path != literal) Check(TextLength(literal) > TextLength(path), "path mended only longer");
}

void CheckHeaders(const Text& headers, const Text& url, const Text& cookies, int method,
                  bool addDefaults, bool normalize) {
  Text agent = UserAgentFromHeaders(headers);
  Check(FindText(agent, "\r\n") == -1, "agent holds no line end");
  Text literalAgent = reference::UserAgentFromHeaders(headers);
  if (FindText(literalAgent, "\r\n") == -1 && FindText(headers, "\r\n") == -1 &&
      FindText(headers, "User-Agent:", 1, true) == FindText(headers, ":") - 10) {
    // One line whose first ":" ends the agent's name: both forms of the fallback agree.
    Check(agent == literalAgent, "agent of a single line");
  }

  Text normalized = NormalizeHeaderNames(headers);
  Check(NormalizeHeaderNames(normalized) == normalized, "normalisation is idempotent");
  Check(ToLower(normalized) == ToLower(NormalizeHeaderNames(ToLower(headers))),
        "normalisation changes only the case");
  for (const Text& line : SplitText(normalized, "\r\n")) {
    Check(FindText(line, ":") != -1, "every normalised line has a ':'");
  }

  Text completed = headers;
  CompleteRequestHeaders(completed, url, method, cookies, addDefaults, normalize);
  if (addDefaults) {
    Check(!completed.empty(), "defaults leave a text");
    for (std::string_view name : {"Accept:", "Referer:", "Accept-Language:"}) {
      Check(FindText(completed, name, 1, true) != -1, "default name present");
    }
    if (method == 1) Check(FindText(completed, "Content-Type:", 1, true) != -1, "content type");
  }
  if (!cookies.empty()) {
    Check(TextRight(completed, TextLength(cookies)) == cookies, "cookie text ends the headers");
  } else if (!addDefaults) {
    Check(completed == (normalize ? normalized : headers), "nothing else added");
  }
}

void CheckCookies(const Text& cookies, const Text& received) {
  Text old = cookies, fresh = received;
  Text merged = MergeCookies(old, fresh);
  Check(old == merged, "cookies argument holds the merged text");
  Check(fresh == RemoveSpaces(received), "received argument loses its spaces");

  Text literalOld = cookies, literalFresh = received;
  Check(merged == reference::MergeCookies(literalOld, literalFresh), "merge equals step by step");

  std::set<Text> seen;
  for (const Text& item : SplitText(merged, "; ")) {
    Check(TextRight(item, 8) != "=deleted", "no deleted item");
    Check(seen.insert(item).second, "no repeated item");
  }

  // ContainsCookieName finds the name of every item of a list, and no name that none has.
  TextList split = SplitText(RemoveSpaces(cookies), ";");
  if (split.size() > 64) return;
  for (const Text& item : split) Check(ContainsCookieName(split, CookieName(item)), "name found");
  // Every name is part of the text, so a longer text is no one's name.
  Check(!ContainsCookieName(split, ConcatTexts(cookies, "x")), "no name beyond the items");
}

}  // namespace
}  // namespace quenbrel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quenbrel;
  if (size == 0 || size > 2048) return 0;
  const std::uint8_t control = data[0];
  std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  Text fields[5];
  for (Text& field : fields) {
    std::size_t end = rest.find('\0');
    field = Text(rest.substr(0, end));
    if (control & 32) field = Expand(field);
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  const Text& url = fields[0];
  const Text& headers = fields[1];
  const Text& cookies = fields[2];
  const Text& received = fields[3];
  const Text& delimiter = fields[4];

  CheckUrl(url);
  CheckHeaders(headers, url, cookies, control & 7, (control & 8) != 0, (control & 16) != 0);
  CheckCookies(cookies, received);
  Check(RemoveDuplicateItems(cookies, delimiter) ==
            reference::RemoveDuplicateItems(cookies, delimiter),
        "duplicate removal equals step by step");
  return 0;
}
