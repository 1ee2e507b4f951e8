// CSmtp: delivers one CEmail through one SMTP server (RFC 5321): greeting,
// EHLO (HELO for an old server), logon when asked, MAIL and RCPT (in one
// write when the server offers PIPELINING), DATA streamed from the body,
// QUIT. Delivery is all or nothing: one refused recipient and no message
// is sent to anyone. Every failure leaves a sentence in ErrorMsg that names
// the stage and quotes the server's reply or the system's reason.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mailclient/mime/address.h"
#include "mailclient/mime/cemail.h"
#include "mailclient/net/net.h"
#include "mailclient/net/tls.h"
#include "mailclient/net/transport.h"
#include "mailclient/outcome.h"
#include "mailclient/smtp/reply.h"
#include "mailclient/smtp/tls_mode.h"
#include "mailclient/smtp/trace.h"

namespace mailclient {

class SmtpChannel;

/// What the server offers, from its EHLO reply.
struct Capabilities {
  bool pipelining = false;
  bool eight_bit_mime = false;
  bool starttls = false;
  bool smtputf8 = false;
  bool size = false;
  bool dsn = false;  // delivery status notices (RFC 3461)
  std::uint64_t size_limit = 0;  // 0: none announced
  std::vector<std::string> auth;  // mechanisms, upper case
};

/// The capabilities an EHLO reply lists after its greeting line.
Capabilities ParseCapabilities(const Reply& ehlo);

class CSmtp {
 public:
  /// CSmtp:Init with the message, the server's host name and its port.
  CSmtp(const CEmail& email, std::string server, int port);
  ~CSmtp();
  CSmtp(const CSmtp&) = delete;
  CSmtp& operator=(const CSmtp&) = delete;

  void UserName(std::string name) { user_ = std::move(name); }
  void PassWord(std::string password) { password_ = std::move(password); }
  /// Log on with UserName and PassWord before sending.
  void SecureSMTP(bool on) { secure_ = on; }
  /// Log on with OAuth bearer tokens from `source` instead of the password
  /// (OAUTHBEARER, else XOAUTH2; never a password mechanism).
  void BearerTokens(TokenSource* source) { tokens_ = source; }
  void Tls(TlsMode mode) { tls_ = mode; }
  /// Check the server's certificate and name ("TLSVerify").
  void Verify(bool on) { verify_ = on; }
  /// Further CAs to trust, a PEM file ("CAFile").
  void CaFile(std::string file) { ca_file_ = std::move(file); }
  /// Seconds to wait for the connection and for each reply; the reply to
  /// the end of the message may take ten times as long.
  void TimeoutSeconds(int seconds) { timeout_ms_ = seconds * 1000; }
  /// Writes the protocol trace to `sink`, secrets redacted. Without it no
  /// trace is made.
  void Trace(TraceSink sink) { trace_ = std::make_unique<ProtocolTrace>(std::move(sink)); }
  /// Asks for delivery status notices: `notify` is "NEVER" or a comma list
  /// of SUCCESS, FAILURE and DELAY, `envid` names this message in them.
  /// Empty `notify` (the default): none asked for. Sent only where the
  /// server offers DSN; elsewhere the message goes without them and the
  /// trace says so.
  void Dsn(std::string notify, std::string envid) {
    notify_ = std::move(notify);
    envid_ = std::move(envid);
  }
  /// Reaches the server through `transport` instead of TCP and TLS.
  void UseTransport(Transport transport) { transport_ = std::move(transport); }

  /// Connects and logs on now. False when that failed; sending still
  /// tries, unless the server refused the logon or a security rule
  /// forbids it.
  bool Logon();
  /// Sends the message (CSmtp:Postrine). True when the server took it.
  bool Postrine();

  const std::string& ErrorMsg() const { return error_; }
  Outcome Result() const { return outcome_; }
  /// The last failure was the message's own (Failure::own).
  bool MessageRefused() const { return own_; }

