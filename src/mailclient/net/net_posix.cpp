// TCP on POSIX sockets: non-blocking, every wait a poll.
#include <fcntl.h>
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "mailclient/net/net_platform.h"
#include "runtime/activation.h"

namespace mailclient {

namespace {
#if defined(MSG_NOSIGNAL)
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif

long Moved(ssize_t n) {
  if (n >= 0) return static_cast<long>(n);
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? detail::kWouldBlock : detail::kFailed;
}
}  // namespace

std::vector<Endpoint> Resolve(const std::string& host, int port, std::string& error) {
  const runtime::Activation activation("RESOLVE", __LINE__);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  const runtime::Owned<addrinfo, ::freeaddrinfo> list(found);
  if (rc != 0) {
    error = ::gai_strerror(rc);
    return {};
  }
  return detail::Endpoints(list.get());
}

namespace detail {

std::string EndpointText(const Endpoint& endpoint) {
  const runtime::Activation activation("ENDPOINTTEXT", __LINE__);
  char text[NI_MAXHOST] = {};
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(endpoint.address.data()),
                    static_cast<socklen_t>(endpoint.address.size()), text, sizeof text, nullptr, 0,
                    NI_NUMERICHOST) != 0) {
    return "unknown";
  }
  return text;
}

OwnedSocket Connect(const Endpoint& endpoint, int timeout_ms, std::string& reason) {
  const runtime::Activation activation("CONNECT", __LINE__);
  OwnedSocket owned(::socket(endpoint.family, endpoint.socktype | SOCK_CLOEXEC, endpoint.protocol));
  if (!owned) {
    reason = std::strerror(errno);
    return {};
  }
  const int fd = static_cast<int>(owned.get());
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(endpoint.address.data()),
                     static_cast<socklen_t>(endpoint.address.size()));
  if (rc != 0 && errno == EINPROGRESS) {
    const int ready = SocketWait(fd, true, timeout_ms);
    int err = 0;
    socklen_t len = sizeof err;
    if (ready == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0) {
      rc = err == 0 ? 0 : -1;
      errno = err;
    } else {
      rc = -1;
      if (ready == 0) errno = ETIMEDOUT;
    }
  }
  if (rc != 0) {
    reason = std::strerror(errno);
    return {};
  }
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return owned;
}

long SocketSend(Socket s, const char* data, std::size_t size) {
  return Moved(::send(static_cast<int>(s), data, size, kSendFlags));
}

long SocketReceive(Socket s, char* buffer, std::size_t size) {
  return Moved(::recv(static_cast<int>(s), buffer, size, 0));
}

int SocketWait(Socket s, bool write, int timeout_ms) {
  pollfd p{static_cast<int>(s), static_cast<short>(write ? POLLOUT : POLLIN), 0};
  for (;;) {
    const int n = ::poll(&p, 1, timeout_ms);
    if (n < 0 && errno == EINTR) continue;
    return n > 0 ? 1 : n;
  }
}

std::string SocketError() { return std::strerror(errno); }

void SocketClose(Socket s) { ::close(static_cast<int>(s)); }

}  // namespace detail

bool IsIpAddress(const std::string& host) {
  const runtime::Activation activation("ISIPADDRESS", __LINE__);
  unsigned char buf[16];
  return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

}  // namespace mailclient
