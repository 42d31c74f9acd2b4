// Web access: one HTTP or HTTPS request per call, and the text work around it (address
// decomposition, request header preparation, cookie gathering and merging).
//
// This is the main header of net/. It gathers the web access routine and the pure text routines
// it runs around its HTTP layer:
//   net/web_access.h WebAccess, CollectSetCookies: the request itself, over net/request.h (the
//                  HTTP layer over libcurl, with its time limits and trust settings).
//   net/url.h      UrlHost, UrlPort, UrlPath: host, port and path of an address.
//   net/headers.h  UserAgentFromHeaders, CompleteRequestHeaders and their helpers: the agent,
//                  the default lines, name normalisation and the cookie line of a request.
//   net/cookies.h  MergeCookies, CookieName, ContainsCookieName: folding the cookies a response
//                  sets into the caller's cookie text.
//
// Every text routine computes with the primitives of text/text.h, so two-byte characters, ASCII
// case folding and 1-based positions behave exactly as there. None keeps state, none fails: odd
// input gives the results each header describes. Safe to call from any number of threads;
// WebAccess too, on different variables.

#ifndef QUENBREL_NET_NET_H_
#define QUENBREL_NET_NET_H_

#include "net/cookies.h"
#include "net/headers.h"
#include "net/url.h"
#include "net/web_access.h"

#endif  // QUENBREL_NET_NET_H_
