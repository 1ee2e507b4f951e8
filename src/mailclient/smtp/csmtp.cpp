#include "mailclient/smtp/csmtp.h"

#include <algorithm>
#include <ctime>
#include <string_view>

#include "mailclient/smtp/bearer.h"
#include "mailclient/net/digest.h"
#include "mailclient/mime/encoding.h"
#include "mailclient/smtp/smtp_channel.h"
#include "runtime/activation.h"
#include "runtime/ascii.h"
#include "runtime/identity.h"

namespace mailclient {

namespace {

// The reply to the end of the message may take this many times longer: the
// server checks the whole message first (RFC 5321 section 4.5.3.2.6).
constexpr int kDataEndFactor = 10;
constexpr int kSmtpsPort = 465;
// The longest command line RFC 5321 lets a client send, CR LF included
// (section 4.5.3.1.4); servers may cut longer ones (Postfix at 2048).
constexpr std::size_t kMostCommandLine = 512;

std::string Quoted(const Reply& reply) { return runtime::Printable(reply.Quote()); }

// The server refused `stage` with `reply`: for good when its code says so.
Failure Refused(const std::string& stage, const Reply& reply) {
  return {reply.code >= 500 ? Outcome::kPermanent : Outcome::kTemporary, stage + ": " + Quoted(reply)};
}

// The name this machine greets with: its host name when that is a plain
// domain, else "localhost".
std::string HelloName() {
  const std::string host = runtime::HostName();
  if (host.empty() || host.size() > 255) return "localhost";
  for (char c : host) {
    if (!runtime::IsAsciiAlnum(c) && c != '-' && c != '.') return "localhost";
  }
  return host;
}

// The password mechanism to log on with, of those `offered`; empty when
// none is known.
std::string PasswordMechanism(const std::vector<std::string>& offered, bool tls) {
  // Inside TLS, PLAIN is what every server can check (one that keeps its
  // passwords hashed cannot check CRAM-MD5, though it may offer it), and
  // TLS already protects it. CRAM-MD5 leads only where the password would
  // otherwise cross in clear.
  static const char* const kInsideTls[] = {"PLAIN", "LOGIN", "CRAM-MD5"};
  static const char* const kInClear[] = {"CRAM-MD5", "PLAIN", "LOGIN"};
  for (const char* mechanism : tls ? kInsideTls : kInClear) {
    if (std::find(offered.begin(), offered.end(), mechanism) != offered.end()) return mechanism;
  }
  return "";
}

// RFC 3461 xtext: printable ASCII other than '+' and '=' as it is, every
// other byte as '+' and two upper-case hex digits. Whatever the caller
// gives, nothing of it can end the command line.
std::string Xtext(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= '!' && c <= '~' && c != '+' && c != '=') {
      out += static_cast<char>(c);
    } else {
      out += {'+', "0123456789ABCDEF"[c >> 4], "0123456789ABCDEF"[c & 15]};
    }
  }
  return out;
}

// The same mailbox for delivery: the local part as it travels, the domain
// without regard to case.
bool SameMailbox(const Address& a, const Address& b) {
  return a.local == b.local && runtime::AsciiLower(a.ascii_domain) == runtime::AsciiLower(b.ascii_domain);
}

}  // namespace

Capabilities ParseCapabilities(const Reply& ehlo) {
  const runtime::Activation activation("PARSECAPABILITIES", __LINE__);
  Capabilities caps;
  for (std::size_t i = 1; i < ehlo.lines.size(); ++i) {
    std::vector<std::string> words;
    std::string word;
    for (char c : ehlo.lines[i] + " ") {
      if (c == ' ' || c == '=') {
        if (!word.empty()) words.push_back(runtime::AsciiUpper(word));
        word.clear();
      } else {
        word += c;
      }
    }
    if (words.empty()) continue;
    const std::string& keyword = words[0];
    if (keyword == "PIPELINING") caps.pipelining = true;
    if (keyword == "8BITMIME") caps.eight_bit_mime = true;
    if (keyword == "STARTTLS") caps.starttls = true;
    if (keyword == "SMTPUTF8") caps.smtputf8 = true;
    if (keyword == "DSN") caps.dsn = true;
    if (keyword == "SIZE") {
      caps.size = true;
      if (words.size() > 1) caps.size_limit = std::strtoull(words[1].c_str(), nullptr, 10);
    }
    if (keyword == "AUTH") {
      for (std::size_t k = 1; k < words.size(); ++k) caps.auth.push_back(words[k]);
    }
  }
  return caps;
}

