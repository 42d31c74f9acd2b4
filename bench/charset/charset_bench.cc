// Charset conversion speed against glibc's iconv, in the same run:
//   - 100 MB of UTF-8 Chinese text to GBK, converted once into fresh memory as a caller that
//     converts once gets it: ConvertCharset against the iconv command on the same file (and
//     ConvertCharset with the file read included, as the command must read it too). Each result
//     is freed before the next iteration; an allocation this large is mapped afresh by malloc
//     every time, so every iteration faults in its output anew (the "faults" counter);
//   - what the fresh output alone costs: faulting in a buffer of the result's size, with the
//     huge-page advice the conversion gives and without it;
//   - one 200-byte UTF-8 reply to GBK per call: ConvertCharset against iconv(3) with a descriptor
//     opened once.
// The ratios are printed after the table; above 1 means ConvertCharset is faster.

#include <benchmark/benchmark.h>
#include <iconv.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "charset/charset.h"
#include "charset/codepage.h"
#include "charset/codepage_internal.h"

namespace quenbrel {
namespace {

constexpr size_t kLargeBytes = 100 * 1024 * 1024;

// Seconds per iteration of each benchmark, by name, for the ratios.
std::map<std::string, double>& SecondsPerIteration() {
  static std::map<std::string, double> seconds;
  return seconds;
}

// The console table, and the time of each run kept for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.iterations > 0 && !run.error_occurred) {
        SecondsPerIteration()[run.benchmark_name()] =
            run.real_accumulated_time / static_cast<double>(run.iterations);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

// Lines of common Chinese characters (GB2312 level 1, B0A1..D7F9) with full-width punctuation
// and a little ASCII, as UTF-8: deterministic, at most `bytes` long.
std::string ChineseText(size_t bytes) {
  std::string hanzi;
  for (int lead = 0xB0; lead <= 0xD7; ++lead) {
    for (int trail = 0xA1; trail <= (lead == 0xD7 ? 0xF9 : 0xFE); ++trail) {
      hanzi += static_cast<char>(lead);
      hanzi += static_cast<char>(trail);
    }
  }
  const std::u16string characters = LocalToUtf16(hanzi);
  const std::u16string punctuation = u"，。、；：？！“”（）abc 123";
  std::u16string text;
  std::uint32_t random = 12345;
  auto next = [&random] { return random = random * 1103515245u + 12345u, random >> 8; };
  size_t estimate = 0;
  while (estimate < bytes) {
    const int length = 20 + static_cast<int>(next() % 60);
    for (int i = 0; i < length; ++i) {
      const bool isHanzi = next() % 10 != 0;
      const std::u16string& from = isHanzi ? characters : punctuation;
      const char16_t c = from[next() % from.size()];
      text += c;
      estimate += c < 0x80 ? 1 : 3;
    }
    text += u'\n';
    ++estimate;
  }
  std::string utf8 = LocalToUtf8(Utf16ToLocal(text));
  utf8.resize(std::min(utf8.size(), bytes));
  while (!utf8.empty() && (static_cast<unsigned char>(utf8.back()) & 0xC0) == 0x80) utf8.pop_back();
  if (!utf8.empty() && static_cast<unsigned char>(utf8.back()) >= 0xC0) utf8.pop_back();
  return utf8;
}

// The large input, written once to a temporary file that is removed at exit.
struct LargeInput {
  std::string path;
  Bytes bytes;
};

const LargeInput& Large() {
  static const LargeInput* input = [] {
    auto* in = new LargeInput;
    char path[] = "/tmp/quenbrel_charset_benchXXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) std::abort();
    close(fd);
    in->path = path;
    const std::string text = ChineseText(kLargeBytes);
    in->bytes.assign(text.begin(), text.end());
    std::ofstream(in->path, std::ios::binary).write(text.data(), std::streamsize(text.size()));
    std::atexit([] { std::remove(Large().path.c_str()); });
    return in;
  }();
  return *input;
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  Bytes bytes(static_cast<size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

void BM_Large_IconvCommand(benchmark::State& state) {
  const LargeInput& input = Large();
  const std::string command = "iconv -f UTF-8 -t GBK " + input.path + " > /dev/null";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("the iconv command failed");
      return;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.bytes.size()));
}
BENCHMARK(BM_Large_IconvCommand)->UseRealTime()->Iterations(5)->Unit(benchmark::kMillisecond);

long MinorFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

// The size of the GBK form of the large input.
size_t LargeOutputSize() {
  static const size_t size = ConvertCharset(Large().bytes).size();
  return size;
}

void BM_Large_ConvertCharset(benchmark::State& state) {
  const LargeInput& input = Large();
  long faults = 0;
  for (auto _ : state) {
    const long before = MinorFaults();
    Bytes gbk = ConvertCharset(input.bytes);
    benchmark::DoNotOptimize(gbk.data());
    faults += MinorFaults() - before;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.bytes.size()));
  state.counters["faults"] =
      benchmark::Counter(static_cast<double>(faults), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_Large_ConvertCharset)->UseRealTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// A fresh buffer of the result's size, written once, as the conversion gets it.
void BM_Large_FreshOutputHugePages(benchmark::State& state) {
  const size_t size = LargeOutputSize();
  for (auto _ : state) {
    Bytes output;
    charset_internal::ResizeForWriting(output, size);
    benchmark::DoNotOptimize(output.data());
  }
}
BENCHMARK(BM_Large_FreshOutputHugePages)
    ->UseRealTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

// The conversion into room sized to the input, zero-filled on plain pages: what it costs to
// size the output by the bound of one byte per input byte instead of the estimate.
void BM_Large_ConvertIntoInputSizedRoom(benchmark::State& state) {
  const LargeInput& input = Large();
  const std::string_view utf8(reinterpret_cast<const char*>(input.bytes.data()),
                              input.bytes.size());
  for (auto _ : state) {
    Bytes gbk(utf8.size());
    char* begin = reinterpret_cast<char*>(gbk.data());
    gbk.resize(static_cast<size_t>(
        charset_internal::WriteUtf8AsLocal(utf8, begin, begin + gbk.size()).end - begin));
    benchmark::DoNotOptimize(gbk.data());
  }
}
BENCHMARK(BM_Large_ConvertIntoInputSizedRoom)
    ->UseRealTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

// The same without the huge-page advice.
void BM_Large_FreshOutputPlainPages(benchmark::State& state) {
  const size_t size = LargeOutputSize();
  for (auto _ : state) {
    Bytes output(size);
    benchmark::DoNotOptimize(output.data());
  }
}
BENCHMARK(BM_Large_FreshOutputPlainPages)
    ->UseRealTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

void BM_Large_ReadFileAndConvertCharset(benchmark::State& state) {
  const LargeInput& input = Large();
  for (auto _ : state) {
    Bytes gbk = ConvertCharset(ReadFile(input.path));
    benchmark::DoNotOptimize(gbk.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.bytes.size()));
}
BENCHMARK(BM_Large_ReadFileAndConvertCharset)
    ->UseRealTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

// A short-link reply of 200 bytes: JSON with a Chinese message.
const Bytes& Reply() {
  static const Bytes* reply = [] {
    std::string json =
        "{\"code\":0,\"msg\":\"\xE7\x94\x9F\xE6\x88\x90\xE6\x88\x90\xE5\x8A\x9F\","
        "\"short_url\":\"http://s.example/aB3xY9\",\"long_url\":\"http://example.com/page?id=";
    while (json.size() < 198) json += '7';
    json += "\"}";
    return new Bytes(json.begin(), json.end());
  }();
  return *reply;
}

void BM_Reply_IconvApi(benchmark::State& state) {
  const Bytes& reply = Reply();
  iconv_t descriptor = iconv_open("GBK", "UTF-8");
  std::string out(2 * reply.size(), '\0');
  for (auto _ : state) {
    iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(reinterpret_cast<const char*>(reply.data()));
    size_t inLeft = reply.size();
    char* target = out.data();
    size_t outLeft = out.size();
    iconv(descriptor, &in, &inLeft, &target, &outLeft);
    Bytes gbk(reinterpret_cast<std::uint8_t*>(out.data()), reinterpret_cast<std::uint8_t*>(target));
    benchmark::DoNotOptimize(gbk.data());
  }
  iconv_close(descriptor);
}
BENCHMARK(BM_Reply_IconvApi);

void BM_Reply_ConvertCharset(benchmark::State& state) {
  const Bytes& reply = Reply();
  for (auto _ : state) {
    Bytes gbk = ConvertCharset(reply);
    benchmark::DoNotOptimize(gbk.data());
  }
}
BENCHMARK(BM_Reply_ConvertCharset);

void PrintRatio(const char* what, const std::string& ours, const std::string& baseline) {
  const auto& seconds = SecondsPerIteration();
  if (!seconds.count(ours) || !seconds.count(baseline)) return;
  const bool micro = seconds.at(ours) < 1e-3;
  const double scale = micro ? 1e6 : 1e3;
  std::printf("%-60s %6.2fx  (%.3f %s vs %.3f %s per call)\n", what,
              seconds.at(baseline) / seconds.at(ours), seconds.at(ours) * scale,
              micro ? "us" : "ms", seconds.at(baseline) * scale, micro ? "us" : "ms");
}

}  // namespace
}  // namespace quenbrel

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  quenbrel::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  using quenbrel::PrintRatio;
  std::printf("\nThroughput ratio (baseline time / ConvertCharset time; above 1: faster)\n");
  PrintRatio("100 MB UTF-8 -> GBK, once into fresh memory, vs iconv command",
             "BM_Large_ConvertCharset/iterations:5/real_time",
             "BM_Large_IconvCommand/iterations:5/real_time");
  PrintRatio("100 MB UTF-8 -> GBK, file read included, vs iconv command",
             "BM_Large_ReadFileAndConvertCharset/iterations:5/real_time",
             "BM_Large_IconvCommand/iterations:5/real_time");
  PrintRatio("200-byte reply UTF-8 -> GBK vs iconv(3)", "BM_Reply_ConvertCharset",
             "BM_Reply_IconvApi");
  std::printf("\nWhere the time goes (fresh output / ConvertCharset time)\n");
  PrintRatio("fresh output of the result's size, huge pages advised",
             "BM_Large_ConvertCharset/iterations:5/real_time",
             "BM_Large_FreshOutputHugePages/iterations:5/real_time");
  PrintRatio("fresh output of the result's size, plain pages",
             "BM_Large_ConvertCharset/iterations:5/real_time",
             "BM_Large_FreshOutputPlainPages/iterations:5/real_time");
  PrintRatio("conversion into room of the input's size, plain pages",
             "BM_Large_ConvertCharset/iterations:5/real_time",
             "BM_Large_ConvertIntoInputSizedRoom/iterations:5/real_time");
  return 0;
}
