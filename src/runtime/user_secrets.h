// Secrets that stay with the user rather than in the settings file: a
// generic credential of Windows Credential Manager, a value protected with
// DPAPI for the current user, and a secret typed on the console without
// being shown. Windows has each; elsewhere each says it is not there.
#pragma once

#include <string>

namespace runtime {

/// Whether this system has the three below.
bool HasUserSecrets();

/// The secret of the generic credential `target` (as `cmdkey /generic:`
/// stores it, UTF-16) as UTF-8. False with the reason.
bool ReadStoredCredential(const std::string& target, std::string& secret, std::string& reason);

/// `secret` protected for the current user on this machine (DPAPI): bytes
/// that only this user can turn back. False with the reason.
bool ProtectForUser(const std::string& secret, std::string& blob, std::string& reason);
/// What ProtectForUser protected. False with the reason: another user's or
/// machine's blob, or one that was altered.
bool UnprotectForUser(const std::string& blob, std::string& secret, std::string& reason);

/// One line from standard input, without its line end: from a console
/// with the typing not shown, from a pipe or file as it comes. False at
/// the end of the input or on failure, with the reason.
bool ReadHiddenLine(std::string& line, std::string& reason);

}  // namespace runtime
