// SpiderMonkey behind ScriptEngine: one context per thread, one global per engine, and a watchdog
// thread per context that stops code past its time or memory bound.

#include "json/script_engine.h"

#include <js/CompilationAndEvaluation.h>
#include <js/Context.h>
#include <js/ContextOptions.h>
#include <js/Conversions.h>
#include <js/GCAPI.h>
#include <js/GlobalObject.h>
#include <js/Initialization.h>
#include <js/Interrupt.h>
#include <js/Promise.h>
#include <js/RealmOptions.h>
#include <js/SourceText.h>
#include <js/Stack.h>
#include <js/String.h>
#include <js/experimental/JSStencil.h>
#include <jsapi.h>
#include <mozilla/RefPtr.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

#include "charset/codepage.h"

namespace quenbrel {
namespace {

using Clock = std::chrono::steady_clock;

// Resident memory of the process in bytes, or 0 when it cannot be read.
std::size_t ResidentBytes() {
  std::FILE* file = std::fopen("/proc/self/statm", "r");
  if (file == nullptr) return 0;
  unsigned long long size = 0, resident = 0;
  const int read = std::fscanf(file, "%llu %llu", &size, &resident);
  std::fclose(file);
  if (read != 2) return 0;
  return static_cast<std::size_t>(resident) * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// The calling thread's stack size, from its attributes; 1 MB when they cannot be read.
std::size_t ThreadStackBytes() {
  pthread_attr_t attributes;
  std::size_t size = 0;
  if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
    void* address = nullptr;
    if (pthread_attr_getstack(&attributes, &address, &size) != 0) size = 0;
    pthread_attr_destroy(&attributes);
  }
  return size == 0 ? std::size_t{1} << 20 : size;
}

// The CPU clock of the calling thread, readable from other threads.
clockid_t ThreadCpuClock() {
  clockid_t clock;
  return pthread_getcpuclockid(pthread_self(), &clock) == 0 ? clock : CLOCK_MONOTONIC;
}

std::int64_t CpuNanoseconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

// Promise reactions are never run: the engine has no event loop, and dropping them keeps queued
// work from outliving the call that made it.
class DroppingJobQueue : public JS::JobQueue {
 public:
  JSObject* getIncumbentGlobal(JSContext* cx) override { return JS::CurrentGlobalOrNull(cx); }
  bool enqueuePromiseJob(JSContext*, JS::HandleObject, JS::HandleObject, JS::HandleObject,
                         JS::HandleObject) override {
    return true;
  }
  void runJobs(JSContext*) override {}
  bool empty() const override { return true; }

 private:
  js::UniquePtr<SavedJobQueue> saveJobQueue(JSContext*) override {
    return js::MakeUnique<SavedJobQueue>();
  }
};

// Watches the calls of one context from a thread of its own. The context's thread announces each
// call with Begin and End (atomic stores, a wake-up only when the watchdog sleeps); the watchdog
// polls every few milliseconds while a call runs and, past the call's deadline (in CPU time of
// the context's thread, so that a busy machine does not cut short a large reply's loading) or
// its memory bound,
// marks the call stopped and asks the context to run its interrupt callback, which then ends the
// code with an uncatchable stop.
class Watchdog {
 public:
  // Watches the calls of cx, which runs on the calling thread.
  explicit Watchdog(JSContext* cx)
      : cx_(cx), clock_(ThreadCpuClock()), thread_([this] { Loop(); }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }

  // Starts watching a new call; returns its number.
  std::uint64_t Begin(std::chrono::nanoseconds timeLimit, std::size_t memoryLimit) {
    deadline_.store(CpuNanoseconds(clock_) + timeLimit.count());
    memoryLimit_.store(memoryLimit);
    const std::uint64_t call = call_.load() + 1;
    call_.store(call);
    active_.store(true);
    if (sleeping_.load()) {
      std::lock_guard<std::mutex> lock(mutex_);
      wake_.notify_one();
    }
    return call;
  }
  void End() { active_.store(false); }
  // True when the call numbered `call` has been stopped.
  bool Stopped(std::uint64_t call) const { return stopped_.load() == call; }

 private:
  static constexpr auto kPoll = std::chrono::milliseconds(5);
  static constexpr auto kIdleBeforeSleep = std::chrono::seconds(1);

