#include <windows.h>

#include "runtime/activation.h"
#include "runtime/identity.h"

namespace runtime {

std::uint32_t ProcessId() {
  const Activation activation("PROCESSID", __LINE__);
  return ::GetCurrentProcessId();
}

std::string HostName() {
  const Activation activation("HOSTNAME", __LINE__);
  char name[256] = {};
  DWORD size = sizeof name;
  if (::GetComputerNameExA(ComputerNameDnsFullyQualified, name, &size) && size > 0) return name;
  size = sizeof name;
  if (::GetComputerNameA(name, &size)) return name;
  return {};
}

// The version as the system itself counts it: GetVersionEx answers with
// the version the program's manifest names, so ntdll is asked instead.
std::string PlatformName() {
  const Activation activation("PLATFORMNAME", __LINE__);
  std::string name = "Windows";
  using GetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
  const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  const auto get_version =
      ntdll == nullptr ? nullptr
                       : reinterpret_cast<GetVersionFunction>(
                             reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")));
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (get_version != nullptr && get_version(&version) == 0) {
    name += " " + std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion) + "." +
            std::to_string(version.dwBuildNumber);
  }
  SYSTEM_INFO info{};
  ::GetNativeSystemInfo(&info);
  switch (info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64: name += " x86_64"; break;
    case PROCESSOR_ARCHITECTURE_INTEL: name += " x86"; break;
    case PROCESSOR_ARCHITECTURE_ARM64: name += " arm64"; break;
    default: break;
  }
  // A 32-bit program on a 64-bit system runs under WOW64.
  if (sizeof(void*) == 4 && info.wProcessorArchitecture != PROCESSOR_ARCHITECTURE_INTEL) name += " (32-bit program)";
  return name;
}

}  // namespace runtime
