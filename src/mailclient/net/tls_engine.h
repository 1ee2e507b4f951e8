// What each platform's TLS library supplies to the portable TLS front
// (tls.cpp): an engine that works on memory only. The front moves the bytes
// between it and the plain stream, keeps the deadlines and words the
// failures, so both platforms wait and speak alike.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mailclient/net/tls.h"

namespace mailclient {

/// What became of the check of the server's certificate.
enum class CertificateVerdict {
  kTrusted,
  kNameMismatch,   // not issued for the name (or address) configured
  kSelfSigned,     // the chain ends in a root nobody trusts
  kIssuerUnknown,  // the chain cannot be completed to any root
  kExpired,
  kNotYetValid,
  kUntrusted,  // any other reason; `detail` holds the library's words
};

struct CertificateCheck {
  CertificateVerdict verdict = CertificateVerdict::kTrusted;
  std::string detail;
};

/// What a handshake settled and the server's certificate, for the protocol
/// trace. What the library cannot tell stays empty.
struct TlsSessionInfo {
  std::string protocol;  // "TLSv1.3"
  std::string cipher;
  std::string subject;
  std::string issuer;
  std::vector<std::string> names;  // "DNS:mail.example.com", "IP:192.0.2.1"
  std::string not_before;          // "2026-01-31 12:00:00 UTC"
  std::string not_after;
};

/// The sentence for a certificate that was refused: the same on every
/// platform.
std::string CertificateFailure(const CertificateCheck& check, const std::string& host);

class TlsEngine {
 public:
  enum class Status {
    kOk,         // done (a handshake complete, or records decrypted)
    kWantInput,  // nothing more until further bytes from the server are fed
    kClosed,     // the server ended the session
    kFailed,     // error() says why
  };
  virtual ~TlsEngine() = default;

  /// Hands over bytes received from the server.
  virtual void Feed(std::string_view bytes) = 0;
  /// Takes the handshake as far as the bytes fed allow; appends to `out`
  /// what must go to the server.
  virtual Status Handshake(std::string& out) = 0;
  /// Appends the records that carry `plain` to `out`.
  virtual bool Encrypt(std::string_view plain, std::string& out) = 0;
  /// Appends what the records fed so far decrypt to `plain`; anything the
  /// session must answer goes to `out`.
  virtual Status Decrypt(std::string& plain, std::string& out) = 0;
  /// The check of the server's certificate and name. Asked after the
  /// handshake completed, and after it failed (kTrusted when the
  /// certificate was not the cause).
  virtual CertificateCheck Verify() = 0;
  /// The session and the server's certificate as far as the handshake got.
  virtual TlsSessionInfo Session() = 0;
  virtual const std::string& error() const = 0;
};

/// A client engine for `options` (the server name, the roots to trust).
/// Null on failure, with a sentence in `error`.
std::unique_ptr<TlsEngine> NewTlsEngine(const TlsOptions& options, std::string& error);

/// Checks a certificate chain as the engine checks the server's: `chain_pem`
/// holds the server's certificate first, then what the server would send
/// with it; `options` gives the name and CAFile. The same verdicts as a
/// handshake gives, without a server.
CertificateCheck CheckCertificateChain(const std::string& chain_pem, const TlsOptions& options);

}  // namespace mailclient