CSmtp::CSmtp(const CEmail& email, std::string server, int port)
    : email_(email), server_(BareHost(server)), port_(port) {
  const runtime::Activation activation("CSMTP:INIT", __LINE__);
}

CSmtp::~CSmtp() = default;

bool CSmtp::Record(const Failure& failure) {
  const runtime::Activation activation("CSMTP:RECORD", __LINE__);
  outcome_ = failure.kind;
  own_ = failure.own;
  error_ = logon_error_.empty() ? failure.text : logon_error_ + "; " + failure.text;
  return false;
}

Failure CSmtp::Lost(const std::string& stage) {
  const runtime::Activation activation("CSMTP:LOST", __LINE__);
  stage_ = Stage::kEnded;
  shared_failure_ = true;
  return {Outcome::kTemporary, stage + ": " + channel_->error()};
}

std::optional<Failure> CSmtp::Exchange(const std::string& command, Reply& reply, const std::string& stage) {
  const runtime::Activation activation("CSMTP:EXCHANGE", __LINE__);
  if (!channel_->Send(command + "\r\n", timeout_ms_)) return Lost(stage);
  if (!channel_->ReadReply(reply, timeout_ms_)) return Lost(stage);
  return std::nullopt;
}

std::optional<Failure> CSmtp::Open() {
  const runtime::Activation activation("CSMTP:OPEN", __LINE__);
  std::optional<Failure> failure = Greet();
  if (!failure) failure = Secure();
  if (!failure) failure = ChooseAddressForm();
  if (failure) stage_ = Stage::kEnded;
  return failure;
}

std::optional<Failure> CSmtp::Greet() {
  const runtime::Activation activation("CSMTP:GREET", __LINE__);
  std::string why;
  std::unique_ptr<Connection> connection = transport_.connect(server_, port_, timeout_ms_, why, Events());
  if (!connection) return Failure{Outcome::kTemporary, why};
  // SMTPS: TLS from the first byte.
  const bool smtps = tls_ == TlsMode::kSmtps || (tls_ == TlsMode::kAuto && port_ == kSmtpsPort);
  if (smtps) {
    if (std::optional<Failure> failure = Handshake(connection, "")) return failure;
  }
  channel_ = std::make_unique<SmtpChannel>(std::move(connection), trace_.get());
  Reply greeting;
  if (!channel_->ReadReply(greeting, timeout_ms_)) return Lost("greeting");
  if (greeting.code != 220) {
    Quit();
    return Refused("greeting", greeting);
  }
  if (std::optional<Failure> failure = Hello()) return failure;
  stage_ = smtps ? Stage::kSecured : Stage::kGreeted;
  return std::nullopt;
}

std::optional<Failure> CSmtp::ChooseAddressForm() {
  const runtime::Activation activation("CSMTP:CHOOSEADDRESSFORM", __LINE__);
  bool ascii = sender_.Ascii();
  for (const Address& r : recipients_) ascii = ascii && r.Ascii();
  utf8_ = !ascii && caps_.smtputf8;
  if (utf8_) return std::nullopt;
  // Without SMTPUTF8 a domain can go as A-labels; a local part cannot be
  // written in ASCII at all.
  const std::string why = "the server " + server_ + " offers no SMTPUTF8 for a local part beyond ASCII";
  if (!sender_.AsciiLocal()) {
    Quit();
    return Failure{Outcome::kBadAddress, SenderRefusal({sender_.typed, why})};
  }
  std::vector<Refusal> refused;
  for (const Address& r : recipients_) {
    if (!r.AsciiLocal()) refused.push_back({r.typed, why});
  }
  if (refused.empty()) return std::nullopt;
  Quit();
  return Failure{Outcome::kBadAddress, RecipientRefusal(refused)};
}

