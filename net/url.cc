#include "net/url.h"

namespace quenbrel {
namespace {

constexpr std::string_view kHttp = "http://";
constexpr std::string_view kHttps = "https://";

// The host part of an address (host with any ":" and port, lower-cased) and the position in the
// address where it begins.
struct HostPart {
  Text text;
  int start = 1;
};

HostPart FindHostPart(std::string_view url) {
  Text t = ToLower(url);
  if (TextRight(t, 1) != "/") t = ConcatTexts(t, "/");
  std::string_view marker = kHttp;
  int added = 0;  // bytes put in front of the address
  if (TextLeft(t, TextLength(kHttps)) == kHttps) {
    marker = kHttps;
  } else if (FindText(t, kHttp) == -1) {
    t = ConcatTexts(kHttp, t);
    added = TextLength(kHttp);
  }
  HostPart part;
  part.text = TextBetween(t, marker, "/");
  part.start = FindText(t, marker) + TextLength(marker) - added;
  return part;
}

// The host without the ":" and port that may follow it.
Text WithoutPort(const Text& hostAndPort) {
  int p = FindText(hostAndPort, ":");
  if (p == -1) return hostAndPort;
  return TextLeft(hostAndPort, p - 1);
}

}  // namespace

Text UrlHost(std::string_view url, bool keepPort) {
  Text host = FindHostPart(url).text;
  return keepPort ? host : WithoutPort(host);
}

int UrlPort(std::string_view url) {
  Text hostAndPort = UrlHost(url, /*keepPort=*/true);
  int p = FindTextReverse(hostAndPort, ":");
  if (p != -1) return ToInteger(TextRight(hostAndPort, TextLength(hostAndPort) - p));
  return ToLower(TextLeft(url, 5)) == "https" ? 443 : 80;
}

Text UrlPath(std::string_view url) {
  HostPart part = FindHostPart(url);
  Text host = WithoutPort(part.text);
  // The host is looked for where it was taken from, not from the first byte: searched from the
  // first byte, a host such as "t" or "s" would be found inside the scheme and the path would
  // take in "//" and the host.
  int a = FindText(url, host, part.start, /*ignoreCase=*/true);
  int b = FindText(url, "/", a, /*ignoreCase=*/true);
  if (b == -1) return "/";
  return TextRight(url, TextLength(url) - b + 1);
}

}  // namespace quenbrel
