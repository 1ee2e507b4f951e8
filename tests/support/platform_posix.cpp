#include <dlfcn.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>

#include "support/platform.h"

extern char** environ;

namespace test_support {

void* LoadTestLibrary(const std::string& path) { return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }

bool IsLibraryLoaded(const std::string& name) {
  void* library = ::dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (library != nullptr) ::dlclose(library);
  return library != nullptr;
}

void* LibrarySymbol(void* library, const char* symbol) { return ::dlsym(library, symbol); }

void SetEnvironment(const std::string& name, const char* value) {
  if (value == nullptr) {
    ::unsetenv(name.c_str());
  } else {
    ::setenv(name.c_str(), value, 1);
  }
}

std::string PlatformSystemDirectory() { return "/var/log"; }

std::vector<int> RunTogether(const std::vector<std::vector<std::string>>& commands,
                             const std::function<void()>& started) {
  std::vector<pid_t> pids;
  for (const auto& command : commands) {
    std::vector<char*> argv;
    for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid = -1;
    pids.push_back(pid);
  }
  started();
  std::vector<int> codes;
  for (pid_t pid : pids) {
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
      codes.push_back(-1);
    } else {
      codes.push_back(WEXITSTATUS(status));
    }
  }
  return codes;
}

std::string ProgramPath(const std::string& built_path) { return built_path; }

}  // namespace test_support
