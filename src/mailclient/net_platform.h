// What each platform's socket layer supplies to ConnectTcp: name lookup and
// a connect to one address, both bounded in time.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "mailclient/net.h"

namespace mailclient {

/// One resolved address, as the system's socket calls take it.
struct Endpoint {
  int family = 0;
  int socktype = 0;
  int protocol = 0;
  std::vector<unsigned char> address;  // a sockaddr of `family`
};

/// Every address `host` resolves to for `port`, in the resolver's order.
/// Empty on failure, with the resolver's reason in `error`.
std::vector<Endpoint> Resolve(const std::string& host, int port, std::string& error);

/// A connection to `endpoint` within `timeout_ms`; null on failure, with the
/// system's reason in `reason`.
std::unique_ptr<Connection> ConnectEndpoint(const Endpoint& endpoint, int timeout_ms, std::string& reason);

/// The text of a wait that ran out.
std::string TimedOut(int timeout_ms);

/// Milliseconds on the monotonic clock, for deadlines.
long long NowMs();

}  // namespace mailclient