std::optional<Failure> CSmtp::Secure() {
  const runtime::Activation activation("CSMTP:SECURE", __LINE__);
  if (stage_ == Stage::kSecured || tls_ == TlsMode::kOff) return std::nullopt;
  if (!caps_.starttls) {
    if (tls_ == TlsMode::kAuto) return std::nullopt;
    Quit();
    return Failure{Outcome::kPermanent, "the server " + server_ + " offers no STARTTLS, and TLS=" +
                                            (tls_ == TlsMode::kStartTls ? "starttls" : "smtps") +
                                            " in postrine.ini asks for it"};
  }
  if (std::optional<Failure> failure = StartTlsCommand()) return failure;
  stage_ = Stage::kSecured;
  return Hello();  // EHLO again: the offer may change under TLS
}

std::optional<Failure> CSmtp::StartTlsCommand() {
  const runtime::Activation activation("CSMTP:STARTTLSCOMMAND", __LINE__);
  Reply reply;
  if (std::optional<Failure> failure = Exchange("STARTTLS", reply, "STARTTLS")) return failure;
  if (reply.code != 220) {
    Quit();
    return Refused("STARTTLS", reply);
  }
  // Anything the server sent after its 220 came in the clear and could
  // have been injected: refuse to go on.
  if (channel_->HasBuffered()) {
    channel_.reset();
    return Failure{Outcome::kPermanent, "STARTTLS: the server sent data before the TLS handshake"};
  }
  std::unique_ptr<Connection> connection = std::move(channel_->connection());
  channel_.reset();
  if (std::optional<Failure> failure = Handshake(connection, "STARTTLS: ")) return failure;
  channel_ = std::make_unique<SmtpChannel>(std::move(connection), trace_.get());
  return std::nullopt;
}

EventSink CSmtp::Events() {
  if (!trace_) return {};
  return [trace = trace_.get()](std::string_view event) { trace->Event(event); };
}

std::optional<Failure> CSmtp::Handshake(std::unique_ptr<Connection>& connection, const std::string& stage) {
  const runtime::Activation activation("CSMTP:HANDSHAKE", __LINE__);
  line_failed_ = false;
  std::string why;
  connection = transport_.start_tls(std::make_unique<LineWatch>(std::move(connection), line_failed_),
                                    {server_, verify_, ca_file_, timeout_ms_, Events(), &line_failed_}, why);
  if (connection) return std::nullopt;
  return Failure{line_failed_ ? Outcome::kTemporary : Outcome::kPermanent, stage + why};
}

std::optional<Failure> CSmtp::Hello() {
  const runtime::Activation activation("CSMTP:HELLO", __LINE__);
  const std::string name = HelloName();
  Reply reply;
  if (std::optional<Failure> failure = Exchange("EHLO " + name, reply, "EHLO")) return failure;
  if (reply.code == 250) {
    caps_ = ParseCapabilities(reply);
    return std::nullopt;
  }
  if (reply.code < 500) {
    Quit();
    return Refused("EHLO", reply);
  }
  // A server from before ESMTP: greet it the old way, with no extensions.
  if (std::optional<Failure> failure = Exchange("HELO " + name, reply, "HELO")) return failure;
  if (reply.code != 250) {
    Quit();
    return Refused("HELO", reply);
  }
  caps_ = Capabilities{};
  return std::nullopt;
}

std::optional<Failure> CSmtp::WithheldInClear() {
  const runtime::Activation activation("CSMTP:WITHHELDINCLEAR", __LINE__);
  if (stage_ == Stage::kSecured || tls_ == TlsMode::kOff) return std::nullopt;
  Quit();
  return Failure{Outcome::kPermanent, "the server " + server_ + " offered no TLS, so the " +
                                          (tokens_ ? "access token" : "password") +
                                          " was withheld; set TLS=off in postrine.ini to log on "
                                          "without encryption"};
}

