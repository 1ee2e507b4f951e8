// TCP on Winsock: non-blocking, every wait a select.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

#include "mailclient/net/net_platform.h"
#include "runtime/activation.h"
#include "runtime/system_text.h"
#include "runtime/wide_text_win32.h"

namespace mailclient {

namespace {
long Moved(int n) {
  if (n != SOCKET_ERROR) return n;
  return ::WSAGetLastError() == WSAEWOULDBLOCK ? detail::kWouldBlock : detail::kFailed;
}

// At most this much in one call: Winsock counts in int.
int Capped(std::size_t size) { return static_cast<int>(std::min<std::size_t>(size, 1u << 20)); }
}  // namespace

// The wide-character resolver: the server name reaches it unchanged,
// non-ASCII letters included.
std::vector<Endpoint> Resolve(const std::string& host, int port, std::string& error) {
  const runtime::Activation activation("RESOLVE", __LINE__);
  ADDRINFOW hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  ADDRINFOW* found = nullptr;
  const int rc = ::GetAddrInfoW(runtime::WideText(host).c_str(), std::to_wstring(port).c_str(), &hints, &found);
  const runtime::Owned<ADDRINFOW, ::FreeAddrInfoW> list(found);
  if (rc != 0) {
    error = runtime::SystemErrorText(static_cast<unsigned long>(rc));
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
  OwnedSocket owned(static_cast<Socket>(::socket(endpoint.family, endpoint.socktype, endpoint.protocol)));
  if (!owned) {
    reason = SocketError();
    return {};
  }
  const auto s = static_cast<SOCKET>(owned.get());
  // A socket is inheritable by default: no program started meanwhile (a
  // token command) gets the connection.
  ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  u_long non_blocking = 1;
  ::ioctlsocket(s, FIONBIO, &non_blocking);
  int rc = ::connect(s, reinterpret_cast<const sockaddr*>(endpoint.address.data()),
                     static_cast<int>(endpoint.address.size()));
  if (rc == SOCKET_ERROR && ::WSAGetLastError() == WSAEWOULDBLOCK) {
    const int ready = SocketWait(static_cast<Socket>(s), true, timeout_ms);
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
    reason = SocketError();
    return {};
  }
  BOOL one = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  return owned;
}

long SocketSend(Socket s, const char* data, std::size_t size) {
  return Moved(::send(static_cast<SOCKET>(s), data, Capped(size), 0));
}

long SocketReceive(Socket s, char* buffer, std::size_t size) {
  return Moved(::recv(static_cast<SOCKET>(s), buffer, Capped(size), 0));
}

// A failed connect shows in the exception set.
int SocketWait(Socket s, bool write, int timeout_ms) {
  const auto socket = static_cast<SOCKET>(s);
  fd_set ready;
  FD_ZERO(&ready);
  FD_SET(socket, &ready);
  fd_set failed;
  FD_ZERO(&failed);
  FD_SET(socket, &failed);
  timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  const int n = ::select(0, write ? nullptr : &ready, write ? &ready : nullptr, &failed, &tv);
  if (n == SOCKET_ERROR) return -1;
  if (n == 0) return 0;
  return FD_ISSET(socket, &failed) ? -1 : 1;
}

std::string SocketError() { return runtime::SystemErrorText(static_cast<unsigned long>(::WSAGetLastError())); }

void SocketClose(Socket s) { ::closesocket(static_cast<SOCKET>(s)); }

}  // namespace detail

bool IsIpAddress(const std::string& host) {
  const runtime::Activation activation("ISIPADDRESS", __LINE__);
  unsigned char buf[16];
  return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

}  // namespace mailclient
