#include "app/secrets.h"

#include "mailclient/mime/encoding.h"
#include "runtime/activation.h"
#include "runtime/ascii.h"
#include "runtime/command.h"
#include "runtime/user_secrets.h"

namespace app {

namespace {

constexpr char kStoredPrefix[] = "credman:";
constexpr char kProtectedPrefix[] = "dpapi:";
constexpr std::size_t kMostOutput = 64 * 1024;
constexpr std::size_t kMostQuoted = 200;

// The rest of `value` after `prefix`, in any letter case; nothing when it
// does not start so.
std::optional<std::string> After(const std::string& value, const std::string& prefix) {
  if (runtime::AsciiLower(value.substr(0, prefix.size())) != prefix) return std::nullopt;
  return value.substr(prefix.size());
}

// What a command wrote to its error output, on one line and cut short.
std::string Quoted(const std::string& text) {
  std::string line;
  for (const char c : text) {
    if (c != '\r') line += c == '\n' ? ' ' : c;
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return runtime::Printable(line, kMostQuoted);
}

}  // namespace

std::optional<std::string> ResolveSecret(const std::string& key, const std::string& value, std::string& secret) {
  const runtime::Activation activation("RESOLVESECRET", __LINE__);
  secret.clear();
  std::string reason;
  if (const auto target = After(value, kStoredPrefix)) {
    if (target->empty()) return key + " in postrine.ini names no credential after credman: (use credman:<target>)";
    if (runtime::ReadStoredCredential(*target, secret, reason)) return std::nullopt;
    return key + " in postrine.ini names the credential " + runtime::Printable(*target, kMostQuoted) +
           " of Windows Credential Manager, which cannot be read (" + reason + ")";
  }
  if (const auto text = After(value, kProtectedPrefix)) {
    std::string blob;
    if (!mailclient::Base64Decode(*text, blob) || blob.empty()) {
      return key + " in postrine.ini is no value that postrine -protect printed (its text after dpapi: is no base64)";
    }
    if (runtime::UnprotectForUser(blob, secret, reason)) return std::nullopt;
    return key + " in postrine.ini holds a protected secret that cannot be read by this user on this machine (" +
           reason + "; run postrine -protect as this user)";
  }
  secret = value;
  return std::nullopt;
}

std::optional<std::string> CommandSecret(const std::string& command, int timeout_seconds, std::string& secret) {
  const runtime::Activation activation("COMMANDSECRET", __LINE__);
  secret.clear();
  const runtime::CommandResult result = runtime::RunCommand(command, timeout_seconds * 1000, kMostOutput);
  if (!result.started) return "PasswordCommand in postrine.ini could not be started: " + result.why;
  if (result.timed_out) {
    return "PasswordCommand in postrine.ini did not end within " + std::to_string(timeout_seconds) +
           " seconds and was stopped";
  }
  const std::string errors = Quoted(result.err);
  if (result.exit_status != 0) {
    return "PasswordCommand in postrine.ini failed" +
           (result.exit_status < 0 ? std::string() : " with exit status " + std::to_string(result.exit_status)) +
           (errors.empty() ? "" : ": " + errors);
  }
  const std::string line = result.out.substr(0, result.out.find_first_of("\r\n"));
  if (line.empty()) return "PasswordCommand in postrine.ini printed no password" + (errors.empty() ? "" : ": " + errors);
  secret = line;
  return std::nullopt;
}

std::optional<std::string> ProtectedValue(const std::string& secret, std::string& value) {
  const runtime::Activation activation("PROTECTEDVALUE", __LINE__);
  std::string blob, reason;
  if (!runtime::ProtectForUser(secret, blob, reason)) return "the secret cannot be protected (" + reason + ")";
  value = kProtectedPrefix + mailclient::Base64(blob);
  return std::nullopt;
}

}  // namespace app
