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

}  // namespace runtime
