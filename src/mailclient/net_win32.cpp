// TCP on Winsock. The socket is non-blocking; every wait is a select with
// the caller's time-out, so a silent server can never hold the program.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

#include "mailclient/net.h"
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

std::string TimedOut(int timeout_ms) {
  return "no answer within " + std::to_string(timeout_ms / 1000) + " seconds";
}

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

SOCKET ConnectOne(const addrinfo& ai, int timeout_ms, std::string& reason) {
  SOCKET s = ::socket(ai.ai_family, ai.ai_socktype, ai.ai_protocol);
  if (s == INVALID_SOCKET) {
    reason = LastReason();
    return INVALID_SOCKET;
  }
  u_long non_blocking = 1;
  ::ioctlsocket(s, FIONBIO, &non_blocking);
  int rc = ::connect(s, ai.ai_addr, static_cast<int>(ai.ai_addrlen));
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
    return INVALID_SOCKET;
  }
  BOOL one = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  return s;
}

}  // namespace

std::unique_ptr<Connection> ConnectTcp(const std::string& host, int port, int timeout_ms,
                                       std::string& error) {
  const runtime::Activation activation("CONNECTTCP", __LINE__);
  const std::string where = host + " port " + std::to_string(port);
  if (port <= 0 || port > 65535) {
    error = "cannot connect to " + where + ": the port number is out of range";
    return nullptr;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
  if (rc != 0) {
    error = "cannot find the server " + host + ": " + runtime::SystemErrorText(static_cast<unsigned long>(rc));
    return nullptr;
  }
  std::string reason = "no address";
  for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
    const SOCKET s = ConnectOne(*ai, timeout_ms, reason);
    if (s != INVALID_SOCKET) {
      ::freeaddrinfo(list);
      return std::make_unique<TcpConnection>(s);
    }
  }
  ::freeaddrinfo(list);
  error = "cannot connect to " + where + ": " + reason;
  return nullptr;
}

}  // namespace mailclient