  void Loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    std::uint64_t watched = 0;
    std::size_t baseline = 0;
    Clock::time_point lastActive = Clock::now();
    while (!quit_) {
      if (!active_.load() && Clock::now() - lastActive > kIdleBeforeSleep) {
        sleeping_.store(true);
        wake_.wait(lock, [this] { return quit_ || active_.load(); });
        sleeping_.store(false);
        continue;
      }
      wake_.wait_for(lock, kPoll, [this] { return quit_; });
      if (quit_ || !active_.load()) continue;
      lastActive = Clock::now();
      const std::uint64_t call = call_.load();
      if (call != watched) {
        watched = call;
        baseline = ResidentBytes();
        continue;
      }
      if (stopped_.load() == call) continue;
      const bool late = CpuNanoseconds(clock_) >= deadline_.load();
      const std::size_t resident = ResidentBytes();
      const bool large = resident > baseline && resident - baseline > memoryLimit_.load();
      if (late || large) {
        stopped_.store(call);
        JS_RequestInterruptCallback(cx_);
      }
    }
  }

  JSContext* const cx_;
  const clockid_t clock_;
  std::atomic<std::int64_t> deadline_{0};  // CPU time of the context's thread, nanoseconds
  std::atomic<std::size_t> memoryLimit_{0};
  std::atomic<std::uint64_t> call_{0};
  std::atomic<std::uint64_t> stopped_{0};
  std::atomic<bool> active_{false};
  std::atomic<bool> sleeping_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  bool quit_ = false;
  std::thread thread_;
};

// The thread's context and what belongs to it.
class ThreadContext {
 public:
  // The calling thread's context, made on its first use; nullptr when it cannot be made.
  static ThreadContext* Get();

  ~ThreadContext() {
    watchdog_.reset();
    compiled_.clear();
    zoneAnchor_.reset();
    // Engines still alive at thread end keep the context; it then lives until the process ends.
    if (cx_ != nullptr && liveEngines_ == 0) JS_DestroyContext(cx_);
  }

  JSContext* cx() const { return cx_; }
  Watchdog& watchdog() { return *watchdog_; }
  std::uint64_t call() const { return call_; }
  void set_call(std::uint64_t call) { call_ = call; }
  std::unordered_map<std::string, RefPtr<JS::Stencil>>& compiled() { return compiled_; }
  // The first global of the thread, kept for the thread's life: later globals join its zone, so
  // that the collector sees released engines as ordinary garbage of one zone (a zone per global
  // would leave each released global uncollected, and every new one slower).
  JSObject* zoneAnchor() const { return zoneAnchor_ ? zoneAnchor_->get() : nullptr; }
  void set_zoneAnchor(JSObject* global) {
    zoneAnchor_ = std::make_unique<JS::PersistentRootedObject>(cx_, global);
  }
  // Sets the heap cap when it moves by more than a little: setting it walks every zone.
  void SetHeapCap(std::size_t cap) {
    const std::size_t step = std::size_t{64} << 20;
    if (cap + step > heapCap_ && cap < heapCap_ + step) return;
    heapCap_ = cap;
    JS_SetGCParameter(cx_, JSGC_MAX_BYTES, static_cast<std::uint32_t>(cap));
  }
  void EngineMade() { ++liveEngines_; }
  // Counts a released engine. Its global is garbage only to a full collection: the engine's own
  // scheduling never starts one for the small heaps documents leave, so without this every
  // released document kept its few hundred kilobytes. One collection per kCollectAfterReleases
  // releases keeps a thread's memory flat at a small cost per document.
  void EngineReleased() {
    --liveEngines_;
    if (++releasedSinceCollection_ >= kCollectAfterReleases) {
      releasedSinceCollection_ = 0;
      JS_GC(cx_);
    }
  }

 private:
  ThreadContext() = default;
  bool Start();
  static bool OnInterrupt(JSContext* cx);

