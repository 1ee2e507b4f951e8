// What the unit tests need of the platform beyond the code under test.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "runtime/places.h"

namespace test_support {

/// A path written with backslashes, in the platform's separator.
inline std::string NativePath(std::string path) {
  for (char& c : path) {
    if (c == '\\') c = runtime::PathSeparator()[0];
  }
  return path;
}

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

/// Starts every command, calls `started`, and waits for all of them; their
/// exit codes, in order (-1 for one that could not be started).
std::vector<int> RunTogether(const std::vector<std::vector<std::string>>& commands,
                             const std::function<void()>& started);

/// The path of a helper program built beside the tests, as the platform
/// can start it.
std::string ProgramPath(const std::string& built_path);

}  // namespace test_support
