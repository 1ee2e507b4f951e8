// TLS for the SMTP connection: a client handshake over an existing stream
// (after STARTTLS, or at once for SMTPS), giving back a stream that
// encrypts. One interface, one back end per platform: OpenSSL on POSIX,
// Schannel on Windows.
#pragma once

#include <memory>
#include <string>

#include "mailclient/net/net.h"

namespace mailclient {

struct TlsOptions {
  /// The server's name as configured: the certificate must be issued for
  /// it (a DNS name or an IP address).
  std::string host;
  /// Check the certificate chain and the name ("TLSVerify=on").
  bool verify = true;
  /// A PEM bundle of further CAs to trust ("CAFile"); empty for none.
  std::string ca_file;
  int timeout_ms = 60000;
  /// Told the session's protocol, cipher and certificate and the check's
  /// verdict, when not empty.
  EventSink events{};
  /// Set to true, when not null, where the handshake failed for a reason
  /// that may pass: the server's own fault (its internal_error alert).
  bool* transient = nullptr;
};

/// Performs the handshake over `plain`. Null on failure; `error` then says
/// why in words a user can act on (an untrusted certificate names the
/// CAFile setting, a name mismatch says so).
std::unique_ptr<Connection> StartTls(std::unique_ptr<Connection> plain, const TlsOptions& options,
                                     std::string& error);

/// The text that follows a failure when certificate checks were off.
inline constexpr char kVerifyOffNote[] = " (certificate checks are off: TLSVerify=off)";

}  // namespace mailclient
