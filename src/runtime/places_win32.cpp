#include <string>

#include <windows.h>

#include "runtime/places.h"
#include "runtime/wide_text_win32.h"

namespace runtime {

namespace {
std::string CurrentDirectory() {
  wchar_t buf[MAX_PATH + 1];
  const DWORD n = ::GetCurrentDirectoryW(MAX_PATH + 1, buf);
  if (n == 0 || n > MAX_PATH) return {};
  return TextFromWide(std::wstring_view(buf, n));
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
