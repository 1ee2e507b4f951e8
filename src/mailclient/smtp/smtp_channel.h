// The SMTP connection as lines and replies: commands go out as bytes, and
// replies come back whole, each within its time-out, with their length
// bounded so that a hostile or broken server cannot exhaust memory.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "mailclient/net/net.h"
#include "mailclient/smtp/reply.h"
#include "mailclient/smtp/trace.h"

namespace mailclient {

class SmtpChannel {
 public:
  /// `trace`, when not null, is told every line that goes either way.
  explicit SmtpChannel(std::unique_ptr<Connection> connection, ProtocolTrace* trace = nullptr);

  bool Send(std::string_view bytes, int timeout_ms);
  /// Reads one whole reply within `timeout_ms`. False when the server
  /// closed the connection, sent no reply in time or a malformed one;
  /// error() then says which.
  bool ReadReply(Reply& reply, int timeout_ms);
  const std::string& error() const { return error_; }

  /// The stream under the dialogue, for the TLS layer to wrap.
  std::unique_ptr<Connection>& connection() { return connection_; }
  /// True when bytes the server sent are still unread (nothing may follow
  /// a STARTTLS reply in the clear).
  bool HasBuffered() const { return pos_ < buffer_.size(); }

 private:
  bool ReadLine(std::string& line, const Deadline& deadline);
  bool Failed(std::string why);

  std::unique_ptr<Connection> connection_;
  std::string buffer_;
  std::size_t pos_ = 0;
  std::string error_;
  ProtocolTrace* trace_;
};

}  // namespace mailclient
