#include "mailclient/oauth/oauth.h"

#include <ctime>
#include <vector>
#include <nlohmann/json.hpp>

#include "mailclient/net/digest.h"
#include "mailclient/net/http.h"
#include "mailclient/oauth/client_assertion.h"
#include "runtime/activation.h"
#include "runtime/ascii.h"

namespace mailclient {

namespace {

constexpr std::size_t kMostQuotedField = 300;
constexpr std::size_t kMostQuotedOutput = 200;
constexpr std::size_t kMostCommandOutput = 64 * 1024;
// A first line cut off at the bound is always too long to be a token: a
// prefix of it is never taken for one.
static_assert(kMostCommandOutput > kLongestToken);

// `text` with every occurrence of `secret`, as it is and as a form writes
// it, in runtime::kRedacted's place: what others print may quote what they were
// given. Done before any cut, so that no prefix of the secret is left.
std::string Redacted(std::string text, const std::string& secret) {
  if (secret.empty()) return text;
  for (const std::string& form : {secret, FormEncoded(secret)}) {
    for (std::size_t at = text.find(form); at != std::string::npos;
         at = text.find(form, at + sizeof runtime::kRedacted - 1)) {
      text.replace(at, form.size(), runtime::kRedacted);
    }
  }
  return text;
}

// Text of others as a message quotes it: the secret redacted, printable,
// cut short.
std::string Quoted(const std::string& text, const std::string& secret, std::size_t most) {
  return runtime::Printable(Redacted(text, secret), most);
}

std::int64_t WithinTokenLife(double seconds) {
  if (seconds < 1) return 1;
  if (seconds > static_cast<double>(kLongestTokenLife)) return kLongestTokenLife;
  return static_cast<std::int64_t>(seconds);
}

// The lifetime expires_in gives (a number, or by some providers a string),
// within a second and a day whatever it says; without one that can be
// read, the usual hour. A token said to live a second or less is used for
// this run but never taken from the cache.
std::int64_t TokenLife(const nlohmann::json& json) {
  const auto it = json.find("expires_in");
  if (it == json.end()) return kAssumedTokenLife;
  if (it->is_number()) return WithinTokenLife(it->get<double>());
  if (!it->is_string()) return kAssumedTokenLife;
  const std::string& text = it->get_ref<const std::string&>();
  const bool negative = !text.empty() && text.front() == '-';
  const std::string digits = text.substr(negative ? 1 : 0);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return kAssumedTokenLife;
  if (negative) return 1;
  return digits.size() > 9 ? kLongestTokenLife : WithinTokenLife(std::stod(digits));
}

// A member of the answer as text: a string as it is, a number written out.
std::string Member(const nlohmann::json& json, const char* name) {
  if (!json.is_object()) return {};
  const auto it = json.find(name);
  if (it == json.end()) return {};
  if (it->is_string()) return it->get<std::string>();
  if (it->is_number_integer()) return std::to_string(it->get<long long>());
  return {};
}

// The first lines of a command's error output as one line, cut short.
std::string FirstLines(const std::string& text, const std::string& secret) {
  std::string out;
  for (char c : Redacted(text, secret)) {
    if (c == '\r') continue;
    out += c == '\n' ? ' ' : c;
    if (out.size() > kMostQuotedOutput) break;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return runtime::Printable(out, kMostQuotedOutput);
}

}  // namespace

std::optional<Failure> ReadTokenAnswer(int status, const std::string& reason, const std::string& body, std::int64_t now,
                                       const std::string& secret, CachedToken& token, TokenRequestOutcome& request) {
  const runtime::Activation activation("READTOKENANSWER", __LINE__);
  request.http_status = status;
  const nlohmann::json json = nlohmann::json::parse(body, nullptr, false);
  request.error = Quoted(Member(json, "error"), secret, kMostQuotedField);
  request.error_description = Quoted(Member(json, "error_description"), secret, kMostQuotedField);
  const std::string where = "token request to " + runtime::Printable(UrlForDisplay(request.url), kMostQuotedField) +
                            " failed: HTTP " + std::to_string(status) +
                            (reason.empty() ? "" : " " + Quoted(reason, secret, runtime::kMostQuoted));
  // Too many requests and the server's own faults pass; the rest (a bad
  // client, scope or grant, a redirect that is not followed) needs a change
  // of the settings or on the provider's side.
  Failure failure{status == 429 || status >= 500 ? Outcome::kTemporary : Outcome::kPermanent, where};
  if (status != 200) {
    if (!request.error.empty()) failure.text += ": " + request.error;
    if (!request.error_description.empty()) failure.text += ": " + request.error_description;
    if (status >= 300 && status < 400) failure.text += " (postrine follows no redirect; check OAuthTokenURL)";
    return failure;
  }
  // A 200 that gives no token: the trace says why, as the error line does.
  auto refused = [&](const std::string& problem) {
    request.failure = problem;
    failure.text += ", but " + problem;
    return failure;
  };
  if (json.is_discarded() || !json.is_object()) return refused("its answer is not a JSON object");
  const std::string type = Member(json, "token_type");
  if (!type.empty() && runtime::AsciiLower(type) != "bearer") {
    return refused("it gave a token of type \"" + Quoted(type, secret, runtime::kMostQuoted) + "\", not Bearer");
  }
  token.token = Member(json, "access_token");
  if (token.token.size() > kLongestToken) {
    return refused("its access_token is longer than " + std::to_string(kLongestToken) + " bytes");
  }
  if (!UsableToken(token.token)) return refused("its answer holds no usable access_token");
  token.expires_at = now + TokenLife(json);
  return std::nullopt;
}

std::optional<Failure> ReadCommandToken(const runtime::CommandResult& result, int timeout_ms, const std::string& secret,
                                        std::string& token) {
  const runtime::Activation activation("READCOMMANDTOKEN", __LINE__);
  auto failed = [](Outcome kind, std::string text) { return Failure{kind, std::move(text)}; };
  if (!result.started) return failed(Outcome::kTemporary, "OAuthTokenCommand could not be started: " + result.why);
  if (result.timed_out) {
    return failed(Outcome::kTemporary, "OAuthTokenCommand gave " + TimedOut(Deadline(timeout_ms)) + " and was stopped");
  }
  const std::string errors = FirstLines(result.err, secret);
  if (result.exit_status != 0) {
    // A command the shell cannot find or run is a matter of the settings.
    return failed(result.not_found ? Outcome::kConfig : Outcome::kTemporary,
                  "OAuthTokenCommand failed" +
                      (result.exit_status < 0 ? std::string() : " with exit status " + std::to_string(result.exit_status)) +
                      (errors.empty() ? "" : ": " + errors));
  }
  const std::string_view first_line = std::string_view(result.out).substr(0, result.out.find_first_of("\r\n"));
  const std::string line(runtime::TrimBlanks(first_line));
  if (line.empty()) {
    return failed(Outcome::kPermanent, "OAuthTokenCommand printed no token" + (errors.empty() ? "" : ": " + errors));
  }
  if (line.size() > kLongestToken) {
    return failed(Outcome::kPermanent, "OAuthTokenCommand printed no usable token (its first line is longer than " +
                                           std::to_string(kLongestToken) + " bytes)");
  }
  if (!UsableToken(line)) {
    return failed(Outcome::kPermanent,
                  "OAuthTokenCommand printed no usable token (a blank or a control byte in its first line)");
  }
  token = line;
  return std::nullopt;
}

std::string TokenCacheKey(const OAuthSettings& settings) {
  const runtime::Activation activation("TOKENCACHEKEY", __LINE__);
  std::string source = settings.command.empty()
                           ? "url\n" + settings.token_url + "\n" + settings.client_id + "\n" + settings.scope
                           : "command\n" + settings.command;
  // A token got with one certificate is not taken for another.
  if (settings.command.empty() && !settings.client_certificate.empty()) {
    source += "\ncertificate\n" + settings.client_certificate;
  }
  return HmacMd5Hex("postrine token cache", source);
}

OAuthTokens::OAuthTokens(OAuthSettings settings, Transport transport)
    : settings_(std::move(settings)), transport_(std::move(transport)), key_(TokenCacheKey(settings_)) {
  const runtime::Activation activation("OAUTHTOKENS:INIT", __LINE__);
  request_.url = settings_.token_url;
}

std::optional<Failure> OAuthTokens::Token(bool fresh, std::string& token, bool& kept) {
  const runtime::Activation activation("OAUTHTOKENS:TOKEN", __LINE__);
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  CachedToken cached;
  kept = !fresh && !settings_.cache_file.empty() && LoadCachedToken(settings_.cache_file, key_, now, cached);
  if (kept) {
    token = cached.token;
    if (events_) events_("OAuth token: the cached one");
    return std::nullopt;
  }
  std::optional<Failure> failure = settings_.command.empty() ? FetchFromUrl(cached) : FetchFromCommand(cached);
  TraceFetch(!failure);
  if (failure) return failure;
  // A cache that cannot be written only costs a request next time.
  if (!settings_.cache_file.empty()) StoreCachedToken(settings_.cache_file, key_, cached);
  token = cached.token;
  return std::nullopt;
}

void OAuthTokens::Refused() {
  const runtime::Activation activation("OAUTHTOKENS:REFUSED", __LINE__);
  if (!settings_.cache_file.empty()) DropCachedToken(settings_.cache_file);
}

void OAuthTokens::TraceFetch(bool fetched) {
  const runtime::Activation activation("OAUTHTOKENS:TRACEFETCH", __LINE__);
  if (!events_) return;
  // What the command printed may be anything: only whether it gave a token.
  if (!settings_.command.empty()) {
    events_(fetched ? "OAuth token: from OAuthTokenCommand" : "OAuth token: OAuthTokenCommand gave none");
    return;
  }
  // No request went out: the certificate could not sign one.
  if (!unsigned_.empty()) {
    events_("OAuth token: no request sent: " + unsigned_);
    return;
  }
  // What happened, in the words of the error line: no answer, a refused
  // certificate, an answer too large, or the status and error fields.
  std::vector<std::string> parts;
  if (request_.http_status != 0) parts.push_back("HTTP " + std::to_string(request_.http_status));
  if (!request_.failure.empty()) parts.push_back(request_.failure);
  if (!request_.error.empty()) parts.push_back("error " + request_.error);
  if (!request_.error_description.empty()) parts.push_back("error_description " + request_.error_description);
  std::string line = "OAuth token request: POST " + runtime::Printable(UrlForDisplay(request_.url), kMostQuotedField) + ":";
  for (std::size_t i = 0; i < parts.size(); ++i) line += (i == 0 ? " " : "; ") + parts[i];
  events_(line);
}

std::optional<Failure> OAuthTokens::FetchFromCommand(CachedToken& token) {
  const runtime::Activation activation("OAUTHTOKENS:FETCHFROMCOMMAND", __LINE__);
  const runtime::CommandResult result = runtime::RunCommand(settings_.command, settings_.timeout_ms, kMostCommandOutput);
  if (auto failure = ReadCommandToken(result, settings_.timeout_ms, settings_.client_secret, token.token)) return failure;
  // A command tells no lifetime: its token is kept as long as the usual
  // hour; one revoked earlier is refused by the server and fetched anew.
  token.expires_at = static_cast<std::int64_t>(std::time(nullptr)) + kAssumedTokenLife;
  return std::nullopt;
}

std::optional<Failure> OAuthTokens::FetchFromUrl(CachedToken& token) {
  const runtime::Activation activation("OAUTHTOKENS:FETCHFROMURL", __LINE__);
  request_ = TokenRequestOutcome{};
  request_.url = settings_.token_url;
  unsigned_.clear();
  // With a certificate, the assertion is what must never be repeated.
  std::string secret = settings_.client_secret;
  std::int64_t signed_at = 0;
  auto sign = [&]() -> std::optional<Failure> {
    signed_at = static_cast<std::int64_t>(std::time(nullptr));
    auto failure = MakeClientAssertion(settings_.client_certificate, settings_.token_url, settings_.client_id,
                                       signed_at, secret);
    if (failure) unsigned_ = failure->text;
    return failure;
  };
  // Signed before any connection, so that a certificate that cannot be
  // used costs none.
  if (!settings_.client_certificate.empty()) {
    if (auto failure = sign()) return failure;
  }
  // No answer could be read: the reason goes to the error line and the
  // trace, with anything the endpoint sent in it redacted.
  auto failed = [&](Outcome kind, const std::string& reason) {
    request_.failure = Redacted(reason, secret);
    return Failure{kind, "token request to " + runtime::Printable(UrlForDisplay(settings_.token_url), kMostQuotedField) +
                             " failed: " + request_.failure};
  };
  HttpsUrl url;
  if (const std::string why = ParseHttpsUrl(settings_.token_url, url); !why.empty()) {
    return failed(Outcome::kConfig, "OAuthTokenURL " + why);
  }
  std::string why;
  bool temporary = true;
  std::unique_ptr<Connection> tls =
      ConnectHttps(transport_, url, settings_.verify, settings_.ca_file, settings_.timeout_ms, why, temporary);
  if (!tls) return failed(temporary ? Outcome::kTemporary : Outcome::kPermanent, why);
  // A connection that took most of a long Timeout leaves an assertion
  // about to expire: a fresh one is signed.
  if (signed_at != 0 && std::time(nullptr) - signed_at > kAssertionLife / 2) {
    if (auto failure = sign()) return failure;
  }
  std::vector<std::pair<std::string, std::string>> form{{"grant_type", "client_credentials"},
                                                        {"client_id", settings_.client_id}};
  if (settings_.client_certificate.empty()) {
    form.emplace_back("client_secret", secret);
  } else {
    form.emplace_back("client_assertion_type", "urn:ietf:params:oauth:client-assertion-type:jwt-bearer");
    form.emplace_back("client_assertion", secret);
  }
  if (!settings_.scope.empty()) form.emplace_back("scope", settings_.scope);
  const Deadline deadline(settings_.timeout_ms);
  HttpResponse response;
  bool lost = false;
  if (!tls->Send(HttpPostRequest(url, FormEncode(form)), deadline)) return failed(Outcome::kTemporary, tls->error());
  if (!ReadHttpResponse(*tls, deadline, response, why, lost)) {
    // A status line may have come before the answer went wrong.
    request_.http_status = response.status;
    return failed(lost ? Outcome::kTemporary : Outcome::kPermanent, why);
  }
  return ReadTokenAnswer(response.status, response.reason, response.body,
                         static_cast<std::int64_t>(std::time(nullptr)), secret, token, request_);
}

}  // namespace mailclient