  JSContext* cx_ = nullptr;
  DroppingJobQueue jobQueue_;
  std::unique_ptr<Watchdog> watchdog_;
  std::uint64_t call_ = 0;  // the call now running, 0 between calls
  std::unordered_map<std::string, RefPtr<JS::Stencil>> compiled_;
  std::unique_ptr<JS::PersistentRootedObject> zoneAnchor_;
  std::size_t heapCap_ = 0xFFFFFFFFu;
  int liveEngines_ = 0;
  static constexpr int kCollectAfterReleases = 16;
  int releasedSinceCollection_ = 0;
};

thread_local std::unique_ptr<ThreadContext> threadContext;
thread_local bool threadContextFailed = false;

ThreadContext* ThreadContext::Get() {
  if (threadContext != nullptr) return threadContext.get();
  if (threadContextFailed) return nullptr;
  // The engine starts once per process, on first use, and shuts down at process exit, after
  // the main thread's context has ended with the thread's other objects.
  static const bool started = [] {
    if (!JS_Init()) return false;
    std::atexit([] { JS_ShutDown(); });
    return true;
  }();
  std::unique_ptr<ThreadContext> context(new ThreadContext);
  if (!started || !context->Start()) {
    threadContextFailed = true;
    return nullptr;
  }
  threadContext = std::move(context);
  return threadContext.get();
}

bool ThreadContext::Start() {
  // No cap between calls, where no script runs; each call sets its own (see Run).
  cx_ = JS_NewContext(0xFFFFFFFFu);
  if (cx_ == nullptr) return false;
  JS::ContextOptionsRef(cx_).setWasm(false);
  // Collect a released engine's garbage soon: each holds a few hundred kilobytes, and documents
  // are made and released one after another.
  JS_SetGCParameter(cx_, JSGC_ALLOCATION_THRESHOLD, 4);
  JS_SetGCParameter(cx_, JSGC_MALLOC_THRESHOLD_BASE, 4);
  const std::size_t stack = ThreadStackBytes();
  JS_SetNativeStackQuota(cx_, std::min(stack / 2, std::size_t{4} << 20));
  if (!JS::InitSelfHostedCode(cx_)) {
    JS_DestroyContext(cx_);
    cx_ = nullptr;
    return false;
  }
  JS::SetJobQueue(cx_, &jobQueue_);
  JS_AddInterruptCallback(cx_, &ThreadContext::OnInterrupt);
  watchdog_ = std::make_unique<Watchdog>(cx_);
  return true;
}

// Returning false ends the running code without an exception, so no catch can see it.
bool ThreadContext::OnInterrupt(JSContext*) {
  ThreadContext* context = threadContext.get();
  if (context == nullptr || context->call_ == 0) return true;
  return !context->watchdog_->Stopped(context->call_);
}

// The bounds in force, read at the start of each call.
std::atomic<std::int64_t> timeBaseMs{kTimeBase.count()};
std::atomic<std::int64_t> timePerMegabyteMs{kTimePerMegabyte.count()};
std::atomic<std::size_t> memoryBase{kMemoryBase};
std::atomic<std::size_t> memoryPerByte{kMemoryPerByte};

const JSClass kGlobalClass = {
    "global", JSCLASS_GLOBAL_FLAGS, &JS::DefaultGlobalClassOps, nullptr, nullptr, nullptr};

// The result value as text: the standard conversion, with undefined and null as empty text.
Text ToLocalText(JSContext* cx, JS::HandleValue value, bool& ok) {
  if (value.isNullOrUndefined()) return {};
  JS::RootedString string(cx, value.isString() ? value.toString() : JS::ToString(cx, value));
  if (string == nullptr) {
    ok = false;
    return {};
  }
  std::u16string units(JS_GetStringLength(string), u'\0');
  if (!JS_CopyStringChars(cx, mozilla::Range<char16_t>(units.data(), units.size()), string)) {
    ok = false;
    return {};
  }
  return Utf16ToLocal(units);
}

double ToResultNumber(JSContext* cx, JS::HandleValue value, bool& ok) {
  if (value.isNumber()) return value.toNumber();
  if (value.isBoolean()) return value.toBoolean() ? 1 : 0;
  if (value.isString()) {
    double number = 0;
    if (!JS::ToNumber(cx, value, &number)) {
      ok = false;
      return 0;
    }
    return std::isnan(number) ? 0 : number;
  }
  return 0;
}

}  // namespace

class ScriptEngine::Realm {
 public:
  Realm(ThreadContext* context, JSObject* global)
      : context_(context), global_(context->cx(), global) {
    context_->EngineMade();
  }
  ~Realm() {
    global_.reset();
    context_->EngineReleased();
  }
  ThreadContext* context() const { return context_; }
  JSObject* global() const { return global_; }

 private:
  ThreadContext* context_;
  JS::PersistentRootedObject global_;
};

void SetSandboxBounds(const SandboxBounds& bounds) {
  timeBaseMs.store(bounds.timeBase.count());
  timePerMegabyteMs.store(bounds.timePerMegabyte.count());
  memoryBase.store(bounds.memoryBase);
  memoryPerByte.store(bounds.memoryPerByte);
}

SandboxBounds GetSandboxBounds() {
  return {.timeBase = std::chrono::milliseconds(timeBaseMs.load()),
          .timePerMegabyte = std::chrono::milliseconds(timePerMegabyteMs.load()),
          .memoryBase = memoryBase.load(),
          .memoryPerByte = memoryPerByte.load()};
}

std::shared_ptr<ScriptEngine> ScriptEngine::Create() {
  ThreadContext* context = ThreadContext::Get();
  if (context == nullptr) return nullptr;
  JSContext* cx = context->cx();
  JS::RealmOptions options;
  if (JSObject* anchor = context->zoneAnchor()) {
    options.creationOptions().setNewCompartmentInExistingZone(anchor);
  }
  JS::RootedObject global(
      cx, JS_NewGlobalObject(cx, &kGlobalClass, nullptr, JS::FireOnNewGlobalHook, options));
  if (global == nullptr) {
    JS_ClearPendingException(cx);
    return nullptr;
  }
  if (context->zoneAnchor() == nullptr) context->set_zoneAnchor(global);
  return std::shared_ptr<ScriptEngine>(new ScriptEngine(std::make_unique<Realm>(context, global)));
}

