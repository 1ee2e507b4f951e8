// OAuth 2.0 access tokens for the SMTP logon: from a token endpoint with
// the client-credentials grant (RFC 6749 section 4.4), over the program's
// own TLS so that CAFile, TLSVerify and Timeout hold as for SMTP, or from a
// command the user names. Tokens are cached beside the settings file until
// shortly before they expire. The client proves itself with its secret
// or with a certificate's signed assertion; neither, nor a token, ever
// appears in a message.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "mailclient/net/transport.h"
#include "mailclient/oauth/token_cache.h"
#include "mailclient/outcome.h"
#include "runtime/command.h"

namespace mailclient {

struct OAuthSettings {
  std::string token_url{};      // "OAuthTokenURL"
  std::string client_id{};      // "OAuthClientID"
  std::string client_secret{};  // "OAuthClientSecret"
  std::string scope{};          // "OAuthScope"; empty: none asked for
  std::string command{};        // "OAuthTokenCommand", instead of the URL
  bool verify = true;
  std::string ca_file{};
  int timeout_ms = 60000;
  std::string cache_file{};     // empty: no cache
  std::string client_certificate{};  // "OAuthClientCertificate", instead of the secret
};

/// What became of the last request to the token endpoint, for the trace
/// and the error line.
struct TokenRequestOutcome {
  std::string url{};
  int http_status = 0;  // 0: no answer (or none that could be read)
  std::string error{};              // the endpoint's "error", printable
  std::string error_description{};  // its "error_description", printable and cut short
  std::string failure{};            // why no answer could be read: the line, TLS, the answer's size
};

/// Lifetime assumed for a token whose answer gives none (RFC 6749 leaves
/// expires_in optional; the providers' tokens live an hour or more).
inline constexpr std::int64_t kAssumedTokenLife = 3600;

/// Reads the endpoint's answer: on success the token and its expiry (`now`
/// plus expires_in, taken within 1 second and kLongestTokenLife) in
/// `token`; otherwise the failure, its sentence quoting the endpoint's
/// error and error_description. `request` receives the status and error
/// fields. Whatever the endpoint says, `secret` shows as "<redacted>".
std::optional<Failure> ReadTokenAnswer(int status, const std::string& reason, const std::string& body, std::int64_t now,
                                       const std::string& secret, CachedToken& token, TokenRequestOutcome& request);

/// Reads what OAuthTokenCommand gave: the first line of its output in
/// `token`, or the failure, quoting its error output with `secret` redacted.
std::optional<Failure> ReadCommandToken(const runtime::CommandResult& result, int timeout_ms, const std::string& secret,
                                        std::string& token);

/// The configuration a cached token belongs to: a digest of the URL,
/// client and scope (or the command), so that another configuration never
/// takes it, and nothing secret is written down.
std::string TokenCacheKey(const OAuthSettings& settings);

class OAuthTokens final : public TokenSource {
 public:
  explicit OAuthTokens(OAuthSettings settings, Transport transport = {});

  std::optional<Failure> Token(bool fresh, std::string& token, bool& kept) override;
  void Refused() override;

  /// The last request to the token endpoint.
  const TokenRequestOutcome& LastRequest() const { return request_; }
  /// Tells `events` where each token came from, for the protocol trace: for
  /// the endpoint its URL, the answer's status and error fields, never more.
  void Trace(EventSink events) { events_ = std::move(events); }

 private:
  void TraceFetch(bool fetched);
  std::optional<Failure> FetchFromUrl(CachedToken& token);
  std::optional<Failure> FetchFromCommand(CachedToken& token);

  OAuthSettings settings_;
  Transport transport_;
  std::string key_{};
  TokenRequestOutcome request_;
  std::string unsigned_{};  // why no client assertion could be made for the last request
  EventSink events_;  // empty: no trace
};

}  // namespace mailclient
