// The portable half of TLS: the connection that moves bytes between the
// plain stream and the platform's engine (tls_engine.h). The waits, their
// deadlines, the look at the server's first bytes and the sentences for a
// refused certificate live here once, so both platforms behave alike.
#include <cstring>

#include "mailclient/net/net_platform.h"
#include "mailclient/net/tls_engine.h"
#include "runtime/activation.h"

namespace mailclient {

namespace {

// The first bytes from a server in the handshake open a record: a
// handshake message (22) or an alert (21), protocol version 3.x. Anything
// else is a server that goes on in clear text, and waiting for the rest of
// a "record" would only run out the clock.
bool OpensTlsRecord(std::string_view head) {
  if (!head.empty() && head[0] != 0x15 && head[0] != 0x16) return false;
  return head.size() < 2 || head[1] == 0x03;
}

// The names of the alerts a server may send (RFC 8446 section 6, with
// those of TLS 1.2 that it keeps).
const char* AlertName(int alert) {
  switch (alert) {
    case 0: return "close_notify";
    case 10: return "unexpected_message";
    case 20: return "bad_record_mac";
    case 22: return "record_overflow";
    case 40: return "handshake_failure";
    case 42: return "bad_certificate";
    case 43: return "unsupported_certificate";
    case 44: return "certificate_revoked";
    case 45: return "certificate_expired";
    case 46: return "certificate_unknown";
    case 47: return "illegal_parameter";
    case 48: return "unknown_ca";
    case 49: return "access_denied";
    case 50: return "decode_error";
    case 51: return "decrypt_error";
    case 70: return "protocol_version";
    case 71: return "insufficient_security";
    case 80: return "internal_error";
    case 86: return "inappropriate_fallback";
    case 90: return "user_canceled";
    case 109: return "missing_extension";
    case 110: return "unsupported_extension";
    case 112: return "unrecognized_name";
    case 113: return "bad_certificate_status_response";
    case 115: return "unknown_psk_identity";
    case 116: return "certificate_required";
    case 120: return "no_application_protocol";
    default: return "";
  }
}

// "internal_error (80)"; an alert of no known name by its number alone.
std::string AlertText(int alert) {
  const std::string name = AlertName(alert);
  return name.empty() ? std::to_string(alert) : name + " (" + std::to_string(alert) + ")";
}

constexpr int kInternalError = 80;

// Follows the records a server sends in the handshake for a fatal alert
// in clear text: the words for a handshake the server broke off, the same
// whichever library reads the records (Schannel tells only a status).
// An encrypted alert is longer than two bytes and passes unseen.
class AlertWatch {
 public:
  void Watch(std::string_view bytes) {
    pending_ += bytes;
    std::size_t at = 0;
    while (pending_.size() - at >= 5) {
      const std::size_t length = Byte(at + 3) << 8 | Byte(at + 4);
      if (pending_.size() - at < 5 + length) break;
      if (Byte(at) == 0x15 && length == 2 && Byte(at + 5) == 2) alert_ = static_cast<int>(Byte(at + 6));
      at += 5 + length;
    }
    pending_.erase(0, at);
  }
  /// The last fatal alert, or -1.
  int alert() const { return alert_; }

 private:
  std::size_t Byte(std::size_t i) const { return static_cast<unsigned char>(pending_[i]); }

  std::string pending_;  // the start of a record not yet whole
  int alert_ = -1;
};

class TlsConnection final : public Connection {
 public:
  TlsConnection(std::unique_ptr<Connection> plain, std::unique_ptr<TlsEngine> engine)
      : plain_(std::move(plain)), engine_(std::move(engine)) {}

  // The whole handshake within options.timeout_ms, then the certificate
  // check. False with a sentence in `error`.
  bool Handshake(const TlsOptions& options, std::string& error) {
    const runtime::Activation activation("TLSCONNECTION:HANDSHAKE", __LINE__);
    const Deadline deadline(options.timeout_ms);
    handshaking_ = true;
    std::string out;
    bool done = false;
    for (;;) {
      const TlsEngine::Status status = engine_->Handshake(out);
      if (!Flush(out, deadline)) break;
      if (status == TlsEngine::Status::kOk) {
        done = true;
        break;
      }
      if (status != TlsEngine::Status::kWantInput) {
        error_ = status == TlsEngine::Status::kClosed ? "the server ended the session" : engine_->error();
        break;
      }
      if (Pull(deadline) <= 0) break;
    }
    handshaking_ = false;
    if (!done && alerts_.alert() >= 0) {
      error_ = "the server sent the TLS alert " + AlertText(alerts_.alert());
      // A fault of the server's own, worth another try later.
      if (alerts_.alert() == kInternalError && options.transient != nullptr) *options.transient = true;
    }
    const CertificateCheck check = options.verify ? engine_->Verify() : CertificateCheck{};
    if (options.events) TraceSession(options.events, done, options, check);
    if (check.verdict != CertificateVerdict::kTrusted) {
      error = CertificateFailure(check, options.host);
      return false;
    }
    if (done) return true;
    error = "TLS handshake with " + options.host + " failed: " + error_ + (options.verify ? "" : kVerifyOffNote);
    return false;
  }

  bool Send(std::string_view bytes, const Deadline& deadline) override {
    const runtime::Activation activation("TLSCONNECTION:SEND", __LINE__);
    std::string out;
    if (!engine_->Encrypt(bytes, out)) {
      error_ = engine_->error();
      return false;
    }
    return Flush(out, deadline);
  }

