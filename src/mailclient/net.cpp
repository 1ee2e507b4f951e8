#include "mailclient/net.h"

#include <chrono>

#include "mailclient/net_platform.h"
#include "runtime/activation.h"

namespace mailclient {

namespace {

// A connected socket. Every wait is bounded by the caller's time-out, so a
// silent server can never hold the program.
class TcpConnection final : public Connection {
 public:
  explicit TcpConnection(detail::Socket s) : s_(s) {}
  ~TcpConnection() override { detail::SocketClose(s_); }

  bool Send(std::string_view bytes, int timeout_ms) override {
    const runtime::Activation activation("TCPCONNECTION:SEND", __LINE__);
    while (!bytes.empty()) {
      const long n = detail::SocketSend(s_, bytes.data(), bytes.size());
      if (n >= 0) {
        bytes.remove_prefix(static_cast<std::size_t>(n));
      } else if (n == detail::kFailed || !Wait(true, timeout_ms)) {
        if (n == detail::kFailed) error_ = detail::SocketError();
        return false;
      }
    }
    return true;
  }

  long Receive(char* buffer, std::size_t size, int timeout_ms) override {
    const runtime::Activation activation("TCPCONNECTION:RECEIVE", __LINE__);
    for (;;) {
      const long n = detail::SocketReceive(s_, buffer, size);
      if (n >= 0) return n;
      if (n == detail::kFailed) error_ = detail::SocketError();
      if (n == detail::kFailed || !Wait(false, timeout_ms)) return -1;
    }
  }

  const std::string& error() const override { return error_; }

 private:
  bool Wait(bool write, int timeout_ms) {
    const int ready = detail::SocketWait(s_, write, timeout_ms);
    if (ready == 1) return true;
    error_ = ready == 0 ? TimedOut(timeout_ms) : detail::SocketError();
    return false;
  }

  detail::Socket s_;
  std::string error_;
};

}  // namespace

std::string TimedOut(int timeout_ms) {
  return "no answer within " + std::to_string(timeout_ms / 1000) + " seconds";
}

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::unique_ptr<Connection> ConnectTcp(const std::string& host, int port, int timeout_ms,
                                       std::string& error) {
  const runtime::Activation activation("CONNECTTCP", __LINE__);
  const std::string where = host + " port " + std::to_string(port);
  if (port <= 0 || port > 65535) {
    error = "cannot connect to " + where + ": the port number is out of range";
    return nullptr;
  }
  std::string why;
  const std::vector<Endpoint> endpoints = Resolve(host, port, why);
  if (endpoints.empty()) {
    error = "cannot find the server " + host + ": " + why;
    return nullptr;
  }
  // Each address in turn: a server may listen on IPv4 only, or IPv6 only.
  std::string reason;
  for (const Endpoint& endpoint : endpoints) {
    detail::Socket s = 0;
    if (detail::Connect(endpoint, timeout_ms, s, reason)) return std::make_unique<TcpConnection>(s);
  }
  error = "cannot connect to " + where + ": " + reason;
  return nullptr;
}

}  // namespace mailclient
