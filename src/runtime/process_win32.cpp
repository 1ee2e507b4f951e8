#include <string>

#include <windows.h>

#include "runtime/process.h"

namespace runtime {

void InitProcess(int, char**) {}

std::string CommandLine() {
  const char* line = ::GetCommandLineA();
  return line != nullptr ? std::string(line) : std::string();
}

std::string ExeFileName() {
  char buf[1024];
  DWORD n = ::GetModuleFileNameA(nullptr, buf, 1023);
  return std::string(buf, n);
}

void PlatformSleepFor(unsigned ms) { ::Sleep(ms); }

int ExitStatusFor(unsigned long code) { return code == 0 ? 1 : static_cast<int>(code); }

}  // namespace runtime
