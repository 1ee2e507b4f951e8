// DLLs of the system's own that export DllGetVersion. What they report
// differs between Windows releases (wine's shell32 even puts a build number
// where the platform belongs), so each is compared with its own export.
#include <windows.h>

#include <gtest/gtest.h>

#include "env/win_dll_version.h"

TEST(WinDllVersionSystem, SystemDllsReportWhatTheirExportSays) {
  struct Info {
    DWORD cbSize, major, minor, build, platform;
  };
  for (const char* name : {"shell32.dll", "shlwapi.dll"}) {
    HMODULE module = ::LoadLibraryA(name);
    ASSERT_NE(module, nullptr) << name;
    auto get_version = reinterpret_cast<HRESULT(CALLBACK*)(Info*)>(
        reinterpret_cast<void (*)()>(::GetProcAddress(module, "DllGetVersion")));
    ASSERT_NE(get_version, nullptr) << name;
    Info direct{sizeof(Info), 0, 0, 0, 0};
    ASSERT_EQ(get_version(&direct), S_OK) << name;

    WinDllVersion v(name);
    EXPECT_GE(v.MajorVersion, 4u) << name;
    EXPECT_EQ(v.MajorVersion, direct.major) << name;
    EXPECT_EQ(v.MinorVersion, direct.minor) << name;
    EXPECT_EQ(v.Build, direct.build) << name;
    EXPECT_EQ(v.PlatformID, direct.platform) << name;
    EXPECT_EQ(v.IsWinNT(), direct.platform == 2) << name;
  }
}
