#include "app/delivery.h"

#include <ctime>
#include <memory>
#include <string_view>
#include <utility>

#include "mailclient/graph/graph.h"
#include "mailclient/oauth/oauth.h"
#include "mailclient/smtp/csmtp.h"
#include "mailclient/smtp/trace.h"
#include "runtime/activation.h"

namespace {

// The token cache: "postrine.token" beside the settings file.
std::string TokenCacheFileName() {
  const std::string settings = app::SettingsFileName();
  return settings.substr(0, settings.size() - std::string_view("postrine.ini").size()) + "postrine.token";
}

// The token source of the OAuth settings, its events in the trace. Graph's
// scope is the default when none is set.
std::unique_ptr<mailclient::OAuthTokens> MakeTokens(const Postrine& app) {
  const app::MailOptions& options = app.Options;
  std::string scope = options.oauth_scope;
  if (scope.empty() && options.graph) scope = mailclient::kGraphDefaultScope;
  mailclient::OAuthSettings oauth{options.oauth_token_url, options.oauth_client_id, options.oauth_client_secret,
                                  scope, options.oauth_token_command, options.verify, options.ca_file,
                                  options.timeout_seconds * 1000, TokenCacheFileName()};
  oauth.client_certificate = options.oauth_client_certificate;
  auto tokens = std::make_unique<mailclient::OAuthTokens>(std::move(oauth));
  if (app.Trace) {
    // Through a trace of its own, which shows control bytes as dots.
    auto trace = std::make_shared<mailclient::ProtocolTrace>(app.Trace->Sink());
    tokens->Trace([trace](std::string_view event) { trace->Event(event); });
  }
  return tokens;
}

// Microsoft Graph in SMTP's place: the same message, the same outcomes.
std::optional<mailclient::Failure> DeliverThroughGraph(const mailclient::CEmail& email, Postrine& app) {
  std::unique_ptr<mailclient::OAuthTokens> tokens = MakeTokens(app);
  // The mailbox is the message's sender: a queued one keeps its own.
  mailclient::GraphSettings settings{app.Options.graph_url, email.FromAddress(), app.Options.verify, app.Options.ca_file,
                                     app.Options.timeout_seconds * 1000};
  mailclient::GraphSender graph(email, std::move(settings), *tokens);
  if (app.Trace) {
    auto trace = std::make_shared<mailclient::ProtocolTrace>(app.Trace->Sink());
    graph.Trace([trace](std::string_view event) { trace->Event(event); });
  }
  return graph.Send(std::time(nullptr));
}

}  // namespace

std::optional<mailclient::Failure> Deliver(const mailclient::CEmail& email, Postrine& app, const std::string& dsn,
                                           const std::string& envid) {
  const runtime::Activation activation("DELIVER", __LINE__);
  const app::MailOptions& options = app.Options;
  if (options.graph) return DeliverThroughGraph(email, app);
  mailclient::CSmtp smtp(email, app.ServerName, app.PortNumber);
  if (app.Trace) smtp.Trace(app.Trace->Sink());
  smtp.Tls(options.tls);
  smtp.Verify(options.verify);
  smtp.CaFile(options.ca_file);
  smtp.TimeoutSeconds(options.timeout_seconds);
  if (!dsn.empty()) smtp.Dsn(dsn, envid);
  // With a token source the logon sends a token and never the password.
  std::unique_ptr<mailclient::OAuthTokens> tokens;
  if (options.UsesOAuth()) {
    tokens = MakeTokens(app);
    smtp.BearerTokens(tokens.get());
  }
  if (app::UserNameGiven(app.UserName)) {
    smtp.UserName(app.UserName);
    if (!tokens) smtp.PassWord(app.Password);
    smtp.SecureSMTP(true);
    smtp.Logon();
  }
  if (smtp.Postrine()) return std::nullopt;
  return mailclient::Failure{smtp.Result(), smtp.ErrorMsg(), smtp.MessageRefused()};
}