std::optional<Failure> CSmtp::Authenticate() {
  const runtime::Activation activation("CSMTP:AUTHENTICATE", __LINE__);
  if (std::optional<Failure> failure = WithheldInClear()) return failure;
  std::optional<Failure> failure = tokens_ ? AuthenticateBearer() : AuthenticatePassword();
  if (!failure && logon_error_.empty()) stage_ = Stage::kLoggedOn;
  return failure;
}

std::optional<Failure> CSmtp::AuthenticatePassword() {
  const runtime::Activation activation("CSMTP:AUTHENTICATEPASSWORD", __LINE__);
  const std::string mechanism = PasswordMechanism(caps_.auth, stage_ == Stage::kSecured);
  if (mechanism.empty()) {
    // Sending still tries: the server may take the message without.
    logon_error_ = "logon to " + server_ + " failed: the server offers no logon that postrine knows";
    return std::nullopt;
  }
  const std::string stage = "AUTH " + mechanism;
  Reply reply;
  std::optional<Failure> failure;
  if (mechanism == "CRAM-MD5") {
    failure = Exchange(stage, reply, stage);
    std::string challenge;
    if (!failure && reply.code == 334 && !reply.lines.empty() && Base64Decode(reply.lines[0], challenge)) {
      failure = Exchange(Base64(user_ + " " + HmacMd5Hex(password_, challenge)), reply, stage);
    }
  } else if (mechanism == "PLAIN") {
    failure = AuthCommand("PLAIN", Base64(std::string(1, '\0') + user_ + '\0' + password_), reply);
  } else {
    failure = Exchange(stage, reply, stage);
    if (!failure && reply.code == 334) failure = Exchange(Base64(user_), reply, stage);
    if (!failure && reply.code == 334) failure = Exchange(Base64(password_), reply, stage);
  }
  if (failure) return failure;
  if (reply.code == 235) return std::nullopt;
  if (reply.code == 334) {
    // A challenge we cannot answer: cancel the exchange (RFC 4954).
    if (std::optional<Failure> lost = Exchange("*", reply, stage)) return lost;
  }
  // The refusal ends the send, whatever the server does next: one that
  // makes logon optional would take the message unauthenticated, and the
  // user would never learn that the credentials are wrong.
  Quit();
  return Refused(stage, reply);
}

std::optional<Failure> CSmtp::AuthCommand(const std::string& mechanism, const std::string& response,
                                          Reply& reply) {
  const runtime::Activation activation("CSMTP:AUTHCOMMAND", __LINE__);
  const std::string stage = "AUTH " + mechanism;
  const std::string line = stage + " " + response;
  if (line.size() + 2 <= kMostCommandLine) return Exchange(line, reply, stage);
  // Too long for one command: the response follows the server's empty
  // challenge (RFC 4954 section 4), where servers take far longer lines.
  if (std::optional<Failure> failure = Exchange(stage, reply, stage)) return failure;
  if (reply.code != 334) return std::nullopt;
  return Exchange(response, reply, stage);
}

std::optional<Failure> CSmtp::BearerExchange(bool oauthbearer, const std::string& token, Reply& reply,
                                             std::string& status) {
  const runtime::Activation activation("CSMTP:BEAREREXCHANGE", __LINE__);
  const std::string mechanism = oauthbearer ? "OAUTHBEARER" : "XOAUTH2";
  const std::string response =
      oauthbearer ? OAuthBearerResponse(user_, server_, port_, token) : XOAuth2Response(user_, token);
  status.clear();
  if (std::optional<Failure> failure = AuthCommand(mechanism, Base64(response), reply)) return failure;
  if (reply.code != 334) return std::nullopt;
  // The failure challenge: JSON that says why. The exchange ends with a
  // dummy response, ^A for OAUTHBEARER (RFC 7628 section 3.2.3) and an
  // empty line for XOAUTH2, and the server's final refusal.
  std::string decoded;
  if (!reply.lines.empty() && Base64Decode(reply.lines[0], decoded)) status = ChallengeStatus(decoded);
  return Exchange(oauthbearer ? Base64("\x01") : "", reply, "AUTH " + mechanism);
}

