// Real servers on 127.0.0.1 for the web access tests and benchmarks: a scripted raw HTTP server
// (plain or TLS) that records the exact request bytes, certificates made by the openssl command,
// and a tinyproxy process with its own configuration.
//
// ScriptedServer listens on a free port and serves one connection at a time on its own thread:
// it reads one request (head up to the empty line, then Content-Length bytes of body), records
// it, sends the reply the script gives for it, and closes the connection. Every wait is bounded.
//
// Header-only; for tests and benchmarks.

#ifndef QUENBREL_TESTS_NET_TEST_SERVER_H_
#define QUENBREL_TESTS_NET_TEST_SERVER_H_

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/common/loopback.h"

namespace quenbrel::testing {

using Clock = std::chrono::steady_clock;

// What the server sends for one request.
struct Reply {
  std::string bytes;          // sent first, exactly
  std::size_t fillBytes = 0;  // then this many bytes of a repeating pattern
  bool stall = false;         // then stay silent, connection open, until the client leaves
};

// The byte at offset i of a fill.
inline char FillByte(std::size_t i) { return static_cast<char>('a' + i % 26); }

// Certificate and key files for a TLS server.
struct TlsIdentity {
  std::string certFile;
  std::string keyFile;
};

class ScriptedServer {
 public:
  using Script = std::function<Reply(int index, const std::string& request)>;

  // record false: requests are not kept (for servers that answer without end).
  explicit ScriptedServer(Script script, const TlsIdentity* tls = nullptr, bool record = true)
      : script_(std::move(script)), record_(record) {
    signal(SIGPIPE, SIG_IGN);
    if (tls != nullptr) {
      ctx_ = SSL_CTX_new(TLS_server_method());
      SSL_CTX_use_certificate_chain_file(ctx_, tls->certFile.c_str());
      SSL_CTX_use_PrivateKey_file(ctx_, tls->keyFile.c_str(), SSL_FILETYPE_PEM);
    }
    listen_ = ListenOnLoopback(&port_);
    thread_ = std::thread([this] { Serve(); });
  }
  ~ScriptedServer() {
    stop_ = true;
    thread_.join();
    close(listen_);
    if (ctx_ != nullptr) SSL_CTX_free(ctx_);
  }
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  int port() const { return port_; }
  std::string url(const std::string& path = "/") const {
    return std::string(ctx_ != nullptr ? "https" : "http") +
           "://127.0.0.1:" + std::to_string(port_) + path;
  }
  // The requests received so far, each exactly as it arrived.
  std::vector<std::string> requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  // One client connection, plain or TLS.
  struct Peer {
    int fd = -1;
    SSL* ssl = nullptr;
    long Read(char* buf, std::size_t n) {
      return ssl != nullptr ? SSL_read(ssl, buf, static_cast<int>(n)) : recv(fd, buf, n, 0);
    }
    bool Write(const char* data, std::size_t n) {
      while (n > 0) {
        long sent = ssl != nullptr ? SSL_write(ssl, data, static_cast<int>(n))
                                   : send(fd, data, n, MSG_NOSIGNAL);
        if (sent <= 0) return false;
        data += sent;
        n -= static_cast<std::size_t>(sent);
      }
      return true;
    }
  };

