// A server played from a script, for unit tests of the SMTP dialogue: each
// step waits for one command line from the client (or for the whole message
// after a 354 reply) and answers with its reply bytes. Everything the client
// writes is recorded, write by write, and every wait it asks for is noted
// with its time-out. A wait for a reply the script does not hold fails at
// once, as a time-out would. Deliver runs the command's sequence against
// such a server.
#pragma once

#include <algorithm>
#include <deque>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mailclient/mime/encoding.h"
#include "mailclient/smtp/csmtp.h"

namespace scripted {

/// One step: the start of the command line the client must send (with CR
/// LF: the whole line; empty: none, the reply follows the previous one at
/// once; kMessage: the message up to its final "."), and the bytes the
/// server answers with.
struct Step {
  std::string expect;
  std::string reply;
};

inline const std::string kMessage = "<message>";
/// An empty command line (as XOAUTH2 answers its failure challenge).
inline const std::string kEmptyLine = "<empty line>";
/// A new connection after the first (its reply: the greeting).
inline const std::string kConnect = "<connect>";

class Server {
 public:
  explicit Server(std::vector<Step> script) : script_(script.begin(), script.end()) { Advance(); }

  /// The transport a CSmtp reaches this server through. `handshake_fails`
  /// makes every TLS handshake fail as a peer with a bad certificate would.
  mailclient::Transport Transport(bool handshake_fails = false);

  /// Every command line the client sent, in order, without CR LF; the
  /// message counts as one line, kMessage.
  std::vector<std::string> commands;
  /// What the client wrote, one Send each.
  std::vector<std::string> writes;
  /// The configured limit of every wait for a reply, in milliseconds.
  std::vector<int> waits;
  int connections = 0;
  /// The server hangs up once its script is played out, instead of
  /// staying silent.
  bool hangs_up = false;
  /// The most bytes one read hands out.
  std::size_t piece = std::string::npos;
  /// Steps the client never reached.
  std::size_t Unplayed() const { return script_.size(); }
  /// The client sent a command the script did not expect (or any at all
  /// once the script had ended).
  bool Strayed() const { return stray_; }

  void Receive(std::string_view bytes) {
    writes.emplace_back(bytes);
    in_ += bytes;
    for (;;) {
      if (in_message_) {
        const std::size_t end = in_.find("\r\n.\r\n");
        if (end == std::string::npos) return;
        in_.erase(0, end + 5);
        in_message_ = false;
        Command(kMessage);
        continue;
      }
      const std::size_t nl = in_.find("\r\n");
      if (nl == std::string::npos) return;
      const std::string line = in_.substr(0, nl);
      in_.erase(0, nl + 2);
      Command(line);
    }
  }

  /// Hands out pending reply bytes; -1 (a time-out) when none are due, 0
  /// when the script has ended and nothing is pending.
  long Answer(char* buffer, std::size_t size, const mailclient::Deadline& deadline) {
    waits.push_back(deadline.limit_ms());
    if (out_.empty()) return script_.empty() && hangs_up ? 0 : -1;
    const std::size_t n = std::min({size, out_.size(), piece});
    out_.copy(buffer, n);
    out_.erase(0, n);
    return static_cast<long>(n);
  }

 private:
  void Command(const std::string& line) {
    commands.push_back(line);
    const bool expected = !script_.empty() && !script_.front().expect.empty() &&
                          (line.empty() ? script_.front().expect == kEmptyLine
                                        : (line + "\r\n").rfind(script_.front().expect, 0) == 0);
    stray_ = stray_ || !expected;
    if (expected) Queue();
    Advance();
  }

  // Queues the front step's reply, and every step after it that waits for
  // nothing.
  void Queue() {
    const std::string reply = script_.front().reply;
    out_ += reply;
    if (reply.rfind("354", 0) == 0) in_message_ = true;
    script_.pop_front();
  }

  void Advance() {
    while (!stray_ && !script_.empty() && script_.front().expect.empty()) Queue();
  }

  std::deque<Step> script_;
  std::string in_;
  std::string out_;
  bool in_message_ = false;
  bool stray_ = false;  // a command the script did not expect: no more answers
};

/// The client's side of the line: hands the client's bytes to the server
/// and its replies back.
class Line final : public mailclient::Connection {
 public:
  explicit Line(Server& server) : server_(server) {}
  bool Send(std::string_view bytes, const mailclient::Deadline&) override {
    server_.Receive(bytes);
    return true;
  }
  long Receive(char* buffer, std::size_t size, const mailclient::Deadline& deadline) override {
    const long n = server_.Answer(buffer, size, deadline);
    if (n < 0) error_ = mailclient::TimedOut(deadline);
    return n;
  }
  const std::string& error() const override { return error_; }

