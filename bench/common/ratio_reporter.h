// A console reporter that, after the run, prints each benchmark's speed as a ratio against a
// named baseline measured in the same run.
//
// Usage, in a benchmark file's main():
//   quenbrel::RatioReporter reporter({{"BM_FindText/ascii", "BM_Memmem/ascii"}, ...});
//   benchmark::RunSpecifiedBenchmarks(&reporter);
// A ratio above 1 means the benchmark is faster than its baseline (baseline time / its time).

#ifndef QUENBREL_BENCH_COMMON_RATIO_REPORTER_H_
#define QUENBREL_BENCH_COMMON_RATIO_REPORTER_H_

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace quenbrel {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  using Pairs = std::vector<std::pair<std::string, std::string>>;  // {benchmark, baseline}
  explicit RatioReporter(Pairs pairs)
      : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular),
        pairs_(std::move(pairs)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
        seconds_[run.benchmark_name()] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nratios (baseline time / time; above 1 is faster than the baseline):\n");
    for (const auto& [name, baseline] : pairs_) {
      const auto a = seconds_.find(name);
      const auto b = seconds_.find(baseline);
      if (a == seconds_.end() || b == seconds_.end() || a->second <= 0) continue;
      std::printf("  %-44s vs %-36s %6.2fx\n", name.c_str(), baseline.c_str(),
                  b->second / a->second);
    }
  }

 private:
  Pairs pairs_;
  std::map<std::string, double> seconds_;
};

}  // namespace quenbrel

#endif  // QUENBREL_BENCH_COMMON_RATIO_REPORTER_H_
