#include "server/http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace quenbrel {

namespace {

using Clock = std::chrono::steady_clock;

// What one request gathers between the library's calls.
struct Exchange {
  Clock::time_point start;
  std::string method;
  std::string path;
  std::string body;
  bool tooLarge = false;
  int status = 0;
};

std::string ClientAddress(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  if (info == nullptr || info->client_addr == nullptr) return {};
  char text[INET6_ADDRSTRLEN] = {};
  const sockaddr* sa = info->client_addr;
  if (sa->sa_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, text, sizeof text);
  } else if (sa->sa_family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr, text, sizeof text);
  }
  return text;
}

MHD_Result Send(MHD_Connection* connection, Exchange* exchange, const HttpResponse& response,
                bool close) {
  MHD_Response* r = MHD_create_response_from_buffer(
      response.body.size(), const_cast<char*>(response.body.data()), MHD_RESPMEM_MUST_COPY);
  if (r == nullptr) return MHD_NO;
  if (!response.contentType.empty()) {
    MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, response.contentType.c_str());
  }
  if (!response.location.empty()) {
    MHD_add_response_header(r, MHD_HTTP_HEADER_LOCATION, response.location.c_str());
  }
  MHD_add_response_header(r, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
  MHD_add_response_header(r, "X-Content-Type-Options", "nosniff");
  if (close) MHD_add_response_header(r, MHD_HTTP_HEADER_CONNECTION, "close");
  exchange->status = response.status;
  const MHD_Result queued =
      MHD_queue_response(connection, static_cast<unsigned>(response.status), r);
  MHD_destroy_response(r);
  return queued;
}

}  // namespace

struct HttpServer::State {
  Service* service = nullptr;
  MHD_Daemon* daemon = nullptr;
  bool log = true;
  int socket = -1;

  static MHD_Result Access(void* cls, MHD_Connection* connection, const char* url,
                           const char* method, const char*, const char* upload, size_t* uploadSize,
                           void** slot) {
    State* self = static_cast<State*>(cls);
    auto* exchange = static_cast<Exchange*>(*slot);
    const bool post = std::strcmp(method, "POST") == 0;
    if (exchange == nullptr) {
      exchange = new Exchange;
      exchange->start = Clock::now();
      exchange->method = method;
      exchange->path = url;
      *slot = exchange;
      // Answering only once the head is complete (the next call) keeps the connection open.
      if (!post) return MHD_YES;
      if (const char* length =
              MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Content-Length")) {
        if (std::strtoull(length, nullptr, 10) > kMaxBodyBytes) {
          // Answer at once, without reading a body that would only be thrown away.
          exchange->tooLarge = true;
          return self->Answer(connection, exchange);
        }
      }
      return MHD_YES;
    }
    if (*uploadSize != 0) {
      if (!exchange->tooLarge && exchange->body.size() + *uploadSize <= kMaxBodyBytes) {
        exchange->body.append(upload, *uploadSize);
      } else {
        exchange->tooLarge = true;
        exchange->body.clear();
        exchange->body.shrink_to_fit();
      }
      *uploadSize = 0;
      return MHD_YES;
    }
    if (exchange->status != 0) return MHD_YES;  // answered already
    return self->Answer(connection, exchange);
  }

  MHD_Result Answer(MHD_Connection* connection, Exchange* exchange) {
    const char* type = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Content-Type");
    const std::string client = ClientAddress(connection);
    HttpRequest request{
        .method = exchange->method,
        .path = exchange->path,
        .contentType = type ? type : "",
        .body = exchange->body,
        .bodyTooLarge = exchange->tooLarge,
        .clientAddress = client,
    };
    const HttpResponse response = service->Handle(request);
    return Send(connection, exchange, response, exchange->tooLarge);
  }

  static void Completed(void* cls, MHD_Connection*, void** slot, MHD_RequestTerminationCode) {
    State* self = static_cast<State*>(cls);
    auto* exchange = static_cast<Exchange*>(*slot);
    if (exchange == nullptr) return;
    *slot = nullptr;
    if (self->log) {
      const double ms =
          std::chrono::duration<double, std::milli>(Clock::now() - exchange->start).count();
      // Only the method and the path, cut short and with control bytes masked, reach the log.
      std::string path = exchange->path.substr(0, 200);
      for (char& c : path) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
      }
      std::string method = exchange->method.substr(0, 16);
      for (char& c : method) {
        if (static_cast<unsigned char>(c) < 0x21 || c == 0x7F) c = '?';
      }
      std::fprintf(stderr, "%s %s %d %.3fms\n", method.c_str(), path.c_str(), exchange->status, ms);
    }
    delete exchange;
  }
};

