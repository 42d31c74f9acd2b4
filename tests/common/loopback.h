// Loopback sockets for the servers and clients that tests start: everything listens and connects
// on 127.0.0.1, on ports the system hands out. Also the one header reading those servers need.
//
// Header-only, for test and benchmark programs. Thread safety: no shared state.

#ifndef QUENBREL_TESTS_COMMON_LOOPBACK_H_
#define QUENBREL_TESTS_COMMON_LOOPBACK_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace quenbrel::testing {

inline sockaddr_in LoopbackAddress(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// A socket listening on 127.0.0.1 at a free port, which is written to *port; -1 on failure.
inline int ListenOnLoopback(int* port, int backlog = 16) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address = LoopbackAddress(0);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, backlog) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    return -1;
  }
  *port = ntohs(address.sin_port);
  return fd;
}

// A loopback port that was free a moment ago and has nothing listening on it.
inline int FreeLoopbackPort() {
  int port = 0;
  const int fd = ListenOnLoopback(&port);
  if (fd >= 0) close(fd);
  return port;
}

// A socket connected to 127.0.0.1:port; -1 when nothing accepts there.
inline int ConnectToLoopback(int port, int type = SOCK_STREAM) {
  const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const sockaddr_in address = LoopbackAddress(port);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// The Content-Length of a raw request or reply head (its lines up to the empty one, any case);
// 0 when it names none.
inline std::size_t ContentLength(const std::string& head) {
  std::string lower;
  for (char c : head) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::size_t at = lower.find("\r\ncontent-length:");
  return at == std::string::npos ? 0 : std::strtoul(lower.c_str() + at + 17, nullptr, 10);
}

}  // namespace quenbrel::testing

#endif  // QUENBREL_TESTS_COMMON_LOOPBACK_H_
