// Start-up of the tool against a bare Qt window with the same widgets: the time from starting the
// process to its window's first frame, and the resident memory at that moment.
//
// Each iteration starts both programs, in alternating order, and times each from the spawn to the
// line its expose probe writes. The counters are medians over the run: the tool's figures, the
// baseline's, and the tool's time as a multiple of the baseline's and its extra memory.
// Without a display, both run on Qt's offscreen platform.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace quenbrel {
namespace {

struct StartUpFigures {
  double seconds;
  double rss_mib;
};

// Starts program, waits for the line of its expose probe and for its end.
std::optional<StartUpFigures> StartProgram(const char* program) {
  int out[2];
  if (pipe(out) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, out[1]);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  char* argv[] = {const_cast<char*>(program), nullptr};

  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (spawned != 0) {
    close(out[0]);
    return std::nullopt;
  }
  std::string line;
  char c = 0;
  while (line.size() < 64 && read(out[0], &c, 1) == 1 && c != '\n') line += c;
  const auto reported = std::chrono::steady_clock::now();
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (line.empty() || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return StartUpFigures{std::chrono::duration<double>(reported - start).count(),
                        std::strtod(line.c_str(), nullptr) / 1024.0};
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void BM_StartUpToFirstFrame(benchmark::State& state) {
  const auto unset = [](const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr || *value == '\0';
  };
  if (unset("DISPLAY") && unset("WAYLAND_DISPLAY")) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
  }
  // One start of each first, so that both find the libraries and fonts in the page cache.
  if (!StartProgram(QUENBREL_STARTUP_PROBE) || !StartProgram(QUENBREL_BARE_PROBE)) {
    state.SkipWithError("a probe program did not report");
    return;
  }
  std::vector<double> tool_ms, bare_ms, tool_mib, bare_mib;
  bool tool_first = true;
  for (auto _ : state) {
    std::optional<StartUpFigures> tool, bare;
    if (tool_first) {
      tool = StartProgram(QUENBREL_STARTUP_PROBE);
      bare = StartProgram(QUENBREL_BARE_PROBE);
    } else {
      bare = StartProgram(QUENBREL_BARE_PROBE);
      tool = StartProgram(QUENBREL_STARTUP_PROBE);
    }
    tool_first = !tool_first;
    if (!tool || !bare) {
      state.SkipWithError("a probe program did not report");
      return;
    }
    state.SetIterationTime(tool->seconds);
    tool_ms.push_back(tool->seconds * 1000);
    bare_ms.push_back(bare->seconds * 1000);
    tool_mib.push_back(tool->rss_mib);
    bare_mib.push_back(bare->rss_mib);
  }
  const double tool_time = Median(tool_ms);
  const double bare_time = Median(bare_ms);
  state.counters["tool_ms"] = tool_time;
  state.counters["bare_qt_ms"] = bare_time;
  state.counters["time_vs_bare_qt"] = bare_time > 0 ? tool_time / bare_time : 0;
  state.counters["tool_rss_MiB"] = Median(tool_mib);
  state.counters["bare_qt_rss_MiB"] = Median(bare_mib);
  state.counters["rss_extra_MiB"] = Median(tool_mib) - Median(bare_mib);
}
BENCHMARK(BM_StartUpToFirstFrame)->UseManualTime()->Iterations(30)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quenbrel

BENCHMARK_MAIN();
