#include "runtime/user_secrets.h"

namespace runtime {

namespace {
constexpr char kWindowsOnly[] = "use PasswordCommand on this system";
}  // namespace

bool HasUserSecrets() { return false; }

bool ReadStoredCredential(const std::string&, std::string&, std::string& reason) {
  reason = std::string("this system has no Credential Manager: ") + kWindowsOnly;
  return false;
}

bool ProtectForUser(const std::string&, std::string&, std::string& reason) {
  reason = std::string("this system has no DPAPI: ") + kWindowsOnly;
  return false;
}

bool UnprotectForUser(const std::string&, std::string&, std::string& reason) {
  reason = std::string("this system has no DPAPI: ") + kWindowsOnly;
  return false;
}

bool ReadHiddenLine(std::string&, std::string& reason) {
  reason = kWindowsOnly;
  return false;
}

}  // namespace runtime