std::optional<Failure> CSmtp::Reopen() {
  const runtime::Activation activation("CSMTP:REOPEN", __LINE__);
  channel_.reset();
  stage_ = Stage::kClosed;
  std::optional<Failure> failure = Open();
  if (!failure) failure = WithheldInClear();
  return failure;
}

std::optional<Failure> CSmtp::AuthenticateBearer() {
  const runtime::Activation activation("CSMTP:AUTHENTICATEBEARER", __LINE__);
  auto offered = [&](const char* mechanism) {
    return std::find(caps_.auth.begin(), caps_.auth.end(), mechanism) != caps_.auth.end();
  };
  const bool oauthbearer = offered("OAUTHBEARER");
  const std::string stage = oauthbearer ? "AUTH OAUTHBEARER" : "AUTH XOAUTH2";
  // No message goes out without the logon the settings ask for.
  auto stop = [&](Failure failure) -> std::optional<Failure> {
    if (stage_ != Stage::kEnded) Quit();
    return failure;
  };
  if (!oauthbearer && !offered("XOAUTH2")) {
    return stop({Outcome::kPermanent, "logon to " + server_ +
                                          " failed: the server offers neither OAUTHBEARER nor XOAUTH2 for an "
                                          "OAuth token"});
  }
  // A token the server refuses is dropped. One kept from an earlier run
  // may have been revoked before its time: a fresh one is tried once. One
  // fetched for this run is not fetched again: the server refuses what
  // the settings give, and each try counts towards a provider's lock-out.
  for (const bool fresh : {false, true}) {
    std::string token;
    bool kept = false;
    if (std::optional<Failure> failure = tokens_->Token(fresh, token, kept)) return stop(*failure);
    Reply reply;
    std::string status;
    std::optional<Failure> lost = BearerExchange(oauthbearer, token, reply, status);
    if (lost && fresh) {
      // The server may close the connection with its refusal: a new one.
      lost = Reopen();
      if (!lost) lost = BearerExchange(oauthbearer, token, reply, status);
    }
    if (lost) return lost;
    if (reply.code == 235) return std::nullopt;
    const std::string refusal =
        stage + ": " + Quoted(reply) + (status.empty() ? "" : " (status " + status + ")");
    if (reply.Temporary()) return stop({Outcome::kTemporary, refusal});
    // Only a refused credential (535, or a failure challenge) speaks
    // against the token; any other refusal would meet a fresh one too.
    if (reply.code != 535 && status.empty()) return stop({Outcome::kPermanent, refusal});
    tokens_->Refused();
    if (!kept || fresh) {
      return stop({Outcome::kPermanent, fresh ? refusal + "; a freshly fetched token was refused too" : refusal});
    }
  }
  return std::nullopt;  // not reached: the fresh token's answer ends the loop
}

bool CSmtp::Logon() {
  const runtime::Activation activation("CSMTP:LOGON", __LINE__);
  // No server is troubled, and no password sent, for a message that
  // cannot go anywhere.
  std::optional<Failure> failure = CheckAddresses();
  if (!failure && stage_ == Stage::kClosed) failure = Open();
  if (failure) return Record(*failure);
  if (stage_ == Stage::kEnded) return false;
  if (!secure_) return true;
  if ((failure = Authenticate())) return Record(*failure);
  return logon_error_.empty();
}

