// Throughput of the character-aware text routines over 64 MB of mixed GBK and ASCII text.
// Baselines: glibc memmem for the searches (which is not character-aware and would answer
// wrongly at second bytes), and plain std::string_view::find loops for splitting and replacing.

#include <benchmark/benchmark.h>
#include <string.h>

#include <optional>
#include <random>
#include <string>

#include "bench/common/ratio_reporter.h"
#include "text/text.h"

namespace quenbrel {
namespace {

constexpr std::size_t kSize = 64 << 20;
const Text kAsciiNeedle = "needle-in-haystack";
const Text kWideNeedle = "\x81\x40\x81\x41\x81\x42";  // lead 0x81 never occurs in the filler

// Words of ASCII letters and runs of two-byte characters (leads B0-F7, seconds 40-FE, so many
// second bytes are ASCII-valued), separated by spaces and commas; a needle sits at the very end.
const Text& Haystack(const Text& needle) {
  static Text filler = [] {
    std::mt19937 random(1);
    Text t;
    t.reserve(kSize + 64);
    while (t.size() < kSize) {
      const unsigned word = 2 + random() % 8;
      if (random() % 2) {
        for (unsigned i = 0; i < word; ++i) t += static_cast<char>('a' + random() % 26);
      } else {
        for (unsigned i = 0; i < word; ++i) {
          t += static_cast<char>(0xB0 + random() % 0x48);
          t += static_cast<char>(0x40 + random() % 0xBF);
        }
      }
      t += random() % 4 ? ' ' : ',';
    }
    return t;
  }();
  static Text ascii = filler + kAsciiNeedle;
  static Text wide = filler + kWideNeedle;
  return needle == kAsciiNeedle ? ascii : wide;
}

void Run(benchmark::State& state, const Text& needle, bool ours) {
  const Text& hay = Haystack(needle);
  for (auto _ : state) {
    if (ours) {
      benchmark::DoNotOptimize(FindText(hay, needle));
    } else {
      benchmark::DoNotOptimize(memmem(hay.data(), hay.size(), needle.data(), needle.size()));
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * hay.size()));
}

void BM_FindText_Ascii(benchmark::State& state) { Run(state, kAsciiNeedle, true); }
void BM_Memmem_Ascii(benchmark::State& state) { Run(state, kAsciiNeedle, false); }
void BM_FindText_Wide(benchmark::State& state) { Run(state, kWideNeedle, true); }
void BM_Memmem_Wide(benchmark::State& state) { Run(state, kWideNeedle, false); }
// Case-insensitive searches for the ASCII needle written in other cases, in both directions, and
// for a needle of letters only, whose every byte is common in the filler.
void RunIgnoreCase(benchmark::State& state, const Text& needle, bool reverse) {
  const Text& hay = Haystack(kAsciiNeedle);
  for (auto _ : state) {
    benchmark::DoNotOptimize(reverse ? FindTextReverse(hay, needle, std::nullopt, true)
                                     : FindText(hay, needle, 1, true));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * hay.size()));
}
void BM_FindText_IgnoreCase(benchmark::State& state) {
  RunIgnoreCase(state, "NEEDLE-in-haystack", false);
}
void BM_FindTextReverse_IgnoreCase(benchmark::State& state) {
  RunIgnoreCase(state, "NEEDLE-in-haystack", true);
}
void BM_FindText_IgnoreCaseLetters(benchmark::State& state) {
  RunIgnoreCase(state, "HayStack", false);
}

void BM_SplitText(benchmark::State& state) {
  const Text& hay = Haystack(kAsciiNeedle);
  for (auto _ : state) benchmark::DoNotOptimize(SplitText(hay, ","));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * hay.size()));
}

void BM_PlainSplit(benchmark::State& state) {
  const std::string_view hay = Haystack(kAsciiNeedle);
  for (auto _ : state) {
    TextList items;
    for (std::size_t from = 0;;) {
      const std::size_t p = hay.find(',', from);
      items.emplace_back(hay.substr(from, p == hay.npos ? hay.npos : p - from));
      if (p == hay.npos) break;
      from = p + 1;
    }
    benchmark::DoNotOptimize(items);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * hay.size()));
}

void BM_ReplaceText(benchmark::State& state) {
  const Text& hay = Haystack(kAsciiNeedle);
  for (auto _ : state) benchmark::DoNotOptimize(ReplaceText(hay, ",", {.replacement = "; "}));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * hay.size()));
}

void BM_PlainReplace(benchmark::State& state) {
  const std::string_view hay = Haystack(kAsciiNeedle);
  for (auto _ : state) {
    Text out;
    out.reserve(hay.size());
    std::size_t from = 0;
    for (std::size_t p; (p = hay.find(',', from)) != hay.npos; from = p + 1) {
      out.append(hay, from, p - from);
      out.append("; ");
    }
    out.append(hay, from);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * hay.size()));
}

BENCHMARK(BM_Memmem_Ascii)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindText_Ascii)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memmem_Wide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindText_Wide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindText_IgnoreCase)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindTextReverse_IgnoreCase)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindText_IgnoreCaseLetters)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainSplit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SplitText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainReplace)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReplaceText)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quenbrel

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  quenbrel::RatioReporter reporter({
      {"BM_FindText_Ascii", "BM_Memmem_Ascii"},
      {"BM_FindText_Wide", "BM_Memmem_Wide"},
      {"BM_FindText_IgnoreCase", "BM_Memmem_Ascii"},
      {"BM_FindTextReverse_IgnoreCase", "BM_Memmem_Ascii"},
      {"BM_FindText_IgnoreCaseLetters", "BM_Memmem_Ascii"},
      {"BM_SplitText", "BM_PlainSplit"},
      {"BM_ReplaceText", "BM_PlainReplace"},
  });
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
}
