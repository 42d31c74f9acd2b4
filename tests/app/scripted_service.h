// Services on 127.0.0.1 for the Generate action's tests and benchmarks: a scripted raw HTTP
// service in this process, and quenbrel-server as a child process.
//
// ScriptedService listens on a free port and serves one connection at a time on its own thread:
// it reads one request (the head up to the empty line, then Content-Length bytes of body),
// records it exactly as it arrived, sends the bytes the script gives for it and closes the
// connection. Every wait is bounded.
//
// ServiceProcess runs quenbrel-server (the path given to its constructor) on a free port with
// a throw-away SQLite folder, adds accounts through its "user add" command, and stops it by pid.
//
// Header-only; for tests and benchmarks.

#ifndef QUENBREL_TESTS_APP_SCRIPTED_SERVICE_H_
#define QUENBREL_TESTS_APP_SCRIPTED_SERVICE_H_

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

#include "tests/common/loopback.h"

namespace quenbrel::testing {

using Clock = std::chrono::steady_clock;

class ScriptedService {
 public:
  // The bytes to send for request number index (from 0) and its raw bytes; empty: the connection
  // is closed without a reply.
  using Script = std::function<std::string(int index, const std::string& request)>;

  explicit ScriptedService(Script script) : script_(std::move(script)) {
    signal(SIGPIPE, SIG_IGN);
    listen_ = ListenOnLoopback(&port_);
    thread_ = std::thread([this] { Serve(); });
  }
  ~ScriptedService() {
    stop_ = true;
    thread_.join();
    close(listen_);
  }
  ScriptedService(const ScriptedService&) = delete;
  ScriptedService& operator=(const ScriptedService&) = delete;

  int port() const { return port_; }
  // "127.0.0.1:port", for SetServiceHostForTesting.
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
  // The requests received so far, each exactly as it arrived.
  std::vector<std::string> requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  void Serve() {
    int index = 0;
    while (!stop_) {
      pollfd p{listen_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      const int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      timeval limit{5, 0};
      setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
      setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
      std::string request;
      if (ReadRequest(fd, request)) {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          requests_.push_back(request);
        }
        const std::string reply = script_(index++, request);
        for (std::size_t sent = 0; sent < reply.size();) {
          const ssize_t n = send(fd, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
          if (n <= 0) break;
          sent += static_cast<std::size_t>(n);
        }
      }
      shutdown(fd, SHUT_WR);
      close(fd);
    }
  }

  static bool ReadRequest(int fd, std::string& request) {
    char buf[16384];
    std::size_t want = std::string::npos;
    for (int reads = 0; reads < 10000; ++reads) {
      if (want == std::string::npos) {
        const std::size_t end = request.find("\r\n\r\n");
        if (end != std::string::npos) want = end + 4 + ContentLength(request.substr(0, end + 2));
      }
      if (want != std::string::npos && request.size() >= want) return true;
      const ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0) return false;
      request.append(buf, static_cast<std::size_t>(n));
    }
    return false;
  }

  Script script_;
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
};

// A complete HTTP response with the given status line tail, extra header lines and body.
inline std::string HttpReply(const std::string& status, const std::string& body,
                             const std::string& headers = "Content-Type: application/json\r\n") {
  return "HTTP/1.1 " + status + "\r\n" + headers +
         "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// The body of a raw request: what follows the empty line.
inline std::string BodyOf(const std::string& request) {
  const std::size_t end = request.find("\r\n\r\n");
  return end == std::string::npos ? "" : request.substr(end + 4);
}

// quenbrel-server as a child process.
class ServiceProcess {
 public:
  explicit ServiceProcess(std::string binary) : binary_(std::move(binary)) {
    char name[] = "/tmp/quenbrel-app-test-XXXXXX";
    if (mkdtemp(name) != nullptr) dir_ = name;
  }
  ~ServiceProcess() {
    Stop();
    if (!dir_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(dir_, ignored);
    }
  }
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  // Runs "user add name" with password on standard input; true when it exits 0.
  bool AddUser(const std::string& name, const std::string& password) {
    int fds[2];
    if (dir_.empty() || pipe2(fds, O_CLOEXEC) != 0) return false;
    const pid_t pid = Spawn({"--data", dir_ + "/data", "user", "add", name}, fds[0], "/dev/null");
    close(fds[0]);
    const std::string line = password + "\n";
    if (pid > 0 && write(fds[1], line.data(), line.size()) < 0) {
    }
    close(fds[1]);
    if (pid <= 0) return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  // Starts the service on 127.0.0.1 and a free port; waits (at most 20 s) for its listen line.
  bool Start() {
    const std::string log = dir_ + "/stderr";
    pid_ = Spawn({"--data", dir_ + "/data", "--listen", "127.0.0.1:0", "--quiet"}, -1, log);
    if (pid_ <= 0) return false;
    const std::string marker = "listening on http://127.0.0.1:";
    for (const auto deadline = Clock::now() + std::chrono::seconds(20); Clock::now() < deadline;) {
      std::ifstream in(log);
      std::stringstream text;
      text << in.rdbuf();
      const std::string s = text.str();
      if (const std::size_t at = s.find(marker); at != std::string::npos) {
        port_ = std::atoi(s.c_str() + at + marker.size());
        if (port_ > 0) return true;
      }
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  // Stops the service started by Start (SIGTERM to its pid) and waits for it.
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

  int port() const { return port_; }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  pid_t Spawn(std::vector<std::string> args, int in, const std::string& errFile) {
    args.insert(args.begin(), binary_);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (in >= 0) posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  std::string binary_;
  std::string dir_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace quenbrel::testing

#endif  // QUENBREL_TESTS_APP_SCRIPTED_SERVICE_H_