std::optional<Failure> CSmtp::CheckAddresses() {
  const runtime::Activation activation("CSMTP:CHECKADDRESSES", __LINE__);
  std::string why = ParseAddress(email_.FromAddress(), false, sender_);
  if (!why.empty()) return Failure{Outcome::kBadAddress, SenderRefusal({email_.FromAddress(), why})};
  const std::vector<std::string> typed = email_.Recipients();
  if (typed.empty()) return Failure{Outcome::kBadAddress, "no recipient given"};
  recipients_.clear();
  std::vector<Refusal> refused;
  for (const std::string& r : typed) {
    Address address;
    why = ParseAddress(r, true, address);
    if (!why.empty()) {
      refused.push_back({r, why});
    } else if (std::none_of(recipients_.begin(), recipients_.end(),
                            [&](const Address& known) { return SameMailbox(known, address); })) {
      // An address given twice, in whatever list, gets one RCPT: one copy.
      recipients_.push_back(std::move(address));
    }
  }
  if (!refused.empty()) return Failure{Outcome::kBadAddress, RecipientRefusal(refused)};
  return std::nullopt;
}

std::string CSmtp::MailCommand(const BodyPlan& plan, std::uint64_t size) {
  const runtime::Activation activation("CSMTP:MAILCOMMAND", __LINE__);
  std::string mail = "MAIL FROM:<" + sender_.Mailbox(utf8_) + ">";
  if (caps_.size) mail += " SIZE=" + std::to_string(size);
  // A header in UTF-8 is eight-bit content too.
  if ((plan.eight_bit_mime || utf8_) && caps_.eight_bit_mime) mail += " BODY=8BITMIME";
  if (utf8_) mail += " SMTPUTF8";
  if (notify_.empty()) return mail;
  if (!caps_.dsn) {
    if (trace_) trace_->Event("the server offers no DSN: sent without delivery status notices");
    return mail;
  }
  // Only the header comes back with a notice: the body may be large, and
  // the header names the message. An empty ENVID is no valid parameter.
  mail += " RET=HDRS";
  if (!envid_.empty()) mail += " ENVID=" + Xtext(envid_);
  return mail;
}

std::optional<Failure> CSmtp::Envelope(const std::string& mail) {
  const runtime::Activation activation("CSMTP:ENVELOPE", __LINE__);
  // Messages name a recipient's command without its NOTIFY, as without one.
  const std::string notify = !notify_.empty() && caps_.dsn ? " NOTIFY=" + notify_ : "";
  std::vector<std::string> stages{mail};
  for (const Address& r : recipients_) stages.push_back("RCPT TO:<" + r.Mailbox(utf8_) + ">");
  std::vector<std::string> commands = stages;
  for (std::size_t i = 1; i < commands.size(); ++i) commands[i] += notify;
  // With PIPELINING the whole envelope goes in one write and the replies
  // are read in order; without it each command waits for its reply.
  if (caps_.pipelining) {
    std::string batch;
    for (const std::string& c : commands) batch += c + "\r\n";
    if (!channel_->Send(batch, timeout_ms_)) return Lost("MAIL FROM");
  }
  std::string refused;
  bool permanent = false;
  std::optional<Failure> mail_refused;
  Reply reply;
  for (std::size_t i = 0; i < commands.size(); ++i) {
    if (!caps_.pipelining && !channel_->Send(commands[i] + "\r\n", timeout_ms_)) return Lost(stages[i]);
    if (!channel_->ReadReply(reply, timeout_ms_)) return Lost(stages[i]);
    if (reply.code == 250 || reply.code == 251) continue;
    if (i == 0) {
      mail_refused = Refused(runtime::Printable(commands[0]), reply);
      shared_failure_ = true;
      if (!caps_.pipelining) break;
      continue;
    }
    if (mail_refused) continue;  // the replies to the rest say only that
    refused += (refused.empty() ? "" : "; ") + runtime::Printable(stages[i]) + ": " + Quoted(reply);
    permanent = permanent || reply.code >= 500;
  }
  if (!mail_refused && refused.empty()) return std::nullopt;
  // Nothing is sent to anyone when one address is refused.
  Reset();
  Quit();
  if (mail_refused) return mail_refused;
  return Failure{permanent ? Outcome::kPermanent : Outcome::kTemporary, refused};
}

