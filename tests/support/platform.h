// What the unit tests need of the platform beyond the code under test:
// loading a library themselves, setting an environment variable, the
// system directory as the platform reports it, and starting several
// processes at once.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace test_support {

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
