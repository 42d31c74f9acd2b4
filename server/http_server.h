// The HTTP front of the service: libmicrohttpd with a pool of epoll threads, feeding Service.
//
// The server listens on a host and port ("127.0.0.1:8380", "[::1]:0"; port 0 picks a free one),
// reads request heads and bodies through the library (bodies over 64 KB are refused with 413
// without being kept), calls Service::Handle and writes one log line per request on standard
// error: method, path, status and time. Bodies, and so passwords, are never logged.
//
// Each pool thread runs its own event loop over its connections, so a client that stalls in the
// middle of its request holds no thread; idle connections are closed after a timeout.
//
// Threading: Listen, Serve and Stop from one thread. REQUIRES: the Service outlives the server.

#ifndef QUENBREL_SERVER_HTTP_SERVER_H_
#define QUENBREL_SERVER_HTTP_SERVER_H_

#include <memory>
#include <string>

#include "server/service.h"

namespace quenbrel {

struct HttpServerOptions {
  std::string listen = "127.0.0.1:8380";
  int threads = 16;
  int connectionTimeoutSeconds = 30;
  bool log = true;
};

// host and port of a listen address, "[::1]:80" giving "::1" and 80; false when malformed.
bool ParseListenAddress(const std::string& listen, std::string* host, int* port);

class HttpServer {
 public:
  // A server bound to options.listen, not yet serving, or nullptr with error set (address in
  // use, bad address, ...). Binding comes first so that the public base can use the bound port.
  static std::unique_ptr<HttpServer> Listen(const HttpServerOptions& options, std::string* error);
  // Starts answering requests with service; false with error set when the library cannot start.
  bool Serve(Service& service, std::string* error);
  ~HttpServer();  // Stop()
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // The port actually bound.
  int port() const { return port_; }
  // "http://host:port" of the bound address.
  std::string base() const;
  // Stops accepting, lets open requests finish for up to drainSeconds, then closes everything.
  void Stop(int drainSeconds = 5);

 private:
  HttpServer() = default;
  struct State;
  std::unique_ptr<State> state_;
  int port_ = 0;
  std::string host_;
  HttpServerOptions options_;
};

}  // namespace quenbrel

#endif  // QUENBREL_SERVER_HTTP_SERVER_H_
