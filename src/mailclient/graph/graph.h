// Sending a composed message through Microsoft Graph rather than SMTP: the
// MIME that SMTP would carry, in base64, POSTed to the sender's sendMail
// with a bearer token over the program's own TLS. A message beyond Graph's
// request limit goes as a draft whose large attachments follow through
// upload sessions, and is then sent. Every byte is streamed from its file.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "mailclient/mime/cemail.h"
#include "mailclient/net/http.h"
#include "mailclient/net/transport.h"
#include "mailclient/outcome.h"

namespace mailclient {

inline constexpr char kGraphDefaultUrl[] = "https://graph.microsoft.com/v1.0";
/// The scope a token for Graph is asked for when OAuthScope is empty.
inline constexpr char kGraphDefaultScope[] = "https://graph.microsoft.com/.default";

struct GraphSettings {
  std::string base_url = kGraphDefaultUrl;  // "GraphURL", without a "/" at its end
  std::string sender{};  // the Sender setting: its address names the mailbox
  bool verify = true;
  std::string ca_file{};
  int timeout_ms = 60000;
};

/// Why `email` cannot go through Graph at all (an attachment beyond its
/// 150 MB), to be said before any request; nothing when it can.
std::optional<std::string> GraphAttachmentRefusal(const CEmail& email);

class GraphSender {
 public:
  GraphSender(const CEmail& email, GraphSettings settings, TokenSource& tokens, Transport transport = {});

  /// Tells `events` each request line (an upload URL without its query),
  /// each answer's status and Graph's error fields; never a token.
  void Trace(EventSink events) { events_ = std::move(events); }

  /// Sends the message dated `now`: nothing when Graph took it, else the
  /// failure, quoting Graph's error code and message.
  std::optional<Failure> Send(std::time_t now);

 private:
  struct Request {
    std::string method;
    std::string url;
    std::string what;  // how the error line names it: "the message", "the draft", ...
    std::vector<std::string> fields{};
    std::uint64_t length = 0;
    /// Sends exactly `length` bytes; false with the reason.
    std::function<bool(Connection&, std::string&)> body{};
    std::vector<int> accepted{};
    bool bearer = true;  // an upload URL carries its own authorization
    std::string note{};  // what the trace adds to the request line
  };

  std::optional<Failure> SendLarge(std::time_t now, const BodyPlan& plan, const std::string& mailbox);
  std::optional<Failure> Upload(const std::string& message_url, std::size_t index,
                                const CEmail::AttachmentFacts& facts);
  std::optional<Failure> AddSmallAttachment(const std::string& message_url, std::size_t index,
                                            const CEmail::AttachmentFacts& facts);
  /// A request that carries `message` as Graph's MIME form (base64 text).
  Request MimeRequest(const CEmail& message, const BodyPlan& plan, const std::string& header, std::uint64_t size);
  /// One request, tried again once with a fresh token after a 401 to a
  /// kept one, and once after the wait a 429 or 503 asks for within Timeout.
  std::optional<Failure> Call(const Request& request, HttpResponse& response);
  /// One exchange over a connection of its own.
  std::optional<Failure> Exchange(const Request& request, HttpResponse& response);
  Failure StatusFailure(const Request& request, const HttpResponse& response) const;
  void Event(const std::string& line) const;

  const CEmail& email_;
  GraphSettings settings_;
  TokenSource& tokens_;
  Transport transport_;
  EventSink events_;
  std::string token_;
  bool kept_ = false;
  bool fresh_ = false;
};

}  // namespace mailclient
