#include <windows.h>

#include "support/platform.h"

namespace test_support {

void* LoadTestLibrary(const std::string& path) {
  return reinterpret_cast<void*>(::LoadLibraryA(path.c_str()));
}

bool IsLibraryLoaded(const std::string& name) { return ::GetModuleHandleA(name.c_str()) != nullptr; }

void* LibrarySymbol(void* library, const char* symbol) {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), symbol));
}

void SetEnvironment(const std::string& name, const char* value) {
  ::SetEnvironmentVariableA(name.c_str(), value);
}

std::string PlatformSystemDirectory() {
  char buffer[MAX_PATH + 1];
  const UINT n = ::GetSystemDirectoryA(buffer, MAX_PATH);
  return std::string(buffer, n);
}

std::vector<int> RunTogether(const std::vector<std::vector<std::string>>& commands,
                             const std::function<void()>& started) {
  std::vector<HANDLE> processes;
  for (const auto& command : commands) {
    std::string line;
    for (const std::string& arg : command) line += (line.empty() ? "\"" : " \"") + arg + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
      ::CloseHandle(info.hThread);
      processes.push_back(info.hProcess);
    } else {
      processes.push_back(nullptr);
    }
  }
  started();
  std::vector<int> codes;
  for (HANDLE process : processes) {
    DWORD code = 0;
    if (process == nullptr || ::WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(process, &code)) {
      codes.push_back(-1);
    } else {
      codes.push_back(static_cast<int>(code));
    }
    if (process != nullptr) ::CloseHandle(process);
  }
  return codes;
}

// Under wine the build's paths are Unix paths; drive Z: is the Unix root.
std::string ProgramPath(const std::string& built_path) {
  if (built_path.empty() || built_path[0] != '/') return built_path;
  std::string path = "Z:" + built_path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

}  // namespace test_support