 private:
  /// Where the dialogue stands. Open moves it from kClosed to kGreeted, or
  /// to kSecured under TLS, the logon to kLoggedOn; whatever ends the
  /// dialogue leaves it at kEnded, after which nothing more is sent.
  enum class Stage {
    kClosed,    // no connection tried yet
    kGreeted,   // the server greeted us and knows our name, in the clear
    kSecured,   // the connection is inside TLS (and, once open, greeted)
    kLoggedOn,  // the logon went through
    kQuitSent,  // QUIT went with the end of the message; its reply is due
    kEnded,     // QUIT was answered, the line failed, or a rule forbids going on
  };

  /// Connects, greets, secures the line and chooses the address form; a
  /// failure on the way ends the session.
  std::optional<Failure> Open();
  /// The connection (TLS from the first byte for SMTPS), the greeting and
  /// EHLO.
  std::optional<Failure> Greet();
  std::optional<Failure> Hello();
  /// STARTTLS and EHLO again, when the settings and the offer call for it.
  std::optional<Failure> Secure();
  std::optional<Failure> StartTlsCommand();
  /// The trace's event lines for the transport; empty without a trace.
  EventSink Events();
  /// Replaces `connection` by a TLS session over it. The failure is
  /// temporary when it may pass: the line itself failed under the
  /// handshake, or the server owned to a fault of its own.
  std::optional<Failure> Handshake(std::unique_ptr<Connection>& connection, const std::string& stage);
  /// The password or token never crosses an unencrypted connection unless
  /// the settings say so.
  std::optional<Failure> WithheldInClear();
  std::optional<Failure> Authenticate();
  std::optional<Failure> AuthenticatePassword();
  /// AUTH `mechanism` with its first `response`: on the command line
  /// while that stays within the limit of a command, else after the
  /// server's 334. `reply` answers the response, or refuses the command.
  std::optional<Failure> AuthCommand(const std::string& mechanism, const std::string& response, Reply& reply);
  std::optional<Failure> AuthenticateBearer();
  /// One bearer logon with `token`: the reply, and the status the server's
  /// failure challenge gave. The failure when the connection was lost.
  std::optional<Failure> BearerExchange(bool oauthbearer, const std::string& token, Reply& reply,
                                        std::string& status);
  /// A new connection after the server closed the old one, under the same
  /// rules as the first.
  std::optional<Failure> Reopen();
  /// Checks the sender and the recipients before any connection.
  std::optional<Failure> CheckAddresses();
  /// Chooses how the addresses travel once the server's offer is known:
  /// in UTF-8 under SMTPUTF8, else with A-labels; refuses a local part
  /// beyond ASCII that only SMTPUTF8 could carry.
  std::optional<Failure> ChooseAddressForm();
  /// The MAIL command with the parameters the message and the offer call for.
  std::string MailCommand(const BodyPlan& plan, std::uint64_t size);
  std::optional<Failure> Envelope(const std::string& mail);
  std::optional<Failure> Data(const BodyPlan& plan, const std::string& header);
  void Reset();
  void Quit();

  /// Sends `command` and reads its reply; the failure when no reply came.
  std::optional<Failure> Exchange(const std::string& command, Reply& reply, const std::string& stage);
  /// The line failed under `stage`: the session ends.
  Failure Lost(const std::string& stage);
  /// Keeps `failure` for ErrorMsg and Result; false.
  bool Record(const Failure& failure);

  const CEmail& email_;
  std::string server_;
  int port_;
  std::string user_;
  std::string password_;
  bool secure_ = false;
  TokenSource* tokens_ = nullptr;
  TlsMode tls_ = TlsMode::kAuto;
  bool verify_ = true;
  std::string ca_file_;
  int timeout_ms_ = 60000;
  Transport transport_;
  std::string notify_;  // empty: no delivery status notices asked for
  std::string envid_;
  std::unique_ptr<ProtocolTrace> trace_;  // null: no trace

  bool line_failed_ = false;  // before channel_: its streams report here to the end
  std::unique_ptr<SmtpChannel> channel_;
  Capabilities caps_;
  Address sender_;
  std::vector<Address> recipients_;
  bool utf8_ = false;  // addresses and header in UTF-8, with SMTPUTF8
  Stage stage_ = Stage::kClosed;
  std::string logon_error_;
  std::string error_;
  Outcome outcome_ = Outcome::kTemporary;
  bool own_ = false;
  // The last failure would meet any message: the line failed, or the
  // server refused the sender.
  bool shared_failure_ = false;
};

}  // namespace mailclient
