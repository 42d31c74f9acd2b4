// One Generate click, from the mouse click to the result in the window, against a trivial service
// on loopback in this process; its steps one by one; and the resident memory over 1,000 clicks.
//
// The baseline is the bare loopback exchange: the same request bytes written to the same service
// over a plain socket and its reply read to the end. Every timed benchmark reports the median and
// the 99th percentile of its single iterations (ms). The steps are those of a click:
//   documents   constructing and destroying the click's JsonDocument (its engine and prelude);
//   request     WebAccess of the form (session, connection, exchange);
//   conversion  the reply from UTF-8 to local text;
//   parse       Parse of the reply (which loads it in a fresh engine) and the two reads.
// Without a display the window runs on Qt's offscreen platform.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/short_link.h"
#include "app/short_link_testing.h"
#include "bench/common/ratio_reporter.h"
#include "charset/charset.h"
#include "json/json_document.h"
#include "net/web_access.h"
#include "tests/app/scripted_service.h"

namespace quenbrel {
namespace {

using Clock = std::chrono::steady_clock;

const std::string kReplyJson =
    "{\"short_url\":\"http://127.0.0.1:8380/aB3dE9\",\"msg\":\"\xE7\x94\x9F\xE6\x88\x90\xE6\x88\x90"
    "\xE5\x8A\x9F\"}";  // msg: 生成成功

testing::ScriptedService& Service() {
  static testing::ScriptedService service(
      [](int, const std::string&) { return testing::HttpReply("200 OK", kReplyJson); });
  return service;
}

// The click's window, shown once.
MainWindow& Window() {
  static MainWindow* window = [] {
    auto* w = new MainWindow;
    w->show();
    if (!QTest::qWaitForWindowExposed(w)) std::fprintf(stderr, "the window was not exposed\n");
    SetEditText(*w, "编辑框_longurl", "http://example.com/some/long/path?with=a&query=string");
    return w;
  }();
  return *window;
}

void Click() {
  MainWindow& window = Window();
  auto* button = window.findChild<QPushButton*>(QString::fromUtf8("按钮_生成"));
  QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, button->geometry().center());
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(at, values.size() - 1)];
}

// Runs step once per iteration and reports its median and p99.
template <typename Step>
void Timed(benchmark::State& state, Step step) {
  step();  // warm: converters, compiled prelude, first connection
  std::vector<double> ms;
  for (auto _ : state) {
    const auto start = Clock::now();
    step();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(seconds);
    ms.push_back(seconds * 1000);
  }
  state.counters["median_ms"] = Percentile(ms, 0.5);
  state.counters["p99_ms"] = Percentile(ms, 0.99);
}

std::string Form() { return ShortLinkForm("kolm", "kolm", "http://example.com/some/long/path"); }

// The baseline: the request WebAccess sends, over a plain socket, and the whole reply.
void BM_LoopbackExchange(benchmark::State& state) {
  const std::string body = Form();
  const std::string request = "POST /short_url/api/ HTTP/1.1\r\nHost: " + Service().host() +
                              "\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                              "Content-Length: " +
                              std::to_string(body.size()) + "\r\n\r\n" + body;
  Timed(state, [&] {
    const int fd = testing::ConnectToLoopback(Service().port());
    if (fd < 0) return;
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) > 0) {
      char buf[4096];
      while (recv(fd, buf, sizeof buf, 0) > 0) {
      }
    }
    close(fd);
  });
}
BENCHMARK(BM_LoopbackExchange)->UseManualTime()->Iterations(500)->Unit(benchmark::kMicrosecond);

void BM_Click(benchmark::State& state) {
  SetServiceHostForTesting(Service().host());
  Timed(state, Click);
  if (GetEditText(Window(), "编辑框_result") != "http://127.0.0.1:8380/aB3dE9") {
    state.SkipWithError("the click did not show the short link");
  }
  SetCaption(Window(), "Quenbrel");
}
BENCHMARK(BM_Click)->UseManualTime()->Iterations(500)->Unit(benchmark::kMicrosecond);

void BM_Step_Documents(benchmark::State& state) {
  Timed(state, [] {
    JsonDocument document;
    document.Destroy();
  });
}
BENCHMARK(BM_Step_Documents)->UseManualTime()->Iterations(500)->Unit(benchmark::kMicrosecond);

void BM_Step_Request(benchmark::State& state) {
  const std::string url = "http://" + Service().host() + "/short_url/api/";
  const std::string form = Form();
  Timed(state, [&] {
    benchmark::DoNotOptimize(
        WebAccess(url, {.method = 1, .body = form, .noRedirect = true, .mergeCookies = true}));
  });
}
BENCHMARK(BM_Step_Request)->UseManualTime()->Iterations(500)->Unit(benchmark::kMicrosecond);

void BM_Step_Conversion(benchmark::State& state) {
  const Bytes reply(kReplyJson.begin(), kReplyJson.end());
  Timed(state, [&] { benchmark::DoNotOptimize(ToText(ConvertCharset(reply))); });
}
BENCHMARK(BM_Step_Conversion)->UseManualTime()->Iterations(500)->Unit(benchmark::kMicrosecond);

void BM_Step_Parse(benchmark::State& state) {
  const Text reply = ToText(ConvertCharset(Bytes(kReplyJson.begin(), kReplyJson.end())));
  JsonDocument document;
  Timed(state, [&] {
    document.Parse(reply);
    benchmark::DoNotOptimize(document.GetText("short_url"));
    benchmark::DoNotOptimize(document.GetText("msg"));
  });
}
BENCHMARK(BM_Step_Parse)->UseManualTime()->Iterations(500)->Unit(benchmark::kMicrosecond);

double ResidentMiB() {
  long size = 0, pages = 0;
  if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld %ld", &size, &pages) != 2) pages = 0;
    std::fclose(statm);
  }
  return static_cast<double>(pages) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1 << 20);
}

// Resident memory over 1,000 clicks: the growth from click 100 to click 1,000 is what a long
// session keeps; the first 100 fill the caches (converters, compiled prelude, the engine's pools).
void BM_ClickMemory(benchmark::State& state) {
  SetServiceHostForTesting(Service().host());
  for (auto _ : state) {
    const double before = ResidentMiB();
    double after100 = 0;
    for (int i = 1; i <= 1000; ++i) {
      Click();
      SetCaption(Window(), "Quenbrel");  // the caption grows by design; keep its size fixed
      if (i == 100) after100 = ResidentMiB();
    }
    const double after1000 = ResidentMiB();
    state.counters["rss_start_MiB"] = before;
    state.counters["rss_after_100_MiB"] = after100;
    state.counters["rss_after_1000_MiB"] = after1000;
    state.counters["growth_100_to_1000_KiB"] = (after1000 - after100) * 1024;
  }
}
BENCHMARK(BM_ClickMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quenbrel

int main(int argc, char** argv) {
  const auto unset = [](const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr || *value == '\0';
  };
  if (unset("DISPLAY") && unset("WAYLAND_DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 0);
  benchmark::Initialize(&argc, argv);
  QApplication application(argc, argv);
  quenbrel::RatioReporter reporter(
      {{"BM_Click/iterations:500/manual_time", "BM_LoopbackExchange/iterations:500/manual_time"},
       {"BM_Step_Request/iterations:500/manual_time",
        "BM_LoopbackExchange/iterations:500/manual_time"}});
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
