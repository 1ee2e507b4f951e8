#include "runtime/user_secrets.h"

#include <windows.h>
#include <wincred.h>
#include <wincrypt.h>

#include <string_view>

#include "runtime/activation.h"
#include "runtime/owned.h"
#include "runtime/system_text.h"
#include "runtime/wide_text_win32.h"

namespace runtime {

namespace {

// Mixed into every protected value, so that a blob another program
// protected for the same user does not pass for one of ours.
constexpr std::string_view kEntropy = "postrine secret";
constexpr std::size_t kLongestLine = 64 * 1024;

void FreeCredential(CREDENTIALW* credential) { ::CredFree(credential); }
void FreeLocal(BYTE* data) { ::LocalFree(data); }

DATA_BLOB Blob(std::string_view bytes) {
  return DATA_BLOB{static_cast<DWORD>(bytes.size()), reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()))};
}

std::string LastError() { return SystemErrorText(::GetLastError()); }

}  // namespace

bool HasUserSecrets() { return true; }

bool ReadStoredCredential(const std::string& target, std::string& secret, std::string& reason) {
  const Activation activation("READSTOREDCREDENTIAL", __LINE__);
  CREDENTIALW* found = nullptr;
  if (!::CredReadW(WideText(target).c_str(), CRED_TYPE_GENERIC, 0, &found)) {
    reason = ::GetLastError() == ERROR_NOT_FOUND ? "no generic credential of that name for this user" : LastError();
    return false;
  }
  const Owned<CREDENTIALW, FreeCredential> credential(found);
  const auto* bytes = reinterpret_cast<const char*>(credential->CredentialBlob);
  const std::size_t size = credential->CredentialBlobSize;
  // cmdkey and the credential dialogs store the password as UTF-16.
  if (size % 2 != 0) {
    secret.assign(bytes, size);
  } else if (!TextFromWide(std::wstring_view(reinterpret_cast<const wchar_t*>(bytes), size / 2), secret)) {
    reason = "the credential's password is no valid text";
    return false;
  }
  return true;
}

bool ProtectForUser(const std::string& secret, std::string& blob, std::string& reason) {
  const Activation activation("PROTECTFORUSER", __LINE__);
  DATA_BLOB in = Blob(secret);
  DATA_BLOB entropy = Blob(kEntropy);
  DATA_BLOB out{};
  if (!::CryptProtectData(&in, L"postrine", &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out)) {
    reason = LastError();
    return false;
  }
  const Owned<BYTE, FreeLocal> held(out.pbData);
  blob.assign(reinterpret_cast<const char*>(out.pbData), out.cbData);
  return true;
}

bool UnprotectForUser(const std::string& blob, std::string& secret, std::string& reason) {
  const Activation activation("UNPROTECTFORUSER", __LINE__);
  DATA_BLOB in = Blob(blob);
  DATA_BLOB entropy = Blob(kEntropy);
  DATA_BLOB out{};
  if (!::CryptUnprotectData(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out)) {
    reason = LastError();
    return false;
  }
  const Owned<BYTE, FreeLocal> held(out.pbData);
  secret.assign(reinterpret_cast<const char*>(out.pbData), out.cbData);
  SecureZeroMemory(out.pbData, out.cbData);
  return true;
}

bool ReadHiddenLine(std::string& line, std::string& reason) {
  const Activation activation("READHIDDENLINE", __LINE__);
  line.clear();
  const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (in != nullptr && in != INVALID_HANDLE_VALUE && ::GetConsoleMode(in, &mode)) {
    ::SetConsoleMode(in, (mode | ENABLE_LINE_INPUT) & ~ENABLE_ECHO_INPUT);
    std::wstring wide;
    wchar_t c = 0;
    DWORD got = 0;
    bool ok = true;
    while ((ok = ::ReadConsoleW(in, &c, 1, &got, nullptr) && got == 1) && c != L'\n' && wide.size() < kLongestLine) {
      if (c != L'\r') wide += c;
    }
    ::SetConsoleMode(in, mode);
    // The line end the user typed was not shown either.
    DWORD written = 0;
    ::WriteConsoleW(::GetStdHandle(STD_OUTPUT_HANDLE), L"\r\n", 2, &written, nullptr);
    if (!ok && wide.empty()) {
      reason = "the input ended";
      return false;
    }
    return TextFromWide(wide, line);
  }
  char c = 0;
  DWORD got = 0;
  bool any = false;
  while (::ReadFile(in, &c, 1, &got, nullptr) && got == 1 && c != '\n' && line.size() < kLongestLine) {
    any = true;
    if (c != '\r') line += c;
  }
  if (!any && got == 0) {
    reason = "the input ended";
    return false;
  }
  return true;
}

}  // namespace runtime
