// The transport under the SMTP dialogue: a byte stream to the server with a
// time-out on every wait. TCP is one kind; the TLS layer wraps another
// stream in one of its own, so the dialogue never knows which it talks to.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace mailclient {

class Connection {
 public:
  virtual ~Connection() = default;
  /// Sends all of `bytes`, waiting at most `timeout_ms` for each part to
  /// leave. False on failure; error() then says why.
  virtual bool Send(std::string_view bytes, int timeout_ms) = 0;
  /// Receives at least one byte into `buffer`, waiting at most `timeout_ms`.
  /// The count received; 0 when the server closed the connection; -1 on
  /// failure or time-out, with error() saying which.
  virtual long Receive(char* buffer, std::size_t size, int timeout_ms) = 0;
  virtual const std::string& error() const = 0;
};

/// A TCP connection to `host` at `port`, trying every address the name
/// resolves to (IPv6 and IPv4) in turn, each within `timeout_ms`. Null on
/// failure; `error` then names the host and the reason.
std::unique_ptr<Connection> ConnectTcp(const std::string& host, int port, int timeout_ms,
                                       std::string& error);

}  // namespace mailclient
