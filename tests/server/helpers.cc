#include "tests/server/helpers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/common/loopback.h"

extern char** environ;

namespace quenbrel::testing {
namespace {

using Clock = std::chrono::steady_clock;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string g_pg_error;

}  // namespace

std::string Reply::Header(std::string_view name) const {
  size_t pos = 0;
  while ((pos = head.find("\r\n", pos)) != std::string::npos) {
    pos += 2;
    const size_t colon = head.find(':', pos);
    const size_t end = head.find("\r\n", pos);
    if (colon == std::string::npos || colon > end) continue;
    if (colon - pos != name.size()) continue;
    bool same = true;
    for (size_t i = 0; i < name.size(); ++i) same = same && Lower(head[pos + i]) == Lower(name[i]);
    if (!same) continue;
    size_t v = colon + 1;
    while (v < end && head[v] == ' ') ++v;
    return head.substr(v, end - v);
  }
  return {};
}

int Connect(int port) { return ConnectToLoopback(port); }

Reply ParseReply(std::string_view raw) {
  Reply reply;
  const size_t end = raw.find("\r\n\r\n");
  if (raw.substr(0, 9) != "HTTP/1.1 " || end == std::string_view::npos) return reply;
  reply.status = std::atoi(std::string(raw.substr(9, 3)).c_str());
  reply.head = std::string(raw.substr(0, end + 2));
  reply.body = std::string(raw.substr(end + 4));
  return reply;
}

Reply Exchange(int port, std::string_view request, std::chrono::milliseconds timeout) {
  const int fd = Connect(port);
  if (fd < 0) return {};
  const auto deadline = Clock::now() + timeout;
  size_t sent = 0;
  while (sent < request.size()) {
    const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;  // the server may answer early (413) and close
    sent += static_cast<size_t>(n);
  }
  std::string raw;
  char buffer[16384];
  while (Clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    const int left = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    if (poll(&p, 1, std::max(1, left)) <= 0) continue;
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    raw.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return ParseReply(raw);
}

std::string ApiRequest(std::string_view body, std::string_view contentType) {
  std::string r = "POST /short_url/api/ HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  if (!contentType.empty()) r += "Content-Type: " + std::string(contentType) + "\r\n";
  r += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
  r += body;
  return r;
}

std::string GetRequest(std::string_view path, std::string_view method) {
  return std::string(method) + " " + std::string(path) +
         " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
}

std::string JsonMember(std::string_view json, std::string_view name) {
  const std::string key = "\"" + std::string(name) + "\":\"";
  size_t i = json.find(key);
  if (i == std::string_view::npos) return "<absent>";
  std::string out;
  for (i += key.size(); i < json.size() && json[i] != '"'; ++i) {
    if (json[i] == '\\' && i + 1 < json.size()) {
      ++i;
      if (json[i] == 'u' && i + 4 < json.size()) {
        const long cp = std::strtol(std::string(json.substr(i + 1, 4)).c_str(), nullptr, 16);
        if (cp < 0x80) {
          out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
          out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
          out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
          out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
          out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
          out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
        i += 4;
      } else {
        out.push_back(json[i]);
      }
    } else {
      out.push_back(json[i]);
    }
  }
  return out;
}

std::string TempDir() {
  char name[] = "/tmp/quenbrel-server-test-XXXXXX";
  const char* made = mkdtemp(name);
  return made ? made : "";
}

// ---- PostgreSQL

namespace {

PgCluster* g_cluster = nullptr;

// Runs a shell command as the cluster's owner: nobody when we are root, else ourselves.
int RunAsOwner(const std::string& dir, const std::string& command) {
  const std::string prefix = geteuid() == 0 ? "runuser -u nobody -- " : "";
  const std::string line = "cd '" + dir + "' && " + prefix + command;
  return std::system(line.c_str());
}

void StopCluster() {
  if (g_cluster != nullptr) g_cluster->Stop();
}

}  // namespace

const std::string& PgCluster::error() { return g_pg_error; }

PgCluster* PgCluster::Get() {
  static PgCluster* cluster = []() -> PgCluster* {
    auto* c = new PgCluster;
    c->dir_ = TempDir();
    const std::string bin = "/usr/lib/postgresql/15/bin/";
    if (geteuid() == 0) {
      const passwd* nobody = getpwnam("nobody");
      if (nobody == nullptr || chown(c->dir_.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
        g_pg_error = "cannot hand " + c->dir_ + " to nobody";
        return nullptr;
      }
    }
    chmod(c->dir_.c_str(), 0755);
    c->port_ = FreeLoopbackPort();
    const std::string& d = c->dir_;
    if (RunAsOwner(d, bin + "initdb -D '" + d + "/data' -A trust -U postgres -E UTF8 --no-sync >'" +
                          d + "/initdb.log' 2>&1") != 0) {
      g_pg_error = "initdb failed: " + ReadFile(d + "/initdb.log");
      return nullptr;
    }
    const std::string options = "-p " + std::to_string(c->port_) + " -k '" + d +
                                "' -c listen_addresses=127.0.0.1 -c fsync=off "
                                "-c max_connections=200 -c shared_buffers=32MB";
    if (RunAsOwner(d, bin + "pg_ctl -D '" + d + "/data' -l '" + d + "/server.log' -w -o \"" +
                          options + "\" start >/dev/null 2>&1") != 0) {
      g_pg_error = "pg_ctl start failed: " + ReadFile(d + "/server.log");
      return nullptr;
    }
    g_cluster = c;
    std::atexit(StopCluster);
    return c;
  }();
  return cluster;
}

std::string PgCluster::NewDatabase() {
  const std::string base = "postgresql://postgres@127.0.0.1:" + std::to_string(port_) + "/";
  const std::string name = "t" + std::to_string(getpid()) + "_" + std::to_string(++databases_);
  PGconn* c = PQconnectdb((base + "postgres").c_str());
  PQclear(PQexec(c, ("CREATE DATABASE " + name).c_str()));
  PQfinish(c);
  return base + name;
}

void PgCluster::TerminateSessions(const std::string& url) {
  PGconn* c = PQconnectdb(url.c_str());
  PQclear(PQexec(c,
                 "SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                 "WHERE datname = current_database() AND pid <> pg_backend_pid()"));
  PQfinish(c);
}

void PgCluster::Stop() {
  if (dir_.empty()) return;
  RunAsOwner(dir_, "/usr/lib/postgresql/15/bin/pg_ctl -D '" + dir_ +
                       "/data' -m immediate -w stop >/dev/null 2>&1");
  std::system(("rm -rf '" + dir_ + "'").c_str());
  dir_.clear();
}

// ---- child processes

namespace {

pid_t Spawn(const std::vector<std::string>& args, int in, int err) {
  std::vector<std::string> all = {QUENBREL_SERVER_BINARY};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (in >= 0) posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
  if (err >= 0) posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

}  // namespace

ServerProcess::~ServerProcess() {
  if (pid_ > 0) Signal(SIGKILL);
  if (!log_dir_.empty()) std::system(("rm -rf '" + log_dir_ + "'").c_str());
}

bool ServerProcess::Start(const std::vector<std::string>& args) {
  log_dir_ = TempDir();
  const std::string log = log_dir_ + "/stderr";
  const int err = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  std::vector<std::string> all = args;
  all.insert(all.end(), {"--listen", "127.0.0.1:0", "--quiet"});
  pid_ = Spawn(all, -1, err);
  close(err);
  if (pid_ < 0) return false;
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  const std::string marker = "listening on http://127.0.0.1:";
  while (Clock::now() < deadline) {
    const std::string text = ReadFile(log);
    if (const size_t at = text.find(marker); at != std::string::npos) {
      port_ = std::atoi(text.c_str() + at + marker.size());
      if (port_ > 0) return true;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      std::fprintf(stderr, "quenbrel-server exited: %s\n", text.c_str());
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

int ServerProcess::Signal(int sig) {
  if (pid_ <= 0) return -1;
  kill(pid_, sig);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  return status;
}

int RunServerCommand(const std::vector<std::string>& args, std::string_view input) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return -1;
  const int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  const pid_t pid = Spawn(args, fds[0], devnull);
  close(fds[0]);
  close(devnull);
  if (pid < 0) {
    close(fds[1]);
    return -1;
  }
  signal(SIGPIPE, SIG_IGN);
  if (write(fds[1], input.data(), input.size()) < 0) {
  }
  close(fds[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace quenbrel::testing
