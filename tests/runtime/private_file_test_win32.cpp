// A private file on Windows: its access list names the user alone, and
// nobody's access is inherited from the directory.
#include "runtime/private_file.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <filesystem>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::vector<unsigned char> CurrentUser() {
  HANDLE token = nullptr;
  EXPECT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token));
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  EXPECT_TRUE(::GetTokenInformation(token, TokenUser, buffer.data(), size, &size));
  ::CloseHandle(token);
  const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  const unsigned char* bytes = static_cast<const unsigned char*>(sid);
  return std::vector<unsigned char>(bytes, bytes + ::GetLengthSid(sid));
}

TEST(PrivateFile, OnlyTheUserIsAllowedAndAnExistingFileIsLeftAlone) {
  const fs::path dir = fs::temp_directory_path() / "postrine_private_file";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path file = dir / "trace.log";
  const std::string name = file.string();

  ASSERT_TRUE(runtime::FCreateNewPrivate(name));
  EXPECT_TRUE(runtime::IsRegularFile(name));
  EXPECT_FALSE(runtime::IsRegularFile(dir.string()));
  EXPECT_FALSE(runtime::FCreateNewPrivate(name));

  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(::GetNamedSecurityInfoW(file.wstring().c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                    nullptr, &dacl, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_NE(dacl, nullptr);
  LPSTR text = nullptr;
  ::ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                         &text, nullptr);
  SCOPED_TRACE(text != nullptr ? text : "(no text)");
  // Windows keeps the list as it was given: the user alone. Wine keeps
  // none of its own and shows the file's mode, with the system added.
  const std::vector<unsigned char> user = CurrentUser();
  unsigned char system[SECURITY_MAX_SID_SIZE];
  DWORD system_size = sizeof system;
  ASSERT_TRUE(::CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &system_size));
  bool user_allowed = false;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    ASSERT_TRUE(::GetAce(dacl, i, &ace));
    const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    const auto* sid = reinterpret_cast<const unsigned char*>(&allowed->SidStart);
    const bool is_user = std::vector<unsigned char>(sid, sid + ::GetLengthSid(const_cast<unsigned char*>(sid))) == user;
    EXPECT_TRUE(is_user || ::EqualSid(const_cast<unsigned char*>(sid), system)) << "ace " << i;
    user_allowed = user_allowed || (is_user && (allowed->Mask & FILE_ALL_ACCESS) == FILE_ALL_ACCESS);
  }
  EXPECT_TRUE(user_allowed);
  if (text != nullptr) ::LocalFree(text);
  ::LocalFree(descriptor);
  fs::remove_all(dir);
}

}  // namespace
