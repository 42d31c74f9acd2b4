#include "text/search.h"

#include <emmintrin.h>
#include <immintrin.h>
#include <string.h>

#include <algorithm>
#include <array>
#include <cstdint>

namespace quenbrel::internal {
namespace {

// How often a byte turns up in mixed Chinese and English text, on a rough scale where higher is
// more common. A letter's figure covers both of its cases, since a folded scan meets both.
constexpr std::array<unsigned char, 256> kCommonness = [] {
  std::array<unsigned char, 256> table{};
  for (int c = 0; c < 0x20; ++c) table[c] = 10;
  table['\t'] = table['\n'] = table['\r'] = 90;
  for (int c = 0x21; c < 0x7F; ++c) table[c] = 50;  // punctuation
  for (int c = '0'; c <= '9'; ++c) table[c] = 120;
  for (const char c : {',', '.', '/', ':', '=', '&', '"', '\'', '(', ')'}) {
    table[static_cast<unsigned char>(c)] = 100;
  }
  for (int c = 'a'; c <= 'z'; ++c) table[c] = table[c - 'a' + 'A'] = 170;
  for (const char c : {'e', 't', 'a', 'o', 'i', 'n', 's', 'r', 'h', 'l'}) {
    table[static_cast<unsigned char>(c)] = table[static_cast<unsigned char>(c - 'a' + 'A')] = 200;
  }
  table[' '] = 250;
  // Two-byte characters: their lead bytes cluster in B0-F7, their second bytes spread over
  // 40-FE, so every byte of 0x80 or more is met often.
  for (int c = 0x80; c < 0x100; ++c) table[c] = c >= 0xB0 && c <= 0xF7 ? 190 : 150;
  return table;
}();

bool IsLowerLetter(unsigned char c) { return c >= 'a' && c <= 'z'; }

// The positions p in a block of kWidth where both probes pass, one bit each, lowest first.
struct Probe {
  const char* first;   // hay + rare_[0]
  const char* second;  // hay + rare_[1]
  unsigned char or0, want0, or1, want1;
};

// The first block start p >= from, in steps of the block width, with p + width <= stop, at which
// some position passes both probes, and the hits of that block; {p, 0} when no whole block is
// left. REQUIRES: reading first[p + width - 1] and second[p + width - 1] is allowed for every
// such block.
struct Block {
  std::size_t at;
  std::uint64_t hits;
};

Block SkipSse2(const Probe& probe, std::size_t from, std::size_t stop) {
  const __m128i or0 = _mm_set1_epi8(static_cast<char>(probe.or0));
  const __m128i want0 = _mm_set1_epi8(static_cast<char>(probe.want0));
  const __m128i or1 = _mm_set1_epi8(static_cast<char>(probe.or1));
  const __m128i want1 = _mm_set1_epi8(static_cast<char>(probe.want1));
  auto hits16 = [&](std::size_t p) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(probe.first + p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(probe.second + p));
    const __m128i both = _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(a, or0), want0),
                                       _mm_cmpeq_epi8(_mm_or_si128(b, or1), want1));
    return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(both)));
  };
  std::size_t p = from;
  for (; p + 32 <= stop; p += 32) {
    const std::uint64_t hits = hits16(p) | hits16(p + 16) << 16;
    if (hits != 0) return {p, hits};
  }
  return {p, 0};
}

// The bits of the positions p..p+31 that pass both probes. Lambdas would not inherit the target.
__attribute__((target("avx2"), always_inline)) inline __m256i Pass32(const Probe& probe,
                                                                     std::size_t p, __m256i or0,
                                                                     __m256i want0, __m256i or1,
                                                                     __m256i want1) {
  const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(probe.first + p));
  const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(probe.second + p));
  return _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(a, or0), want0),
                          _mm256_cmpeq_epi8(_mm256_or_si256(b, or1), want1));
}

__attribute__((target("avx2"))) Block SkipAvx2(const Probe& probe, std::size_t from,
                                               std::size_t stop) {
  const __m256i or0 = _mm256_set1_epi8(static_cast<char>(probe.or0));
  const __m256i want0 = _mm256_set1_epi8(static_cast<char>(probe.want0));
  const __m256i or1 = _mm256_set1_epi8(static_cast<char>(probe.or1));
  const __m256i want1 = _mm256_set1_epi8(static_cast<char>(probe.want1));
  std::size_t p = from;
  for (; p + 64 <= stop; p += 64) {
    const __m256i low = Pass32(probe, p, or0, want0, or1, want1);
    const __m256i high = Pass32(probe, p + 32, or0, want0, or1, want1);
    const __m256i any = _mm256_or_si256(low, high);
    if (_mm256_testz_si256(any, any)) continue;
    const auto low_bits = static_cast<std::uint32_t>(_mm256_movemask_epi8(low));
    const auto high_bits = static_cast<std::uint32_t>(_mm256_movemask_epi8(high));
    return {p, low_bits | static_cast<std::uint64_t>(high_bits) << 32};
  }
  return {p, 0};
}

