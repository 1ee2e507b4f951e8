// A private file on Windows: its access list names the user alone, and
// nobody's access is inherited from the directory.
#include "runtime/private_file.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <aclapi.h>

#include <vector>

#include "support/scratch_dir.h"

namespace {

TEST(PrivateFile, OnlyTheUserIsAllowedAndAnExistingFileIsLeftAlone) {
  const test_support::ScratchDir dir("private_file");
  const std::string name = dir / "trace.log";
  ASSERT_TRUE(runtime::FCreateNewPrivate(name));
  EXPECT_TRUE(runtime::IsRegularFile(name));
  EXPECT_FALSE(runtime::IsRegularFile(dir.path().string()));
  EXPECT_FALSE(runtime::FCreateNewPrivate(name));

  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(::GetNamedSecurityInfoW((dir.path() / "trace.log").wstring().c_str(), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_NE(dacl, nullptr);
  HANDLE token = nullptr;
  ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token));
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> user(size);
  ASSERT_TRUE(::GetTokenInformation(token, TokenUser, user.data(), size, &size));
  ::CloseHandle(token);
  const PSID user_sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  unsigned char system[SECURITY_MAX_SID_SIZE];
  DWORD system_size = sizeof system;
  ASSERT_TRUE(::CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &system_size));
  // Windows keeps the list as it was given: the user alone. Wine keeps
  // none of its own and shows the file's mode, with the system added.
  bool user_allowed = false;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    ASSERT_TRUE(::GetAce(dacl, i, &ace));
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    const bool is_user = ::EqualSid(&allowed->SidStart, user_sid);
    EXPECT_TRUE(is_user || ::EqualSid(&allowed->SidStart, system)) << "ace " << i;
    user_allowed = user_allowed || (is_user && (allowed->Mask & FILE_ALL_ACCESS) == FILE_ALL_ACCESS);
  }
  EXPECT_TRUE(user_allowed);
  ::LocalFree(descriptor);
}

}  // namespace
