// The protocol trace of one run, when the Trace setting names a file. The
// program's log file class writes it, so the file is named by that class's
// rules and every event is one line appended whole: several runs and
// processes can share one trace. Each line carries the process id and the
// milliseconds since the run began. A trace that cannot be written never
// changes what the run does. A new trace file is private to the user, and
// only a regular file is written: a FIFO that nobody reads would block.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "log/log_file.h"
#include "mailclient/smtp/trace.h"

namespace app {

class RunTrace {
 public:
  /// Appends to the log file `file_name` names; the times count from
  /// `started`.
  RunTrace(const std::string& file_name, std::chrono::steady_clock::time_point started);

  /// Writes one event line.
  void Event(std::string_view text);
  /// The mail client's way into this trace.
  mailclient::TraceSink Sink();
  /// Remembers the error line the run showed, for the outcome.
  void ErrorShown(const std::string& line) { error_ = line; }
  /// The last line: what became of the run, and its exit code.
  void Outcome(int exit_code);

 private:
  std::optional<LogFile> log_;  // none where no trace can be written
  std::chrono::steady_clock::time_point started_;
  std::string process_;
  std::string error_;
  bool broken_ = false;  // a line was lost: no more are tried
};

}  // namespace app
