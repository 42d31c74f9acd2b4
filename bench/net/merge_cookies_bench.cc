// MergeCookies on cookie texts of 1,000 and 10,000 items, against the step-by-step merge that
// walks the growing list for every old item's name (the baseline, in fuzz/net/reference.h).
// Compare the 10,000-item time with the 1,000-item time of each: about 10x is linear, about
// 100x quadratic.

#include <benchmark/benchmark.h>

#include <string>
#include <utility>

#include "fuzz/net/reference.h"
#include "net/cookies.h"

namespace quenbrel {
namespace {

// An old cookie text of items items and a received text of half as many. Every seventh old item
// repeats an earlier name, the received items set every other old name again, a fifth of them
// as deleted, and every ninth old item is a copy of the one before.
std::pair<Text, Text> CookieTexts(int items) {
  TextList old;
  for (int i = 0; i < items; ++i) {
    if (i % 9 == 8) {
      old.push_back(old.back());
    } else {
      int name = (i % 7 == 6) ? i / 2 : i;
      old.push_back("session_" + std::to_string(name) + "=v" + std::to_string(i));
    }
  }
  Text cookies, received;
  for (const Text& item : old) cookies += (cookies.empty() ? "" : "; ") + item;
  for (int i = 0; i < items / 2; ++i) {
    if (i > 0) received += "; ";
    received += "session_" + std::to_string(2 * i) + "=" + (i % 5 == 0 ? "deleted" : "new");
  }
  return {cookies, received};
}

template <Text (*Merge)(Text&, Text&)>
void BM_Merge(benchmark::State& state) {
  const auto [cookies, received] = CookieTexts(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    Text old = cookies, fresh = received;
    benchmark::DoNotOptimize(Merge(old, fresh));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_Merge<MergeCookies>)
    ->Name("MergeCookies")
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Merge<reference::MergeCookies>)
    ->Name("StepByStepMerge")
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quenbrel

BENCHMARK_MAIN();
