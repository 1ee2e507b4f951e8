// What the environment tests need of the platform beyond the code under
// test: loading a library themselves, setting an environment variable, and
// a scratch stand-in for HKEY_LOCAL_MACHINE that lives as long as the test.
#pragma once

#include <memory>
#include <string>

namespace envtest {

/// Loads the library at `path`; nullptr on failure.
void* LoadTestLibrary(const std::string& path);
/// True when a library of that name is loaded, without loading it.
bool IsLibraryLoaded(const std::string& name);
/// The address of `symbol` in `library`.
void* LibrarySymbol(void* library, const char* symbol);

/// Sets (or with nullptr removes) an environment variable of the process.
void SetEnvironment(const std::string& name, const char* value);

/// The system directory as the platform reports it.
std::string PlatformSystemDirectory();

/// Points the process's HKEY_LOCAL_MACHINE at an empty scratch place until
/// it is destroyed.
class ScratchMachineRegistry {
 public:
  ScratchMachineRegistry();
  ~ScratchMachineRegistry();
  ScratchMachineRegistry(const ScratchMachineRegistry&) = delete;
  ScratchMachineRegistry& operator=(const ScratchMachineRegistry&) = delete;

  /// Sets the value `name` of the key `key_path` as a text.
  void SetValue(const std::string& key_path, const std::string& name, const std::string& value);
  /// From now on no key can be opened or created.
  void MakeUnopenable();

  struct Place;

 private:
  std::unique_ptr<Place> place_;
};

}  // namespace envtest
