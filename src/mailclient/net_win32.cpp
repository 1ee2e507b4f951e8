// TCP on Winsock. The socket is non-blocking; every wait is a select with
// the caller's time-out, so a silent server can never hold the program.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

#include "mailclient/net_platform.h"
#include "runtime/activation.h"
#include "runtime/system_text.h"

namespace mailclient {

namespace {

// Waits until `s` can be written (or read): 1 ready, 0 timed out, -1 failed.
int WaitFor(SOCKET s, bool write, int timeout_ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  fd_set failed;
  FD_ZERO(&failed);
  FD_SET(s, &failed);
  timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  const int n = ::select(0, write ? nullptr : &set, write ? &set : nullptr, &failed, &tv);
  if (n == SOCKET_ERROR) return -1;
  if (n == 0) return 0;
  return FD_ISSET(s, &failed) ? -1 : 1;
}

std::string LastReason() { return runtime::SystemErrorText(static_cast<unsigned long>(::WSAGetLastError())); }

class TcpConnection final : public Connection {
 public:
  explicit TcpConnection(SOCKET s) : s_(s) {}
  ~TcpConnection() override { ::closesocket(s_); }

  bool Send(std::string_view bytes, int timeout_ms) override {
    const runtime::Activation activation("TCPCONNECTION:SEND", __LINE__);
    std::size_t done = 0;
    while (done < bytes.size()) {
      const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
      const int n = ::send(s_, bytes.data() + done, chunk, 0);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
        continue;
      }
      if (n == SOCKET_ERROR && ::WSAGetLastError() == WSAEWOULDBLOCK) {
        const int ready = WaitFor(s_, true, timeout_ms);
        if (ready == 1) continue;
        error_ = ready == 0 ? TimedOut(timeout_ms) : LastReason();
        return false;
      }
      error_ = LastReason();
      return false;
    }
    return true;
  }

  long Receive(char* buffer, std::size_t size, int timeout_ms) override {
    const runtime::Activation activation("TCPCONNECTION:RECEIVE", __LINE__);
    for (;;) {
      const int n = ::recv(s_, buffer, static_cast<int>(std::min<std::size_t>(size, 1u << 20)), 0);
      if (n >= 0) return n;
      if (::WSAGetLastError() == WSAEWOULDBLOCK) {
        const int ready = WaitFor(s_, false, timeout_ms);
        if (ready == 1) continue;
        error_ = ready == 0 ? TimedOut(timeout_ms) : LastReason();
        return -1;
      }
      error_ = LastReason();
      return -1;
    }
  }

  const std::string& error() const override { return error_; }

 private:
  SOCKET s_;
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
    error = runtime::SystemErrorText(static_cast<unsigned long>(rc));
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
  SOCKET s = ::socket(endpoint.family, endpoint.socktype, endpoint.protocol);
  if (s == INVALID_SOCKET) {
    reason = LastReason();
    return nullptr;
  }
  u_long non_blocking = 1;
  ::ioctlsocket(s, FIONBIO, &non_blocking);
  int rc = ::connect(s, reinterpret_cast<const sockaddr*>(endpoint.address.data()),
                     static_cast<int>(endpoint.address.size()));
  if (rc == SOCKET_ERROR && ::WSAGetLastError() == WSAEWOULDBLOCK) {
    const int ready = WaitFor(s, true, timeout_ms);
    if (ready == 1) {
      rc = 0;
    } else {
      int err = WSAETIMEDOUT;
      int len = sizeof err;
      if (ready < 0) ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len);
      ::WSASetLastError(err);
    }
  }
  if (rc != 0) {
    reason = LastReason();
    ::closesocket(s);
    return nullptr;
  }
  BOOL one = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  return std::make_unique<TcpConnection>(s);
}

}  // namespace mailclient
