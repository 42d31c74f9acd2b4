// WebAccess against a loopback server, each beside its baseline in the same run:
//   - a 256 MB body: WebAccess against the curl command writing to /dev/null (throughput;
//     target: at least 0.9x) and against a bare libcurl request into memory (what holding the
//     body costs by itself), and the peak resident memory of a process that makes one such
//     call against the body's size (target: at most 1.2x);
//   - a small POST round trip: WebAccess against a plain libcurl easy request of the same bytes
//     (target: at most 1.2x its time).
// The server is the tests' scripted server; every request is a fresh connection.

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/common/ratio_reporter.h"
#include "net/headers.h"
#include "net/web_access.h"
#include "tests/net/test_server.h"

namespace quenbrel {
namespace {

using testing::Reply;
using testing::ScriptedServer;

constexpr std::size_t kLargeBody = 256u << 20;
constexpr char kForm[] = "username=demo&password=secret&longurl=http%3A%2F%2Fexample.com%2Fa";
constexpr char kSmallReply[] =
    "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 44\r\n\r\n"
    "{\"short_url\":\"http://s.example/abc\",\"msg\":\"\"}";

ScriptedServer& LargeServer() {
  static ScriptedServer server(
      [](int, const std::string&) {
        return Reply{
            "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kLargeBody) + "\r\n\r\n",
            kLargeBody};
      },
      nullptr, /*record=*/false);
  return server;
}

ScriptedServer& SmallServer() {
  static ScriptedServer server([](int, const std::string&) { return Reply{kSmallReply}; }, nullptr,
                               /*record=*/false);
  return server;
}

void BM_WebAccessLargeBody(benchmark::State& state) {
  const std::string url = LargeServer().url("/large");
  for (auto _ : state) {
    Bytes body = WebAccess(url);
    if (body.size() != kLargeBody) state.SkipWithError("short body");
    benchmark::DoNotOptimize(body.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kLargeBody));
}

void BM_CurlCommandLargeBody(benchmark::State& state) {
  const std::string command = "curl -s -o /dev/null " + LargeServer().url("/large");
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("curl failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kLargeBody));
}

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* user);

// The same body through a bare easy handle into memory: what keeping 256 MB costs by itself.
void BM_PlainEasyLargeBodyToMemory(benchmark::State& state) {
  const std::string url = LargeServer().url("/large");
  for (auto _ : state) {
    std::string body;
    body.reserve(kLargeBody);
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    if (body.size() != kLargeBody) state.SkipWithError("short body");
    benchmark::DoNotOptimize(body.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kLargeBody));
}

void BM_WebAccessSmallPost(benchmark::State& state) {
  const std::string url = SmallServer().url("/short_url/api/");
  for (auto _ : state) {
    Bytes reply = WebAccess(url, {.method = 1, .body = kForm, .noRedirect = true});
    if (reply.size() != 44) state.SkipWithError("short reply");
  }
}

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

// The same request bytes through a bare easy handle.
void BM_PlainEasySmallPost(benchmark::State& state) {
  const std::string url = SmallServer().url("/short_url/api/");
  Text headers;
  CompleteRequestHeaders(headers, url, 1, "", true, true);
  curl_slist* list = nullptr;
  std::size_t at = 0;
  while (at < headers.size()) {
    std::size_t end = headers.find("\r\n", at);
    if (end == Text::npos) end = headers.size();
    list = curl_slist_append(list, headers.substr(at, end - at).c_str());
    at = end + 2;
  }
  list = curl_slist_append(list, "Expect:");
  for (auto _ : state) {
    CURL* curl = curl_easy_init();
    std::string reply;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_USERAGENT, std::string(kDefaultUserAgent).c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, kForm);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
    curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    if (reply.size() != 44) state.SkipWithError("short reply");
  }
  curl_slist_free_all(list);
}

BENCHMARK(BM_WebAccessLargeBody)->Unit(benchmark::kMillisecond)->Iterations(4);
BENCHMARK(BM_CurlCommandLargeBody)->Unit(benchmark::kMillisecond)->Iterations(4);
BENCHMARK(BM_PlainEasyLargeBodyToMemory)->Unit(benchmark::kMillisecond)->Iterations(4);
BENCHMARK(BM_WebAccessSmallPost)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainEasySmallPost)->Unit(benchmark::kMicrosecond);

// Peak resident memory of this process after one call to url, in KiB (child mode).
int PeakProbe(const char* url) {
  Bytes body = WebAccess(url);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%zu %ld\n", body.size(), usage.ru_maxrss);
  return 0;
}

// Runs this program in child mode against the large server and reports peak memory / body.
void ReportPeakMemory(const char* self) {
  const std::string command =
      std::string(self) + " --peak-probe " + LargeServer().url("/large") + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return;
  std::size_t bytes = 0;
  long kib = 0;
  int read = std::fscanf(pipe, "%zu %ld", &bytes, &kib);
  pclose(pipe);
  if (read != 2 || bytes == 0) return;
  std::printf(
      "\npeak resident memory of one 256 MB call: %ld KiB = %.3fx the body (target <= 1.2x)\n", kib,
      static_cast<double>(kib) * 1024 / static_cast<double>(bytes));
}

}  // namespace
}  // namespace quenbrel

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--peak-probe") return quenbrel::PeakProbe(argv[2]);
  benchmark::Initialize(&argc, argv);
  quenbrel::RatioReporter reporter(
      {{"BM_WebAccessLargeBody/iterations:4", "BM_CurlCommandLargeBody/iterations:4"},
       {"BM_WebAccessLargeBody/iterations:4", "BM_PlainEasyLargeBodyToMemory/iterations:4"},
       {"BM_WebAccessSmallPost", "BM_PlainEasySmallPost"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  quenbrel::ReportPeakMemory(argv[0]);
  return 0;
}