 private:
  Server& server_;
  std::string error_;
};

inline mailclient::Transport Server::Transport(bool handshake_fails) {
  mailclient::Transport t;
  t.connect = [this](const std::string&, int, int, std::string&,
                     const mailclient::EventSink&) -> std::unique_ptr<mailclient::Connection> {
    if (connections++ > 0) {  // plays the step that waits for kConnect
      if (!script_.empty() && script_.front().expect == kConnect) {
        Queue();
        Advance();
      }
    }
    return std::make_unique<Line>(*this);
  };
  t.start_tls = [handshake_fails](std::unique_ptr<mailclient::Connection> plain,
                                  const mailclient::TlsOptions& options,
                                  std::string& error) -> std::unique_ptr<mailclient::Connection> {
    if (handshake_fails) {
      error = "the certificate of the server is not issued for " + options.host + " (host name mismatch)";
      return nullptr;
    }
    return plain;  // the same line stands for the encrypted one
  };
  return t;
}

// The steps most scripts share.
inline const Step kGreeting{"", "220 mail.example.com ESMTP\r\n"};
inline const Step kStartTls{"STARTTLS", "220 go ahead\r\n"};
inline const Step kMail{"MAIL FROM:<alerts@example.com>", "250 ok\r\n"};
inline const Step kData{"DATA", "354 go ahead\r\n"};
inline const Step kAccepted{kMessage, "250 2.0.0 queued\r\n"};
inline const Step kQuit{"QUIT", "221 bye\r\n"};

/// The EHLO reply that offers `extensions`, separated by commas.
inline Step Ehlo(const std::string& extensions) {
  std::string reply = "250-mail.example.com\r\n";
  for (std::size_t start = 0; start < extensions.size();) {
    const std::size_t comma = std::min(extensions.find(',', start), extensions.size());
    reply += "250-" + extensions.substr(start, comma - start) + "\r\n";
    start = comma + 1;
  }
  return {"EHLO ", reply + "250 HELP\r\n"};
}

inline Step Rcpt(const std::string& address, const std::string& reply = "250 ok") {
  return {"RCPT TO:<" + address + ">", reply + "\r\n"};
}

inline std::vector<Step> Script(std::initializer_list<std::vector<Step>> parts) {
  std::vector<Step> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

/// Up to the offer under TLS, and the delivery to ops@example.com.
inline const std::vector<Step> kSecured{kGreeting, Ehlo("STARTTLS"), kStartTls};
inline const std::vector<Step> kDelivery{kMail, Rcpt("ops@example.com"), kData, kAccepted, kQuit};

struct Settings {
  std::string from{"alerts@example.com"};
  std::vector<std::string> to{"ops@example.com"};
  std::string user{};
  std::string password{};
  mailclient::TokenSource* tokens = nullptr;
  mailclient::TlsMode tls = mailclient::TlsMode::kAuto;
  int port = 25;
  int timeout_seconds = 60;
  bool handshake_fails = false;
  std::string notify{};  // empty: Dsn not called
  std::string envid{};
};

struct Result {
  bool sent = false;
  mailclient::Outcome outcome = mailclient::Outcome::kTemporary;
  std::string error;
  std::vector<std::string> trace;  // its lines
};

/// One run of the command's sequence, traced: Logon when a user is set,
/// then the delivery.
inline Result Deliver(Server& server, const Settings& s = {}) {
  mailclient::CEmail mail;
  mail.FromAddress(s.from);
  mail.DestList(s.to);
  mail.Subject("report");
  mail.MailBody("disk full on db1\n");
  mailclient::CSmtp smtp(mail, "mail.example.com", s.port);
  smtp.UseTransport(server.Transport(s.handshake_fails));
  smtp.Tls(s.tls);
  smtp.TimeoutSeconds(s.timeout_seconds);
  if (!s.notify.empty()) smtp.Dsn(s.notify, s.envid);
  Result r;
  smtp.Trace([&r](std::string_view line) { r.trace.emplace_back(line); });
  if (!s.user.empty()) {
    smtp.UserName(s.user);
    smtp.PassWord(s.password);
    if (s.tokens != nullptr) smtp.BearerTokens(s.tokens);
    smtp.SecureSMTP(true);
    smtp.Logon();
  }
  r.sent = smtp.Postrine();
  r.outcome = smtp.Result();
  r.error = smtp.ErrorMsg();
  return r;
}

/// True when some write of the client holds `text`.
inline bool Wrote(const Server& server, const std::string& text) {
  return std::any_of(server.writes.begin(), server.writes.end(),
                     [&](const std::string& w) { return w.find(text) != std::string::npos; });
}

/// True when a line of the trace gives `secret` away: as it is, in
/// hexadecimal, or in base64 as LOGIN sends it.
inline bool Shows(const Result& r, const std::string& secret) {
  std::string hex;
  for (unsigned char c : secret) hex += {"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
  const std::string forms[] = {secret, hex, mailclient::Base64(secret)};
  return std::any_of(r.trace.begin(), r.trace.end(), [&](const std::string& line) {
    return std::any_of(std::begin(forms), std::end(forms),
                       [&](const std::string& f) { return line.find(f) != line.npos; });
  });
}

}  // namespace scripted
