#include <string>

#include <windows.h>

#include "runtime/process.h"
#include "runtime/unicode.h"
#include "runtime/wide_text_win32.h"

namespace runtime {

void InitProcess(int, char**) {}

// The wide command line holds what was typed whatever the ANSI code page;
// GetCommandLineA would have made every character outside it a "?".
std::string CommandLine() {
  const wchar_t* line = ::GetCommandLineW();
  return line != nullptr ? TextFromWide(line) : std::string();
}

bool CommandLineIsText() {
  const wchar_t* line = ::GetCommandLineW();
  std::string text;
  return line == nullptr || TextFromWide(line, text);
}

std::string ExeFileName() {
  wchar_t buf[1024];
  const DWORD n = ::GetModuleFileNameW(nullptr, buf, 1023);
  const std::string name = TextFromWide(std::wstring_view(buf, n));
  return name.substr(0, Utf8PrefixLength(name, 1023));
}

void PlatformSleepFor(unsigned ms) { ::Sleep(ms); }

int ExitStatusFor(unsigned long code) { return code == 0 ? 1 : static_cast<int>(code); }

}  // namespace runtime
