#include <climits>
#include <string>
#include <unistd.h>

#include "runtime/places.h"

namespace runtime {

const char* PathSeparator() { return "/"; }

std::string DiskName() { return {}; }

std::string CurDir() {
  char buf[PATH_MAX];
  if (::getcwd(buf, sizeof buf) == nullptr) return {};
  std::string dir = buf;
  if (dir == "/") return {};
  return dir;
}

}  // namespace runtime
