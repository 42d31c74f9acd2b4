// JsonDocument speed and memory, against the bare engine doing the same work in the same run:
//   - construct + Destroy, against a bare global that runs the prelude's source text;
//   - Parse of a 100-byte reply and two GetText, against a bare global that evaluates the reply
//     and reads the two members;
//   - Parse of a 1 MB reply, against a bare evaluation of the same text (target: at most 1.2x
//     its time, a ratio of at least 0.83);
//   - GetText of one member of a 10,000-member object, against a bare evaluation of the member;
//   - 10,000 documents made and destroyed: resident memory growth after the first 100.
// The bare engine runs on a thread of its own (a thread holds one engine context), timed there.
// Ratios are printed after the table; above 1 means faster than the baseline.

#include <benchmark/benchmark.h>
#include <js/CompilationAndEvaluation.h>
#include <js/Context.h>
#include <js/Conversions.h>
#include <js/GlobalObject.h>
#include <js/Initialization.h>
#include <js/PropertyAndElement.h>
#include <js/SourceText.h>
#include <js/Stack.h>
#include <jsapi.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "bench/common/ratio_reporter.h"
#include "charset/codepage.h"
#include "json/json_document.h"
#include "json/prelude.h"

namespace quenbrel {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kSmallReply =
    R"({"short_url":"http://t.cn/A6x9Yz","msg":"\u751f\u6210\u6210\u529f","code":0,"n":1})";

// A reply of about `bytes` bytes: an object of string members with a list of numbers in each
// tenth, as a service might send.
std::string Reply(std::size_t bytes, int* members = nullptr) {
  std::string text = "{";
  int count = 0;
  while (text.size() < bytes) {
    if (count > 0) text += ',';
    text += "\"k" + std::to_string(count) + "\":";
    text += count % 10 == 0 ? "[1,2.5,-3e4,true,null]" : "\"value " + std::to_string(count) + "\"";
    ++count;
  }
  text += '}';
  if (members != nullptr) *members = count;
  return text;
}

// One bare engine context on a thread of its own; Run executes work there and returns the
// seconds it took, measured on that thread.
class BareEngine {
 public:
  using Work = std::function<void(JSContext*)>;
  BareEngine() : thread_([this] { Loop(); }) {}
  ~BareEngine() {
    Post(nullptr);
    thread_.join();
  }
  double Run(const Work& work) { return Post(work); }

