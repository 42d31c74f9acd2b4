// Random texts through JsonDocument::Parse, then the reads a caller makes: GetType, GetCount,
// GetText and ToJson. The input is run as code, so it is sandboxed: no crash, no sanitizer
// report, and every call ends within its bound. The fuzzer runs with a short time bound so that
// an endless input costs a fraction of a second; libFuzzer's -timeout catches a bound that does
// not hold.
//
// Input: the first line, if the text has a line break, is a member path for the reads; the
// rest is the reply. Without a line break the whole text is the reply and the path is "a".

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "json/json_document.h"
#include "json/script_engine.h"

// The engine keeps some of its malloc'd storage reachable only from its own garbage-collected
// heap, which it maps itself and the leak checker does not scan; between inputs (libFuzzer checks
// for leaks after each one) that storage looks lost. Leaks allocated inside the engine library
// are therefore not reported; every other leak still is.
extern "C" const char* __lsan_default_suppressions() { return "leak:libmozjs-102.so\n"; }

// A script may make one string of up to 2^30 UTF-16 units, a single 2 GB allocation that ends
// in the engine's own error, not a fault; libFuzzer's default malloc limit (the 2 GB RSS limit)
// would report it as one. Unless the command line sets a limit, it is raised to 4 GB.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  static std::vector<char*> arguments;
  bool limited = false;
  for (int i = 0; i < *argc; ++i) {
    arguments.push_back((*argv)[i]);
    limited = limited || std::string_view((*argv)[i]).starts_with("-malloc_limit_mb=");
  }
  static char limit[] = "-malloc_limit_mb=4096";
  if (!limited) arguments.push_back(limit);
  arguments.push_back(nullptr);
  *argc = static_cast<int>(arguments.size()) - 1;
  *argv = arguments.data();
  quenbrel::SetSandboxBounds(
      {.timeBase = std::chrono::milliseconds(100), .memoryBase = std::size_t{128} << 20});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string_view path = "a";
  if (const std::size_t line = input.find('\n'); line != std::string_view::npos && line < 64) {
    path = input.substr(0, line);
    input.remove_prefix(line + 1);
  }
  static quenbrel::JsonDocument* doc = new quenbrel::JsonDocument;  // reused, as Parse starts over
  const bool loaded = doc->Parse(input);
  const quenbrel::JsonType type = doc->GetType();
  const int count = doc->GetCount();
  const quenbrel::Text text = doc->GetText(path);
  const quenbrel::Text json = doc->ToJson();
  // Texts that come out of the engine never hold a zero byte, whatever the code did.
  if (json.find('\0') != quenbrel::Text::npos || text.find('\0') != quenbrel::Text::npos) {
    __builtin_trap();
  }
  (void)loaded;
  (void)type;
  (void)count;
  return 0;
}
