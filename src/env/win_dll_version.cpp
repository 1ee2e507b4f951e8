#include "env/win_dll_version.h"

#include "env/loaded_module.h"
#include "runtime/activation.h"

WinDllVersion::WinDllVersion(const std::string& dll_name) {
  const runtime::Activation activation("WINDLLVERSION:INIT", __LINE__);
  DLL(dll_name);
}

std::string WinDllVersion::DLL(const std::string& dll_name) {
  const runtime::Activation activation("WINDLLVERSION:DLL", __LINE__);
  cDllName_ = dll_name;
  env::detail::DllVersionInfo info;
  if (env::detail::CallDllGetVersion(cDllName_, info) == 0) {
    MajorVersion = info.dwMajorVersion;
    MinorVersion = info.dwMinorVersion;
    Build = info.dwBuildNumber;
    PlatformID = info.dwPlatformID;
  }
  return dll_name;
}
