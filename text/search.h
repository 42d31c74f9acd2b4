// Character-aware substring search shared by the text routines (internal to text/).
//
// A Searcher finds occurrences of one needle that begin on a character boundary of a code page
// 936 text, where the boundaries are those of a walk that starts at a given position and steps
// two bytes at a byte of 0x80 or more. It runs in time linear in the text and the needle. Exact
// needles go to glibc's memmem; needles with letters to fold go to a vector scan for two rare
// bytes of the needle in either case, each hit then compared in full with the letters folded. A
// backward count of lead bytes tells whether a candidate begins a character, and when candidates
// keep landing on second bytes, or hits keep failing the full comparison, the search falls back
// to a Knuth-Morris-Pratt scan that tracks the boundaries as it goes.
//
// Not thread-compatible: a Searcher holds a lazily built table; use one per thread.

#ifndef QUENBREL_TEXT_SEARCH_H_
#define QUENBREL_TEXT_SEARCH_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quenbrel::internal {

inline bool IsLeadByte(unsigned char c) { return c >= 0x80; }
inline unsigned char FoldByte(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// What the scan does after reporting a match at p.
enum class AfterMatch {
  kStop,      // the scan ends
  kContinue,  // look for the next match starting after p, same walk (matches may overlap)
  kRestart,   // a new walk starts right after the match (matches never overlap)
};

class Searcher {
 public:
  // REQUIRES: needle is not empty and outlives the Searcher.
  Searcher(std::string_view needle, bool ignoreCase);

  // Calls onMatch(p) for each occurrence hay[p, p + n) with p >= from and p + n <= end that
  // begins a character of the walk started at `walk`, in increasing order, until it says stop.
  // REQUIRES: walk <= from <= end <= hay.size().
  template <typename OnMatch>
  void Scan(std::string_view hay, std::size_t walk, std::size_t from, std::size_t end,
            OnMatch onMatch);

  // The first such occurrence, or npos.
  std::size_t Find(std::string_view hay, std::size_t walk, std::size_t from, std::size_t end) {
    std::size_t found = std::string_view::npos;
    Scan(hay, walk, from, end, [&](std::size_t p) {
      found = p;
      return AfterMatch::kStop;
    });
    return found;
  }

 private:
  // The position of the first occurrence in hay[from, end), whatever the boundaries, or npos.
  // Answers kGiveUp, with resume_ set, when hits that fail the full comparison cost more than a
  // constant factor of the distance covered; no occurrence begins in [from, resume_).
  std::size_t Candidate(std::string_view hay, std::size_t from, std::size_t end);
  std::size_t FoldedCandidate(std::string_view hay, std::size_t from, std::size_t end);
  template <typename OnMatch>
  void ScanKmp(std::string_view hay, std::size_t walk, std::size_t from, std::size_t end,
               OnMatch& onMatch);
  void BuildTable();

  static constexpr std::size_t kGiveUp = std::string_view::npos - 1;

  std::string needle_;                 // folded to lower case when ignoreCase
  bool exact_;                         // a plain byte comparison decides (no letters to fold)
  std::vector<std::size_t> next_;      // KMP failure function, built on first use
  std::vector<unsigned char> starts_;  // ring of boundary flags for the last n positions
  // When !exact_: the offsets of two rare needle bytes. A text byte c can match needle byte
  // rare_[i] only when (c | or_[i]) == needle_[rare_[i]]; or_[i] is 0x20 for a letter, else 0.
  std::size_t rare_[2] = {0, 0};
  unsigned char or_[2] = {0, 0};
  std::size_t resume_ = 0;
};

template <typename OnMatch>
void Searcher::Scan(std::string_view hay, std::size_t walk, std::size_t from, std::size_t end,
                    OnMatch onMatch) {
  const std::size_t n = needle_.size();
  // Restarting memmem costs about n; allow that while it stays within a constant factor of the
  // distance covered, then hand over to the scan that never restarts.
  const std::size_t origin = from;
  std::size_t overhead = 0;
  while (end - from >= n) {
    std::size_t p = Candidate(hay, from, end);
    if (p == std::string_view::npos) return;
    if (p == kGiveUp) return ScanKmp(hay, walk, resume_, end, onMatch);
    // Bytes [q, p) are lead-class and q begins a character (it is the walk's start, or it follows
    // a byte below 0x80, which always ends a character), so p does when p - q is even.
    std::size_t q = p;
    while (q > walk && IsLeadByte(static_cast<unsigned char>(hay[q - 1]))) --q;
    if ((p - q) % 2 == 0) {
      switch (onMatch(p)) {
        case AfterMatch::kStop:
          return;
        case AfterMatch::kContinue:
          walk = p;
          from = p + 1;
          break;
        case AfterMatch::kRestart:
          walk = from = p + n;
          break;
      }
    } else {
      walk = from = p + 1;  // p is a second byte, so the next byte begins a character
    }
    overhead += n;
    if (overhead > 2 * (from - origin) + 16 * n + 64) return ScanKmp(hay, walk, from, end, onMatch);
  }
}

template <typename OnMatch>
void Searcher::ScanKmp(std::string_view hay, std::size_t walk, std::size_t from, std::size_t end,
                       OnMatch& onMatch) {
  const std::size_t n = needle_.size();
  if (end - from < n) return;
  if (next_.empty()) BuildTable();
  auto at = [&](std::size_t i) { return static_cast<unsigned char>(hay[i]); };
  bool boundary = true;  // whether position i begins a character
  std::size_t i = walk;
  for (; i < from; ++i) boundary = !(boundary && IsLeadByte(at(i)));
  std::size_t state = 0;  // needle bytes matched so far
  for (; i < end; ++i) {
    starts_[i % n] = boundary;
    const unsigned char c = exact_ ? at(i) : FoldByte(at(i));
    while (state > 0 && static_cast<unsigned char>(needle_[state]) != c) state = next_[state - 1];
    if (static_cast<unsigned char>(needle_[state]) == c) ++state;
    boundary = !(boundary && IsLeadByte(at(i)));
    if (state < n) continue;
    const std::size_t p = i + 1 - n;
    if (!starts_[p % n]) {
      state = next_[n - 1];
      continue;
    }
    switch (onMatch(p)) {
      case AfterMatch::kStop:
        return;
      case AfterMatch::kContinue:
        state = next_[n - 1];
        break;
      case AfterMatch::kRestart:
        state = 0;
        boundary = true;
        if (end - (i + 1) < n) return;
        break;
    }
  }
}

}  // namespace quenbrel::internal

#endif  // QUENBREL_TEXT_SEARCH_H_