std::optional<Failure> CSmtp::Data(const BodyPlan& plan, const std::string& header) {
  const runtime::Activation activation("CSMTP:DATA", __LINE__);
  Reply reply;
  if (std::optional<Failure> failure = Exchange("DATA", reply, "DATA")) return failure;
  if (reply.code != 354) {
    Reset();
    Quit();
    return Refused("DATA", reply);
  }
  // Each chunk is held back until the next one comes, so that the last,
  // which ends the message, can take QUIT along in the same write when
  // the server pipelines (RFC 2920): one round trip less.
  std::string held;
  const bool written = email_.WriteData(plan, header, [&](std::string_view chunk) {
    if (!held.empty() && !channel_->Send(held, timeout_ms_)) return false;
    held.assign(chunk);
    return true;
  });
  if (!written && !email_.ReadError().empty()) {
    // The end of the message was not sent: dropping the connection makes
    // the server discard what it got.
    channel_.reset();
    stage_ = Stage::kEnded;
    return Failure{Outcome::kTemporary, "DATA: " + email_.ReadError()};
  }
  if (written && caps_.pipelining) {
    held += "QUIT\r\n";
    stage_ = Stage::kQuitSent;
  }
  if (!written || !channel_->Send(held, timeout_ms_)) return Lost("DATA");
  // The outcome is this reply's alone; QUIT's, when it went along, is only
  // read (Quit).
  if (!channel_->ReadReply(reply, timeout_ms_ * kDataEndFactor)) return Lost("end of message");
  if (reply.code != 250) {
    Quit();
    return Refused("end of message", reply);
  }
  return std::nullopt;
}

void CSmtp::Reset() {
  const runtime::Activation activation("CSMTP:RESET", __LINE__);
  Reply reply;
  if (channel_->Send("RSET\r\n", timeout_ms_)) channel_->ReadReply(reply, timeout_ms_);
}

void CSmtp::Quit() {
  const runtime::Activation activation("CSMTP:QUIT", __LINE__);
  Reply reply;
  if (channel_ && (stage_ == Stage::kQuitSent || channel_->Send("QUIT\r\n", timeout_ms_))) {
    channel_->ReadReply(reply, timeout_ms_);
  }
  stage_ = Stage::kEnded;
}

bool CSmtp::Postrine() {
  const runtime::Activation activation("CSMTP:POSTRINE", __LINE__);
  // What follows the logon is the message's own, unless the line fails.
  auto own = [this](Failure failure) {
    failure.own = !shared_failure_;
    return Record(failure);
  };
  if (std::optional<Failure> failure = CheckAddresses()) return own(*failure);
  if (stage_ == Stage::kClosed) {
    std::optional<Failure> failure = Open();
    if (!failure && secure_) failure = Authenticate();
    if (failure) return Record(*failure);
  }
  if (stage_ == Stage::kEnded) return false;

  const BodyPlan plan = email_.Plan(caps_.eight_bit_mime);
  const std::string header = email_.Header(plan, std::time(nullptr), utf8_);
  const std::uint64_t size = email_.DataSize(plan, header);
  if (!email_.ReadError().empty()) {
    Quit();
    return own({Outcome::kTemporary, email_.ReadError()});
  }
  if (caps_.size_limit != 0 && size > caps_.size_limit) {
    Quit();
    return own({Outcome::kPermanent, "the message (" + std::to_string(size) +
                                         " bytes) is larger than the server accepts (" +
                                         std::to_string(caps_.size_limit) + " bytes)"});
  }
  shared_failure_ = false;
  std::optional<Failure> failure = Envelope(MailCommand(plan, size));
  if (!failure) failure = Data(plan, header);
  if (failure) return own(*failure);
  Quit();
  outcome_ = Outcome::kSent;
  error_.clear();
  return true;
}

}  // namespace mailclient
