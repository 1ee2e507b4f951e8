#include <sys/utsname.h>
#include <unistd.h>

#include "runtime/activation.h"
#include "runtime/identity.h"

namespace runtime {

std::uint32_t ProcessId() {
  const Activation activation("PROCESSID", __LINE__);
  return static_cast<std::uint32_t>(::getpid());
}

std::string HostName() {
  const Activation activation("HOSTNAME", __LINE__);
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

std::string PlatformName() {
  const Activation activation("PLATFORMNAME", __LINE__);
  utsname names{};
  if (::uname(&names) != 0) return "POSIX";
  return std::string(names.sysname) + " " + names.release + " " + names.machine;
}

}  // namespace runtime
