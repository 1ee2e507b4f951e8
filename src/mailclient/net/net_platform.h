// What each platform's socket layer supplies to the portable TCP code in
// net.cpp: name lookup, a connect to one address, and single non-blocking
// sends, receives and waits on a socket.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mailclient/net/net.h"
#include "runtime/owned.h"

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

namespace detail {

using Resolver = std::function<std::vector<Endpoint>(const std::string& host, int port, std::string& error)>;
/// `resolve`'s answer if it comes by `deadline`; else none, with a
/// time-out in `error`.
std::vector<Endpoint> ResolveWithin(const Resolver& resolve, const std::string& host, int port,
                                    const Deadline& deadline, std::string& error);

/// A socket descriptor or a Winsock SOCKET.
using Socket = std::intptr_t;

/// The resolver's list as endpoints: getaddrinfo's result has the same
/// members on every platform.
template <typename AddrInfo>
std::vector<Endpoint> Endpoints(const AddrInfo* list) {
  std::vector<Endpoint> out;
  for (const AddrInfo* ai = list; ai != nullptr; ai = ai->ai_next) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(ai->ai_addr);
    out.push_back({ai->ai_family, ai->ai_socktype, ai->ai_protocol, {bytes, bytes + ai->ai_addrlen}});
  }
  return out;
}

/// The address of `endpoint` as text ("192.0.2.1", "::1"); "unknown" when
/// the system cannot write it.
std::string EndpointText(const Endpoint& endpoint);

void SocketClose(Socket s);

/// A socket closed when its owner goes; -1 is INVALID_SOCKET too.
struct SocketTraits {
  using Value = Socket;
  static Socket Invalid() { return -1; }
  static bool Valid(Socket s) { return s != -1; }
  static void Close(Socket s) { SocketClose(s); }
};
using OwnedSocket = runtime::UniqueHandle<SocketTraits>;

/// Starts a non-blocking connect to `endpoint` and waits for it at most
/// `timeout_ms`: the connected socket, or none with the system's reason (a
/// time-out as such) in `reason`.
OwnedSocket Connect(const Endpoint& endpoint, int timeout_ms, std::string& reason);

/// What a single send or receive did.
inline constexpr long kWouldBlock = -1;
inline constexpr long kFailed = -2;

/// One send or receive without waiting: the count moved (0 from
/// SocketReceive: the peer closed), kWouldBlock or kFailed.
long SocketSend(Socket s, const char* data, std::size_t size);
long SocketReceive(Socket s, char* buffer, std::size_t size);
/// Waits until the socket can be written (or read): 1 ready, 0 timed out,
/// -1 failed.
int SocketWait(Socket s, bool write, int timeout_ms);
/// The system's words for the last failure of a socket call.
std::string SocketError();

}  // namespace detail

}  // namespace mailclient
