#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "env/registry_posix.h"
#include "settings/profile.h"
#include "support.h"

namespace fs = std::filesystem;

namespace envtest {

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

struct ScratchMachineRegistry::Place {
  fs::path dir;
  fs::path file;
  std::string previous;
};

ScratchMachineRegistry::ScratchMachineRegistry() : place_(std::make_unique<Place>()) {
  place_->dir = fs::temp_directory_path() / ("postrine_registry_" + std::to_string(::getpid()));
  fs::remove_all(place_->dir);
  fs::create_directories(place_->dir);
  place_->file = place_->dir / "registry.ini";
  place_->previous = env::SetMachineRegistryFile(place_->file.string());
}

ScratchMachineRegistry::~ScratchMachineRegistry() {
  env::SetMachineRegistryFile(place_->previous);
  std::error_code ignored;
  fs::remove_all(place_->dir, ignored);
}

void ScratchMachineRegistry::SetValue(const std::string& key_path, const std::string& name,
                                      const std::string& value) {
  settings::WriteProfileKey(key_path, name, value, place_->file.string());
}

// A directory where the file should be cannot be read, even by root.
void ScratchMachineRegistry::MakeUnopenable() {
  fs::remove(place_->file);
  fs::create_directory(place_->file);
}

}  // namespace envtest
