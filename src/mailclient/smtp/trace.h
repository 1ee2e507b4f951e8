// The protocol trace: the connection attempts, every command and reply line
// as it went over the wire, and the TLS session, as event lines for a sink
// that the application provides. Nothing secret reaches the sink: the
// client's side of a logon is written as "<redacted>", whatever the
// mechanism, and the message body only as a count of bytes and lines.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace mailclient {

/// Takes one finished event line, without a line end.
using TraceSink = std::function<void(std::string_view event)>;

class ProtocolTrace {
 public:
  explicit ProtocolTrace(TraceSink sink) : sink_(std::move(sink)) {}

  /// One event line; control bytes are shown as dots.
  void Event(std::string_view text);
  /// Bytes the client sent, as "C: " lines. From an AUTH command until its
  /// exchange ends, everything after the mechanism name is "<redacted>";
  /// after DATA's 354 only the header lines are shown and the body is
  /// counted.
  void Sent(std::string_view bytes);
  /// One reply line as received, without its line end, as an "S: " line.
  void Received(std::string_view line);
  /// The connection failed or closed: `why` is written, and a logon or a
  /// message in progress ends with it.
  void Broken(std::string_view why);

 private:
  enum class Phase {
    kCommands,
    kLogon,     // from AUTH to the reply that is no 334 challenge
    kDataSent,  // DATA sent, waiting for 354
    kHeader,    // the message's header lines, up to the empty line
    kBody,      // counted, up to the line "."
  };

  void Line(std::string_view line);
  void BodyBytes(std::string_view bytes);

  TraceSink sink_;
  Phase phase_ = Phase::kCommands;
  std::string partial_;  // an unfinished command or header line
  std::uint64_t body_bytes_ = 0;
  std::uint64_t body_lines_ = 0;
  std::string body_line_start_;  // the first bytes of the current body line, to find "."
};

}  // namespace mailclient
