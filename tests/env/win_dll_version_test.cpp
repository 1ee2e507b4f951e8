// WinDllVersion against a library of the tests' own, which the tests load
// themselves: the class only ever asks modules that are already loaded.
#include "env/win_dll_version.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "support/platform.h"

namespace {

using SetReply = void(
#if defined(_WIN32)
    __stdcall
#endif
    *)(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::int32_t);

constexpr std::int32_t kFailure = -2147467259;  // E_FAIL

using Numbers = std::vector<std::uint32_t>;

Numbers NumbersOf(const WinDllVersion& v) { return {v.MajorVersion, v.MinorVersion, v.Build, v.PlatformID}; }

class VersionDll : public ::testing::Test {
 protected:
  void SetUp() override {
    void* library = test_support::LoadTestLibrary(POSTRINE_VERSION_DLL);
    ASSERT_NE(library, nullptr) << POSTRINE_VERSION_DLL;
    set_reply_ = reinterpret_cast<SetReply>(test_support::LibrarySymbol(library, "VersionDllSetReply"));
    ASSERT_NE(set_reply_, nullptr);
    set_reply_(5, 8, 2195, 2, 0);
  }
  SetReply set_reply_ = nullptr;
};

// First in the file: under wine every test runs in one process, and the
// library must not have been loaded by an earlier test.
TEST(WinDllVersionUnloaded, ANameThatIsNotLoadedLeavesTheNumbersAtZeroAndLoadsNothing) {
  if (test_support::IsLibraryLoaded(POSTRINE_VERSION_DLL_NAME)) GTEST_SKIP() << "loaded by an earlier test";
  for (const char* name : {POSTRINE_VERSION_DLL_NAME, "postrine-no-such-module.dll", ""}) {
    WinDllVersion v(name);
    EXPECT_EQ(v.DLL(), name);
    EXPECT_EQ(NumbersOf(v), Numbers(4, 0));
    EXPECT_FALSE(v.IsWinNT());
  }
  EXPECT_FALSE(test_support::IsLibraryLoaded(POSTRINE_VERSION_DLL_NAME));
}

// Every query hands over a freshly prepared record (the library refuses
// any other), so each one succeeds with the new numbers; a failed one keeps
// the last.
TEST_F(VersionDll, ALoadedLibraryReportsItsNumbersAndOnlyPlatformTwoIsWindowsNT) {
  WinDllVersion v(POSTRINE_VERSION_DLL_NAME);
  EXPECT_EQ(NumbersOf(v), Numbers({5, 8, 2195, 2}));
  for (const std::uint32_t platform : {0u, 1u, 2u, 3u, 0x80000002u}) {
    set_reply_(6, 1, 7601, platform, 0);
    EXPECT_EQ(v.DLL(POSTRINE_VERSION_DLL_NAME), POSTRINE_VERSION_DLL_NAME);
    EXPECT_EQ(NumbersOf(v), Numbers({6, 1, 7601, platform}));
    EXPECT_EQ(v.IsWinNT(), platform == 2) << platform;
  }
  set_reply_(9, 9, 9, 1, kFailure);
  EXPECT_EQ(v.DLL(POSTRINE_VERSION_DLL_NAME), POSTRINE_VERSION_DLL_NAME);
  EXPECT_EQ(NumbersOf(v), Numbers({6, 1, 7601, 0x80000002u}));
  EXPECT_EQ(v.DLL("postrine-no-such-module.dll"), "postrine-no-such-module.dll");
  EXPECT_EQ(v.DLL(), "postrine-no-such-module.dll");
  EXPECT_EQ(NumbersOf(v), Numbers({6, 1, 7601, 0x80000002u}));
}

}  // namespace
