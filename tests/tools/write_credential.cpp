// Stores a generic credential for the current user as `cmdkey /generic:`
// does (the password as UTF-16), for the end-to-end tests under wine,
// which has no cmdkey: write_credential <target> <user> <password>.
#include <windows.h>
#include <wincred.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  CREDENTIALW credential{};
  credential.Type = CRED_TYPE_GENERIC;
  credential.TargetName = argv[1];
  credential.UserName = argv[2];
  credential.CredentialBlob = reinterpret_cast<BYTE*>(argv[3]);
  credential.CredentialBlobSize = static_cast<DWORD>(std::wcslen(argv[3]) * sizeof(wchar_t));
  credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
  return ::CredWriteW(&credential, 0) ? 0 : 1;
}