  void Serve() {
    int index = 0;
    while (!stop_) {
      pollfd p{listen_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      int fd = accept(listen_, nullptr, nullptr);
      if (fd < 0) continue;
      timeval limit{5, 0};
      setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
      setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
      Peer peer{fd, nullptr};
      bool ok = true;
      if (ctx_ != nullptr) {
        peer.ssl = SSL_new(ctx_);
        SSL_set_fd(peer.ssl, fd);
        ok = SSL_accept(peer.ssl) == 1;
      }
      std::string request;
      if (ok && ReadRequest(peer, request)) {
        if (record_) {
          std::lock_guard<std::mutex> lock(mutex_);
          requests_.push_back(request);
        }
        SendReply(peer, script_(index++, request));
      }
      if (peer.ssl != nullptr) {
        if (ok) SSL_shutdown(peer.ssl);
        SSL_free(peer.ssl);
      }
      shutdown(fd, SHUT_WR);
      close(fd);
    }
  }

  // The head up to the empty line and Content-Length bytes of body.
  static bool ReadRequest(Peer& peer, std::string& request) {
    char buf[16384];
    std::size_t headEnd = std::string::npos;
    std::size_t want = 0;
    for (int reads = 0; reads < 100000; ++reads) {
      if (headEnd == std::string::npos) {
        headEnd = request.find("\r\n\r\n");
        if (headEnd != std::string::npos) {
          headEnd += 4;
          want = headEnd + ContentLength(request.substr(0, headEnd));
        }
      }
      if (headEnd != std::string::npos && request.size() >= want) return true;
      long n = peer.Read(buf, sizeof buf);
      if (n <= 0) return false;
      request.append(buf, static_cast<std::size_t>(n));
    }
    return false;
  }

  void SendReply(Peer& peer, const Reply& reply) {
    if (!peer.Write(reply.bytes.data(), reply.bytes.size())) return;
    if (reply.fillBytes > 0) {
      std::string chunk(1 << 16, 0);
      for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = FillByte(i);
      // 65536 is a multiple of 26 plus 16, so each chunk starts where the pattern stands.
      std::size_t sent = 0;
      while (sent < reply.fillBytes && !stop_) {
        std::size_t n = std::min(chunk.size() - sent % 26, reply.fillBytes - sent);
        if (!peer.Write(chunk.data() + sent % 26, n)) return;
        sent += n;
      }
    }
    if (reply.stall) {
      Clock::time_point end = Clock::now() + std::chrono::seconds(20);
      while (!stop_ && Clock::now() < end) {
        pollfd p{peer.fd, POLLIN, 0};
        if (poll(&p, 1, 20) > 0) {
          char c;
          if (recv(peer.fd, &c, 1, MSG_DONTWAIT) == 0) return;  // the client has gone
        }
      }
    }
  }

  Script script_;
  bool record_;
  SSL_CTX* ctx_ = nullptr;
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// A server that answers every request with the same bytes.
inline ScriptedServer::Script Always(std::string bytes) {
  return [bytes](int, const std::string&) { return Reply{bytes}; };
}

// Certificates made once per process in a fresh directory: an authority, a server identity for
// 127.0.0.1 and localhost signed by it, one for another name signed by it, and a self-signed one.
struct TestCertificates {
  std::string dir;
  std::string caFile;
  TlsIdentity good;       // signed by caFile for IP 127.0.0.1 and localhost
  TlsIdentity wrongName;  // signed by caFile for wrong.example only
  TlsIdentity untrusted;  // self-signed for 127.0.0.1
  bool ok = false;
  ~TestCertificates() {
    if (!dir.empty()) std::filesystem::remove_all(dir);
  }
};

inline const TestCertificates& Certificates() {
  static TestCertificates certs;
  static std::once_flag once;
  std::call_once(once, [] {
    TestCertificates& c = certs;
    char pattern[] = "/tmp/quenbrel-tls-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return;
    c.dir = pattern;
    const std::string d = c.dir + "/";
    const std::string key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    std::ofstream(d + "good.ext") << "subjectAltName=IP:127.0.0.1,DNS:localhost\n";
    std::ofstream(d + "wrong.ext") << "subjectAltName=DNS:wrong.example\n";
    const std::string commands[] = {
        "openssl req -x509 " + key + " -keyout " + d + "ca.key -out " + d +
            "ca.pem -days 2 -subj /CN=QuenbrelTestCA"
            " -addext basicConstraints=critical,CA:TRUE"
            " -addext keyUsage=critical,keyCertSign,cRLSign",
        "openssl req " + key + " -keyout " + d + "server.key -out " + d +
            "server.csr -subj /CN=127.0.0.1",
        "openssl x509 -req -in " + d + "server.csr -CA " + d + "ca.pem -CAkey " + d +
            "ca.key -CAcreateserial -days 2 -extfile " + d + "good.ext -out " + d + "good.pem",
        "openssl x509 -req -in " + d + "server.csr -CA " + d + "ca.pem -CAkey " + d +
            "ca.key -CAcreateserial -days 2 -extfile " + d + "wrong.ext -out " + d + "wrong.pem",
        "openssl req -x509 " + key + " -keyout " + d + "self.key -out " + d +
            "self.pem -days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1",
    };
    for (const std::string& command : commands) {
      if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) return;
    }
    c.caFile = d + "ca.pem";
    c.good = {d + "good.pem", d + "server.key"};
    c.wrongName = {d + "wrong.pem", d + "server.key"};
    c.untrusted = {d + "self.pem", d + "self.key"};
    c.ok = true;
  });
  return certs;
}

// A tinyproxy process on a free port with its own configuration and log, stopped by its pid.
class Tinyproxy {
 public:
  Tinyproxy() {
    char pattern[] = "/tmp/quenbrel-proxy-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return;
    dir_ = pattern;
    port_ = FreeLoopbackPort();
    std::ofstream(dir_ + "/tinyproxy.conf")
        << "Port " << port_ << "\nListen 127.0.0.1\nTimeout 10\nMaxClients 20\n"
        << "LogFile \"" << dir_ << "/tinyproxy.log\"\nLogLevel Connect\n";
    const std::string conf = dir_ + "/tinyproxy.conf";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char* argv[] = {const_cast<char*>("tinyproxy"), const_cast<char*>("-d"),
                    const_cast<char*>("-c"), const_cast<char*>(conf.c_str()), nullptr};
    if (posix_spawnp(&pid_, "tinyproxy", &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    // Ready once it accepts a connection: at most 5 s.
    for (int i = 0; i < 250 && pid_ > 0; ++i) {
      const int fd = ConnectToLoopback(port_);
      const bool up = fd >= 0;
      if (up) close(fd);
      if (up) {
        ready_ = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~Tinyproxy() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 100; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        std::filesystem::remove_all(dir_);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    std::filesystem::remove_all(dir_);
  }
  Tinyproxy(const Tinyproxy&) = delete;
  Tinyproxy& operator=(const Tinyproxy&) = delete;

  bool ready() const { return ready_; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string log() const {
    std::ifstream in(dir_ + "/tinyproxy.log");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
  std::string dir_;
  int port_ = 0;
  pid_t pid_ = -1;
  bool ready_ = false;
};

}  // namespace quenbrel::testing

#endif  // QUENBREL_TESTS_NET_TEST_SERVER_H_
