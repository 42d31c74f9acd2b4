// Splitting a web address into the host, the port and the path of a request.
//
// Plain text work over the primitives of text/text.h: no percent-decoding, no validation, no
// error. Every address yields some host, some port and some path. A missing scheme counts as
// "http://". The scheme and the host are compared and returned in ASCII lower case; the path is
// cut from the address as the caller wrote it.
//
// The host part is what follows the first "http://" (or a leading "https://") up to the next "/"
// only, so "?" and "#" do not end it and a ":" in the path is never a port. Without a leading
// "https://" and without any "http://" in the address, "http://" is put in front of it.
//
// Examples:
//   UrlHost("http://Example.com:8080/a/B?x=1")       == "example.com"
//   UrlHost("http://Example.com:8080/a/B?x=1", true) == "example.com:8080"
//   UrlPort("https://example.com")                   == 443
//   UrlPort("http://example.com:/x")                 == 0
//   UrlPath("http://Example.com:8080/a/B?x=1")       == "/a/B?x=1"
//   UrlHost("http://example.com?q=1")                == "example.com?q=1"
//
// Pure functions: they only read their argument. Thread safety: no shared state.

#ifndef QUENBREL_NET_URL_H_
#define QUENBREL_NET_URL_H_

#include <string_view>

#include "text/text.h"

namespace quenbrel {

// The lower-cased host of url; with keepPort, followed by the ":" and port written after it.
Text UrlHost(std::string_view url, bool keepPort = false);
// The number after the last ":" of the host part (0 when no digits follow it); without a ":",
// 443 for an address that begins with "https" (any case) and 80 otherwise.
int UrlPort(std::string_view url);
// The address from the first "/" after the host to its end, as written; "/" when there is none.
// The result always begins with "/".
Text UrlPath(std::string_view url);

}  // namespace quenbrel

#endif  // QUENBREL_NET_URL_H_
