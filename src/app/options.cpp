#include "app/options.h"

#include "mailclient/graph/graph.h"
#include "mailclient/net/http.h"
#include "runtime/activation.h"
#include "runtime/ascii.h"
#include "settings/ini_file_spec.h"

namespace app {

namespace {

constexpr int kLongestTimeout = 86400;  // a day
constexpr int kLongestQueueAge = 8760;  // a year, in hours

std::string Malformed(const std::string& key, const std::string& value, const std::string& takes) {
  return "unknown " + key + " setting \"" + value + "\" in postrine.ini (use " + takes + ")";
}

// A whole number of seconds from 1 to a day; 0 when the text is anything else.
int Seconds(const std::string& text) {
  if (text.empty() || text.size() > 5) return 0;
  int n = 0;
  for (char c : text) {
    if (!runtime::IsAsciiDigit(c)) return 0;
    n = n * 10 + (c - '0');
  }
  return n <= kLongestTimeout ? n : 0;
}

// The OAuth settings: one source of tokens, complete, and a user to log on.
template <typename Problem>
void ReadOAuthOptions(IniFileSpec& ini, const std::string& profile, MailOptions& options, Problem& problem) {
  options.oauth_token_url = Setting(ini, profile, "OAuthTokenURL", "");
  options.oauth_client_id = Setting(ini, profile, "OAuthClientID", "");
  options.oauth_client_secret = Setting(ini, profile, "OAuthClientSecret", "");
  options.oauth_client_certificate = Setting(ini, profile, "OAuthClientCertificate", "");
  options.oauth_scope = Setting(ini, profile, "OAuthScope", "");
  options.oauth_token_command = Setting(ini, profile, "OAuthTokenCommand", "");
  options.password_command = Setting(ini, profile, "PasswordCommand", "");
  auto missing = [&](const char* key, const char* needed_by) {
    problem(std::string(key) + " is missing in postrine.ini (" + needed_by + " needs it)");
  };
  if (!options.oauth_token_url.empty() && !options.oauth_token_command.empty()) {
    problem("OAuthTokenURL and OAuthTokenCommand are both set in postrine.ini (use one of them)");
  }
  if (!options.oauth_token_url.empty()) {
    mailclient::HttpsUrl url;
    if (const std::string why = mailclient::ParseHttpsUrl(options.oauth_token_url, url); !why.empty()) {
      // A password in the URL is not repeated in the error line.
      problem(Malformed("OAuthTokenURL", mailclient::UrlForDisplay(options.oauth_token_url),
                        "the https URL of the token endpoint; " + why));
    }
    if (options.oauth_client_id.empty()) missing("OAuthClientID", "OAuthTokenURL");
    if (!options.oauth_client_secret.empty() && !options.oauth_client_certificate.empty()) {
      problem("OAuthClientSecret and OAuthClientCertificate are both set in postrine.ini (keep one of them)");
    } else if (options.oauth_client_secret.empty() && options.oauth_client_certificate.empty()) {
      missing("OAuthClientSecret or OAuthClientCertificate", "OAuthTokenURL");
    }
  } else if (options.oauth_token_command.empty()) {
    for (const char* key : {"OAuthClientID", "OAuthClientSecret", "OAuthClientCertificate", "OAuthScope"}) {
      if (!Setting(ini, profile, key, "").empty()) missing("OAuthTokenURL", key);
    }
  }
  if (options.UsesOAuth() && !options.graph) {
    // A token is sent for a user; without one there would be no logon.
    // Graph takes the mailbox from the sender instead.
    const std::string user = Setting(ini, profile, "UserName", kNotSet);
    if (!UserNameGiven(user)) {
      missing("UserName", options.oauth_token_url.empty() ? "OAuthTokenCommand" : "OAuthTokenURL");
    }
  }
}

}  // namespace

MailOptions ReadMailOptions(IniFileSpec& ini, const std::string& profile) {
  const runtime::Activation activation("READMAILOPTIONS", __LINE__);
  MailOptions options;
  auto problem = [&](const std::string& text) {
    if (options.problem.empty()) options.problem = text;
  };

  const std::string tls = runtime::AsciiLower(Setting(ini, profile, "TLS", "auto"));
  if (tls == "off") {
    options.tls = mailclient::TlsMode::kOff;
  } else if (tls == "starttls") {
    options.tls = mailclient::TlsMode::kStartTls;
  } else if (tls == "smtps") {
    options.tls = mailclient::TlsMode::kSmtps;
  } else if (tls != "auto") {
    problem(Malformed("TLS", tls, "auto, starttls, smtps or off"));
  }

  const std::string verify = runtime::AsciiLower(Setting(ini, profile, "TLSVerify", "on"));
  if (verify != "on" && verify != "off") problem(Malformed("TLSVerify", verify, "on or off"));
  options.verify = verify != "off";

  options.ca_file = Setting(ini, profile, "CAFile", "");
  options.trace = Setting(ini, profile, "Trace", "");

  const std::string timeout = Setting(ini, profile, "Timeout", "60");
  options.timeout_seconds = Seconds(timeout);
  if (options.timeout_seconds == 0) {
    problem(Malformed("Timeout", timeout, "a whole number of seconds from 1 to " + std::to_string(kLongestTimeout)));
    options.timeout_seconds = 60;
  }
  options.queue = Setting(ini, profile, "Queue", "");
  const std::string age = Setting(ini, profile, "QueueMaxAge", "72");
  options.queue_max_age_hours = Seconds(age);
  if (options.queue_max_age_hours == 0 || options.queue_max_age_hours > kLongestQueueAge) {
    problem(Malformed("QueueMaxAge", age, "a whole number of hours from 1 to " + std::to_string(kLongestQueueAge)));
    options.queue_max_age_hours = 72;
  }
  const std::string transport = runtime::AsciiLower(Setting(ini, profile, "Transport", "smtp"));
  if (transport != "smtp" && transport != "graph") problem(Malformed("Transport", transport, "smtp or graph"));
  // Any other value is no SMTP either: the problem is told, not a missing
  // server.
  options.graph = transport != "smtp";
  options.graph_url = Setting(ini, profile, "GraphURL", mailclient::kGraphDefaultUrl);
  if (mailclient::HttpsUrl url; !mailclient::ParseHttpsUrl(options.graph_url, url).empty()) {
    problem(Malformed("GraphURL", mailclient::UrlForDisplay(options.graph_url),
                      "the https URL of Microsoft Graph, such as " + std::string(mailclient::kGraphDefaultUrl)));
  }
  ReadOAuthOptions(ini, profile, options, problem);
  if (options.graph && !options.UsesOAuth()) {
    problem("Transport=graph in postrine.ini needs OAuthTokenURL or OAuthTokenCommand (Graph takes OAuth tokens only)");
  }
  // A value that could not be read as text would be used garbled: that
  // comes before anything else that may be wrong with it.
  if (!ini.UnreadableKeys().empty()) {
    options.problem = ini.UnreadableKeys().front() +
                      " in postrine.ini holds characters that this system cannot read (save the file as UTF-8)";
  }
  return options;
}

std::string Setting(IniFileSpec& ini, const std::string& profile, const std::string& key,
                    const std::string& fallback) {
  const std::string value = ini.GetString(kSettingsSection, key, fallback);
  return profile.empty() ? value : ini.GetString(profile, key, value);
}

std::string PortProblem(long long port) {
  const runtime::Activation activation("PORTPROBLEM", __LINE__);
  if (port >= 1 && port <= 65535) return {};
  return "PortNumber " + std::to_string(port) + " in postrine.ini is out of range (use 1 to 65535)";
}

}  // namespace app
