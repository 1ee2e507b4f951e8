// WinDllVersion asks the named library's own export, as GetProcAddress
// does, never one that the library's dependencies bring along.
#include "env/win_dll_version.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdint>
#include <vector>

TEST(WinDllVersionDependent, ALibraryWithoutTheExportDoesNotAnswerWithItsDependencys) {
  void* library = ::dlopen(POSTRINE_VERSION_DEPENDENT, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << POSTRINE_VERSION_DEPENDENT;
  ASSERT_NE(::dlsym(library, "DllGetVersion"), nullptr) << "the dependency is not loaded";
  using SetReply = void (*)(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::int32_t);
  auto set_reply = reinterpret_cast<SetReply>(::dlsym(library, "VersionDllSetReply"));
  ASSERT_NE(set_reply, nullptr);
  set_reply(5, 8, 2195, 2, 0);

  WinDllVersion v(POSTRINE_VERSION_DEPENDENT_NAME);
  EXPECT_EQ(std::vector<std::uint32_t>({v.MajorVersion, v.MinorVersion, v.Build, v.PlatformID}),
            std::vector<std::uint32_t>(4, 0));
  // The dependency itself, asked by its name, answers.
  WinDllVersion dependency(POSTRINE_VERSION_DLL_NAME);
  EXPECT_EQ(dependency.MajorVersion, 5u);
  EXPECT_TRUE(dependency.IsWinNT());
}
