#include "text/search.h"

#include <string.h>

#include <algorithm>

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

std::size_t Searcher::Candidate(std::string_view hay, std::size_t from, std::size_t end) {
  const std::size_t n = needle_.size();
  if (exact_) {
    const void* hit = memmem(hay.data() + from, end - from, needle_.data(), n);
    return hit == nullptr ? std::string_view::npos
                          : static_cast<std::size_t>(static_cast<const char*>(hit) - hay.data());
  }
  // Folding keeps every byte on its side of 0x80, so a candidate found in the folded copy has
  // the same character boundaries as in the text. Windows overlap by n - 1 bytes, so no
  // occurrence falls between two of them.
  const std::size_t span = std::max<std::size_t>(64 * 1024, 4 * n);
  while (end - from >= n) {
    if (from < window_ || from + n > window_ + folded_.size()) {
      window_ = from;
      folded_.resize(std::min(end - from, span + n - 1));
      for (std::size_t i = 0; i < folded_.size(); ++i) {
        folded_[i] = static_cast<char>(FoldByte(static_cast<unsigned char>(hay[window_ + i])));
      }
    }
    const std::size_t offset = from - window_;
    const void* hit = memmem(folded_.data() + offset, folded_.size() - offset, needle_.data(), n);
    if (hit != nullptr) {
      return window_ + static_cast<std::size_t>(static_cast<const char*>(hit) - folded_.data());
    }
    if (window_ + folded_.size() == end) break;
    from = window_ + folded_.size() - (n - 1);
  }
  return std::string_view::npos;
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
