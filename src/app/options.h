// The settings file as the command reads it: its section, the five keys
// every file holds, and the optional keys that are read but never written,
// each checked once so that a malformed one is reported as what it is.
#pragma once

#include <string>

#include "mailclient/smtp/tls_mode.h"

class IniFileSpec;

namespace app {

/// The section that holds every setting.
inline constexpr char kSettingsSection[] = "Settings";
/// The value of a setting that is not given.
inline constexpr char kNotSet[] = "??";

/// A user name of one character counts as none, like "??".
inline bool UserNameGiven(const std::string& user) { return user.size() > 1 && user != kNotSet; }

/// The optional settings, with their defaults.
struct MailOptions {
  mailclient::TlsMode tls = mailclient::TlsMode::kAuto;
  bool verify = true;
  std::string ca_file;
  /// The protocol trace's file name ("Trace"); empty: no trace.
  std::string trace;
  int timeout_seconds = 60;
  /// Where OAuth tokens come from: a token endpoint with the client's
  /// identity, or a command. Both empty: the password is used.
  std::string oauth_token_url;
  std::string oauth_client_id;
  std::string oauth_client_secret;
  /// Instead of the secret: a PEM file (POSIX) or a thumbprint (Windows).
  std::string oauth_client_certificate;
  std::string oauth_scope;
  std::string oauth_token_command;
  /// A command whose first output line is the password ("PasswordCommand").
  std::string password_command;
  /// The queue's directory ("Queue"); empty: no queue.
  std::string queue;
  /// Hours a queued message is tried for ("QueueMaxAge").
  int queue_max_age_hours = 72;
  bool UsesOAuth() const { return !oauth_token_url.empty() || !oauth_token_command.empty(); }
  /// "Transport=graph": the message goes through Microsoft Graph's
  /// sendMail rather than SMTP, to "GraphURL" (an https URL).
  bool graph = false;
  std::string graph_url;
  /// The first malformed setting, in a sentence that names the key and
  /// the values it takes; empty when all are good.
  std::string problem;
};

/// Reads the optional settings from `ini`, each from section `profile` when
/// that is given and holds it. A value read from it so far that is no text
/// on this system (IniFileSpec::UnreadableKeys) is the problem.
MailOptions ReadMailOptions(IniFileSpec& ini, const std::string& profile = "");

/// The value of `key` in section `profile`, or in [Settings] when no
/// profile is given or it lacks the key; `fallback` when neither has it.
/// Nothing is written.
std::string Setting(IniFileSpec& ini, const std::string& profile, const std::string& key,
                    const std::string& fallback);

/// The settings problem of a port number outside 1-65535; empty when the
/// port can be used.
std::string PortProblem(long long port);

}  // namespace app
