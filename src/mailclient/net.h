// The transport under the SMTP dialogue: a byte stream to the server whose
// every wait ends at a deadline. TCP is one kind; the TLS layer wraps
// another stream in one of its own, so the dialogue never knows which it
// talks to.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace mailclient {

class ProtocolTrace;

/// The moment a wait must end, and the limit it was set from. One deadline
/// is carried down through every layer, so a peer that trickles bytes
/// cannot stretch a wait; a message names the configured limit.
class Deadline {
 public:
  /// `limit_ms` from now.
  explicit Deadline(int limit_ms);
  /// Milliseconds left; 0 once the deadline has passed.
  int Left() const;
  bool Passed() const { return Left() == 0; }
  int limit_ms() const { return limit_ms_; }

 private:
  long long at_ms_;
  int limit_ms_;
};

/// "no answer within N seconds", N the deadline's configured limit.
std::string TimedOut(const Deadline& deadline);

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
/// resolves to (IPv6 and IPv4) in turn, each within `timeout_ms`. Null on
/// failure; `error` then names the host and the reason.
std::unique_ptr<Connection> ConnectTcp(const std::string& host, int port, int timeout_ms,
                                       std::string& error);
/// The same, telling `trace` (when not null) each address tried and what
/// came of it.
std::unique_ptr<Connection> ConnectTcpTraced(const std::string& host, int port, int timeout_ms,
                                             std::string& error, ProtocolTrace* trace);

}  // namespace mailclient
