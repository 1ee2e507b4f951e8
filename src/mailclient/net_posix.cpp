// TCP on POSIX sockets. The socket is non-blocking; every wait is a poll
// with the caller's time-out, so a silent server can never hold the
// program.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "mailclient/net_platform.h"
#include "runtime/activation.h"

namespace mailclient {

namespace {

#if defined(MSG_NOSIGNAL)
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif

// Waits until `fd` is ready for `events`: 1 ready, 0 timed out, -1 failed.
int WaitFor(int fd, short events, int timeout_ms) {
  pollfd p{fd, events, 0};
  for (;;) {
    int n = ::poll(&p, 1, timeout_ms);
    if (n < 0 && errno == EINTR) continue;
    return n > 0 ? 1 : n;
  }
}

class TcpConnection final : public Connection {
 public:
  explicit TcpConnection(int fd) : fd_(fd) {}
  ~TcpConnection() override { ::close(fd_); }

  bool Send(std::string_view bytes, int timeout_ms) override {
    const runtime::Activation activation("TCPCONNECTION:SEND", __LINE__);
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, kSendFlags);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        const int ready = WaitFor(fd_, POLLOUT, timeout_ms);
        if (ready == 1) continue;
        error_ = ready == 0 ? TimedOut(timeout_ms) : std::strerror(errno);
        return false;
      }
      error_ = std::strerror(errno);
      return false;
    }
    return true;
  }

  long Receive(char* buffer, std::size_t size, int timeout_ms) override {
    const runtime::Activation activation("TCPCONNECTION:RECEIVE", __LINE__);
    for (;;) {
      ssize_t n = ::recv(fd_, buffer, size, 0);
      if (n >= 0) return static_cast<long>(n);
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        const int ready = WaitFor(fd_, POLLIN, timeout_ms);
        if (ready == 1) continue;
        error_ = ready == 0 ? TimedOut(timeout_ms) : std::strerror(errno);
        return -1;
      }
      error_ = std::strerror(errno);
      return -1;
    }
  }

  const std::string& error() const override { return error_; }

 private:
  int fd_;
  std::string error_;
};

}  // namespace

std::vector<Endpoint> Resolve(const std::string& host, int port, std::string& error) {
  const runtime::Activation activation("RESOLVE", __LINE__);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
  std::vector<Endpoint> out;
  if (rc != 0) {
    error = ::gai_strerror(rc);
    return out;
  }
  for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(ai->ai_addr);
    out.push_back({ai->ai_family, ai->ai_socktype, ai->ai_protocol, {bytes, bytes + ai->ai_addrlen}});
  }
  ::freeaddrinfo(list);
  return out;
}

std::unique_ptr<Connection> ConnectEndpoint(const Endpoint& endpoint, int timeout_ms, std::string& reason) {
  const runtime::Activation activation("CONNECTENDPOINT", __LINE__);
  int fd = ::socket(endpoint.family, endpoint.socktype | SOCK_CLOEXEC, endpoint.protocol);
  if (fd < 0) {
    reason = std::strerror(errno);
    return nullptr;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(endpoint.address.data()),
                     static_cast<socklen_t>(endpoint.address.size()));
  if (rc != 0 && errno == EINPROGRESS) {
    const int ready = WaitFor(fd, POLLOUT, timeout_ms);
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
    ::close(fd);
    return nullptr;
  }
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return std::make_unique<TcpConnection>(fd);
}

}  // namespace mailclient