  long Receive(char* buffer, std::size_t size, const Deadline& deadline) override {
    const runtime::Activation activation("TLSCONNECTION:RECEIVE", __LINE__);
    std::string out;
    while (pos_ >= text_.size()) {
      text_.clear();
      pos_ = 0;
      const TlsEngine::Status status = engine_->Decrypt(text_, out);
      if (!Flush(out, deadline)) return -1;
      if (status == TlsEngine::Status::kOk) continue;
      if (status == TlsEngine::Status::kClosed) return 0;
      if (status == TlsEngine::Status::kFailed) {
        error_ = engine_->error();
        return -1;
      }
      const long n = Pull(deadline);
      if (n <= 0) return n;
    }
    const std::size_t n = std::min(size, text_.size() - pos_);
    std::memcpy(buffer, text_.data() + pos_, n);
    pos_ += n;
    return static_cast<long>(n);
  }

  const std::string& error() const override { return error_; }

 private:
  // What the handshake came to, for the protocol trace: the session, the
  // certificate the server showed and the verdict on it.
  void TraceSession(const EventSink& trace, bool done, const TlsOptions& options, const CertificateCheck& check) {
    const runtime::Activation activation("TLSCONNECTION:TRACESESSION", __LINE__);
    const TlsSessionInfo info = engine_->Session();
    auto known = [](const std::string& text) { return text.empty() ? std::string("unknown") : text; };
    if (done) {
      trace("TLS: " + known(info.protocol) + ", cipher " + known(info.cipher));
    } else {
      trace("TLS: handshake failed: " + error_);
    }
    if (done || !info.subject.empty() || !info.issuer.empty()) {
      std::string names;
      for (const std::string& name : info.names) names += (names.empty() ? "" : ", ") + name;
      trace("TLS: certificate subject " + known(info.subject));
      trace("TLS: certificate issuer " + known(info.issuer));
      trace("TLS: certificate names " + known(names));
      trace("TLS: certificate valid from " + known(info.not_before) + " to " + known(info.not_after));
    }
    if (!options.verify) {
      trace("TLS: certificate not checked (TLSVerify=off)");
    } else if (check.verdict != CertificateVerdict::kTrusted) {
      trace("TLS: certificate refused: " + CertificateFailure(check, options.host));
    } else if (done) {
      trace("TLS: certificate trusted for " + options.host);
    }
  }

  // Sends what the engine wrote and empties `out`.
  bool Flush(std::string& out, const Deadline& deadline) {
    if (out.empty()) return true;
    const bool sent = plain_->Send(out, deadline);
    out.clear();
    if (!sent) error_ = plain_->error();
    return sent;
  }

  // Hands the engine what the server sends next. The count; 0 when the
  // server closed the connection, -1 on failure; both with error_ set.
  long Pull(const Deadline& deadline) {
    char chunk[16384];
    const long n = plain_->Receive(chunk, sizeof chunk, deadline);
    if (n < 0) {
      error_ = plain_->error();
      return -1;
    }
    if (n == 0) {
      error_ = "the server closed the connection";
      return 0;
    }
    const std::string_view got(chunk, static_cast<std::size_t>(n));
    if (handshaking_ && head_.size() < 2) {
      head_ += got.substr(0, 2 - head_.size());
      if (!OpensTlsRecord(head_)) {
        error_ = "the server answered in clear text, not with TLS";
        return -1;
      }
    }
    if (handshaking_) alerts_.Watch(got);
    engine_->Feed(got);
    return n;
  }

  std::unique_ptr<Connection> plain_;
  std::unique_ptr<TlsEngine> engine_;
  std::string text_;  // decrypted, not yet taken
  std::size_t pos_ = 0;
  std::string head_;  // the server's first two bytes
  AlertWatch alerts_;
  bool handshaking_ = false;
  std::string error_;
};

}  // namespace

std::string CertificateFailure(const CertificateCheck& check, const std::string& host) {
  const runtime::Activation activation("CERTIFICATEFAILURE", __LINE__);
  const std::string subject = "certificate for " + host;
  const std::string add_ca = "; add its CA with CAFile=... in postrine.ini";
  switch (check.verdict) {
    case CertificateVerdict::kTrusted: return "";
    case CertificateVerdict::kNameMismatch:
      return "the certificate of the server is not issued for " + host + " (host name mismatch)";
    case CertificateVerdict::kSelfSigned: return subject + " is not trusted (self-signed)" + add_ca;
    case CertificateVerdict::kIssuerUnknown: return subject + " is not trusted (issuer unknown)" + add_ca;
    case CertificateVerdict::kExpired: return subject + " has expired";
    case CertificateVerdict::kNotYetValid: return subject + " is not valid yet";
    case CertificateVerdict::kUntrusted: break;
  }
  return subject + " is not trusted (" + check.detail + ")";
}

std::unique_ptr<Connection> StartTls(std::unique_ptr<Connection> plain, const TlsOptions& options,
                                     std::string& error) {
  const runtime::Activation activation("STARTTLS", __LINE__);
  std::unique_ptr<TlsEngine> engine = NewTlsEngine(options, error);
  if (!engine) return nullptr;
  auto tls = std::make_unique<TlsConnection>(std::move(plain), std::move(engine));
  if (!tls->Handshake(options, error)) return nullptr;
  return tls;
}

}  // namespace mailclient