bool ParseListenAddress(const std::string& listen, std::string* host, int* port) {
  size_t colon;
  if (!listen.empty() && listen.front() == '[') {
    const size_t close = listen.find(']');
    if (close == std::string::npos || close + 1 >= listen.size() || listen[close + 1] != ':') {
      return false;
    }
    *host = listen.substr(1, close - 1);
    colon = close + 1;
  } else {
    colon = listen.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    *host = listen.substr(0, colon);
  }
  const std::string digits = listen.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != digits.npos) {
    return false;
  }
  *port = std::atoi(digits.c_str());
  return *port <= 65535;
}

std::unique_ptr<HttpServer> HttpServer::Listen(const HttpServerOptions& options,
                                               std::string* error) {
  std::string host;
  int port = 0;
  if (!ParseListenAddress(options.listen, &host, &port)) {
    *error = "bad listen address \"" + options.listen + "\" (expected HOST:PORT)";
    return nullptr;
  }
  sockaddr_storage address{};
  socklen_t length = 0;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
  if (inet_pton(AF_INET, host == "localhost" ? "127.0.0.1" : host.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(port));
    length = sizeof *v4;
  } else if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<uint16_t>(port));
    length = sizeof *v6;
  } else {
    *error = "listen host must be an IP address: " + host;
    return nullptr;
  }
  const int fd = socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const int on = 1;
  if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 4096) != 0) {
    *error = "cannot listen on " + options.listen + ": " + std::strerror(errno);
    if (fd >= 0) close(fd);
    return nullptr;
  }
  sockaddr_storage bound{};
  socklen_t boundLength = sizeof bound;
  getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLength);
  const int boundPort =
      ntohs(bound.ss_family == AF_INET ? reinterpret_cast<sockaddr_in*>(&bound)->sin_port
                                       : reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port);

  std::unique_ptr<HttpServer> server(new HttpServer);
  server->state_ = std::make_unique<State>();
  server->state_->socket = fd;
  server->port_ = boundPort;
  server->host_ = host;
  server->options_ = options;
  return server;
}

bool HttpServer::Serve(Service& service, std::string* error) {
  State* state = state_.get();
  state->service = &service;
  state->log = options_.log;
  const unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_TURBO | MHD_USE_ITC;
  state->daemon = MHD_start_daemon(
      flags, 0, nullptr, nullptr, &State::Access, state, MHD_OPTION_LISTEN_SOCKET, state->socket,
      MHD_OPTION_THREAD_POOL_SIZE, static_cast<unsigned>(std::max(1, options_.threads)),
      MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(options_.connectionTimeoutSeconds),
      MHD_OPTION_CONNECTION_LIMIT, 16384u, MHD_OPTION_NOTIFY_COMPLETED, &State::Completed, state,
      MHD_OPTION_END);
  if (state->daemon == nullptr) {
    *error = "cannot start the HTTP server on " + options_.listen;
    return false;
  }
  return true;
}

std::string HttpServer::base() const {
  const bool v6 = host_.find(':') != std::string::npos;
  return "http://" + (v6 ? "[" + host_ + "]" : host_) + ":" + std::to_string(port_);
}

void HttpServer::Stop(int drainSeconds) {
  if (!state_) return;
  if (state_->daemon == nullptr) {
    if (state_->socket >= 0) close(state_->socket);
    state_->socket = -1;
    return;
  }
  const MHD_socket listening = MHD_quiesce_daemon(state_->daemon);
  // Give the requests under way time to be answered before their connections are closed.
  const auto deadline = Clock::now() + std::chrono::seconds(drainSeconds);
  while (Clock::now() < deadline) {
    const MHD_DaemonInfo* info =
        MHD_get_daemon_info(state_->daemon, MHD_DAEMON_INFO_CURRENT_CONNECTIONS);
    if (info == nullptr || info->num_connections == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  MHD_stop_daemon(state_->daemon);
  state_->daemon = nullptr;
  if (listening != MHD_INVALID_SOCKET) close(listening);
  state_->socket = -1;
}

HttpServer::~HttpServer() { Stop(0); }

}  // namespace quenbrel