ScriptEngine::ScriptEngine(std::unique_ptr<Realm> realm) : realm_(std::move(realm)) {}

ScriptEngine::~ScriptEngine() = default;

void ScriptEngine::AddCode(std::string_view code, const AddCodeOptions& options) {
  Run(code, Kind::kNone, options.keepCompiled);
}
Text ScriptEngine::EvalText(std::string_view code) { return Run(code, Kind::kText, false).text; }
double ScriptEngine::EvalNumber(std::string_view code) {
  return Run(code, Kind::kNumber, false).number;
}
bool ScriptEngine::EvalBoolean(std::string_view code) {
  return Run(code, Kind::kBoolean, false).boolean;
}
void ScriptEngine::Eval(std::string_view code) { Run(code, Kind::kNone, false); }

ScriptEngine::Result ScriptEngine::Run(std::string_view code, Kind kind, bool keepCompiled) {
  Result result;
  lastCallStopped_ = false;
  ThreadContext* context = realm_->context();
  JSContext* cx = context->cx();
  // A call made from inside a running call (none is possible through this interface) would
  // share its bound; calls never nest.
  if (context->call() != 0) return result;

  JSAutoRealm entered(cx, realm_->global());
  const std::u16string source = LocalToUtf16(code);
  // Reads of a large value loaded earlier take time in proportion to it, so the bounds count the
  // larger of this code and the largest code run in this engine.
  largestCode_ = std::max(largestCode_, code.size());
  const std::size_t bytes = largestCode_;

  // Resident memory may grow by the allowance; the watchdog stops the code past it. The heap
  // (part of resident memory) gets a hard cap above that, from where it stands now, whatever
  // other engines of the thread hold: a heap that runs into its cap makes the collector thrash
  // before it fails, so the cap is only the backstop.
  const SandboxBounds bounds = GetSandboxBounds();
  const std::size_t allowance = bounds.memoryBase + bounds.memoryPerByte * bytes;
  const std::size_t heap = JS_GetGCParameter(cx, JSGC_BYTES);
  const std::size_t cap = std::min<std::size_t>(heap + 2 * allowance, 0xFFFFFFFFu);
  context->SetHeapCap(cap);

  const auto timeLimit =
      bounds.timeBase + bounds.timePerMegabyte * static_cast<std::int64_t>(bytes) / (1 << 20);
  context->set_call(context->watchdog().Begin(timeLimit, allowance));

  bool ok = true;
  JS::RootedValue value(cx);
  JS::CompileOptions compileOptions(cx);
  compileOptions.setFileAndLine("code", 1);
  if (keepCompiled) {
    auto& compiled = context->compiled();
    auto found = compiled.find(std::string(code));
    RefPtr<JS::Stencil> stencil;
    if (found != compiled.end()) {
      stencil = found->second;
    } else {
      JS::SourceText<char16_t> text;
      ok = text.init(cx, source.data(), source.size(), JS::SourceOwnership::Borrowed);
      if (ok) stencil = JS::CompileGlobalScriptToStencil(cx, compileOptions, text);
      if (stencil) compiled.emplace(std::string(code), stencil);
    }
    ok = ok && stencil;
    if (ok) {
      JS::InstantiateOptions instantiateOptions(compileOptions);
      JS::RootedScript script(cx, JS::InstantiateGlobalStencil(cx, instantiateOptions, stencil));
      ok = script != nullptr && JS_ExecuteScript(cx, script, &value);
    }
  } else {
    JS::SourceText<char16_t> text;
    ok = text.init(cx, source.data(), source.size(), JS::SourceOwnership::Borrowed) &&
         JS::Evaluate(cx, compileOptions, text, &value);
  }
  // The conversion may run code of the script's own (a toString), so it stays under the bound.
  if (ok) {
    switch (kind) {
      case Kind::kNone:
        break;
      case Kind::kText:
        result.text = ToLocalText(cx, value, ok);
        break;
      case Kind::kNumber:
        result.number = ToResultNumber(cx, value, ok);
        break;
      case Kind::kBoolean:
        result.boolean = JS::ToBoolean(value);
        break;
    }
  }

  context->watchdog().End();
  lastCallStopped_ = context->watchdog().Stopped(context->call());
  context->set_call(0);
  JS_ClearPendingException(cx);
  if (!ok) result = Result{};
  // A stop may leave much garbage behind (a memory bomb): give it back now.
  if (lastCallStopped_) JS_GC(cx);
  return result;
}

}  // namespace quenbrel
