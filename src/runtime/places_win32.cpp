#include <string>

#include <windows.h>

#include "runtime/places.h"

namespace runtime {

namespace {
std::string CurrentDirectory() {
  char buf[MAX_PATH + 1];
  DWORD n = ::GetCurrentDirectoryA(sizeof buf, buf);
  if (n == 0 || n >= sizeof buf) return {};
  return std::string(buf, n);
}
}  // namespace

const char* PathSeparator() { return "\\"; }

std::string DiskName() {
  std::string dir = CurrentDirectory();
  return dir.size() >= 2 && dir[1] == ':' ? dir.substr(0, 2) : std::string();
}

std::string CurDir() {
  std::string dir = CurrentDirectory();
  if (dir.size() >= 2 && dir[1] == ':') dir.erase(0, 2);
  while (!dir.empty() && dir.back() == '\\') dir.pop_back();
  return dir;
}

}  // namespace runtime
