#include <windows.h>

#include <sddl.h>

#include <string>
#include <vector>

#include "runtime/private_file.h"
#include "runtime/wide_text_win32.h"

namespace runtime {

namespace {

// "Protected DACL, full access for the user" in the system's notation; the
// empty string when the user cannot be told.
std::wstring OwnerOnlyDescriptor() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  std::wstring descriptor;
  LPWSTR sid = nullptr;
  if (size > 0 && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
      ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
    descriptor = L"D:P(A;;FA;;;" + std::wstring(sid) + L")";
    ::LocalFree(sid);
  }
  ::CloseHandle(token);
  return descriptor;
}

}  // namespace

Handle OpenNewPrivate(const std::string& name) {
  const std::wstring text = OwnerOnlyDescriptor();
  SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
  // Where no descriptor can be made the file takes its directory's
  // permissions, as every other file the program writes.
  if (!text.empty()) {
    ::ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1,
                                                           &attributes.lpSecurityDescriptor, nullptr);
  }
  const HANDLE h = ::CreateFileW(WideText(name).c_str(), GENERIC_WRITE | DELETE, 0, &attributes, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  if (attributes.lpSecurityDescriptor != nullptr) ::LocalFree(attributes.lpSecurityDescriptor);
  return h == INVALID_HANDLE_VALUE ? kInvalidHandle : reinterpret_cast<Handle>(h);
}

bool FCreateNewPrivate(const std::string& name) {
  const Handle h = OpenNewPrivate(name);
  if (h == kInvalidHandle) return false;
  ::CloseHandle(reinterpret_cast<HANDLE>(h));
  return true;
}

bool IsRegularFile(const std::string& name) {
  const DWORD attributes = ::GetFileAttributesW(WideText(name).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

}  // namespace runtime
