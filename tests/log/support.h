// What the log tests need beside the code under test: the default handler
// in the handler slot (so a sharing conflict sets NetErr), a scratch
// directory per test, and several processes started at once.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace logtest {

/// Installs the program's default error handler for the whole test run.
void InstallDefaultHandler();

/// Starts every command, calls `started`, and waits for all of them; their
/// exit codes, in order (-1 for one that could not be started).
std::vector<int> RunTogether(const std::vector<std::vector<std::string>>& commands,
                             const std::function<void()>& started);

/// The path of a helper program built beside the tests, as the platform
/// can start it.
std::string ProgramPath(const std::string& built_path);

}  // namespace logtest
