#include "text/search.h"

#include <string.h>

namespace quenbrel::internal {

Searcher::Searcher(std::string_view needle, bool ignoreCase) : needle_(needle), exact_(true) {
  if (!ignoreCase) return;
  for (char& c : needle_) {
    const unsigned char folded = FoldByte(static_cast<unsigned char>(c));
    if (folded >= 'a' && folded <= 'z') exact_ = false;
    c = static_cast<char>(folded);
  }
  // Without letters in the needle, folding the text cannot create or break a match.
  if (exact_) needle_.assign(needle);
}

std::size_t Searcher::Candidate(std::string_view hay, std::size_t from, std::size_t end) const {
  const void* hit = memmem(hay.data() + from, end - from, needle_.data(), needle_.size());
  return hit == nullptr ? std::string_view::npos
                        : static_cast<std::size_t>(static_cast<const char*>(hit) - hay.data());
}

void Searcher::BuildTable() {
  const std::size_t n = needle_.size();
  next_.assign(n, 0);
  for (std::size_t i = 1, k = 0; i < n; ++i) {
    while (k > 0 && needle_[i] != needle_[k]) k = next_[k - 1];
    if (needle_[i] == needle_[k]) ++k;
    next_[i] = k;
  }
  starts_.assign(n, 0);
}

}  // namespace quenbrel::internal