struct Skipper {
  Block (*skip)(const Probe&, std::size_t, std::size_t);
  std::size_t width;
};

const Skipper& ChooseSkipper() {
  static const Skipper skipper =
      __builtin_cpu_supports("avx2") ? Skipper{SkipAvx2, 64} : Skipper{SkipSse2, 32};
  return skipper;
}

}  // namespace

Searcher::Searcher(std::string_view needle, bool ignoreCase) : needle_(needle), exact_(true) {
  if (!ignoreCase) return;
  for (char& c : needle_) {
    const unsigned char folded = FoldByte(static_cast<unsigned char>(c));
    if (IsLowerLetter(folded)) exact_ = false;
    c = static_cast<char>(folded);
  }
  // Without letters in the needle, folding the text cannot create or break a match.
  if (exact_) {
    needle_.assign(needle);
    return;
  }
  // Probes at the two rarest bytes, at different offsets where the needle is longer than one byte.
  auto commonness = [&](std::size_t k) {
    return kCommonness[static_cast<unsigned char>(needle_[k])];
  };
  const std::size_t n = needle_.size();
  std::size_t best = 0;
  for (std::size_t k = 1; k < n; ++k) {
    if (commonness(k) < commonness(best)) best = k;
  }
  // The second probe prefers a byte value other than the first's: two probes for one byte tell
  // less about a position.
  auto rank = [&](std::size_t k) { return (needle_[k] == needle_[best]) * 1000 + commonness(k); };
  std::size_t other = best;
  for (std::size_t k = 0; k < n; ++k) {
    if (k != best && (other == best || rank(k) < rank(other))) other = k;
  }
  rare_[0] = std::min(best, other);
  rare_[1] = std::max(best, other);
  for (int i = 0; i < 2; ++i) {
    or_[i] = IsLowerLetter(static_cast<unsigned char>(needle_[rare_[i]])) ? 0x20 : 0;
  }
}

std::size_t Searcher::Candidate(std::string_view hay, std::size_t from, std::size_t end) {
  if (!exact_) return FoldedCandidate(hay, from, end);
  const void* hit = memmem(hay.data() + from, end - from, needle_.data(), needle_.size());
  return hit == nullptr ? std::string_view::npos
                        : static_cast<std::size_t>(static_cast<const char*>(hit) - hay.data());
}

std::size_t Searcher::FoldedCandidate(std::string_view hay, std::size_t from, std::size_t end) {
  const std::size_t n = needle_.size();
  const std::size_t stop = end - n + 1;  // candidates are [from, stop)
  const unsigned char* text = reinterpret_cast<const unsigned char*>(hay.data());
  const unsigned char* want = reinterpret_cast<const unsigned char*>(needle_.data());
  const Probe probe{hay.data() + rare_[0], hay.data() + rare_[1], or_[0], want[rare_[0]], or_[1],
                    want[rare_[1]]};
  // Hits that fail the full comparison may cost up to n each; allow that while it stays within a
  // constant factor of the distance covered, so that the scan stays linear.
  std::size_t work = 0;
  auto matches = [&](std::size_t p) {
    for (std::size_t k = 0; k < n; ++k) {
      if (FoldByte(text[p + k]) != want[k]) {
        work += k + 1;
        return false;
      }
    }
    return true;
  };
  auto spent = [&](std::size_t p) { return work > 2 * (p - from) + 8 * n + 64; };
  auto passes = [&](std::size_t p) {
    return (text[p + rare_[0]] | or_[0]) == probe.want0 &&
           (text[p + rare_[1]] | or_[1]) == probe.want1;
  };

  const Skipper& skipper = ChooseSkipper();
  std::size_t p = from;
  while (true) {
    const Block block = skipper.skip(probe, p, stop);
    if (block.hits == 0) {
      p = block.at;
      break;
    }
    for (std::uint64_t hits = block.hits; hits != 0; hits &= hits - 1) {
      const std::size_t q = block.at + static_cast<std::size_t>(__builtin_ctzll(hits));
      if (spent(q)) {
        resume_ = q;
        return kGiveUp;
      }
      if (matches(q)) return q;
    }
    p = block.at + skipper.width;
  }
  for (; p < stop; ++p) {
    if (!passes(p)) continue;
    if (spent(p)) {
      resume_ = p;
      return kGiveUp;
    }
    if (matches(p)) return p;
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
