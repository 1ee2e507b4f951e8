#include "mailclient/oauth/client_assertion.h"

#include <nlohmann/json.hpp>

#include "runtime/activation.h"
#include "runtime/ascii.h"
#include "runtime/identity.h"

namespace mailclient {

std::string Base64Url(std::string_view bytes) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out;
  out.reserve((bytes.size() * 4 + 2) / 3);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned n = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
    for (int shift : {18, 12, 6, 0}) out += kDigits[(n >> shift) & 63];
  }
  if (const std::size_t rest = bytes.size() - i; rest > 0) {
    unsigned n = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kDigits[(n >> 18) & 63];
    out += kDigits[(n >> 12) & 63];
    if (rest == 2) out += kDigits[(n >> 6) & 63];
  }
  return out;
}

std::string AssertionHeader(std::string_view alg, std::string_view sha256, std::string_view sha1) {
  // Entra ID looks the certificate up by x5t#S256; x5t (SHA-1) is for
  // the endpoints that came before it (older tenants' documentation, AD FS).
  nlohmann::ordered_json header{{"alg", alg}, {"typ", "JWT"}, {"x5t#S256", Base64Url(sha256)}, {"x5t", Base64Url(sha1)}};
  return header.dump();
}

std::string AssertionClaimsJson(const AssertionClaims& claims) {
  nlohmann::ordered_json json{{"aud", claims.audience},
                              {"iss", claims.client_id},
                              {"sub", claims.client_id},
                              {"jti", claims.jwt_id},
                              {"nbf", claims.now},
                              {"iat", claims.now},
                              {"exp", claims.now + kAssertionLife}};
  // A client id or URL that is not UTF-8 is shown with replacement
  // characters rather than refused here: the endpoint says what it thinks.
  return json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string ThumbprintHex(std::string_view text) {
  static constexpr std::string_view kLeftToRightMark = "\xE2\x80\x8E";
  std::string hex;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.substr(i, kLeftToRightMark.size()) == kLeftToRightMark) {
      i += kLeftToRightMark.size() - 1;
      continue;
    }
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == ':') continue;
    if (!runtime::IsAsciiDigit(c) && !(c >= 'a' && c <= 'f') && !(c >= 'A' && c <= 'F')) return {};
    hex += c >= 'a' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  return hex.size() == 40 ? hex : std::string();
}

std::string FreshJwtId() {
  std::string hex = runtime::RandomHex(32);
  if (hex.size() != 32) return hex;
  hex[12] = '4';                          // a random GUID's version
  hex[16] = "89ab"[(hex[16] - '0') & 3];  // and variant
  return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) + "-" +
         hex.substr(20);
}

std::optional<Failure> MakeClientAssertion(const std::string& certificate, const std::string& token_url,
                                           const std::string& client_id, std::int64_t now, std::string& assertion) {
  const runtime::Activation activation("MAKECLIENTASSERTION", __LINE__);
  auto failed = [&](const std::string& why) {
    return Failure{Outcome::kConfig,
                   "OAuthClientCertificate " + detail::CertificateForDisplay(certificate) + " cannot be used: " + why};
  };
  std::string why;
  const std::unique_ptr<detail::CertificateKey> key = detail::OpenCertificateKey(certificate, why);
  if (!key) return failed(why);
  const std::string sha256 = detail::Digest(key->Der(), false);
  const std::string sha1 = detail::Digest(key->Der(), true);
  const std::string jwt_id = FreshJwtId();
  if (sha256.empty() || sha1.empty() || jwt_id.size() != 36) return failed("this system cannot compute its digests");
  const std::string claims = Base64Url(AssertionClaimsJson({token_url, client_id, jwt_id, now}));
  // PS256 is what Entra ID asks for now; a key whose provider cannot do PSS
  // (a smart card, an old one) still signs RS256, which it takes as well.
  for (const bool pss : {true, false}) {
    const std::string input = Base64Url(AssertionHeader(pss ? "PS256" : "RS256", sha256, sha1)) + "." + claims;
    std::string signature;
    bool refused_pss = false;
    if (key->Sign(input, pss, signature, refused_pss, why)) {
      assertion = input + "." + Base64Url(signature);
      return std::nullopt;
    }
    if (!pss || !refused_pss) break;
  }
  return failed(why);
}

}  // namespace mailclient
