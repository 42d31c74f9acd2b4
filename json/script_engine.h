// A sandboxed JavaScript engine that runs code text and hands back one result of a chosen kind.
//
// Each ScriptEngine is one global scope (a realm) of SpiderMonkey. The thread that creates an
// engine owns it: all engines of a thread share that thread's JSContext, which is created on the
// thread's first use (the process-wide engine start runs once, on the first use in the process)
// and ends with the thread. An engine must only be used and released on the thread that made it.
//
// Texts cross into and out of the engine as UTF-16 through the local code page (charset/): a
// character the code page lacks comes back as "?", and a U+0000 ends a text in either direction.
//
// Sandbox. The code run is untrusted (a web service's reply is run as code), so every AddCode and
// Eval runs under these bounds:
//   - the global holds the standard ECMAScript built-ins only: no host functions, no WebAssembly,
//     no shared memory; promise reactions are dropped, never run;
//   - time (SandboxBounds below): timeBase plus timePerMegabyte for each megabyte of code, counted
//   in CPU time of the
//     running thread (the code cannot wait for anything, so on an idle machine that is the time
//     the caller waits). When it runs out the code is stopped; a stop cannot be caught;
//   - memory: the garbage-collected heap may grow by memoryBase plus memoryPerByte for each
//     byte of code, and so may the process's resident memory (which counts the string and array
//     storage that the heap does not); past either the code is stopped;
//   - the code counted is the larger of the call's own code text and the largest code text run
//     in the engine so far, so that reading a large value takes the bounds its loading had;
//   - native stack: deep recursion and deep nesting end in an error, never in a crash.
// A stop, a script error or a result that cannot be converted yields the empty result (empty
// text, 0, false); the engine keeps its variables and answers the next call normally.
//
// Example:
//   std::shared_ptr<ScriptEngine> engine = ScriptEngine::Create();
//   engine->AddCode("var a = [1, 2]");
//   engine->EvalText("a.join('+')")   == "1+2"
//   engine->EvalNumber("a.length")    == 2
//   engine->EvalText("while (1) {}")  == ""   // after about kTimeBase
//
// Thread safety: an engine is confined to its thread; engines of different threads are
// independent.

#ifndef QUENBREL_JSON_SCRIPT_ENGINE_H_
#define QUENBREL_JSON_SCRIPT_ENGINE_H_

#include <chrono>
#include <cstddef>
#include <memory>
#include <string_view>

#include "text/text.h"

namespace quenbrel {

// Time and memory bounds of one AddCode or Eval, by the length of its code text in bytes.
inline constexpr std::chrono::milliseconds kTimeBase{1000};
inline constexpr std::chrono::milliseconds kTimePerMegabyte{200};
inline constexpr std::size_t kMemoryBase = std::size_t{512} << 20;
inline constexpr std::size_t kMemoryPerByte = 32;

struct SandboxBounds {
  std::chrono::milliseconds timeBase = kTimeBase;
  std::chrono::milliseconds timePerMegabyte = kTimePerMegabyte;
  std::size_t memoryBase = kMemoryBase;
  std::size_t memoryPerByte = kMemoryPerByte;
};
// Replaces the bounds of the calls that start from now on, on every thread (tests use a shorter
// time base, for example). The bounds above hold until the first call of this.
void SetSandboxBounds(const SandboxBounds& bounds);
SandboxBounds GetSandboxBounds();

class ScriptEngine {
 public:
  // A new engine with a fresh global, or nullptr when the engine cannot be started.
  static std::shared_ptr<ScriptEngine> Create();

  ScriptEngine(const ScriptEngine&) = delete;
  ScriptEngine& operator=(const ScriptEngine&) = delete;
  ~ScriptEngine();

  struct AddCodeOptions {
    // Keep the compiled form of this code for the thread, keyed by its text, so that later
    // AddCode calls with the same text on any engine of the thread skip compiling. For constant
    // code run in every engine (a prelude).
    bool keepCompiled = false;
  };
  // Runs statements at global scope; what they declare stays. The result is thrown away.
  void AddCode(std::string_view code, const AddCodeOptions& options);
  void AddCode(std::string_view code) { AddCode(code, AddCodeOptions{}); }

  // Runs an expression or statement list; each gives the value of the expression or of the last
  // expression statement run, converted as named. Failures give the empty result.
  //   text: the standard string conversion; undefined and null give empty text.
  //   number: a number as it is; a boolean as 1 or 0; a string by the standard conversion, with
  //           one that is not a number giving 0; anything else 0.
  //   boolean: the standard truth conversion.
  Text EvalText(std::string_view code);
  double EvalNumber(std::string_view code);
  bool EvalBoolean(std::string_view code);
  // As above with the result thrown away.
  void Eval(std::string_view code);

  // True when the last AddCode or Eval on this engine was stopped by a bound (time or memory).
  bool LastCallStopped() const { return lastCallStopped_; }

  class Realm;  // the engine's global and its thread's context; defined in the .cc file

 private:
  explicit ScriptEngine(std::unique_ptr<Realm> realm);
  enum class Kind { kNone, kText, kNumber, kBoolean };
  struct Result {
    Text text;
    double number = 0;
    bool boolean = false;
  };
  Result Run(std::string_view code, Kind kind, bool keepCompiled);

  std::unique_ptr<Realm> realm_;
  bool lastCallStopped_ = false;
  std::size_t largestCode_ = 0;
};

}  // namespace quenbrel

#endif  // QUENBREL_JSON_SCRIPT_ENGINE_H_
