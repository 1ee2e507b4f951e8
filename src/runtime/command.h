// Runs a command line through the platform's shell (/bin/sh -c on POSIX,
// cmd /c on Windows) and collects what it writes, bounded in time and in
// size: a command that hangs is killed at the deadline, one that writes
// without end is cut off.
#pragma once

#include <cstddef>
#include <string>

namespace runtime {

struct CommandResult {
  bool started = false;     // false: `why` says why it could not start
  bool timed_out = false;   // killed at the deadline
  int exit_status = -1;     // the exit code; -1 when it ended by a signal or was killed
  bool not_found = false;   // the shell found no such command, or could not run it
  std::string out{};          // standard output, at most `most` bytes
  std::string err{};          // standard error, at most `most` bytes
  std::string why{};
};

/// Runs `command` with no input, waiting at most `timeout_ms` for it to end.
CommandResult RunCommand(const std::string& command, int timeout_ms, std::size_t most);

}  // namespace runtime
