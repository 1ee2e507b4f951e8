// The transport under the SMTP dialogue: a byte stream to the server whose
// every wait ends at a deadline. TCP is one kind; the TLS layer wraps
// another stream in one of its own, so the dialogue never knows which it
// talks to.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "runtime/deadline.h"

namespace mailclient {

using runtime::Deadline;
using runtime::TimedOut;

/// Takes one event line for the protocol trace: the addresses tried, the TLS
/// session. Empty when the caller keeps no trace.
using EventSink = std::function<void(std::string_view event)>;

class Connection {
 public:
  virtual ~Connection() = default;
  /// Sends all of `bytes` by `deadline`. False on failure; error() then
  /// says why.
  virtual bool Send(std::string_view bytes, const Deadline& deadline) = 0;
  /// Receives at least one byte into `buffer` by `deadline`. The count
  /// received; 0 when the server closed the connection; -1 on failure or
  /// time-out, with error() saying which.
  virtual long Receive(char* buffer, std::size_t size, const Deadline& deadline) = 0;
  virtual const std::string& error() const = 0;
};

/// Passes a stream through (to the TLS layer) and notes when the stream
/// itself failed: a handshake that died with the line is worth trying
/// again later, one that the peer's certificate or protocol broke is not.
class LineWatch final : public Connection {
 public:
  LineWatch(std::unique_ptr<Connection> inner, bool& failed) : inner_(std::move(inner)), failed_(failed) {}
  bool Send(std::string_view bytes, const Deadline& deadline) override;
  long Receive(char* buffer, std::size_t size, const Deadline& deadline) override;
  const std::string& error() const override { return inner_->error(); }

 private:
  std::unique_ptr<Connection> inner_;
  bool& failed_;
};

/// The host as the resolver and the certificate check take it: an IPv6
/// literal written in brackets, as in a URL ("[::1]"), without them.
std::string BareHost(const std::string& server);

/// A TCP connection to `host` at `port`, trying every address the name
/// resolves to (IPv6 and IPv4) in turn, each within `timeout_ms`, telling
/// `events` each address tried and what came of it. Null on failure;
/// `error` then names the host and the reason.
std::unique_ptr<Connection> ConnectTcp(const std::string& host, int port, int timeout_ms, std::string& error,
                                       const EventSink& events);

/// True when `host` is an IPv4 or IPv6 address rather than a name.
bool IsIpAddress(const std::string& host);

}  // namespace mailclient
