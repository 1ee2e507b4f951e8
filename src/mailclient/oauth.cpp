#include "mailclient/oauth.h"

#include <ctime>
#include <nlohmann/json.hpp>

#include "mailclient/bearer.h"
#include "mailclient/digest.h"
#include "mailclient/http.h"
#include "mailclient/reply.h"
#include "runtime/activation.h"
#include "runtime/ascii.h"

namespace mailclient {

namespace {

constexpr std::size_t kMostQuotedField = 300;
constexpr std::size_t kMostQuotedOutput = 200;
constexpr std::size_t kMostCommandOutput = 64 * 1024;

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
std::string FirstLines(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') continue;
    out += c == '\n' ? ' ' : c;
    if (out.size() > kMostQuotedOutput) break;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return Printable(out, kMostQuotedOutput);
}

}  // namespace

bool ReadTokenAnswer(int status, const std::string& reason, const std::string& body, std::int64_t now,
                     CachedToken& token, TokenRequestOutcome& request, std::string& why, Outcome& outcome) {
  const runtime::Activation activation("READTOKENANSWER", __LINE__);
  request.http_status = status;
  const nlohmann::json json = nlohmann::json::parse(body, nullptr, false);
  request.error = Printable(Member(json, "error"), kMostQuotedField);
  request.error_description = Printable(Member(json, "error_description"), kMostQuotedField);
  const std::string where = "token request to " + Printable(request.url, kMostQuotedField) + " failed: HTTP " +
                            std::to_string(status) + (reason.empty() ? "" : " " + Printable(reason, kMostQuoted));
  // Too many requests and the server's own faults pass; the rest (a bad
  // client, scope or grant, a redirect that is not followed) needs a change
  // of the settings or on the provider's side.
  outcome = status == 429 || status >= 500 ? Outcome::kTemporary : Outcome::kPermanent;
  if (status != 200) {
    why = where;
    if (!request.error.empty()) why += ": " + request.error;
    if (!request.error_description.empty()) why += ": " + request.error_description;
    if (status >= 300 && status < 400) why += " (postrine follows no redirect; check OAuthTokenURL)";
    return false;
  }
  if (json.is_discarded() || !json.is_object()) {
    why = where + ", but its answer is not a JSON object";
    return false;
  }
  const std::string type = Member(json, "token_type");
  if (!type.empty() && runtime::AsciiLower(type) != "bearer") {
    why = where + ", but it gave a token of type \"" + Printable(type, kMostQuoted) + "\", not Bearer";
    return false;
  }
  token.token = Member(json, "access_token");
  if (!UsableToken(token.token)) {
    why = where + ", but its answer holds no usable access_token";
    return false;
  }
  std::int64_t life = kAssumedTokenLife;
  const std::string expires = Member(json, "expires_in");  // a number, or by some providers a string
  if (!expires.empty() && expires.size() < 10 && expires.find_first_not_of("0123456789") == std::string::npos) {
    life = std::stoll(expires);
  }
  token.expires_at = now + life;
  return true;
}

bool ReadCommandToken(const CommandResult& result, int timeout_ms, std::string& token, std::string& why,
                      Outcome& outcome) {
  const runtime::Activation activation("READCOMMANDTOKEN", __LINE__);
  outcome = Outcome::kTemporary;
  if (!result.started) {
    why = "OAuthTokenCommand could not be started: " + result.why;
    return false;
  }
  if (result.timed_out) {
    why = "OAuthTokenCommand gave " + TimedOut(Deadline(timeout_ms)) + " and was stopped";
    return false;
  }
  const std::string errors = FirstLines(result.err);
  if (result.exit_status != 0) {
    // A command the shell cannot find or run is a matter of the settings.
    if (result.not_found) outcome = Outcome::kConfig;
    why = "OAuthTokenCommand failed" +
          (result.exit_status < 0 ? std::string() : " with exit status " + std::to_string(result.exit_status)) +
          (errors.empty() ? "" : ": " + errors);
    return false;
  }
  std::string line = result.out.substr(0, result.out.find_first_of("\r\n"));
  const std::size_t first = line.find_first_not_of(" \t");
  const std::size_t last = line.find_last_not_of(" \t");
  line = first == std::string::npos ? "" : line.substr(first, last - first + 1);
  if (line.empty()) {
    outcome = Outcome::kPermanent;
    why = "OAuthTokenCommand printed no token" + (errors.empty() ? "" : ": " + errors);
    return false;
  }
  if (!UsableToken(line)) {
    outcome = Outcome::kPermanent;
    why = "OAuthTokenCommand printed no usable token (a blank or a control byte in its first line)";
    return false;
  }
  token = line;
  return true;
}

std::string TokenCacheKey(const OAuthSettings& settings) {
  const runtime::Activation activation("TOKENCACHEKEY", __LINE__);
  const std::string source = settings.command.empty()
                                 ? "url\n" + settings.token_url + "\n" + settings.client_id + "\n" + settings.scope
                                 : "command\n" + settings.command;
  return HmacMd5Hex("postrine token cache", source);
}

OAuthTokens::OAuthTokens(OAuthSettings settings, Transport transport)
    : settings_(std::move(settings)), transport_(std::move(transport)), key_(TokenCacheKey(settings_)) {
  const runtime::Activation activation("OAUTHTOKENS:INIT", __LINE__);
  request_.url = settings_.token_url;
}

bool OAuthTokens::Token(bool fresh, std::string& token, bool& kept, std::string& why, Outcome& outcome) {
  const runtime::Activation activation("OAUTHTOKENS:TOKEN", __LINE__);
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  CachedToken cached;
  kept = !fresh && !settings_.cache_file.empty() && LoadCachedToken(settings_.cache_file, key_, now, cached);
  if (kept) {
    token = cached.token;
    if (trace_) trace_->Event("OAuth token: the cached one");
    return true;
  }
  const bool fetched = settings_.command.empty() ? FetchFromUrl(cached, why, outcome)
                                                 : FetchFromCommand(cached, why, outcome);
  TraceFetch(fetched);
  if (!fetched) return false;
  // A cache that cannot be written only costs a request next time.
  if (!settings_.cache_file.empty()) StoreCachedToken(settings_.cache_file, key_, cached);
  token = cached.token;
  return true;
}

void OAuthTokens::Refused() {
  const runtime::Activation activation("OAUTHTOKENS:REFUSED", __LINE__);
  if (!settings_.cache_file.empty()) DropCachedToken(settings_.cache_file);
}

void OAuthTokens::TraceFetch(bool fetched) {
  const runtime::Activation activation("OAUTHTOKENS:TRACEFETCH", __LINE__);
  if (!trace_) return;
  // What the command printed may be anything: only whether it gave a token.
  if (!settings_.command.empty()) {
    trace_->Event(fetched ? "OAuth token: from OAuthTokenCommand" : "OAuth token: OAuthTokenCommand gave none");
    return;
  }
  std::string line = "OAuth token request: POST " + Printable(request_.url, kMostQuotedField) + ": ";
  line += request_.http_status == 0 ? "no answer" : "HTTP " + std::to_string(request_.http_status);
  if (!request_.error.empty()) line += "; error " + request_.error;
  if (!request_.error_description.empty()) line += "; error_description " + request_.error_description;
  trace_->Event(line);
}

bool OAuthTokens::FetchFromCommand(CachedToken& token, std::string& why, Outcome& outcome) {
  const runtime::Activation activation("OAUTHTOKENS:FETCHFROMCOMMAND", __LINE__);
  const CommandResult result = RunCommand(settings_.command, settings_.timeout_ms, kMostCommandOutput);
  if (!ReadCommandToken(result, settings_.timeout_ms, token.token, why, outcome)) return false;
  // A command tells no lifetime: its token is kept as long as the usual
  // hour; one revoked earlier is refused by the server and fetched anew.
  token.expires_at = static_cast<std::int64_t>(std::time(nullptr)) + kAssumedTokenLife;
  return true;
}

bool OAuthTokens::FetchFromUrl(CachedToken& token, std::string& why, Outcome& outcome) {
  const runtime::Activation activation("OAUTHTOKENS:FETCHFROMURL", __LINE__);
  request_ = TokenRequestOutcome{};
  request_.url = settings_.token_url;
  const std::string where = "token request to " + Printable(settings_.token_url, kMostQuotedField) + " failed: ";
  outcome = Outcome::kTemporary;
  HttpsUrl url;
  if (!ParseHttpsUrl(settings_.token_url, url, why)) {
    outcome = Outcome::kConfig;
    why = where + "OAuthTokenURL " + why;
    return false;
  }
  std::unique_ptr<Connection> plain = transport_.connect(url.host, url.port, settings_.timeout_ms, why);
  if (!plain) {
    why = where + why;
    return false;
  }
  bool line_failed = false;
  std::unique_ptr<Connection> tls =
      transport_.start_tls(std::make_unique<LineWatch>(std::move(plain), line_failed),
                           {url.host, settings_.verify, settings_.ca_file, settings_.timeout_ms}, why);
  if (!tls) {
    if (!line_failed) outcome = Outcome::kPermanent;
    why = where + why;
    return false;
  }
  std::vector<std::pair<std::string, std::string>> form{{"grant_type", "client_credentials"},
                                                        {"client_id", settings_.client_id},
                                                        {"client_secret", settings_.client_secret}};
  if (!settings_.scope.empty()) form.emplace_back("scope", settings_.scope);
  const Deadline deadline(settings_.timeout_ms);
  HttpResponse response;
  bool lost = false;
  if (!tls->Send(HttpPostRequest(url, FormEncode(form)), deadline)) {
    why = where + tls->error();
    return false;
  }
  if (!ReadHttpResponse(*tls, deadline, response, why, lost)) {
    if (!lost) outcome = Outcome::kPermanent;
    why = where + why;
    return false;
  }
  return ReadTokenAnswer(response.status, response.reason, response.body,
                         static_cast<std::int64_t>(std::time(nullptr)), token, request_, why, outcome);
}

}  // namespace mailclient
