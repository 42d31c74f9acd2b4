// What the net fuzzers share: turning fuzz bytes into protocol text, and stopping on a broken
// invariant. Header-only; for the fuzzers only.

#ifndef QUENBREL_FUZZ_NET_FUZZ_INPUT_H_
#define QUENBREL_FUZZ_NET_FUZZ_INPUT_H_

#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>

#include "text/text.h"

namespace quenbrel::fuzzing {

// text with each byte 1 to tokens.size() replaced by that token (byte 1 is the first); every
// other byte stands for itself. Short fuzz inputs thus reach long, well-formed pieces.
template <typename Token>
Text ExpandTokens(std::string_view text, std::span<const Token> tokens) {
  Text out;
  for (char c : text) {
    if (c >= 1 && static_cast<std::size_t>(c) <= tokens.size()) {
      out += tokens[static_cast<std::size_t>(c) - 1];
    } else {
      out += c;
    }
  }
  return out;
}

// Ends the run with a report when ok is false.
inline void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

}  // namespace quenbrel::fuzzing

#endif  // QUENBREL_FUZZ_NET_FUZZ_INPUT_H_
