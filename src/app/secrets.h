// The secrets of the settings where the user keeps them: in postrine.ini
// as they are, in Windows Credential Manager ("credman:<target>"),
// protected with DPAPI for the user ("dpapi:..." as `postrine -protect`
// prints it), or given by PasswordCommand. A secret that cannot be had is
// a problem of the settings, named by its source: no logon is ever tried
// with a wrong or empty one.
#pragma once

#include <optional>
#include <string>

namespace app {

/// The secret that the value of setting `key` holds or names. The sentence
/// that says why it cannot be had, and nothing in `secret`, otherwise.
std::optional<std::string> ResolveSecret(const std::string& key, const std::string& value, std::string& secret);

/// The first line of what PasswordCommand writes, its line end removed,
/// the command bounded by `timeout_seconds`. The sentence why not.
std::optional<std::string> CommandSecret(const std::string& command, int timeout_seconds, std::string& secret);

/// The settings value that holds `secret` protected for this user.
std::optional<std::string> ProtectedValue(const std::string& secret, std::string& value);

}  // namespace app