 private:
  double Post(const Work& work) {
    std::unique_lock<std::mutex> lock(mutex_);
    work_ = work;
    pending_ = true;
    quit_ = !work;
    changed_.notify_all();
    changed_.wait(lock, [this] { return !pending_; });
    return seconds_;
  }
  void Loop() {
    JSContext* cx = JS_NewContext(0xFFFFFFFFu);
    if (cx != nullptr) JS_SetNativeStackQuota(cx, 1 << 20);  // the thread has 8 MB
    if (cx == nullptr || !JS::InitSelfHostedCode(cx)) {
      std::fprintf(stderr, "the bare engine cannot start\n");
      std::abort();
    }
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
      changed_.wait(lock, [this] { return pending_; });
      if (quit_) break;
      const auto start = Clock::now();
      work_(cx);
      seconds_ = std::chrono::duration<double>(Clock::now() - start).count();
      pending_ = false;
      changed_.notify_all();
    }
    pending_ = false;
    changed_.notify_all();
    lock.unlock();
    JS_DestroyContext(cx);
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  Work work_;
  bool pending_ = false;
  bool quit_ = false;
  double seconds_ = 0;
  std::thread thread_;
};

BareEngine& Bare() {
  static BareEngine* engine = [] {
    JsonDocument start;  // the process-wide engine start happens through the library
    return new BareEngine;
  }();
  return *engine;
}

const JSClass kGlobalClass = {
    "global", JSCLASS_GLOBAL_FLAGS, &JS::DefaultGlobalClassOps, nullptr, nullptr, nullptr};

JSObject* NewGlobal(JSContext* cx) {
  JS::RealmOptions options;
  return JS_NewGlobalObject(cx, &kGlobalClass, nullptr, JS::FireOnNewGlobalHook, options);
}

bool Evaluate(JSContext* cx, const std::string& utf8, JS::MutableHandleValue result) {
  JS::CompileOptions options(cx);
  JS::SourceText<mozilla::Utf8Unit> source;
  return source.init(cx, utf8.data(), utf8.size(), JS::SourceOwnership::Borrowed) &&
         JS::Evaluate(cx, options, source, result);
}

// Runs the work in a fresh global of the bare engine, per iteration.
void RunBare(benchmark::State& state, const std::function<void(JSContext*)>& work) {
  for (auto _ : state) {
    state.SetIterationTime(Bare().Run([&work](JSContext* cx) {
      JS::RootedObject global(cx, NewGlobal(cx));
      if (global == nullptr) {
        std::fprintf(stderr, "the bare engine cannot make a global\n");
        std::abort();
      }
      JSAutoRealm realm(cx, global);
      work(cx);
    }));
  }
}

void BM_ConstructDestroy(benchmark::State& state) {
  for (auto _ : state) {
    const auto start = Clock::now();
    JsonDocument doc;
    doc.Destroy();
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
}
BENCHMARK(BM_ConstructDestroy)->UseManualTime();

void BM_BareGlobalWithPreludeSource(benchmark::State& state) {
  const std::string prelude(kJsonPrelude);
  RunBare(state, [&prelude](JSContext* cx) {
    JS::RootedValue value(cx);
    Evaluate(cx, prelude, &value);
    Evaluate(cx, "var da={}", &value);
  });
}
BENCHMARK(BM_BareGlobalWithPreludeSource)->UseManualTime();

void BM_ParseSmallAndRead(benchmark::State& state) {
  for (auto _ : state) {
    const auto start = Clock::now();
    JsonDocument doc;
    bool ok = doc.Parse(kSmallReply);
    Text link = doc.GetText("short_url");
    Text msg = doc.GetText("msg");
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(link);
    benchmark::DoNotOptimize(msg);
    doc.Destroy();
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
}
BENCHMARK(BM_ParseSmallAndRead)->UseManualTime();

void BM_BareSmallAndRead(benchmark::State& state) {
  const std::string code = std::string("var da=") + kSmallReply;
  RunBare(state, [&code](JSContext* cx) {
    JS::RootedValue value(cx);
    Evaluate(cx, code, &value);
    Evaluate(cx, "da.short_url", &value);
    Evaluate(cx, "da.msg", &value);
  });
}
BENCHMARK(BM_BareSmallAndRead)->UseManualTime();

void BM_Parse1MB(benchmark::State& state) {
  const Text reply = Reply(1 << 20);
  for (auto _ : state) {
    const auto start = Clock::now();
    JsonDocument doc;
    bool ok = doc.Parse(reply);
    benchmark::DoNotOptimize(ok);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(reply.size()));
}
BENCHMARK(BM_Parse1MB)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_BareEval1MB(benchmark::State& state) {
  const std::string code = "var da=eval(" + Reply(1 << 20) + ")";
  RunBare(state, [&code](JSContext* cx) {
    JS::RootedValue value(cx);
    Evaluate(cx, code, &value);
  });
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(code.size()));
}
BENCHMARK(BM_BareEval1MB)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_GetTextOf10000(benchmark::State& state) {
  std::string large = "{";
  for (int i = 0; i < 10000; ++i) {
    large += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":\"value " + std::to_string(i) + "\"";
  }
  large += "}";
  JsonDocument doc;
  doc.Parse(large);
  for (auto _ : state) {
    const auto start = Clock::now();
    Text text = doc.GetText("k5000");
    benchmark::DoNotOptimize(text);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
}
BENCHMARK(BM_GetTextOf10000)->UseManualTime();

void BM_BareMemberOf10000(benchmark::State& state) {
  std::string large = "var da={";
  for (int i = 0; i < 10000; ++i) {
    large += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":\"value " + std::to_string(i) + "\"";
  }
  large += "}";
  // One global kept across iterations, as the document keeps its value.
  static JS::PersistentRootedObject* global = nullptr;
  Bare().Run([&large](JSContext* cx) {
    global = new JS::PersistentRootedObject(cx, NewGlobal(cx));
    JSAutoRealm realm(cx, *global);
    JS::RootedValue value(cx);
    Evaluate(cx, large, &value);
  });
  for (auto _ : state) {
    state.SetIterationTime(Bare().Run([](JSContext* cx) {
      JSAutoRealm realm(cx, *global);
      JS::RootedValue value(cx);
      Evaluate(cx, "da.k5000", &value);
      JS::RootedString string(cx, JS::ToString(cx, value));
      benchmark::DoNotOptimize(string.get());
    }));
  }
  Bare().Run([](JSContext*) {
    delete global;
    global = nullptr;
  });
}
BENCHMARK(BM_BareMemberOf10000)->UseManualTime();

std::size_t ResidentKilobytes() {
  long pages = 0, resident = 0;
  std::FILE* file = std::fopen("/proc/self/statm", "r");
  if (file == nullptr) return 0;
  if (std::fscanf(file, "%ld %ld", &pages, &resident) != 2) resident = 0;
  std::fclose(file);
  return static_cast<std::size_t>(resident) * static_cast<std::size_t>(sysconf(_SC_PAGESIZE)) /
         1024;
}

// 10,000 documents made, used and destroyed; the counter is the resident growth after the
// first 100 (target: at most 1,024 kB).
void BM_TenThousandDocuments(benchmark::State& state) {
  for (auto _ : state) {
    std::size_t after100 = 0;
    for (int i = 0; i < 10000; ++i) {
      JsonDocument doc;
      doc.Parse(kSmallReply);
      Text link = doc.GetText("short_url");
      benchmark::DoNotOptimize(link);
      doc.Destroy();
      if (i == 99) after100 = ResidentKilobytes();
    }
    const std::size_t end = ResidentKilobytes();
    state.counters["rss_growth_kB"] = static_cast<double>(end > after100 ? end - after100 : 0);
  }
}
BENCHMARK(BM_TenThousandDocuments)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quenbrel

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  quenbrel::RatioReporter reporter({
      {"BM_ConstructDestroy/manual_time", "BM_BareGlobalWithPreludeSource/manual_time"},
      {"BM_ParseSmallAndRead/manual_time", "BM_BareSmallAndRead/manual_time"},
      {"BM_Parse1MB/manual_time", "BM_BareEval1MB/manual_time"},
      {"BM_GetTextOf10000/manual_time", "BM_BareMemberOf10000/manual_time"},
  });
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
