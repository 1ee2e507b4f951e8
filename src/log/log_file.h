// LogFile: a log file that lives beside the executable (or in the web
// server's log directory), is either extended or backed up and started
// anew, and takes message lines and error dumps. The file is never held
// open: each write opens it, appends at its end and closes it, so other
// processes can read the log and several can write to it. When no log file
// could be made usable, message lines go to the debugger output.
#pragma once

#include <string>

#include "runtime/value.h"

class Error;

class LogFile {
 public:
  /// LogFile:Init. `file_name`: the log's name or path (a string of at
  /// least one character; otherwise the executable's own name is used);
  /// `web_server`: TRUE places the log in the web server's log directory
  /// (anything not logical counts as FALSE); `append`: FALSE backs up an
  /// existing log and starts it anew (anything not logical counts as TRUE).
  explicit LogFile(const runtime::Value& file_name = runtime::Value(),
                   const runtime::Value& web_server = runtime::Value(false),
                   const runtime::Value& append = runtime::Value(true));

  /// Appends `message` and CR LF to the log, or sends it to the debugger
  /// output when Log2File is FALSE. TRUE when something was written.
  bool DebugMsg(const std::string& message);
  /// Appends a labelled listing of `error` with its call stack.
  LogFile& DumpError(const Error& error);

  // Properties. A set takes only its own type, ignores any other, and
  // returns the current value.
  const std::string& FName() const { return fname_; }
  const std::string& FName(const runtime::Value& path);
  const std::string& BackupName() const { return backup_name_; }
  const std::string& BackupName(const runtime::Value& path);
  /// FName up to its last separator; FName itself when it has none.
  std::string LogPath() const;
  /// The executable's directory with its trailing separator.
  const std::string& ServerPath() const { return server_path_; }
  bool Log2File() const { return log2file_; }
  bool Log2File(const runtime::Value& on);
  /// Read only by Init: changing it later has no effect.
  bool Append() const { return append_; }
  bool Append(const runtime::Value& on);

 private:
  std::string fname_;
  std::string backup_name_;
  std::string server_path_;
  bool log2file_ = false;
  bool append_ = false;
};

namespace logging {

/// The log file's path for a base path (a full file name), as LogFile:Init
/// names it: beside the base (its extension replaced by "log", or ".log"
/// added), or in `web_server_dir` when `in_web_server_dir` is TRUE.
std::string LogFileNameFor(const std::string& base_path, bool in_web_server_dir,
                           const std::string& web_server_dir);

/// The executable's directory with its trailing separator.
std::string ExeDirectory();
/// The log's path that LogFile:Init gives for these arguments.
std::string LogFileNameOf(const runtime::Value& file_name, bool in_web_server_dir);

}  // namespace logging
