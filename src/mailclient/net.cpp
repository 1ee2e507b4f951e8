#include "mailclient/net.h"

#include <chrono>

#include "mailclient/net_platform.h"
#include "runtime/activation.h"

namespace mailclient {

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
    std::unique_ptr<Connection> connection = ConnectEndpoint(endpoint, timeout_ms, reason);
    if (connection) return connection;
  }
  error = "cannot connect to " + where + ": " + reason;
  return nullptr;
}

}  // namespace mailclient
