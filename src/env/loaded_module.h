// The version export of a module that is already loaded into the process:
// GetModuleHandleA and GetProcAddress on Windows, dlopen with RTLD_NOLOAD
// and dlsym on POSIX. Nothing here ever loads a module; only WinDllVersion
// calls it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace env::detail {

/// DLLVERSIONINFO: five unsigned 32-bit fields, 20 bytes.
struct DllVersionInfo {
  std::uint32_t cbSize = sizeof(DllVersionInfo);
  std::uint32_t dwMajorVersion = 0;
  std::uint32_t dwMinorVersion = 0;
  std::uint32_t dwBuildNumber = 0;
  std::uint32_t dwPlatformID = 0;
};
static_assert(sizeof(DllVersionInfo) == 20);

/// Calls the "DllGetVersion" export of the loaded module `name` with `info`
/// and gives its result code (0 for success); nullopt when no module of
/// that name is loaded or it has no such export.
std::optional<std::int32_t> CallDllGetVersion(const std::string& name, DllVersionInfo& info);

}  // namespace env::detail
