// The client assertion that stands in for a client secret (RFC 7523, as
// Microsoft Entra ID takes it): a JWT naming the client, the token
// endpoint and the certificate, signed with the certificate's private
// key. The key stays where the platform keeps it: a PEM file of the user's
// own on POSIX, the certificate store (through CNG) on Windows. Neither
// the assertion nor anything of the key ever appears in a message.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "mailclient/outcome.h"

namespace mailclient {

/// How long an assertion is good for: long enough for a slow line and a
/// clock a little off, short enough that one seen in transit is soon of
/// no use.
inline constexpr std::int64_t kAssertionLife = 300;

/// What the claims say, apart from the times.
struct AssertionClaims {
  std::string audience;   // the token URL
  std::string client_id;  // iss and sub
  std::string jwt_id;     // jti: never the same twice
  std::int64_t now = 0;   // nbf and iat; exp is kAssertionLife later
};

/// RFC 4648 section 5, without padding, as JWTs write it.
std::string Base64Url(std::string_view bytes);

/// The JOSE header's JSON for `alg` ("PS256" or "RS256") and the
/// certificate's SHA-256 and SHA-1 digests (raw bytes).
std::string AssertionHeader(std::string_view alg, std::string_view sha256, std::string_view sha1);
/// The claims' JSON.
std::string AssertionClaimsJson(const AssertionClaims& claims);

/// A certificate thumbprint as the user may have copied it (blanks or
/// colons between the digits, any case, certmgr's invisible left-to-right
/// mark in front) as 40 upper-case hexadecimal digits; empty when it is
/// not 40 of them.
std::string ThumbprintHex(std::string_view text);

/// A fresh random id in the form of a GUID, for jti.
std::string FreshJwtId();

/// The signed assertion for `client_id` at `token_url` with the
/// certificate `certificate` (OAuthClientCertificate: a PEM file on POSIX,
/// a thumbprint on Windows), or the settings problem naming the
/// certificate and why it cannot be used.
std::optional<Failure> MakeClientAssertion(const std::string& certificate, const std::string& token_url,
                                           const std::string& client_id, std::int64_t now, std::string& assertion);

namespace detail {

/// A certificate with the private key that goes with it, opened by the
/// platform.
class CertificateKey {
 public:
  virtual ~CertificateKey() = default;
  /// The certificate's DER encoding.
  virtual const std::string& Der() const = 0;
  /// Signs the SHA-256 digest of `data`: PSS with a 32-byte salt when
  /// `pss`, otherwise PKCS #1 v1.5. False with the reason in `why`;
  /// `refused_pss` then tells a key that does not do PSS, which may still
  /// sign the other way.
  virtual bool Sign(std::string_view data, bool pss, std::string& signature, bool& refused_pss, std::string& why) = 0;
};

/// Opens the certificate `certificate` names; null with the reason, in a
/// phrase that follows the certificate's name, in `why`.
std::unique_ptr<CertificateKey> OpenCertificateKey(const std::string& certificate, std::string& why);

/// The SHA-256 (or, with `sha1`, the SHA-1) digest of `data` as raw bytes;
/// empty when the platform cannot compute it.
std::string Digest(std::string_view data, bool sha1);

/// How the name of the certificate shows in a message.
std::string CertificateForDisplay(const std::string& certificate);

}  // namespace detail

}  // namespace mailclient
